#include "sdk/settings/tel_settings.h"

#include "sdk/core/console.h"
#include "sdk/settings/tel_download_and_save_settings_operation.h"

#include "platform/core/regular_file.h"

#include <cstdio>

namespace telemetry {

TELSettings::TELSettings(std::string settingsPath) : mSettingsPath(std::move(settingsPath)) {}

TELSettings::Dictionary TELSettings::settingsDictionary() {
  std::lock_guard lock(mMutex);
  if (mSettingsDictionary) return mSettingsDictionary;
  std::string text, failure;
  const platform::RegularFileRead read = platform::readRegularFile(
      mSettingsPath, int64_t(TELDownloadAndSaveSettingsOperation::kMaxSettingsBytes), &text, &failure);
  if (read == platform::RegularFileRead::Missing || read == platform::RegularFileRead::Failed) return nullptr;
  // What is not a regular file (a FIFO, a folder), or is larger than a download may be, is not
  // read, and goes as unreadable settings do.
  if (read == platform::RegularFileRead::Read) {
    failure.clear();
    bool tooDeep = false;
    try {
      // Copying or printing a value recurses once per level: deeper nesting than any section
      // needs is refused rather than left to exhaust a reader's stack.
      auto parsed = nlohmann::json::parse(text, [&](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth > kMaxNestingDepth) tooDeep = true;
        return !tooDeep;
      });
      if (tooDeep)
        failure = "the settings are nested too deeply";
      else if (parsed.is_object())
        mSettingsDictionary = std::make_shared<const nlohmann::json>(std::move(parsed));
      else
        failure = "the settings are not a JSON object";
    } catch (const nlohmann::json::exception& e) {
      failure = e.what();
    }
  }
  if (!failure.empty()) {
    consoleLog("[Telemetry] Could not load settings with error: " + failure);
    std::remove(mSettingsPath.c_str());
  }
  return mSettingsDictionary;
}

void TELSettings::clearSettingsDictionary() {
  std::lock_guard lock(mMutex);
  mSettingsDictionary = nullptr;
}

std::optional<nlohmann::json> TELSettings::valueForKey(const std::string& section, const std::string& key) {
  auto dictionary = settingsDictionary();
  if (!dictionary) return std::nullopt;
  auto s = dictionary->find(section);
  if (s == dictionary->end() || !s->is_object()) return std::nullopt;
  auto v = s->find(key);
  if (v == s->end()) return std::nullopt;
  return *v;
}

std::optional<nlohmann::json> TELSettings::appSettings() {
  auto dictionary = settingsDictionary();
  if (!dictionary) return std::nullopt;
  auto app = dictionary->find("app");
  if (app == dictionary->end() || !app->is_object()) return std::nullopt;
  return *app;
}

std::optional<std::string> TELSettings::appStatus() {
  auto app = appSettings();
  if (!app) return std::nullopt;
  auto status = app->find("status");
  if (status == app->end() || !status->is_string()) return std::nullopt;
  return status->get<std::string>();
}

bool TELSettings::appNeedsOnboarding() { return appStatus() == "new"; }

bool TELSettings::appUpdateRequired() {
  auto app = appSettings();
  if (!app) return false;
  auto required = app->find("update_required");
  return required != app->end() && required->is_boolean() && required->get<bool>();
}

}  // namespace telemetry
