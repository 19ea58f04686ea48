#pragma once
// A queue whose delayed tasks wait on a virtual clock: retries scheduled on it fire only when
// the test advances the run loop's time.

#include "platform/core/run_loop.h"

#include <memory>
#include <string>

namespace telemetry::test {

class VirtualRetryQueue final : public platform::Queue {
 public:
  VirtualRetryQueue()
      : mClock(std::make_shared<platform::VirtualClock>()), mLoop(std::make_shared<platform::RunLoop>(mClock)) {}

  void async(platform::Task task) override { mLoop->post(std::move(task)); }
  void after(platform::Millis delay, platform::Task task) override { mLoop->postAfter(delay, std::move(task)); }
  bool isCurrent() const override { return mLoop->isMainThread(); }
  const std::string& label() const override { return mLabel; }

  platform::RunLoop& loop() { return *mLoop; }
  // Waits (in real time, bounded) until `count` retries are scheduled.
  bool waitForScheduled(size_t count) {
    return mLoop->runUntil([&] { return mLoop->pendingTimers() >= count; });
  }
  void advance(double seconds) { mLoop->advance(seconds); }
  size_t scheduled() const { return mLoop->pendingTimers(); }

 private:
  std::shared_ptr<platform::VirtualClock> mClock;
  std::shared_ptr<platform::RunLoop> mLoop;
  std::string mLabel = "virtual-retries";
};

}  // namespace telemetry::test
