#include "platform/ui/first_frame.h"

#include "ui_test_env.h"

#include <gtest/gtest.h>

#include <QStringList>

using platform::FirstFrameWaiters;

// Deferred work runs after the frame on the main queue, or at its deadline when no window
// draws, exactly once either way; once a frame was drawn, new work only waits for the queue.
TEST(FirstFrameWaiters, WorkWaitsForTheFirstFrameOrItsDeadlineAndRunsOnce) {
  FirstFrameWaiters waiters;
  QStringList ran;
  waiters.after([&] { ran << "service"; });
  waiters.after([&] { ran << "card"; }, 0.2);
  uitest::advance(0.1);
  EXPECT_TRUE(ran.isEmpty()) << "no frame yet, no deadline yet";
  uitest::advance(0.15);
  EXPECT_EQ(ran, QStringList({"card"})) << "its deadline passed without a frame";

  waiters.frameDrawn();
  EXPECT_EQ(ran, QStringList({"card"})) << "the frame reaches the screen before the work starts";
  uitest::advance(0);
  EXPECT_EQ(ran, QStringList({"card", "service"}));
  waiters.frameDrawn();
  uitest::advance(FirstFrameWaiters::kLatestSeconds * 2);
  EXPECT_EQ(ran, QStringList({"card", "service"})) << "neither a second frame nor the deadline runs it again";

  waiters.after([&] { ran << "late"; });
  EXPECT_EQ(ran.size(), 2);
  uitest::advance(0);
  EXPECT_EQ(ran.last(), "late");
}
