#pragma once
// The guarded mapping the crash context lives in. Layout, in address order: guard page,
// writable region, guard page, read-only region, guard page. The allocator's own header
// is the first allocation of the read-only region. Once protected, the read-only region
// cannot be written by a stray store of the crashing program; the guard pages stop runs
// off either end.
//
// Allocation is a bump of a region's cursor by exactly the requested size
// (compare-and-swap, so concurrent callers never overlap); a region's memory is never
// returned. When there is no allocator, it is protected or the region is exhausted, the
// request is served from the heap (logged).

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace telemetry {

enum CRKAllocationType : int { kCRKReadOnly = 0, kCRKWritable = 1 };

struct alignas(64) CRKAllocator {
  void* base = nullptr;
  size_t totalSize = 0;
  std::atomic<bool> isProtected{false};
  size_t writableSize = 0;
  uintptr_t writableStart = 0;
  std::atomic<uintptr_t> writableCursor{0};
  size_t readOnlySize = 0;
  uintptr_t readOnlyStart = 0;
  std::atomic<uintptr_t> readOnlyCursor{0};
};
static_assert(sizeof(CRKAllocator) % 64 == 0);

// The system's page size (4096 when the query fails, logged).
size_t CRKAllocatorPageSize();
// The bytes a region of `requested` bytes occupies: the next whole page above it.
size_t CRKAllocatorRegionSize(size_t requested, size_t pageSize);

CRKAllocator* CRKAllocatorCreate(size_t writableSize, size_t readOnlySize);
void* CRKAllocatorSafeAllocate(CRKAllocator* allocator, size_t size, int type);
void CRKAllocatorFree(CRKAllocator* allocator, void* pointer);
bool CRKAllocatorProtect(CRKAllocator* allocator);
bool CRKAllocatorUnprotect(CRKAllocator* allocator);

}  // namespace telemetry
