#pragma once
// Small text helpers of the SDK.

#include <string>

namespace telemetry::strings {

// Without leading and trailing blanks (space, tab, carriage return, line feed).
inline std::string trim(const std::string& s) {
  const char* blanks = " \t\r\n";
  size_t a = s.find_first_not_of(blanks);
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(blanks);
  return s.substr(a, b - a + 1);
}

// Appends one code point (at most U+10FFFF) in UTF-8.
inline void appendUTF8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace telemetry::strings
