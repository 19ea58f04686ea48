#include "platform/core/dispatch.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <map>
#include <pthread.h>
#include <thread>
#include <vector>

namespace platform {

namespace {
thread_local Queue* tCurrentQueue = nullptr;

struct CurrentQueueScope {
  Queue* saved;
  explicit CurrentQueueScope(Queue* q) : saved(tCurrentQueue) { tCurrentQueue = q; }
  ~CurrentQueueScope() { tCurrentQueue = saved; }
};
}  // namespace

Queue* currentQueue() { return tCurrentQueue; }

const char* currentQueueLabel() { return tCurrentQueue ? tCurrentQueue->label().c_str() : nullptr; }

namespace {
std::atomic<ThreadStartHook> gThreadStartHook{nullptr};
thread_local ThreadStartHook tHookRan = nullptr;

void runThreadStartHook() {
  const ThreadStartHook hook = gThreadStartHook.load(std::memory_order_acquire);
  if (hook && tHookRan != hook) {
    tHookRan = hook;
    hook();
  }
}
}  // namespace

void nameCurrentThread(const std::string& label) {
  constexpr size_t kLongest = 15;  // the kernel's limit, without the terminating zero
  size_t length = std::min(label.size(), kLongest);
  // Back off to the start of a UTF-8 sequence the cut would split.
  if (length < label.size())
    while (length > 0 && (static_cast<unsigned char>(label[length]) & 0xC0) == 0x80) --length;
  char name[kLongest + 1] = {};
  label.copy(name, length);
  if (name[0] != '\0') pthread_setname_np(pthread_self(), name);
}

void setThreadStartHook(ThreadStartHook hook) { gThreadStartHook.store(hook, std::memory_order_release); }

void Queue::afterSeconds(double seconds, Task task) {
  if (!(seconds > 0)) seconds = 0;  // also catches NaN
  seconds = std::min(seconds, 1e7);
  after(Millis(static_cast<int64_t>(std::llround(seconds * 1000.0))), std::move(task));
}

void Queue::sync(const Task& task) {
  if (isCurrent()) {
    task();
    return;
  }
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  async([&] {
    task();
    std::lock_guard lock(m);
    done = true;
    cv.notify_one();
  });
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return done; });
}

// ---- main queue ----

namespace {

class MainQueue final : public Queue {
 public:
  void async(Task task) override {
    std::unique_lock lock(mMutex);
    if (!mPoster) {
      mEarly.emplace_back(Millis(0), std::move(task));
      return;
    }
    auto poster = mPoster;
    lock.unlock();
    poster->post(wrap(std::move(task)));
  }
  void after(Millis delay, Task task) override {
    std::unique_lock lock(mMutex);
    if (!mPoster) {
      mEarly.emplace_back(delay, std::move(task));
      return;
    }
    auto poster = mPoster;
    lock.unlock();
    poster->postAfter(std::max(delay, Millis(0)), wrap(std::move(task)));
  }
  bool isCurrent() const override {
    std::lock_guard lock(mMutex);
    return mPoster && mPoster->isMainThread();
  }
  const std::string& label() const override { return mLabel; }

  std::shared_ptr<MainQueuePoster> install(std::shared_ptr<MainQueuePoster> poster) {
    std::vector<std::pair<Millis, Task>> early;
    std::shared_ptr<MainQueuePoster> old;
    {
      std::lock_guard lock(mMutex);
      old = mPoster;
      mPoster = poster;
      if (poster) early.swap(mEarly);
    }
    for (auto& [delay, task] : early) {
      if (delay.count() > 0)
        poster->postAfter(delay, wrap(std::move(task)));
      else
        poster->post(wrap(std::move(task)));
    }
    return old;
  }

 private:
  Task wrap(Task task) {
    return [this, task = std::move(task)] {
      CurrentQueueScope scope(this);
      task();
    };
  }

  mutable std::mutex mMutex;
  std::shared_ptr<MainQueuePoster> mPoster;
  std::vector<std::pair<Millis, Task>> mEarly;
  std::string mLabel = "main";
};

MainQueue& theMainQueue() {
  static MainQueue* queue = new MainQueue();  // never destroyed: tasks may be posted at exit
  return *queue;
}

}  // namespace

std::shared_ptr<MainQueuePoster> installMainQueuePoster(std::shared_ptr<MainQueuePoster> poster) {
  return theMainQueue().install(std::move(poster));
}

Queue& mainQueue() { return theMainQueue(); }

// ---- serial queue ----

struct SerialQueue::Impl {
  std::string label;
  std::mutex mutex;
  std::condition_variable cond;
  std::deque<Task> tasks;
  std::multimap<std::chrono::steady_clock::time_point, Task> timers;
  bool stopping = false;
  int suspended = 0;
  std::thread thread;
  std::thread::id threadId;
};

SerialQueue::SerialQueue(std::string label) : mImpl(std::make_shared<Impl>()) {
  mImpl->label = std::move(label);
  std::shared_ptr<Impl> impl = mImpl;
  mImpl->thread = std::thread([this, impl] {
    nameCurrentThread(impl->label);
    CurrentQueueScope scope(this);
    runThreadStartHook();
    std::unique_lock lock(impl->mutex);
    for (;;) {
      auto now = std::chrono::steady_clock::now();
      while (!impl->timers.empty() && impl->timers.begin()->first <= now) {
        impl->tasks.push_back(std::move(impl->timers.begin()->second));
        impl->timers.erase(impl->timers.begin());
      }
      if (impl->stopping) return;
      if (!impl->tasks.empty() && impl->suspended == 0) {
        Task task = std::move(impl->tasks.front());
        impl->tasks.pop_front();
        lock.unlock();
        runThreadStartHook();
        task();
        task = nullptr;  // release captures outside the lock
        lock.lock();
        continue;
      }
      if (impl->timers.empty())
        impl->cond.wait(lock);
      else
        impl->cond.wait_until(lock, impl->timers.begin()->first);
    }
  });
  mImpl->threadId = mImpl->thread.get_id();
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mImpl->mutex);
    mImpl->stopping = true;
    mImpl->cond.notify_all();
  }
  if (mImpl->thread.get_id() == std::this_thread::get_id())
    mImpl->thread.detach();  // destroyed from its own task
  else
    mImpl->thread.join();
}

