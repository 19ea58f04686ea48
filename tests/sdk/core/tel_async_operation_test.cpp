#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "sdk/core/operation_queue.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/net/tel_network_operation.h"

using namespace telemetry;

namespace {

// Counts "will"/"did" announcements per key, and checks that an observer may read the flags
// from inside an announcement (the lock is recursive).
struct Recorder {
  std::mutex mutex;
  std::map<std::string, int> will, did;
  void attach(Operation& op) {
    op.addObserver([this](Operation& o, std::string_view key, Operation::Change change) {
      (void)o.isExecuting();
      (void)o.isFinished();
      std::lock_guard lock(mutex);
      (change == Operation::Change::Will ? will : did)[std::string(key)]++;
    });
  }
};

// Finishes when the test says so, from whatever thread the test chooses.
class ManualOperation : public TELAsyncOperation {
 public:
  ManualOperation() : TELAsyncOperation("ManualOperation") {}
  void main() override { mainRuns++; started.set_value(); }
  std::atomic<int> mainRuns{0};
  std::promise<void> started;
};

class TestNetworkOperation : public TELNetworkOperation {
 public:
  explicit TestNetworkOperation(std::string key) : TELNetworkOperation(std::move(key), "TestNetworkOperation") {}
};

}  // namespace

TEST(TELAsyncOperation, CancelledBeforeStartFinishesWithoutRunning) {
  auto op = std::make_shared<ManualOperation>();
  Recorder rec;
  rec.attach(*op);
  int completions = 0;
  op->setAsyncCompletion([&](const OptionalError&) { ++completions; });
  op->cancel();
  op->start();
  EXPECT_EQ(op->mainRuns.load(), 0);
  EXPECT_FALSE(op->isExecuting());
  EXPECT_TRUE(op->isFinished());
  EXPECT_EQ(completions, 0);
  EXPECT_EQ(rec.will["isExecuting"], 1);
  EXPECT_EQ(rec.did["isExecuting"], 1);
  EXPECT_EQ(rec.will["isFinished"], 1);
  EXPECT_EQ(rec.did["isFinished"], 1);
  op->start();  // a second start changes nothing
  EXPECT_EQ(rec.did["isFinished"], 1);
}

TEST(TELAsyncOperation, CompletionRunsWhileExecutingThenOperationIsDone) {
  auto op = std::make_shared<ManualOperation>();
  bool executingInCompletion = false;
  std::optional<Error> seen;
  op->setAsyncCompletion([&](const OptionalError& e) {
    executingInCompletion = op->isExecuting() && !op->isFinished();
    seen = e;
  });
  op->start();
  EXPECT_TRUE(op->isExecuting());
  op->finishWithError(Error{"TestDomain", 7, "", {}});
  EXPECT_TRUE(executingInCompletion);
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->code, 7);
  EXPECT_TRUE(op->isFinished());
  EXPECT_FALSE(op->isExecuting());

  // Without a completion block the operation is still marked done.
  auto bare = std::make_shared<ManualOperation>();
  bare->start();
  bare->finishWithError(std::nullopt);
  EXPECT_TRUE(bare->isFinished());
}

TEST(TELAsyncOperation, FinishesOnceUnderCancellationRaces) {
  for (int round = 0; round < 200; ++round) {
    auto op = std::make_shared<ManualOperation>();
    Recorder rec;
    rec.attach(*op);
    std::atomic<int> completions{0};
    op->setAsyncCompletion([&](const OptionalError&) { ++completions; });
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] { while (!go) std::this_thread::yield(); op->start(); });
    threads.emplace_back([&] { while (!go) std::this_thread::yield(); op->cancel(); });
    for (int i = 0; i < 3; ++i) threads.emplace_back([&] { while (!go) std::this_thread::yield(); op->finishWithError(std::nullopt); });
    threads.emplace_back([&] { while (!go) std::this_thread::yield(); op->markDone(); });
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->isExecuting());
    EXPECT_LE(completions.load(), 1);
    EXPECT_EQ(rec.did["isFinished"], 1) << "round " << round;
    EXPECT_LE(op->mainRuns.load(), 1);
  }
}

