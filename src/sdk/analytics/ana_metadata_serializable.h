#pragma once
// What a log's first line needs of its metadata: a name and a dictionary for a start time.

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace telemetry {

class ANAMetadataSerializable {
 public:
  virtual ~ANAMetadataSerializable() = default;
  virtual std::string eventName() const = 0;
  // Nothing when there is no dictionary to write; the log line then cannot be made.
  virtual std::optional<nlohmann::ordered_json> dictionaryRepresentationWithStartTime(uint64_t startTime) const = 0;
};

}  // namespace telemetry
