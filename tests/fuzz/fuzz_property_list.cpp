// XML property lists: what parses serializes, and the serialized list parses back to the same value.
#include "sdk/core/property_list.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// Equal values, where a NaN equals a NaN: "nan" is a real a list may hold.
bool same(const nlohmann::json& a, const nlohmann::json& b) {
  if (a.is_number_float() && b.is_number_float() && std::isnan(a.get<double>()))
    return std::isnan(b.get<double>());
  if (a.type() != b.type() || a.size() != b.size()) return false;
  if (a.is_object()) {
    for (auto it = a.begin(); it != a.end(); ++it)
      if (!b.contains(it.key()) || !same(it.value(), b[it.key()])) return false;
    return true;
  }
  if (a.is_array()) {
    for (size_t i = 0; i < a.size(); ++i)
      if (!same(a[i], b[i])) return false;
    return true;
  }
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  const auto value = telemetry::plist::parse(xml);
  if (!value) return 0;
  const std::string saved = telemetry::plist::serialize(*value);
  std::string error;
  const auto again = telemetry::plist::parse(saved, &error);
  if (!again || !same(*again, *value)) {
    std::fprintf(stderr, "round trip broken: the serialized property list reads back %s\n",
                 again ? "differently" : ("as nothing: " + error).c_str());
    std::abort();
  }
  if (telemetry::plist::serialize(*again) != saved) {
    std::fprintf(stderr, "round trip broken: the property list read back serializes differently\n");
    std::abort();
  }
  return 0;
}
