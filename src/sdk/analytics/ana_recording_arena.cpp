#include "sdk/analytics/ana_recording_arena.h"

#include <sys/mman.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/core/dispatch.h"

namespace telemetry {

namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t);
// Enough that a recorder finds one ready while the next is being populated on a busy machine.
constexpr std::size_t kWantedSpares = 4;
// More than this stay unused after a burst; they go back to the system.
constexpr std::size_t kKeptSpares = 8;

// Taken when no spare is ready yet: small, so its owner soon moves on to a populated one.
constexpr std::size_t kStopgapSlabBytes = 64 << 10;

struct alignas(std::max_align_t) Slab {
  explicit Slab(std::size_t size) : bytesTotal(size) {}
  // One per live allocation, plus one while a thread carves from it.
  std::atomic<std::int64_t> live{1};
  const std::size_t bytesTotal;
  std::size_t used = 0;  // owner only
  unsigned char* bytes() { return reinterpret_cast<unsigned char*>(this + 1); }
  std::size_t capacity() const { return bytesTotal - sizeof(Slab); }
};

// Populated slabs have every page in place, in one call rather than a fault per page.
Slab* newSlab(bool populate) {
  const std::size_t size = populate ? ANARecordingArena::kSlabBytes : kStopgapSlabBytes;
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0), -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  return new (memory) Slab(size);
}

void freeSlab(Slab* slab) {
  const std::size_t size = slab->bytesTotal;
  slab->~Slab();
  ::munmap(slab, size);
}

// Never destroyed: a thread's slab may be retired while the process exits.
struct Pool {
  std::mutex mutex;
  std::condition_variable prepared;
  std::vector<Slab*> spares;
  bool preparing = false;

  static Pool& shared() {
    static Pool* pool = new Pool;
    return *pool;
  }

  // Caller holds the lock.
  void prepareIfLow() {
    if (preparing || spares.size() >= kWantedSpares) return;
    preparing = true;
    platform::globalQueue(platform::QueuePriority::Background).async([this] {
      for (;;) {
        Slab* slab = newSlab(true);
        std::lock_guard lock(mutex);
        spares.push_back(slab);
        if (spares.size() >= kWantedSpares) {
          preparing = false;
          prepared.notify_all();
          return;
        }
      }
    });
  }

  Slab* take() {
    {
      std::lock_guard lock(mutex);
      Slab* slab = nullptr;
      if (!spares.empty()) {
        slab = spares.back();
        spares.pop_back();
      }
      prepareIfLow();
      if (slab) return slab;
    }
    // None ready: this one's pages are touched as it fills, as the heap's would be.
    return newSlab(false);
  }

  void recycle(Slab* slab) {
    {
      std::lock_guard lock(mutex);
      if (spares.size() < kKeptSpares && slab->bytesTotal == ANARecordingArena::kSlabBytes) {
        slab->used = 0;
        slab->live.store(1, std::memory_order_relaxed);
        spares.push_back(slab);
        return;
      }
    }
    freeSlab(slab);
  }
};

void release(Slab* slab) {
  if (slab->live.fetch_sub(1, std::memory_order_acq_rel) == 1) Pool::shared().recycle(slab);
}

// The slab this thread carves from; given up when full or when the thread ends.
struct Owner {
  Slab* slab = nullptr;
  ~Owner() {
    if (slab) release(slab);
  }
};
thread_local Owner tOwner;

Slab*& headerOf(void* memory) { return *reinterpret_cast<Slab**>(static_cast<unsigned char*>(memory) - kHeader); }

}  // namespace

// Under AddressSanitizer every allocation comes from the heap, so a use after free or past the
// end of an event is still caught: slab memory is never poisoned.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapOnly = true;
#else
constexpr bool kHeapOnly = false;
#endif

void* ANARecordingArena::allocate(std::size_t bytes) {
  const std::size_t size = kHeader + (bytes + kHeader - 1) / kHeader * kHeader;
  if (kHeapOnly || bytes > kLargestSlabAllocation) {
    auto* memory = static_cast<unsigned char*>(std::malloc(size));
    if (!memory) throw std::bad_alloc();
    *reinterpret_cast<Slab**>(memory) = nullptr;
    return memory + kHeader;
  }
  Slab*& slab = tOwner.slab;
  if (!slab || slab->used + size > slab->capacity()) {
    if (slab) release(std::exchange(slab, nullptr));
    slab = Pool::shared().take();
  }
  unsigned char* memory = slab->bytes() + slab->used;
  slab->used += size;
  slab->live.fetch_add(1, std::memory_order_relaxed);
  *reinterpret_cast<Slab**>(memory) = slab;
  return memory + kHeader;
}

void ANARecordingArena::deallocate(void* memory) noexcept {
  if (!memory) return;
  Slab* slab = headerOf(memory);
  if (!slab) {
    std::free(static_cast<unsigned char*>(memory) - kHeader);
    return;
  }
  release(slab);
}

void ANARecordingArena::prepareSpares() {
  auto& pool = Pool::shared();
  std::lock_guard lock(pool.mutex);
  pool.prepareIfLow();
}

std::size_t ANARecordingArena::spareSlabCount() {
  auto& pool = Pool::shared();
  std::lock_guard lock(pool.mutex);
  return pool.spares.size();
}

void ANARecordingArena::waitForSpares() {
  auto& pool = Pool::shared();
  std::unique_lock lock(pool.mutex);
  pool.prepared.wait(lock, [&] { return !pool.preparing; });
}

}  // namespace telemetry
