#include "platform/core/termination.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace platform {

namespace {

struct Holds {
  std::mutex mutex;  // guards the counts
  std::condition_variable released;
  int sudden = 0;
  std::map<std::string, int> automatic;
  int automaticTotal = 0;
};

Holds& holds() {
  static Holds* h = new Holds();  // quit may run after static destructors began
  return *h;
}

}  // namespace

void disableSuddenTermination() {
  std::lock_guard lock(holds().mutex);
  ++holds().sudden;
}

void enableSuddenTermination() {
  Holds& h = holds();
  {
    std::lock_guard lock(h.mutex);
    if (h.sudden == 0) return;
    --h.sudden;
  }
  h.released.notify_all();
}

void disableAutomaticTermination(const std::string& reason) {
  std::lock_guard lock(holds().mutex);
  ++holds().automatic[reason];
  ++holds().automaticTotal;
}

void enableAutomaticTermination(const std::string& reason) {
  Holds& h = holds();
  {
    std::lock_guard lock(h.mutex);
    auto it = h.automatic.find(reason);
    if (it == h.automatic.end()) return;
    if (--it->second == 0) h.automatic.erase(it);
    --h.automaticTotal;
  }
  h.released.notify_all();
}

int suddenTerminationHoldCount() {
  std::lock_guard lock(holds().mutex);
  return holds().sudden;
}

int automaticTerminationHoldCount() {
  std::lock_guard lock(holds().mutex);
  return holds().automaticTotal;
}

bool waitUntilTerminationAllowed(std::chrono::milliseconds timeout) {
  Holds& h = holds();
  std::unique_lock lock(h.mutex);
  return h.released.wait_for(lock, timeout, [&] { return h.sudden == 0 && h.automaticTotal == 0; });
}

}  // namespace platform
