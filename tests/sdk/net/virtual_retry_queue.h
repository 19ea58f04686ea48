#pragma once
// A queue whose delayed tasks wait on a virtual clock: retries scheduled on it fire only when
// the test advances the run loop's time.

#include "platform/core/run_loop.h"

#include <atomic>
#include <memory>
#include <string>

namespace telemetry::test {

class VirtualRetryQueue final : public platform::Queue {
 public:
  VirtualRetryQueue()
      : mClock(std::make_shared<platform::VirtualClock>()), mLoop(std::make_shared<platform::RunLoop>(mClock)) {}

  void async(platform::Task task) override { mLoop->post(std::move(task)); }
  void after(platform::Millis delay, platform::Task task) override {
    mLoop->postAfter(delay, [this, task = std::move(task)] {
      ++mFired;
      task();
    });
  }
  bool isCurrent() const override { return mLoop->isMainThread(); }
  const std::string& label() const override { return mLabel; }

  platform::RunLoop& loop() { return *mLoop; }
  // Waits (in real time, bounded) until `count` retries are scheduled.
  bool waitForScheduled(size_t count) {
    return mLoop->runUntil([&] { return mLoop->pendingTimers() >= count; });
  }
  void advance(double seconds) { mLoop->advance(seconds); }
  size_t scheduled() const { return mLoop->pendingTimers(); }
  // How many delayed tasks have run.
  size_t fired() const { return mFired; }
  // Advances in small steps until one more delayed task has run, at most `seconds`. The clock
  // then stands just past it, so whatever that task schedules next is timed from there even
  // when an answer arrives while the clock moves. False when none ran.
  bool advanceUntilFired(double seconds) {
    const size_t before = mFired;
    for (double moved = 0; mFired == before && moved < seconds; moved += kStep) advance(kStep);
    return mFired != before;
  }

 private:
  std::shared_ptr<platform::VirtualClock> mClock;
  std::shared_ptr<platform::RunLoop> mLoop;
  static constexpr double kStep = 0.02;
  std::atomic<size_t> mFired{0};
  std::string mLabel = "virtual-retries";
};

}  // namespace telemetry::test
