#include "sdk/session/pooled_serial_queue.h"

namespace telemetry {

namespace {
thread_local const PooledSerialQueue* tRunning = nullptr;
// Tasks run per turn before the queue gives its pool thread to others.
constexpr int kTasksPerTurn = 32;
}  // namespace

std::shared_ptr<PooledSerialQueue> PooledSerialQueue::create(std::string label) {
  return std::shared_ptr<PooledSerialQueue>(new PooledSerialQueue(std::move(label)));
}

void PooledSerialQueue::async(platform::Task task) {
  {
    std::lock_guard lock(mMutex);
    mTasks.push_back(std::move(task));
    if (mScheduled) return;
    mScheduled = true;
  }
  platform::globalQueue().async([self = shared_from_this()] { self->drain(); });
}

void PooledSerialQueue::after(platform::Millis delay, platform::Task task) {
  platform::globalQueue().after(delay, [self = shared_from_this(), task = std::move(task)]() mutable {
    self->async(std::move(task));
  });
}

bool PooledSerialQueue::isCurrent() const { return tRunning == this; }

void PooledSerialQueue::drain() {
  const PooledSerialQueue* outer = tRunning;
  tRunning = this;
  for (int ran = 0;; ++ran) {
    platform::Task task;
    {
      std::lock_guard lock(mMutex);
      if (mTasks.empty()) {
        mScheduled = false;
        break;
      }
      if (ran == kTasksPerTurn) {
        platform::globalQueue().async([self = shared_from_this()] { self->drain(); });
        break;
      }
      task = std::move(mTasks.front());
      mTasks.pop_front();
    }
    task();
  }
  tRunning = outer;
}

}  // namespace telemetry
