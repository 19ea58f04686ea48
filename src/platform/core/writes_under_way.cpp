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

// Counted before the closing is read, so the closer either sees this write or this write sees
// the closing (and is not counted).
bool enter() {
  gUnderWay.fetch_add(1);
  if (!gClosed.load()) return true;
  leave();
  return false;
}

}  // namespace

WriteUnderWay::WriteUnderWay() {
  if (tDepth++ > 0) return;
  if (enter()) return;
  for (;;) ::pause();
}

WriteUnderWay::~WriteUnderWay() {
  if (--tDepth > 0) return;
  leave();
}

QueuedWrite::QueuedWrite() : mCounted(enter()) {}

QueuedWrite::~QueuedWrite() {
  if (mCounted) leave();
}

void QueuedWrite::run(const std::function<void()>& write) {
  runPart(write);
  if (!mCounted) return;
  mCounted = false;
  leave();
}

void QueuedWrite::runPart(const std::function<void()>& part) {
  if (!mCounted) {
    // Queued once the writes were closed: a new write, which never starts then.
    const WriteUnderWay underWay;
    part();
    return;
  }
  struct Inside {
    Inside() { ++tDepth; }
    ~Inside() { --tDepth; }
  } inside;
  part();
}

WritesWaitedFor closeWritesAndWait(std::chrono::milliseconds patience) {
  WritesWaitedFor waited;
  // Counted before the closing, which may let a write under way end at once.
  waited.count = gUnderWay.load();
  gClosed.store(true);
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock lock(endedMutex());
  if (!ended().wait_for(lock, patience, [] { return gUnderWay.load() == 0; })) waited.unfinished = gUnderWay.load();
  waited.waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  return waited;
}

bool writesClosed() { return gClosed.load(); }

}  // namespace platform
