#include "platform/core/writes_under_way.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <unistd.h>

namespace platform {
namespace {

std::atomic<int> gUnderWay{0};
std::atomic<bool> gClosed{false};
thread_local int tDepth = 0;

// Never destroyed: writers may still leave while the process exits.
std::mutex& endedMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::condition_variable& ended() {
  static auto* condition = new std::condition_variable;
  return *condition;
}

void leave() {
  if (gUnderWay.fetch_sub(1) != 1 || !gClosed.load()) return;
  { const std::lock_guard lock(endedMutex()); }
  ended().notify_all();
}

}  // namespace

WriteUnderWay::WriteUnderWay() {
  if (tDepth++ > 0) return;
  // Counted before the closing is read, so the closer either sees this write or this write
  // sees the closing.
  gUnderWay.fetch_add(1);
  if (!gClosed.load()) return;
  leave();
  for (;;) ::pause();
}

WriteUnderWay::~WriteUnderWay() {
  if (--tDepth > 0) return;
  leave();
}

bool closeWritesAndWait() {
  gClosed.store(true);
  std::unique_lock lock(endedMutex());
  const bool busy = gUnderWay.load() > 0;
  ended().wait(lock, [] { return gUnderWay.load() == 0; });
  return busy;
}

bool writesClosed() { return gClosed.load(); }

}  // namespace platform
