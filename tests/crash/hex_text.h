#pragma once
// Lower-case hexadecimal text of bytes and back, as the reporter writes user values and reports.

#include <string>

namespace testsupport {

inline std::string hex(const std::string& text) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

inline std::string unhex(const std::string& hex) {
  std::string text;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return text;
}

}  // namespace testsupport
