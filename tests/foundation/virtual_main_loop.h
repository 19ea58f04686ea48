#pragma once
// A main queue on virtual time for tests: a RunLoop installed as the main-queue poster and
// its VirtualClock as the media clock, both restored when the scope ends.

#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/core/run_loop.h"

#include <memory>

class VirtualMainLoop {
 public:
  VirtualMainLoop()
      : mClock(std::make_shared<platform::VirtualClock>(1000.0)), mLoop(std::make_shared<platform::RunLoop>(mClock)) {
    mPreviousPoster = platform::installMainQueuePoster(mLoop);
    mPreviousClock = platform::setMediaClock(mClock);
  }
  ~VirtualMainLoop() {
    platform::setMediaClock(mPreviousClock);
    platform::installMainQueuePoster(mPreviousPoster);
  }
  VirtualMainLoop(const VirtualMainLoop&) = delete;
  VirtualMainLoop& operator=(const VirtualMainLoop&) = delete;

  platform::VirtualClock& clock() { return *mClock; }
  platform::RunLoop& loop() { return *mLoop; }
  double now() const { return mClock->now(); }

 private:
  std::shared_ptr<platform::VirtualClock> mClock;
  std::shared_ptr<platform::RunLoop> mLoop;
  std::shared_ptr<platform::MainQueuePoster> mPreviousPoster;
  std::shared_ptr<platform::Clock> mPreviousClock;
};
