#include <gtest/gtest.h>

#include "support/virtual_main_queue.h"
#include "sdk/core/dispatch_timer.h"

using namespace telemetry;

TEST(DispatchTimer, RepeatsAtItsIntervalUntilCancelledOrDestroyed) {
  test::VirtualMainQueue main;
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
  test::VirtualMainQueue main;
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
