#include "platform/core/prepared_block.h"

#include <sys/mman.h>

#include <algorithm>

#include "platform/core/dispatch.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace platform {
namespace {

constexpr std::size_t kPage = 4096;
// Faulted in a piece at a time, so a block let go of early stops the task soon.
constexpr std::size_t kPiece = std::size_t(2) << 20;

}  // namespace

std::shared_ptr<PreparedBlock> PreparedBlock::create(std::size_t bytes) {
  const std::size_t size = (std::max<std::size_t>(bytes, 1) + kPage - 1) / kPage * kPage;
  void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  std::shared_ptr<PreparedBlock> block(new PreparedBlock(static_cast<char*>(base), size));
  block->prepareInBackground();
  return block;
}

PreparedBlock::~PreparedBlock() { ::munmap(mBase, mSize); }

void* PreparedBlock::take(std::size_t bytes, std::size_t align) {
  const std::size_t start = (mUsed + align - 1) & ~(align - 1);
  if (start > mSize || bytes > mSize - start) return nullptr;
  mUsed = start + bytes;
  return mBase + start;
}

void PreparedBlock::prepareInBackground() {
  globalQueue(QueuePriority::Background).async([weak = weak_from_this()] {
    for (;;) {
      // Held only for one piece: a block let go of meanwhile is not kept for the task.
      const auto block = weak.lock();
      if (!block) return;
      const std::size_t from = block->mPrepared.load(std::memory_order_relaxed);
      if (from >= block->mSize) return;
      const std::size_t length = std::min(kPiece, block->mSize - from);
      // A kernel without the call leaves the faults to the thread that fills the block.
      if (::madvise(block->mBase + from, length, MADV_POPULATE_WRITE) != 0) return;
      block->mPrepared.store(from + length, std::memory_order_relaxed);
    }
  });
}

}  // namespace platform
