#include "platform/core/termination.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

TEST(TerminationHolds, AQuitWaitsUntilEveryHoldIsGivenBackOnAnyThread) {
  ASSERT_TRUE(platform::waitUntilTerminationAllowed(0ms)) << "no hold is left over from another test";
  platform::disableSuddenTermination();
  platform::disableAutomaticTermination("upload");
  platform::disableAutomaticTermination("upload");
  EXPECT_EQ(platform::suddenTerminationHoldCount(), 1);
  EXPECT_EQ(platform::automaticTerminationHoldCount(), 2);
  EXPECT_FALSE(platform::waitUntilTerminationAllowed(0ms));

  platform::enableAutomaticTermination("another reason");
  EXPECT_EQ(platform::automaticTerminationHoldCount(), 2) << "a reason never held gives nothing back";
  std::thread worker([] {
    platform::enableAutomaticTermination("upload");
    platform::enableAutomaticTermination("upload");
    platform::enableSuddenTermination();
  });
  EXPECT_TRUE(platform::waitUntilTerminationAllowed(10s));
  worker.join();

  platform::enableSuddenTermination();
  EXPECT_EQ(platform::suddenTerminationHoldCount(), 0) << "more give-backs than holds change nothing";
  platform::disableSuddenTermination();
  EXPECT_EQ(platform::suddenTerminationHoldCount(), 1);
  platform::enableSuddenTermination();
}
