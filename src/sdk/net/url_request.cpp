#include "sdk/net/url_request.h"

#include <algorithm>

namespace telemetry {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

void URLRequest::setValue(const std::string& value, const std::string& field) {
  for (auto& [name, v] : mHeaders)
    if (equalsIgnoringCase(name, field)) {
      v = value;
      return;
    }
  mHeaders.emplace_back(field, value);
}

void URLRequest::addValue(const std::string& value, const std::string& field) {
  for (auto& [name, v] : mHeaders)
    if (equalsIgnoringCase(name, field)) {
      v += "," + value;
      return;
    }
  mHeaders.emplace_back(field, value);
}

void URLRequest::removeValueForHTTPHeaderField(const std::string& field) {
  std::erase_if(mHeaders, [&](const auto& h) { return equalsIgnoringCase(h.first, field); });
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(const std::string& field) const {
  for (const auto& [name, v] : mHeaders)
    if (equalsIgnoringCase(name, field)) return v;
  return std::nullopt;
}

}  // namespace telemetry
