#pragma once
// The DER encodings of the eight root certificates the SDK pins, in their fixed order,
// compiled in byte for byte from data/pinned-roots (see generate_pinned_roots.cmake).

#include <cstddef>

namespace telemetry::pinned_roots {

struct RootDER {
  const unsigned char* bytes;
  size_t length;
  const char* fileName;
};

inline constexpr size_t kRootCount = 8;
extern const RootDER kRoots[kRootCount];

}  // namespace telemetry::pinned_roots
