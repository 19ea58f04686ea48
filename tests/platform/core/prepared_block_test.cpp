#include "platform/core/prepared_block.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

using namespace platform;

namespace {

// Whether any page of the range is still mapped into the process.
bool mapped(const void* p, std::size_t bytes) {
  std::vector<unsigned char> pages((bytes + 4095) / 4096);
  return ::mincore(const_cast<void*>(p), bytes, pages.data()) == 0;
}

struct Disc {
  double x = 1, y = 2;
  std::uint64_t tag = 3;
};

}  // namespace

TEST(PreparedBlock, PlacesInOrderAlignedAndRefusesBeyondItsEnd) {
  auto block = PreparedBlock::create(100);
  ASSERT_TRUE(block);
  ASSERT_EQ(block->size(), 4096u) << "whole pages";
  char* first = static_cast<char*>(block->take(3, 1));
  char* second = static_cast<char*>(block->take(8, 16));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(second) % 16, 0u);
  EXPECT_EQ(second, first + 16) << "the next aligned place after the first";
  EXPECT_TRUE(block->holds(first) && block->holds(second + 7));
  EXPECT_FALSE(block->take(4096, 1)) << "no room left for a page";
  EXPECT_TRUE(block->take(4096 - 24, 1)) << "exactly the rest";
  EXPECT_FALSE(block->take(1, 1));
  EXPECT_EQ(block->used(), block->size());
  EXPECT_FALSE(block->take(std::size_t(-1), 1)) << "a size that would wrap round";
}

// Objects made beyond the block's room come from the heap, and all are let go of alike.
TEST(PreparedBlock, AnAllocatorFallsBackToTheHeapAndTheBlockGoesWithItsLastObject) {
  auto block = PreparedBlock::create(3 * 4096);
  ASSERT_TRUE(block);
  const void* base = block->take(0, 1);
  const std::size_t room = block->size();
  std::vector<std::shared_ptr<Disc>> discs;
  for (int i = 0; i < 1000; ++i) discs.push_back(std::allocate_shared<Disc>(BlockAllocator<Disc>(block), Disc()));
  int inside = 0;
  for (const auto& d : discs) inside += block->holds(d.get());
  EXPECT_GT(inside, 0);
  EXPECT_LT(inside, 1000) << "the rest came from the heap";
  for (const auto& d : discs) EXPECT_EQ(d->tag, 3u);

  // The background task makes the whole block ready.
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (block->prepared() < room && std::chrono::steady_clock::now() < bound) std::this_thread::yield();
  EXPECT_EQ(block->prepared(), room);

  std::weak_ptr<PreparedBlock> weak = block;
  block.reset();
  EXPECT_FALSE(weak.expired()) << "kept by the objects made in it";
  EXPECT_TRUE(mapped(base, room));
  discs.clear();
  // The background task may still hold it for the piece it has just finished.
  while (!weak.expired() && std::chrono::steady_clock::now() < bound) std::this_thread::yield();
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(mapped(base, room)) << "given back to the system";
}
