#pragma once
// Text as the analytics service counts it: in UTF-16 code units. Strings reach the SDK as
// UTF-8 of unknown quality, so every helper reads ill-formed bytes as U+FFFD (one per
// maximal ill-formed subsequence, as Python's "replace" decoder does).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace telemetry::anatext {

// The next code point at `pos` and the bytes it takes; U+FFFD for ill-formed bytes.
struct CodePoint {
  char32_t value;
  size_t length;
};
CodePoint decodeAt(std::string_view s, size_t pos);

// The text with every ill-formed sequence replaced by U+FFFD.
std::string validUTF8(std::string_view s);
bool isValidUTF8(std::string_view s);

// Code units of the text's UTF-16 form (two for a code point above U+FFFF).
size_t utf16Length(std::string_view s);

// Calls `unit` with each UTF-16 code unit, first to last.
template <class F>
void forEachUTF16Unit(std::string_view s, F&& unit) {
  for (size_t pos = 0; pos < s.size();) {
    CodePoint cp = decodeAt(s, pos);
    pos += cp.length;
    if (cp.value > 0xFFFF) {
      char32_t v = cp.value - 0x10000;
      unit(static_cast<uint16_t>(0xD800 + (v >> 10)));
      unit(static_cast<uint16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      unit(static_cast<uint16_t>(cp.value));
    }
  }
}

// The longest valid prefix of at most `maxUnits` UTF-16 units that ends between code points,
// so a surrogate pair is never split.
std::string truncatedToUTF16Units(std::string_view s, size_t maxUnits);

}  // namespace telemetry::anatext
