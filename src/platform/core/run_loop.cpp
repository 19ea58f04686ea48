#include "platform/core/run_loop.h"

#include <algorithm>

namespace platform {

RunLoop::RunLoop(std::shared_ptr<VirtualClock> virtualClock)
    : mVirtual(std::move(virtualClock)), mThread(std::this_thread::get_id()) {}

double RunLoop::now() const { return mVirtual ? mVirtual->now() : mSteady.now(); }

void RunLoop::post(Task task) {
  std::lock_guard lock(mMutex);
  mTasks.push_back(std::move(task));
  mCond.notify_all();
}

void RunLoop::postAfter(Millis delay, Task task) {
  std::lock_guard lock(mMutex);
  double due = now() + std::max<int64_t>(0, delay.count()) / 1000.0;
  mTimers.emplace(due, std::make_pair(mTimerSeq++, std::move(task)));
  mCond.notify_all();
}

bool RunLoop::isMainThread() const {
  std::lock_guard lock(mMutex);
  return std::this_thread::get_id() == mThread;
}

void RunLoop::adoptCurrentThread() {
  std::lock_guard lock(mMutex);
  mThread = std::this_thread::get_id();
}

// Caller holds mMutex.
bool RunLoop::popDue(Task& out) {
  if (!mTasks.empty()) {
    out = std::move(mTasks.front());
    mTasks.pop_front();
    return true;
  }
  double t = now();
  if (!mTimers.empty() && mTimers.begin()->first <= t) {
    out = std::move(mTimers.begin()->second.second);
    mTimers.erase(mTimers.begin());
    return true;
  }
  return false;
}

int RunLoop::runPending() {
  int ran = 0;
  for (;;) {
    Task task;
    {
      std::lock_guard lock(mMutex);
      if (!popDue(task)) return ran;
    }
    task();
    ++ran;
  }
}

bool RunLoop::runUntil(const std::function<bool()>& pred, Millis timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    runPending();
    if (pred()) return true;
    std::unique_lock lock(mMutex);
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    auto wake = deadline;
    if (!mVirtual && !mTimers.empty()) {
      double wait = std::max(0.0, mTimers.begin()->first - now());
      wake = std::min(wake, std::chrono::steady_clock::now() +
                                std::chrono::microseconds(static_cast<int64_t>(wait * 1e6)));
    }
    // Wake at least every few ms: pred() may depend on other threads' state.
    wake = std::min(wake, std::chrono::steady_clock::now() + Millis(5));
    mCond.wait_until(lock, wake, [&] { return !mTasks.empty(); });
  }
}

namespace {
constexpr double kVirtualSlack = 1e-6;
}  // namespace

void RunLoop::advance(double seconds) {
  if (!mVirtual) return;
  double target = mVirtual->now() + std::max(0.0, seconds);
  for (;;) {
    runPending();
    double next;
    {
      std::lock_guard lock(mMutex);
      // Steps like 0.1 s do not add up exactly in binary: a timer within a microsecond of
      // the target is due, or 0.1 + 0.1 could miss one set for 0.2 s.
      if (mTimers.empty() || mTimers.begin()->first > target + kVirtualSlack) break;
      next = mTimers.begin()->first;
    }
    if (next > mVirtual->now()) mVirtual->set(next);
  }
  mVirtual->set(std::max(target, mVirtual->now()));
  runPending();
}

void RunLoop::run() {
  {
    std::lock_guard lock(mMutex);
    mStop = false;
  }
  for (;;) {
    runPending();
    std::unique_lock lock(mMutex);
    if (mStop) return;
    if (!mTasks.empty()) continue;
    if (!mVirtual && !mTimers.empty()) {
      double wait = std::max(0.0, mTimers.begin()->first - now());
      mCond.wait_for(lock, std::chrono::microseconds(static_cast<int64_t>(wait * 1e6) + 1));
    } else {
      mCond.wait(lock);
    }
  }
}

void RunLoop::stop() {
  std::lock_guard lock(mMutex);
  mStop = true;
  mCond.notify_all();
}

size_t RunLoop::pendingTimers() const {
  std::lock_guard lock(mMutex);
  return mTimers.size();
}

}  // namespace platform
