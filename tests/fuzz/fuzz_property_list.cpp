// XML property lists: what parses serializes, and the serialized list parses back to the same value.
#include "sdk/core/property_list.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  const auto value = telemetry::plist::parse(xml);
  if (!value) return 0;
  const std::string saved = telemetry::plist::serialize(*value);
  const auto again = telemetry::plist::parse(saved);
  if (!again || *again != *value) {
    std::fprintf(stderr, "round trip broken: the serialized property list reads back %s\n",
                 again ? "differently" : "as nothing");
    std::abort();
  }
  if (telemetry::plist::serialize(*again) != saved) {
    std::fprintf(stderr, "round trip broken: the property list read back serializes differently\n");
    std::abort();
  }
  return 0;
}
