#include <gtest/gtest.h>

#include "platform/core/run_loop.h"
#include "sdk/core/dispatch_timer.h"

using namespace telemetry;

namespace {
// Runs the main queue on a virtual clock for the length of a test.
struct VirtualMainQueue {
  std::shared_ptr<platform::VirtualClock> clock = std::make_shared<platform::VirtualClock>();
  std::shared_ptr<platform::RunLoop> loop = std::make_shared<platform::RunLoop>(clock);
  std::shared_ptr<platform::MainQueuePoster> previous = platform::installMainQueuePoster(loop);
  ~VirtualMainQueue() { platform::installMainQueuePoster(previous); }
};
}  // namespace

TEST(DispatchTimer, RepeatsAtItsIntervalUntilCancelledOrDestroyed) {
  VirtualMainQueue main;
  int fired = 0;
  {
    DispatchTimer timer(platform::mainQueue(), 600, true, [&] { ++fired; });
    main.loop->advance(599);
    EXPECT_EQ(fired, 0);
    main.loop->advance(1);
    EXPECT_EQ(fired, 1);
    main.loop->advance(1200);
    EXPECT_EQ(fired, 3);
    timer.cancel();
    EXPECT_FALSE(timer.isValid());
    main.loop->advance(1200);
    EXPECT_EQ(fired, 3);
  }
  fired = 0;
  {
    DispatchTimer timer(platform::mainQueue(), 10, true, [&] { ++fired; });
    main.loop->advance(10);
  }
  main.loop->advance(100);  // destroyed: the pending firing finds it cancelled
  EXPECT_EQ(fired, 1);
}

TEST(DispatchTimer, OneShotFiresOnceAndMayCancelItselfWhileFiring) {
  VirtualMainQueue main;
  int once = 0;
  DispatchTimer oneShot(platform::mainQueue(), 5, false, [&] { ++once; });
  main.loop->advance(50);
  EXPECT_EQ(once, 1);
  EXPECT_FALSE(oneShot.isValid());

  int repeats = 0;
  std::unique_ptr<DispatchTimer> selfCancelling;
  selfCancelling = std::make_unique<DispatchTimer>(platform::mainQueue(), 1, true, [&] {
    if (++repeats == 2) selfCancelling->cancel();
  });
  main.loop->advance(10);
  EXPECT_EQ(repeats, 2);
}
