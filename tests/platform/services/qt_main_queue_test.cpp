// The quit hears the results of the work it waited for by running the main-queue tasks posted
// so far, without the event loop that has stopped by then.

#include "platform/services/qt_main_queue.h"

#include "file_test_support.h"

#include <QEventLoop>
#include <QTimer>

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

// A task that waits in a modal loop (a question at the start) leaves the tasks of its turn, and
// those posted while it waits, to that loop: the window it raises meanwhile still draws.
TEST(QtMainQueue, TasksPostedWhileATaskWaitsInAModalLoopRunInThatLoop) {
  testsupport::QtMainQueueScope scope;
  std::vector<int> ran, ranWhileWaiting;
  bool waited = false;
  platform::mainQueue().async([&] {
    platform::mainQueue().async([&] { ran.push_back(3); });
    QEventLoop modal;
    // The loop ends once the task posted last has run; a deadline only ends a broken run.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &modal, &QEventLoop::quit);
    deadline.start(5000);
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &modal, [&] {
      if (!ran.empty() && ran.back() == 3) modal.quit();
    });
    check.start(1);
    modal.exec();
    ranWhileWaiting = ran;
    waited = true;
  });
  platform::mainQueue().async([&] { ran.push_back(1); });
  platform::mainQueue().async([&] { ran.push_back(2); });
  while (!waited) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  EXPECT_EQ(ranWhileWaiting, (std::vector<int>{1, 2, 3})) << "a task waited for the modal loop to end";
}
