#pragma once
// The metadata dictionary of the previous run, kept in the file "crash_metadata" so that a
// crash reported at the next launch travels with the metadata of the run that crashed. The
// file is untrusted input: anything that is not a JSON object within the bounds reads as
// no dictionary.

#include <optional>
#include <string>
#include <string_view>

#include "sdk/analytics/ana_metadata_serializable.h"

namespace telemetry {

class ANACrashMetadata final : public ANAMetadataSerializable {
 public:
  static constexpr size_t kMaximumFileSize = 1u << 20;

  explicit ANACrashMetadata(std::optional<nlohmann::ordered_json> dictionary)
      : mRawMetadataDictionary(std::move(dictionary)) {}

  // Nothing for a missing or unreadable file, for text that is not JSON and for JSON
  // that is not an object.
  static std::optional<nlohmann::ordered_json> readSerializedDictionaryFromURL(const std::string& path);
  static std::optional<nlohmann::ordered_json> dictionaryFromData(std::string_view bytes);
  // Compact JSON, replacing the file atomically; false when nothing was written.
  static bool writeSerializedDictionary(const nlohmann::ordered_json& dictionary, const std::string& path);

  std::string eventName() const override { return "metadata"; }
  std::optional<nlohmann::ordered_json> dictionaryRepresentationWithStartTime(uint64_t /*startTime*/) const override {
    return mRawMetadataDictionary;
  }
  const std::optional<nlohmann::ordered_json>& rawMetadataDictionary() const { return mRawMetadataDictionary; }

 private:
  const std::optional<nlohmann::ordered_json> mRawMetadataDictionary;
};

}  // namespace telemetry
