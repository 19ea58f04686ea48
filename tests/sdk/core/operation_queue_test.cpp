#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

#include "sdk/core/operation_queue.h"

using namespace telemetry;

namespace {

// A gate that blocking operations wait on; the test opens it.
class Gate {
 public:
  void open() {
    std::lock_guard lock(mMutex);
    mOpen = true;
    mCond.notify_all();
  }
  void wait() {
    std::unique_lock lock(mMutex);
    mCond.wait(lock, [&] { return mOpen; });
  }

 private:
  std::mutex mMutex;
  std::condition_variable mCond;
  bool mOpen = false;
};

// Counts how many operations run at once and waits until a given number are running.
class Occupancy {
 public:
  void enter() {
    std::lock_guard lock(mMutex);
    ++mNow;
    mPeak = std::max(mPeak, mNow);
    ++mEntered;
    mCond.notify_all();
  }
  void leave() {
    std::lock_guard lock(mMutex);
    --mNow;
  }
  void waitForEntered(int n) {
    std::unique_lock lock(mMutex);
    mCond.wait(lock, [&] { return mEntered >= n; });
  }
  int peak() {
    std::lock_guard lock(mMutex);
    return mPeak;
  }
  int entered() {
    std::lock_guard lock(mMutex);
    return mEntered;
  }

 private:
  std::mutex mMutex;
  std::condition_variable mCond;
  int mNow = 0, mPeak = 0, mEntered = 0;
};

}  // namespace

TEST(OperationQueue, SerialQueueRunsOneAtATimeInOrder) {
  OperationQueue queue("serial", 1);
  Occupancy occupancy;
  std::mutex orderMutex;
  std::vector<int> order;
  for (int i = 0; i < 20; ++i)
    queue.addOperationWithBlock([&, i] {
      occupancy.enter();
      {
        std::lock_guard lock(orderMutex);
        order.push_back(i);
      }
      occupancy.leave();
    });
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(occupancy.peak(), 1);
  ASSERT_EQ(order.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, ConcurrentQueueNeverExceedsItsLimit) {
  OperationQueue queue("three", 3);
  Occupancy occupancy;
  Gate gate;
  for (int i = 0; i < 7; ++i)
    queue.addOperationWithBlock([&] {
      occupancy.enter();
      gate.wait();
      occupancy.leave();
    });
  occupancy.waitForEntered(3);
  EXPECT_EQ(occupancy.entered(), 3);  // the other four wait for a slot
  gate.open();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(occupancy.entered(), 7);
  EXPECT_EQ(occupancy.peak(), 3);
}

TEST(OperationQueue, DependenciesOrderWorkAndCancellationReleasesWaiters) {
  OperationQueue queue("deps", 4);
  std::mutex m;
  std::vector<std::string> order;
  auto record = [&](const char* s) {
    return [&, s] {
      std::lock_guard lock(m);
      order.push_back(s);
    };
  };
  auto a = BlockOperation::create(record("a"));
  auto b = BlockOperation::create(record("b"));
  auto c = BlockOperation::create(record("c"));
  b->addDependency(a);
  c->addDependency(b);
  EXPECT_FALSE(c->isReady());
  queue.addOperation(c);
  queue.addOperation(b);
  queue.addOperation(a);
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c"}));

  // A cancelled operation no longer waits for its dependencies and finishes without running.
  Gate gate;
  auto blocker = BlockOperation::create([&] { gate.wait(); });
  bool ran = false;
  auto waiter = BlockOperation::create([&] { ran = true; });
  waiter->addDependency(blocker);
  queue.addOperation(blocker);
  queue.addOperation(waiter);
  waiter->cancel();
  waiter->waitUntilFinished();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(waiter->isFinished());
  gate.open();
  queue.waitUntilAllOperationsAreFinished();
}

TEST(OperationQueue, SuspensionHoldsStartsAndCompletionBlocksRunOnce) {
  OperationQueue queue("suspend", 2);
  queue.setSuspended(true);
  std::atomic<int> runs{0};
  std::promise<void> completed;
  auto op = BlockOperation::create([&] { ++runs; });
  op->setCompletionBlock([&] { completed.set_value(); });
  EXPECT_TRUE(queue.addOperation(op));
  EXPECT_FALSE(queue.addOperation(op));  // already queued
  EXPECT_EQ(queue.operationCount(), 1u);
  EXPECT_EQ(runs.load(), 0);
  queue.setSuspended(false);
  completed.get_future().wait();
  op->waitUntilFinished();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_FALSE(queue.addOperation(op));  // finished operations cannot be queued again
}

TEST(OperationQueue, DestroyingTheQueueFinishesWhatNeverRan) {
  std::atomic<int> ran{0};
  std::vector<std::shared_ptr<Operation>> ops;
  {
    OperationQueue queue("doomed", 1);
    queue.setSuspended(true);
    for (int i = 0; i < 5; ++i) ops.push_back(queue.addOperationWithBlock([&] { ++ran; }));
  }
  for (auto& op : ops) {
    EXPECT_TRUE(op->isFinished());
    EXPECT_TRUE(op->isCancelled());
  }
  EXPECT_EQ(ran.load(), 0);
}

namespace {

// The analytics engine's shape: each record holds an operation that waits for one queued
// much later, behind the whole backlog. Every waiter must run once its operation has, in
// the order added, however the backlog grows meanwhile; a cancelled waiter runs at once.
TEST(OperationQueue, WaitersBehindALongBacklogRunInOrderOnceReadyOrCancelled) {
  OperationQueue queue("backlog", 1);
  queue.setSuspended(true);
  constexpr int kWaiters = 3000;
  std::mutex mutex;
  std::vector<int> order;
  std::vector<std::shared_ptr<BlockOperation>> waiters, later;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.push_back(BlockOperation::create([&, i] {
      std::lock_guard lock(mutex);
      order.push_back(i);
    }));
    later.push_back(BlockOperation::create([] {}));
    waiters.back()->addDependency(later.back());
    queue.addOperation(waiters.back());
  }
  waiters[kWaiters - 1]->cancel();
  for (int i = 0; i < kWaiters - 1; ++i) queue.addOperation(later[i]);
  queue.setSuspended(false);
  queue.waitUntilAllOperationsAreFinished();
  ASSERT_EQ(order.size(), static_cast<size_t>(kWaiters - 1)) << "the cancelled waiter runs without its block";
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_FALSE(later[kWaiters - 1]->isFinished()) << "never queued";
}

}  // namespace