TEST(TELAsyncOperation, HoldsItsQueueSlotUntilFinishedOnAnotherThread) {
  OperationQueue queue("async", 1);
  auto first = std::make_shared<ManualOperation>();
  auto second = std::make_shared<ManualOperation>();
  auto started = first->started.get_future();
  queue.addOperation(first);
  queue.addOperation(second);
  started.wait();
  EXPECT_EQ(second->mainRuns.load(), 0);
  EXPECT_EQ(queue.operationCount(), 2u);
  // Finish from a foreign thread, twice: the slot is released once and the next one runs.
  std::thread([&] {
    first->finishWithError(std::nullopt);
    first->finishWithError(std::nullopt);
  }).join();
  second->started.get_future().wait();
  second->finishWithError(std::nullopt);
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(second->mainRuns.load(), 1);

  // Cancelled while queued behind a running one: finishes without main.
  auto blocker = std::make_shared<ManualOperation>();
  auto cancelled = std::make_shared<ManualOperation>();
  auto blockerStarted = blocker->started.get_future();
  queue.addOperation(blocker);
  queue.addOperation(cancelled);
  blockerStarted.wait();
  cancelled->cancel();
  blocker->finishWithError(std::nullopt);
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(cancelled->mainRuns.load(), 0);
  EXPECT_TRUE(cancelled->isFinished());
}

TEST(TELAsyncOperation, LockIsNamedAfterTheConcreteClass) {
  ManualOperation op;
  EXPECT_EQ(op.lock()->name(), std::string(kKitIdentifierPrefix) + ".ManualOperation-lock");
  TELAsyncOperation plain;
  EXPECT_EQ(plain.lock()->name(), std::string(kKitIdentifierPrefix) + ".TELAsyncOperation-lock");
  // A bare operation finishes by itself when started.
  plain.start();
  EXPECT_TRUE(plain.isFinished());
}

TEST(TELNetworkOperation, NeedsAnAPIKey) {
  EXPECT_EQ(TELNetworkOperation::create(std::nullopt), nullptr);
  auto op = TELNetworkOperation::create(std::string());
  ASSERT_NE(op, nullptr);
  EXPECT_EQ(op->APIKey(), "");
}

TEST(TELNetworkOperation, DefaultRequestCarriesNineHeadersInOrder) {
  const char* saved = std::getenv("LC_ALL");
  std::string savedValue = saved ? saved : "";
  setenv("LC_ALL", "de_CH.UTF-8", 1);
  TestNetworkOperation op("key-123");
  URLRequest request = op.mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL("https://example.test/x");
  EXPECT_EQ(request.URL(), "https://example.test/x");
  EXPECT_DOUBLE_EQ(request.timeoutInterval(), 10.0);
  EXPECT_EQ(request.cachePolicy(), URLRequest::CachePolicy::ReloadIgnoringLocalCacheData);
  const std::string ua = std::string(kHostKitIdentifier) + "/1.6.8 (55)";
  URLRequest::HeaderList expected = {
      {"User-Agent", ua},
      {"Accept-Charset", "utf-8"},
      {"Accept-Language", "de_CH"},
      {"Content-Language", "de_CH"},
      {"X-CrashKit-Developer-Token", kDeveloperToken},
      {"X-CrashKit-API-Client-Id", kHostKitIdentifier},
      {"X-CrashKit-API-Client-Display-Version", "1.6.8"},
      {"X-CrashKit-API-Client-Build-Version", "55"},
      {"X-CrashKit-API-Key", "key-123"},
  };
  EXPECT_EQ(request.allHTTPHeaderFields(), expected);
  EXPECT_EQ(std::string(kDeveloperToken).find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(std::string(kDeveloperToken).size(), 40u);

  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(TELNetworkOperation::localeIdentifier(), "en_US_POSIX");
  URLRequest other = op.mutableRequestWithDefaultHTTPHeadersForURL("https://example.test/y", 3.5);
  EXPECT_DOUBLE_EQ(other.timeoutInterval(), 3.5);
  EXPECT_EQ(other.valueForHTTPHeaderField("accept-language"), "en_US_POSIX");
  if (saved)
    setenv("LC_ALL", savedValue.c_str(), 1);
  else
    unsetenv("LC_ALL");
}
