#include "sdk/analytics/ana_crash_metadata.h"

#include "sdk/core/file_io.h"
#include "sdk/core/json_text.h"

namespace telemetry {

std::optional<nlohmann::ordered_json> ANACrashMetadata::readSerializedDictionaryFromURL(const std::string& path) {
  if (fileio::kindOf(path) != fileio::FileKind::Regular) return std::nullopt;  // no links, no pipes
  auto bytes = fileio::readFile(path, kMaximumFileSize);
  if (!bytes) return std::nullopt;
  return dictionaryFromData(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

std::optional<nlohmann::ordered_json> ANACrashMetadata::dictionaryFromData(std::string_view bytes) {
  auto parsed = parseJSON<nlohmann::ordered_json>(bytes);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  return parsed;
}

bool ANACrashMetadata::writeSerializedDictionary(const nlohmann::ordered_json& dictionary, const std::string& path) {
  if (!dictionary.is_object()) return false;
  std::string text = jsonText(dictionary);
  return fileio::writeFileAtomically(path, text.data(), text.size());
}

}  // namespace telemetry
