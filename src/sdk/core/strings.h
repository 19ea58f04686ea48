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

}  // namespace telemetry::strings
