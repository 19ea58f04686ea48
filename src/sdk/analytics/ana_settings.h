#pragma once
// A read-only view of the SDK's downloaded settings for the analytics kit, with a default for
// every value. Values are read as the property-list platform would: a number or a numeric
// string both serve, and anything else reads as its neutral value. The settings are
// untrusted input; no reading ever throws.

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace telemetry {

class ANASettings {
 public:
  explicit ANASettings(std::shared_ptr<const nlohmann::json> settingsDictionary = nullptr)
      : mSettingsDictionary(std::move(settingsDictionary)) {}

  // True exactly when settings are present.
  bool valid() const { return mSettingsDictionary != nullptr; }
  const std::shared_ptr<const nlohmann::json>& settingsDictionary() const { return mSettingsDictionary; }

  bool shouldCollectAnalytics() const;
  // The events endpoint: the settings' own, else the built-in endpoint's events path.
  // Nothing when the settings name one that is not an https URL (events are never sent in
  // clear) or when neither names one (events stay on disk).
  std::optional<std::string> analyticsURL() const;
  bool shouldCollectCustomEvents() const;
  bool shouldCollectPredefinedEvents() const;
  int64_t maximumPayloadSize() const;
  int64_t maxPendingSendFiles() const;
  double flushInterval() const;
  int64_t samplingRate() const;
  double defaultUploadTimeout() const;
  double lowPowerUploadTimeout() const;

 private:
  const nlohmann::json* value(const char* section, const char* key) const;
  bool boolValue(const char* section, const char* key, bool fallback) const;
  int64_t integerValue(const char* section, const char* key, int64_t fallback) const;
  double doubleValue(const char* section, const char* key, double fallback) const;

  std::shared_ptr<const nlohmann::json> mSettingsDictionary;
};

// The integer reading of a value: numbers truncated toward zero and clamped to 64 bits,
// booleans as 0 or 1, strings by their leading decimal digits after blanks and a sign
// (clamped); 0 for anything else.
int64_t integerValueOf(const nlohmann::json& value);

// The value under section → key of a settings dictionary, or null when the dictionary,
// the section (an object) or a non-null value is missing.
const nlohmann::json* nestedSettingsValue(const nlohmann::json* dictionary, const char* section, const char* key);
// The floating-point reading: numbers as they are, booleans as 0 or 1, strings by their
// leading decimal number; 0 for anything else and for text naming no finite number.
double doubleValueOf(const nlohmann::json& value);

}  // namespace telemetry
