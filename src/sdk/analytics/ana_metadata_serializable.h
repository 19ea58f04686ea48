#pragma once
// What a log's first line needs of its metadata: a name and a dictionary for a start time.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "sdk/core/json_text.h"

namespace telemetry {

class ANAMetadataSerializable {
 public:
  virtual ~ANAMetadataSerializable() = default;
  virtual std::string eventName() const = 0;
  // Nothing when there is no dictionary to write; the log line then cannot be made.
  virtual std::optional<nlohmann::ordered_json> dictionaryRepresentationWithStartTime(uint64_t startTime) const = 0;
  // That dictionary as compact JSON text. Every event of a run writes through the same
  // metadata, so an implementation may keep the text it made last.
  virtual std::optional<std::string> serializedDictionaryWithStartTime(uint64_t startTime) const {
    auto dictionary = dictionaryRepresentationWithStartTime(startTime);
    if (!dictionary) return std::nullopt;
    return jsonText(*dictionary);
  }
};

}  // namespace telemetry
