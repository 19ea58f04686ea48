#pragma once
// Memory for many objects made in one go on one thread (a crowded orbit's planets). A fresh
// page costs the thread that first touches it a fault, and under a hypervisor that fault is
// most of the cost of making a small object. A block takes its memory from the system at
// once and has a background task fault its pages in, ahead of the thread that fills it.
// Objects are placed in order and given back only as a whole: the memory returns to the
// system once the block and everything made in it are gone.

#include <atomic>
#include <cstddef>
#include <memory>

namespace platform {

class PreparedBlock : public std::enable_shared_from_this<PreparedBlock> {
 public:
  // Null when the system refuses the memory (the caller then allocates as usual).
  static std::shared_ptr<PreparedBlock> create(std::size_t bytes);
  ~PreparedBlock();
  PreparedBlock(const PreparedBlock&) = delete;
  PreparedBlock& operator=(const PreparedBlock&) = delete;

  // Room for `bytes` at `align` (a power of two), or null when the block is full. One thread.
  void* take(std::size_t bytes, std::size_t align);
  bool holds(const void* p) const { return p >= mBase && p < mBase + mSize; }
  std::size_t size() const { return mSize; }
  std::size_t used() const { return mUsed; }
  // How much of the block the background task has made ready so far.
  std::size_t prepared() const { return mPrepared.load(std::memory_order_relaxed); }

 private:
  PreparedBlock(char* base, std::size_t size) : mBase(base), mSize(size) {}
  void prepareInBackground();

  char* const mBase;
  const std::size_t mSize;
  std::size_t mUsed = 0;
  std::atomic<std::size_t> mPrepared{0};
};

// An allocator that places in a block while it has room and falls back to the heap.
template <typename T>
struct BlockAllocator {
  using value_type = T;

  explicit BlockAllocator(std::shared_ptr<PreparedBlock> b) : block(std::move(b)) {}
  template <typename U>
  BlockAllocator(const BlockAllocator<U>& other) : block(other.block) {}

  T* allocate(std::size_t n) {
    if (block)
      if (void* p = block->take(n * sizeof(T), alignof(T))) return static_cast<T*>(p);
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) {
    if (block && block->holds(p)) return;
    std::allocator<T>().deallocate(p, n);
  }
  template <typename U>
  bool operator==(const BlockAllocator<U>& other) const {
    return block == other.block;
  }

  std::shared_ptr<PreparedBlock> block;
};

}  // namespace platform
