#pragma once
// A Qt-free main loop: the main queue of the SDK's tools and of tests. With a VirtualClock
// its timers fire only when the test advances time, so waiting needs no sleeps.

#include "platform/core/clock.h"
#include "platform/core/dispatch.h"

#include <deque>
#include <map>
#include <thread>

namespace platform {

class RunLoop final : public MainQueuePoster, public std::enable_shared_from_this<RunLoop> {
 public:
  // With no clock given the loop uses real monotonic time.
  explicit RunLoop(std::shared_ptr<VirtualClock> virtualClock = nullptr);

  void post(Task task) override;
  void postAfter(Millis delay, Task task) override;
  bool isMainThread() const override;

  // Makes the calling thread the loop's thread (the thread that constructed it by default).
  void adoptCurrentThread();
  // Runs everything that is due now, including tasks those tasks post; returns how many ran.
  int runPending();
  // Runs until pred() holds or `timeout` of real time has passed; true when pred() held.
  bool runUntil(const std::function<bool()>& pred, Millis timeout = Millis(10000));
  // Virtual clocks only: moves time forward, firing each timer at its due time in order.
  void advance(double seconds);
  // Runs until stop() is called.
  void run();
  void stop();
  size_t pendingTimers() const;

 private:
  double now() const;
  bool popDue(Task& out);

  std::shared_ptr<VirtualClock> mVirtual;
  SteadyClock mSteady;
  mutable std::mutex mMutex;
  std::condition_variable mCond;
  std::deque<Task> mTasks;
  std::multimap<double, std::pair<uint64_t, Task>> mTimers;
  uint64_t mTimerSeq = 0;
  std::thread::id mThread;
  bool mStop = false;
};

}  // namespace platform
