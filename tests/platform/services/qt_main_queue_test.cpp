// The quit hears the results of the work it waited for by running the main-queue tasks posted
// so far, without the event loop that has stopped by then.

#include "platform/services/qt_main_queue.h"

#include "file_test_support.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(QtMainQueue, TheTasksPostedSoFarRunWhenAskedOnTheMainThreadOnly) {
  testsupport::QtMainQueueScope scope;
  std::vector<int> ran;
  platform::mainQueue().async([&] {
    ran.push_back(1);
    platform::mainQueue().async([&] { ran.push_back(3); });
  });
  std::thread([&] { platform::mainQueue().async([&] { ran.push_back(2); }); }).join();
  int fromOtherThread = -1;
  std::thread([&] { fromOtherThread = platform::runPostedQtMainQueueTasks(); }).join();
  EXPECT_EQ(fromOtherThread, 0);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(platform::runPostedQtMainQueueTasks(), 2);
  // One a task posts waits for a later turn, as it would on the event loop.
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  testsupport::drainEvents();
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}
