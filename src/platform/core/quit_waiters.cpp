#include "platform/core/quit_waiters.h"

#include <map>
#include <mutex>
#include <utility>

namespace platform {
namespace {

struct Registry {
  std::mutex mutex;  // guards the map; never held while a waiter runs
  std::map<int, std::pair<std::string, std::function<void()>>> waiters;
  int nextId = 1;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

int addQuitWaiter(std::string name, std::function<void()> waiter) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const int id = r.nextId++;
  r.waiters.emplace(id, std::make_pair(std::move(name), std::move(waiter)));
  return id;
}

void removeQuitWaiter(int id) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.waiters.erase(id);
}

std::vector<std::string> runQuitWaiters() {
  decltype(Registry::waiters) copy;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    copy = r.waiters;
  }
  std::vector<std::string> names;
  for (auto& [id, entry] : copy) {
    if (entry.second) entry.second();
    names.push_back(entry.first);
  }
  return names;
}

}  // namespace platform
