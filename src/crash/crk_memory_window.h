#pragma once
// A window of stack memory read with one checked read, from which later reads inside it are
// served: an unwind reads a few words a frame, mostly just above the last, and each checked
// read is a system call. Reads answer exactly as CRKReadMemory would: a range that is not
// wholly readable fails. Async-signal-safe, no allocation; lives on the caller's stack.

#include <cstddef>
#include <cstdint>

namespace telemetry {

inline constexpr size_t kCRKMemoryWindowSize = 2048;

struct CRKMemoryWindow {
  uintptr_t start = 0;
  size_t length = 0;  // bytes of `bytes` read from `start`
  uint8_t bytes[kCRKMemoryWindowSize];
};

// Forgets what the window holds.
void CRKMemoryWindowReset(CRKMemoryWindow* window);
// A null window reads straight through CRKReadMemory.
bool CRKMemoryWindowRead(CRKMemoryWindow* window, const void* address, void* destination, size_t length);

}  // namespace telemetry
