#include "crash/crk_allocator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace telemetry {
namespace {

TEST(CRKAllocatorTest, RegionsAreRoundedUpToTheNextWholePage) {
  EXPECT_EQ(CRKAllocatorRegionSize(8192, 4096), 12288u);
  EXPECT_EQ(CRKAllocatorRegionSize(1, 4096), 4096u);
  EXPECT_EQ(CRKAllocatorRegionSize(4095, 4096), 4096u);
  EXPECT_EQ(CRKAllocatorRegionSize(0, 4096), 0u);
}

TEST(CRKAllocatorTest, LayoutKeepsGuardPagesAroundBothRegions) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  CRKAllocator* a = CRKAllocatorCreate(8192, 100);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->writableStart, reinterpret_cast<uintptr_t>(a->base) + page);
  EXPECT_EQ(a->writableSize, CRKAllocatorRegionSize(8192, page));
  EXPECT_EQ(a->readOnlyStart, a->writableStart + a->writableSize + page);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a), a->readOnlyStart) << "the header is the first read-only allocation";
  EXPECT_EQ(a->totalSize, a->writableSize + a->readOnlySize + 3 * page);
}

TEST(CRKAllocatorTest, CursorMovesByExactlyTheRequestAndExhaustionFallsBackToTheHeap) {
  CRKAllocator* a = CRKAllocatorCreate(1, 1);
  ASSERT_NE(a, nullptr);
  auto* first = static_cast<char*>(CRKAllocatorSafeAllocate(a, 3, kCRKWritable));
  auto* second = static_cast<char*>(CRKAllocatorSafeAllocate(a, 5, kCRKWritable));
  EXPECT_EQ(second - first, 3);
  EXPECT_EQ(CRKAllocatorSafeAllocate(a, 1, 7), nullptr) << "unknown type";
  void* big = CRKAllocatorSafeAllocate(a, a->writableSize, kCRKWritable);
  ASSERT_NE(big, nullptr);
  const auto at = reinterpret_cast<uintptr_t>(big);
  EXPECT_FALSE(at >= a->writableStart && at < a->writableStart + a->writableSize) << "served by the heap";
  free(big);
}

TEST(CRKAllocatorTest, AfterProtectionAllocationsComeFromTheHeapAndTheCursorStays) {
  CRKAllocator* a = CRKAllocatorCreate(4096, 4096);
  ASSERT_NE(a, nullptr);
  const uintptr_t cursor = a->readOnlyCursor.load();
  ASSERT_TRUE(CRKAllocatorProtect(a));
  EXPECT_TRUE(CRKAllocatorProtect(a)) << "a second protection is harmless";
  void* p = CRKAllocatorSafeAllocate(a, 16, kCRKReadOnly);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(a->readOnlyCursor.load(), cursor);
  free(p);
  EXPECT_FALSE(CRKAllocatorProtect(nullptr));
  ASSERT_TRUE(CRKAllocatorUnprotect(a));
  void* q = CRKAllocatorSafeAllocate(a, 16, kCRKReadOnly);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(q), cursor);
}

TEST(CRKAllocatorDeathTest, WritingAGuardPageOrTheProtectedRegionKillsTheProcess) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        CRKAllocator* a = CRKAllocatorCreate(4096, 4096);
        reinterpret_cast<volatile char*>(a->writableStart + a->writableSize)[0] = 1;  // middle guard
      },
      "");
  EXPECT_DEATH(
      {
        CRKAllocator* a = CRKAllocatorCreate(4096, 4096);
        reinterpret_cast<volatile char*>(a->writableStart)[-1] = 1;  // first guard
      },
      "");
  EXPECT_DEATH(
      {
        CRKAllocator* a = CRKAllocatorCreate(4096, 4096);
        auto* p = static_cast<volatile char*>(CRKAllocatorSafeAllocate(a, 8, kCRKReadOnly));
        CRKAllocatorProtect(a);
        p[0] = 1;
      },
      "");
  // The writable region stays writable after protection.
  CRKAllocator* a = CRKAllocatorCreate(4096, 4096);
  auto* w = static_cast<char*>(CRKAllocatorSafeAllocate(a, 8, kCRKWritable));
  CRKAllocatorProtect(a);
  w[0] = 1;
  EXPECT_EQ(w[0], 1);
  GTEST_FLAG_SET(death_test_style, style);
}

TEST(CRKAllocatorTest, ConcurrentAllocationsNeverOverlap) {
  CRKAllocator* a = CRKAllocatorCreate(64 * 1024, 0);
  ASSERT_NE(a, nullptr);
  constexpr int kThreads = 8, kEach = 500;
  std::vector<std::vector<uintptr_t>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i)
        got[t].push_back(reinterpret_cast<uintptr_t>(CRKAllocatorSafeAllocate(a, 8 + t, kCRKWritable)));
    });
  }
  for (auto& th : threads) th.join();
  std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
  for (int t = 0; t < kThreads; ++t)
    for (uintptr_t p : got[t]) ranges.emplace_back(p, p + 8 + t);
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) ASSERT_LE(ranges[i - 1].second, ranges[i].first);
  EXPECT_EQ(ranges.front().first, a->writableStart);
}

}  // namespace
}  // namespace telemetry
