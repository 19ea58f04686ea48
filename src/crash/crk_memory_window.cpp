#include "crash/crk_memory_window.h"

#include <cstring>

#include "crash/crk_memory.h"

namespace telemetry {

void CRKMemoryWindowReset(CRKMemoryWindow* window) {
  if (!window) return;
  window->start = 0;
  window->length = 0;
}

bool CRKMemoryWindowRead(CRKMemoryWindow* window, const void* address, void* destination, size_t length) {
  if (!window || length > kCRKMemoryWindowSize) return CRKReadMemory(address, destination, length);
  const auto at = reinterpret_cast<uintptr_t>(address);
  if (at < kCRKMinimumValidAddress || !destination) return false;
  if (length == 0) return true;
  if (length > UINTPTR_MAX - at) return false;  // the range would wrap
  const bool inside = window->length > 0 && at >= window->start && at - window->start <= window->length &&
                      length <= window->length - (at - window->start);
  if (!inside) {
    // Refill from the address up: an unwind climbs the stack towards higher addresses.
    window->start = at;
    window->length = CRKReadMemoryPrefix(address, window->bytes, kCRKMemoryWindowSize);
    if (window->length < length) return false;
  }
  std::memcpy(destination, window->bytes + (at - window->start), length);
  return true;
}

}  // namespace telemetry
