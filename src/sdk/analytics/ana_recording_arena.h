#pragma once
// Memory for what a recording thread hands to the event queue. An event recorded while the
// queue is behind (writing, compressing, packaging) waits in memory; from the heap, a backlog
// that grows keeps handing the recorder fresh pages whose first touch is a page fault, the
// bulk of a recorder's slow calls. Here each recording thread carves its allocations from its
// own slab; a slab goes back to a small pool of spares once everything in it was freed (on
// any thread), and new slabs are touched in advance on a global queue, so a recorder rarely
// touches a page for the first time. Slabs are never given to other owners while in use.

#include <cstddef>
#include <new>

namespace telemetry {

class ANARecordingArena {
 public:
  static constexpr std::size_t kSlabBytes = 1 << 20;
  // Larger requests come from the heap, as a slab would hold too few of them.
  static constexpr std::size_t kLargestSlabAllocation = 4096;

  // Any thread; aligned for any fundamental type.
  static void* allocate(std::size_t bytes);
  // Any thread, for memory from allocate.
  static void deallocate(void* memory) noexcept;

  // Has spares made ready in the background (the engine asks at its start, so even its first
  // recorders find one).
  static void prepareSpares();
  // Spares ready for recorders (tests).
  static std::size_t spareSlabCount();
  // Blocks until the spares asked for so far are ready (tests).
  static void waitForSpares();

  // For std::allocate_shared.
  template <class T>
  struct Allocator {
    using value_type = T;
    Allocator() = default;
    template <class U>
    Allocator(const Allocator<U>&) {}  // NOLINT: converting, as allocators must
    T* allocate(std::size_t n) { return static_cast<T*>(ANARecordingArena::allocate(n * sizeof(T))); }
    void deallocate(T* p, std::size_t) noexcept { ANARecordingArena::deallocate(p); }
    template <class U>
    bool operator==(const Allocator<U>&) const { return true; }
  };
};

}  // namespace telemetry
