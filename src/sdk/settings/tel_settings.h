#pragma once
// The downloaded settings file: a JSON object of sections that kits read as section, then
// key. A missing file, section or key means the kit's own default. The parse is cached until
// a new download clears it; readers on other threads are safe.

#include <nlohmann/json.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace telemetry {

class TELSettings {
 public:
  using Dictionary = std::shared_ptr<const nlohmann::json>;
  // Files nested deeper than this are treated as invalid.
  static constexpr int kMaxNestingDepth = 64;

  explicit TELSettings(std::string settingsPath);

  const std::string& settingsPath() const { return mSettingsPath; }

  // The parsed file, or nothing when there is no file. A file that is not a JSON object, or
  // is nested too deeply, is logged, deleted and read as absent.
  Dictionary settingsDictionary();
  void clearSettingsDictionary();

  // The value under section and key, or nothing.
  std::optional<nlohmann::json> valueForKey(const std::string& section, const std::string& key);

  // The "app" section (nothing when absent, not an object, or null) and its readings.
  std::optional<nlohmann::json> appSettings();
  std::optional<std::string> appStatus();
  bool appNeedsOnboarding();
  bool appUpdateRequired();

 private:
  const std::string mSettingsPath;
  std::mutex mMutex;
  Dictionary mSettingsDictionary;
};

}  // namespace telemetry
