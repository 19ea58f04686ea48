#include "crash/crk_allocator.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "crash/crk_log.h"

namespace telemetry {

namespace {

bool protectPage(void* page, size_t pageSize) { return mprotect(page, pageSize, PROT_NONE) == 0; }

void* allocateIn(std::atomic<uintptr_t>& cursor, uintptr_t start, size_t regionSize, size_t size) {
  uintptr_t current = cursor.load(std::memory_order_acquire);
  for (;;) {
    if (current < start || size > regionSize - (current - start)) return nullptr;
    if (cursor.compare_exchange_weak(current, current + size, std::memory_order_acq_rel)) {
      return reinterpret_cast<void*>(current);
    }
  }
}

}  // namespace

size_t CRKAllocatorPageSize() {
  const long page = sysconf(_SC_PAGESIZE);
  if (page <= 0) {
    CRKLogWarn("sysconf failed while trying to get the page size\n");
    return 4096;
  }
  return static_cast<size_t>(page);
}

size_t CRKAllocatorRegionSize(size_t requested, size_t pageSize) {
  if (requested == 0) return 0;
  return (requested / pageSize + 1) * pageSize;
}

CRKAllocator* CRKAllocatorCreate(size_t writableSize, size_t readOnlySize) {
  const size_t page = CRKAllocatorPageSize();
  const size_t writable = CRKAllocatorRegionSize(writableSize, page);
  const size_t readOnly = CRKAllocatorRegionSize(readOnlySize + sizeof(CRKAllocator), page);
  const size_t total = writable + readOnly + 3 * page;
  auto* base = static_cast<uint8_t*>(mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (base == MAP_FAILED) {
    CRKLogError("Mapping failed %s\n", strerror(errno));
    return nullptr;
  }
  uint8_t* writableStart = base + page;
  uint8_t* middleGuard = writableStart + writable;
  uint8_t* readOnlyStart = middleGuard + page;
  uint8_t* lastGuard = readOnlyStart + readOnly;
  if (!protectPage(base, page)) {
    CRKLogError("First guard protection failed %s\n", strerror(errno));
    munmap(base, total);
    return nullptr;
  }
  if (!protectPage(middleGuard, page)) {
    CRKLogError("Middle guard protection failed %s\n", strerror(errno));
    munmap(base, total);
    return nullptr;
  }
  if (!protectPage(lastGuard, page)) {
    CRKLogError("Last guard protection failed %s\n", strerror(errno));
    munmap(base, total);
    return nullptr;
  }
  auto* allocator = new (readOnlyStart) CRKAllocator;
  allocator->base = base;
  allocator->totalSize = total;
  allocator->writableSize = writable;
  allocator->writableStart = reinterpret_cast<uintptr_t>(writableStart);
  allocator->writableCursor.store(allocator->writableStart);
  allocator->readOnlySize = readOnly;
  allocator->readOnlyStart = reinterpret_cast<uintptr_t>(readOnlyStart);
  allocator->readOnlyCursor.store(allocator->readOnlyStart + sizeof(CRKAllocator));
  CRKLogInfo("Mapping: %p %p %p, total: %zu K\n", base, writableStart, readOnlyStart);
  CRKLogDebug("Allocator successfully created %p", allocator);
  return allocator;
}

void* CRKAllocatorSafeAllocate(CRKAllocator* allocator, size_t size, int type) {
  if (type != kCRKReadOnly && type != kCRKWritable) return nullptr;
  if (!allocator) {
    CRKLogWarn("Allocator invalid, falling back to malloc\n");
    return std::malloc(size);
  }
  if (allocator->isProtected.load()) {
    CRKLogWarn("Allocator already protected, falling back to malloc\n");
    return std::malloc(size);
  }
  void* p = type == kCRKWritable
                ? allocateIn(allocator->writableCursor, allocator->writableStart, allocator->writableSize, size)
                : allocateIn(allocator->readOnlyCursor, allocator->readOnlyStart, allocator->readOnlySize, size);
  if (!p) {
    CRKLogWarn("Unable to allocate sufficient memory, falling back to malloc\n");
    return std::malloc(size);
  }
  return p;
}

void CRKAllocatorFree(CRKAllocator* allocator, void* pointer) {
  if (!allocator) std::free(pointer);
}

bool CRKAllocatorProtect(CRKAllocator* allocator) {
  if (!allocator) {
    CRKLogError("Invalid allocator");
    return false;
  }
  if (allocator->isProtected.load()) {
    CRKLogWarn("Write protection already enabled");
    return true;
  }
  allocator->isProtected.store(true);
  return mprotect(reinterpret_cast<void*>(allocator->readOnlyStart), allocator->readOnlySize, PROT_READ) == 0;
}

bool CRKAllocatorUnprotect(CRKAllocator* allocator) {
  if (!allocator) return false;
  if (mprotect(allocator->base, allocator->totalSize, PROT_READ | PROT_WRITE) != 0) return false;
  allocator->isProtected.store(false);
  return true;
}

}  // namespace telemetry
