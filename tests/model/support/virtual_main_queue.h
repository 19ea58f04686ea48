#pragma once
// Runs the main queue on a RunLoop with a virtual clock for the life of a test, so waiting
// tests advance time instead of sleeping.

#include "platform/core/clock.h"
#include "platform/core/run_loop.h"

#include <functional>
#include <memory>

namespace orrery::testing {

class VirtualMainQueue {
 public:
  VirtualMainQueue() : mPrevious(platform::installMainQueuePoster(loop)) {}
  ~VirtualMainQueue() {
    loop->runPending();
    platform::installMainQueuePoster(mPrevious);
  }
  VirtualMainQueue(const VirtualMainQueue&) = delete;
  VirtualMainQueue& operator=(const VirtualMainQueue&) = delete;

  // Runs every turn that is due now.
  int runPending() { return loop->runPending(); }
  // Runs until the condition holds (other threads may be involved); false when it never did.
  bool runUntil(const std::function<bool()>& condition) { return loop->runUntil(condition); }
  void advance(double seconds) { loop->advance(seconds); }

  std::shared_ptr<platform::VirtualClock> clock = std::make_shared<platform::VirtualClock>();
  std::shared_ptr<platform::RunLoop> loop = std::make_shared<platform::RunLoop>(clock);

 private:
  std::shared_ptr<platform::MainQueuePoster> mPrevious;
};

}  // namespace orrery::testing
