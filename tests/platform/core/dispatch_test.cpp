#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/core/run_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

struct MainLoopFixture : ::testing::Test {
  std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
  std::shared_ptr<RunLoop> loop = std::make_shared<RunLoop>(clock);
  std::shared_ptr<MainQueuePoster> previous;
  void SetUp() override { previous = installMainQueuePoster(loop); }
  void TearDown() override { installMainQueuePoster(previous); }
};

}  // namespace

TEST(SerialQueue, RunsTasksInPostingOrderFromManyThreads) {
  SerialQueue queue("test.serial");
  std::vector<int> seen;
  std::atomic<int> running{0};
  bool overlapped = false;
  constexpr int kThreads = 8, kPerThread = 2000;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        queue.async([&, t, i] {
          if (running.fetch_add(1) != 0) overlapped = true;
          seen.push_back(t * kPerThread + i);
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& p : posters) p.join();
  queue.drain();
  ASSERT_EQ(seen.size(), size_t(kThreads * kPerThread));
  EXPECT_FALSE(overlapped);
  // Per-producer order is FIFO.
  std::vector<int> last(kThreads, -1);
  for (int v : seen) {
    int t = v / kPerThread;
    EXPECT_GT(v, last[t]);
    last[t] = v;
  }
}

TEST(SerialQueue, SyncFromInsideTheQueueRunsInlineAndCurrentIsKnown) {
  SerialQueue queue("test.inline");
  bool inner = false, wasCurrent = false;
  queue.sync([&] {
    wasCurrent = queue.isCurrent() && currentQueue() == &queue;
    queue.sync([&] { inner = true; });
  });
  EXPECT_TRUE(inner);
  EXPECT_TRUE(wasCurrent);
  EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, TimersFireInDueOrderAfterImmediateTasks) {
  SerialQueue queue("test.timers");
  std::mutex m;
  std::vector<int> order;
  DispatchGroup group;
  for (int i : {30, 10, 20}) {
    group.enter();
    queue.after(Millis(i), [&, i] {
      std::lock_guard lock(m);
      order.push_back(i);
      group.leave();
    });
  }
  group.enter();
  queue.async([&] {
    std::lock_guard lock(m);
    order.push_back(0);
    group.leave();
  });
  ASSERT_TRUE(group.wait(Millis(5000)));
  EXPECT_EQ(order, (std::vector<int>{0, 10, 20, 30}));
}

TEST_F(MainLoopFixture, MainQueueTimersFollowTheVirtualClock) {
  std::vector<int> order;
  mainQueue().after(Millis(300), [&] { order.push_back(300); });
  mainQueue().after(Millis(100), [&] {
    order.push_back(100);
    mainQueue().after(Millis(100), [&] { order.push_back(200); });
  });
  mainQueue().async([&] { order.push_back(0); });
  loop->runPending();
  EXPECT_EQ(order, (std::vector<int>{0}));
  loop->advance(0.099);
  EXPECT_EQ(order, (std::vector<int>{0}));
  loop->advance(0.001);
  EXPECT_EQ(order, (std::vector<int>{0, 100}));
  loop->advance(0.25);
  EXPECT_EQ(order, (std::vector<int>{0, 100, 200, 300}));
  EXPECT_EQ(loop->pendingTimers(), 0u);
}

TEST_F(MainLoopFixture, WorkFromOtherQueuesComesBackToTheMainQueue) {
  SerialQueue worker("test.worker");
  std::atomic<bool> onMain{false};
  bool done = false;
  worker.async([&] {
    mainQueue().async([&] {
      onMain = mainQueue().isCurrent();
      done = true;
    });
  });
  ASSERT_TRUE(loop->runUntil([&] { return done; }));
  EXPECT_TRUE(onMain);
}

TEST(DispatchGroup, NotifyRunsOnceWhenAllWorkEnds) {
  DispatchGroup group;
  std::atomic<int> count{0};
  std::atomic<int> notified{0};
  for (int i = 0; i < 100; ++i) group.async(globalQueue(), [&] { count++; });
  SerialQueue q("test.notify");
  ASSERT_TRUE(group.wait(Millis(5000)));
  group.notify(q, [&] { notified++; });
  q.drain();
  EXPECT_EQ(count.load(), 100);
  EXPECT_EQ(notified.load(), 1);
  group.leave();  // unbalanced leave is ignored
  EXPECT_TRUE(group.wait(Millis(0)));
}

TEST(MediaClock, CanBeReplacedByAVirtualClock) {
  auto clock = std::make_shared<VirtualClock>(5.0);
  auto old = setMediaClock(clock);
  EXPECT_DOUBLE_EQ(mediaTime(), 5.0);
  clock->advance(0.5);
  EXPECT_DOUBLE_EQ(mediaTime(), 5.5);
  setMediaClock(old);
  EXPECT_NE(mediaTime(), 5.5);
}

TEST(SerialQueue, CanBeDestroyedFromItsOwnTask) {
  auto* queue = new SerialQueue("test.self-destroy");
  std::atomic<bool> after{false};
  DispatchGroup group;
  group.enter();
  queue->async([&] {
    delete queue;  // pending work is dropped; the running task finishes normally
    after = true;
    group.leave();
  });
  ASSERT_TRUE(group.wait(Millis(5000)));
  EXPECT_TRUE(after);
}

TEST(SerialQueue, SuspendsCountedAndRunsWhatWaitedInOrder) {
  platform::SerialQueue queue("suspend");
  std::mutex mutex;
  std::vector<int> ran;
  queue.suspend();
  queue.suspend();
  for (int i = 0; i < 5; ++i) queue.async([&, i] { std::lock_guard lock(mutex); ran.push_back(i); });
  queue.resume();
  // Still suspended once: a marker posted behind the tasks cannot have run either.
  std::atomic<bool> marker{false};
  queue.async([&] { marker = true; });
  std::this_thread::yield();
  {
    std::lock_guard lock(mutex);
    EXPECT_TRUE(ran.empty());
  }
  EXPECT_FALSE(marker.load());
  queue.resume();
  queue.drain();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(marker.load());
  queue.resume();  // an extra resume is ignored
  queue.drain();
}

namespace {
thread_local int tHookRuns = 0;
std::atomic<int> gHookRuns{0};
void countingHook() {
  ++tHookRuns;
  gHookRuns.fetch_add(1);
}
}  // namespace

TEST(ThreadStartHook, RunsOncePerQueueThreadBeforeItsTasksAlsoOnThreadsAlreadyRunning) {
  SerialQueue before("test.hook.before");
  before.drain();  // its thread is running before the hook exists
  setThreadStartHook(countingHook);
  SerialQueue after("test.hook.after");
  std::vector<int> runsSeen;
  std::mutex m;
  for (int i = 0; i < 3; ++i) {
    for (SerialQueue* q : {&before, &after}) {
      q->sync([&] {
        std::lock_guard lock(m);
        runsSeen.push_back(tHookRuns);
      });
    }
  }
  globalQueue().sync([&] { runsSeen.push_back(tHookRuns); });
  setThreadStartHook(nullptr);
  for (int seen : runsSeen) EXPECT_EQ(seen, 1);  // ran before the first task, never again
  EXPECT_STREQ(currentQueueLabel(), nullptr);
  std::string label;
  after.sync([&] { label = currentQueueLabel(); });
  EXPECT_EQ(label, "test.hook.after");
}

namespace {
std::string currentThreadName() {
  char name[32] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}
}  // namespace

TEST(QueueThreads, AreNamedAfterTheirQueueCutToWhatLinuxKeeps) {
  // Long labels keep their first 15 bytes, and a cut never splits a character.
  SerialQueue longLabel("org.orrery.persistence");
  SerialQueue shortLabel("short");
  SerialQueue accented("org.orrery.caf\xC3\xA9.x");  // "é" would straddle byte 15
  std::string names[3];
  longLabel.sync([&] { names[0] = currentThreadName(); });
  shortLabel.sync([&] { names[1] = currentThreadName(); });
  accented.sync([&] { names[2] = currentThreadName(); });
  EXPECT_EQ(names[0], "org.orrery.pers");
  EXPECT_EQ(names[1], "short");
  EXPECT_EQ(names[2], "org.orrery.caf");

  std::string global;
  globalQueue(QueuePriority::Background).sync([&] { global = currentThreadName(); });
  EXPECT_EQ(global, "global.backgrou");
}
