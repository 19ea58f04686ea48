// Work a launch puts off: held work waits, in order, until the release; other work runs at once.
#include "platform/core/launch_work.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(LaunchWork, HeldWorkWaitsForTheReleaseAndRunsInOrder) {
  struct Case {
    const char* name;
    bool hold;
    std::vector<std::string> beforeRelease, afterRelease;
  };
  const Case cases[] = {
      {"nothing holds: at once", false, {"a", "b", "b's own"}, {"a", "b", "b's own"}},
      {"held: in order at the release, and what they hand over too", true, {}, {"a", "b", "b's own"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> ran;
    if (c.hold) platform::holdLaunchWork();
    EXPECT_EQ(platform::isLaunchWorkHeld(), c.hold);
    platform::afterLaunch([&] { ran.push_back("a"); });
    platform::afterLaunch([&] {
      ran.push_back("b");
      platform::afterLaunch([&] { ran.push_back("b's own"); });
    });
    EXPECT_EQ(ran, c.beforeRelease);
    platform::releaseLaunchWork();
    EXPECT_EQ(ran, c.afterRelease);
    EXPECT_FALSE(platform::isLaunchWorkHeld());
    platform::releaseLaunchWork();
    EXPECT_EQ(ran, c.afterRelease) << "a second release runs nothing again";
  }
}

}  // namespace
