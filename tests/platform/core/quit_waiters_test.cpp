#include "platform/core/quit_waiters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace platform;

TEST(QuitWaiters, RunOnceEachInTheOrderAddedAndRemovedOnesNever) {
  std::vector<int> ran;
  const int a = addQuitWaiter("saves", [&] { ran.push_back(1); });
  const int b = addQuitWaiter("sync", [&] { ran.push_back(2); });
  const int c = addQuitWaiter("gone", [&] { ran.push_back(3); });
  removeQuitWaiter(c);
  const auto names = runQuitWaiters();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  EXPECT_EQ(names, (std::vector<std::string>{"saves", "sync"}));
  removeQuitWaiter(a);
  removeQuitWaiter(b);
  EXPECT_TRUE(runQuitWaiters().empty());
}

TEST(QuitWaiters, RegisteringFromOtherThreadsWhileTheQuitRunsIsSafe) {
  std::atomic<int> ran{0};
  std::vector<std::thread> threads;
  std::vector<int> ids(8);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] { ids[i] = addQuitWaiter("worker", [&] { ++ran; }); });
  runQuitWaiters();
  for (auto& t : threads) t.join();
  ran = 0;
  runQuitWaiters();
  EXPECT_EQ(ran.load(), 8);
  for (int id : ids) removeQuitWaiter(id);
}
