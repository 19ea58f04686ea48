#include "model/concurrent_parts.h"

#include "platform/core/dispatch.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace orrery {

namespace {

// Shared with the helpers, which may start only after the caller has run every part: they then
// find nothing left to take and never call `part`, whose owner may be gone.
struct Work {
  std::size_t parts = 0;
  const std::function<void(std::size_t)>* part = nullptr;
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t done = 0;

  void takeParts() {
    for (std::size_t i = next++; i < parts; i = next++) {
      (*part)(i);
      std::lock_guard lock(mutex);
      if (++done == parts) finished.notify_all();
    }
  }
};

}  // namespace

struct PartsAsTheyCome::Shared {
  std::mutex mutex;
  std::condition_variable finished;
  std::deque<std::function<void()>> waiting;
  std::size_t helpers = 0;  // helpers taking parts now
  std::size_t running = 0;  // parts begun and not yet done
  std::size_t maxHelpers = 0;

  // Takes waiting parts until none is left; called and left with the lock held.
  void takeParts(std::unique_lock<std::mutex>& lock) {
    while (!waiting.empty()) {
      std::function<void()> part = std::move(waiting.front());
      waiting.pop_front();
      ++running;
      lock.unlock();
      part();
      part = nullptr;
      lock.lock();
      if (--running == 0) finished.notify_all();
    }
  }
};

PartsAsTheyCome::PartsAsTheyCome(std::size_t helpers) : mShared(std::make_shared<Shared>()) {
  mShared->maxHelpers = std::min(helpers, usableCores() - 1);
}

PartsAsTheyCome::~PartsAsTheyCome() {
  std::lock_guard lock(mShared->mutex);
  mShared->waiting.clear();
}

void PartsAsTheyCome::add(std::function<void()> part) {
  std::lock_guard lock(mShared->mutex);
  mShared->waiting.push_back(std::move(part));
  if (mShared->helpers >= mShared->maxHelpers) return;
  // A helper leaves once it finds nothing waiting, and another is called for the next part.
  ++mShared->helpers;
  platform::globalQueue(platform::QueuePriority::High).async([shared = mShared] {
    std::unique_lock lock(shared->mutex);
    shared->takeParts(lock);
    --shared->helpers;
  });
}

void PartsAsTheyCome::finish() {
  std::unique_lock lock(mShared->mutex);
  mShared->takeParts(lock);
  // Only parts a helper is running at this moment are left: at most one each.
  mShared->finished.wait(lock, [&] { return mShared->running == 0; });
}

std::size_t usableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

void runInParts(std::size_t parts, std::size_t helpers, const std::function<void(std::size_t)>& part) {
  if (parts == 0) return;
  auto work = std::make_shared<Work>();
  work->parts = parts;
  work->part = &part;
  helpers = std::min({helpers, usableCores() - 1, parts - 1});
  for (std::size_t i = 0; i < helpers; ++i)
    platform::globalQueue(platform::QueuePriority::High).async([work] { work->takeParts(); });
  work->takeParts();
  // Only parts a helper is running at this moment are left: at most one each.
  std::unique_lock lock(work->mutex);
  work->finished.wait(lock, [&] { return work->done == parts; });
}

}  // namespace orrery
