#pragma once
// Bounded, alignment-safe reads of the integers inside executable images.

#include <cstdint>
#include <cstring>

namespace telemetry::binary {

// True when [offset, offset + length) lies inside [0, size), without overflow.
inline bool within(uint64_t size, uint64_t offset, uint64_t length) {
  return offset <= size && length <= size - offset;
}

template <typename T>
inline T load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline uint32_t load32(const uint8_t* p) { return load<uint32_t>(p); }
inline uint64_t load64(const uint8_t* p) { return load<uint64_t>(p); }

inline uint32_t loadBigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }
inline void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace telemetry::binary
