#include "cloud/async_future_runnable.h"

#include "../foundation/log_capture.h"
#include "model/support/virtual_main_queue.h"

#include <gtest/gtest.h>

using namespace orrery;

TEST(AsyncFutureRunnableTest, WorkRunsOnALaterTurnWithTheCompletionAlreadyInPlace) {
  orrery::testing::VirtualMainQueue main;
  QStringList steps;
  auto task = AsyncFutureRunnable::createWithBlock([&](AsyncFutureRunnable& t) {
    steps << "work";
    t.postResponse();
  });
  task->execute().whenReady([&] { steps << "ready"; });
  EXPECT_TRUE(steps.isEmpty()) << "execute only schedules";
  EXPECT_TRUE(task->hasExecuteBeenRequested());
  main.runPending();
  EXPECT_EQ(steps, QStringList({"work", "ready"}));
  // A second answer runs the same completion again.
  task->postResponse();
  EXPECT_EQ(steps.size(), 3);
}

TEST(AsyncFutureRunnableTest, CancelBeforeTheTurnSkipsTheWorkAndSilencesTheAnswer) {
  orrery::testing::VirtualMainQueue main;
  int runs = 0, answers = 0;
  auto task = AsyncFutureRunnable::createWithBlock([&](AsyncFutureRunnable&) { ++runs; });
  task->execute().whenReady([&] { ++answers; });
  task->cancel();
  EXPECT_TRUE(task->isCanceled());
  main.runPending();
  EXPECT_EQ(runs, 0);
  task->postResponse();
  EXPECT_EQ(answers, 0);
}

TEST(AsyncFutureRunnableTest, CancelWhileRunningKeepsTheWorkButDropsTheCompletion) {
  orrery::testing::VirtualMainQueue main;
  int answers = 0;
  std::shared_ptr<AsyncFutureRunnable> task;
  task = AsyncFutureRunnable::createWithBlock([&](AsyncFutureRunnable& t) {
    // The work finishes later, after a cancel came in.
    platform::mainQueue().after(platform::Millis(1000), [&t] { t.postResponse(); });
  });
  task->execute().whenReady([&] { ++answers; });
  main.runPending();
  task->cancel();
  main.advance(2);
  EXPECT_EQ(answers, 0);
}

TEST(AsyncFutureRunnableTest, RepeatedExecuteAndWhenReadyAreReportedAndStillHonoured) {
  orrery::testing::VirtualMainQueue main;
  LogCapture log;
  int runs = 0;
  QStringList answers;
  auto task = AsyncFutureRunnable::createWithBlock([&](AsyncFutureRunnable&) { ++runs; });
  task->execute();
  task->execute();
  ASSERT_EQ(log.lines().size(), 1);
  EXPECT_TRUE(log.lines()[0].contains("-[AsyncFutureRunnable execute]")) << log.lines()[0].toStdString();
  main.runPending();
  EXPECT_EQ(runs, 2) << "both executions were scheduled";

  task->postResponse();  // no completion yet: nothing happens
  task->whenReady([&] { answers << "first"; });
  task->whenReady([&] { answers << "second"; });
  ASSERT_EQ(log.lines().size(), 2);
  EXPECT_TRUE(log.lines()[1].contains("-[AsyncFutureRunnable whenReady:]"));
  task->postResponse();
  EXPECT_EQ(answers, QStringList({"second"}));
}