void SerialQueue::async(Task task) {
  std::lock_guard lock(mImpl->mutex);
  if (mImpl->stopping) return;
  mImpl->tasks.push_back(std::move(task));
  mImpl->cond.notify_one();
}

void SerialQueue::after(Millis delay, Task task) {
  std::lock_guard lock(mImpl->mutex);
  if (mImpl->stopping) return;
  mImpl->timers.emplace(std::chrono::steady_clock::now() + std::max(delay, Millis(0)), std::move(task));
  mImpl->cond.notify_one();
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == mImpl->threadId; }

const std::string& SerialQueue::label() const { return mImpl->label; }

void SerialQueue::drain() {
  sync([] {});
}

void SerialQueue::suspend() {
  std::lock_guard lock(mImpl->mutex);
  ++mImpl->suspended;
}

void SerialQueue::resume() {
  std::lock_guard lock(mImpl->mutex);
  if (mImpl->suspended > 0 && --mImpl->suspended == 0) mImpl->cond.notify_all();
}

// ---- global concurrent queue ----

namespace {

class ConcurrentQueue final : public Queue {
 public:
  ConcurrentQueue(std::string label, unsigned threads) : mLabel(std::move(label)) {
    for (unsigned i = 0; i < threads; ++i) {
      std::thread([this] { worker(); }).detach();  // lives for the process
    }
    std::thread([this] { timerLoop(); }).detach();
  }
  void async(Task task) override {
    std::lock_guard lock(mMutex);
    mTasks.push_back(std::move(task));
    mCond.notify_one();
  }
  void after(Millis delay, Task task) override {
    std::lock_guard lock(mMutex);
    mTimers.emplace(std::chrono::steady_clock::now() + std::max(delay, Millis(0)), std::move(task));
    mTimerCond.notify_one();
  }
  bool isCurrent() const override { return tCurrentQueue == this; }
  const std::string& label() const override { return mLabel; }

 private:
  void worker() {
    nameCurrentThread(mLabel);
    CurrentQueueScope scope(this);
    runThreadStartHook();
    std::unique_lock lock(mMutex);
    for (;;) {
      mCond.wait(lock, [&] { return !mTasks.empty(); });
      Task task = std::move(mTasks.front());
      mTasks.pop_front();
      lock.unlock();
      runThreadStartHook();
      task();
      task = nullptr;
      lock.lock();
    }
  }
  void timerLoop() {
    nameCurrentThread(mLabel + ".timer");
    std::unique_lock lock(mMutex);
    for (;;) {
      auto now = std::chrono::steady_clock::now();
      while (!mTimers.empty() && mTimers.begin()->first <= now) {
        mTasks.push_back(std::move(mTimers.begin()->second));
        mTimers.erase(mTimers.begin());
        mCond.notify_one();
      }
      if (mTimers.empty())
        mTimerCond.wait(lock);
      else
        mTimerCond.wait_until(lock, mTimers.begin()->first);
    }
  }

  std::string mLabel;
  std::mutex mMutex;
  std::condition_variable mCond;
  std::condition_variable mTimerCond;
  std::deque<Task> mTasks;
  std::multimap<std::chrono::steady_clock::time_point, Task> mTimers;
};

}  // namespace

Queue& globalQueue(QueuePriority priority) {
  unsigned n = std::max(2u, std::min(8u, std::thread::hardware_concurrency()));
  switch (priority) {
    case QueuePriority::High: {
      static auto* q = new ConcurrentQueue("global.high", n);
      return *q;
    }
    case QueuePriority::Default: {
      static auto* q = new ConcurrentQueue("global.default", n);
      return *q;
    }
    case QueuePriority::Low: {
      static auto* q = new ConcurrentQueue("global.low", std::max(2u, n / 2));
      return *q;
    }
    case QueuePriority::Background:
    default: {
      static auto* q = new ConcurrentQueue("global.background", 2);
      return *q;
    }
  }
}

// ---- groups ----

void DispatchGroup::enter() {
  std::lock_guard lock(mMutex);
  ++mCount;
}

void DispatchGroup::leave() {
  std::vector<std::pair<Queue*, Task>> fire;
  {
    std::lock_guard lock(mMutex);
    if (mCount <= 0) return;  // unbalanced leave: ignore rather than go negative
    if (--mCount == 0) {
      fire.swap(mNotify);
      mCond.notify_all();
    }
  }
  for (auto& [queue, task] : fire) queue->async(std::move(task));
}

void DispatchGroup::async(Queue& queue, Task task) {
  enter();
  queue.async([this, task = std::move(task)] {
    task();
    leave();
  });
}

void DispatchGroup::notify(Queue& queue, Task task) {
  std::unique_lock lock(mMutex);
  if (mCount == 0) {
    lock.unlock();
    queue.async(std::move(task));
    return;
  }
  mNotify.emplace_back(&queue, std::move(task));
}

bool DispatchGroup::wait(Millis timeout) {
  std::unique_lock lock(mMutex);
  return mCond.wait_for(lock, timeout, [&] { return mCount == 0; });
}

}  // namespace platform
