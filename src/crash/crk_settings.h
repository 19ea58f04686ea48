#pragma once
// The crash kit's read-only view of the downloaded settings (features, record sizes,
// prompt texts) and of its configuration (endpoints and pipeline switches), each value
// computed on every call. A missing dictionary, key or a value of the wrong kind never
// throws: missing values give the defaults, wrong kinds read as the platform reads them.
//
// Configuration values: the environment variable "CrashKit<key>" first, then the main
// bundle's "CrashKit" dictionary, then the defaults. Prompt texts may be overridden per
// application in "CrashKit.txt" ("key = text" lines) beside the property list.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace telemetry {

class CRKSettings {
 public:
  using Dictionary = std::shared_ptr<const nlohmann::json>;
  explicit CRKSettings(Dictionary dictionary);
  // Over the SDK's current downloaded settings.
  static std::shared_ptr<CRKSettings> current();

  const Dictionary& settingsDictionary() const { return mSettingsDictionary; }

  bool crashReportingEnabled() const;
  bool errorReportingEnabled() const;
  bool customExceptionsEnabled() const;
  bool userPromptEnabled() const;
  uint32_t logBufferSize() const;
  uint32_t errorLogBufferSize() const;
  uint32_t maxCustomExceptions() const;
  uint32_t maxCustomKeys() const;
  nlohmann::json betaSuspendDuration() const;

  std::string interactivePromptTitle() const;
  std::string interactivePromptMessage() const;
  std::string interactivePromptCancelTitle() const;
  std::string interactivePromptSendTitle() const;
  std::string interactivePromptAlwaysSendTitle() const;

  std::string reportsEndpoint() const;
  std::string betaEndpoint() const;
  bool shouldPackageReports() const;
  bool shouldSubmitReports() const;
  bool canProcessUrgentReports() const;

  static nlohmann::json configuration();
  static nlohmann::json defaultConfiguration();
  nlohmann::json valueForConfigurationKey(const std::string& key) const;
  std::string promptValueForSettingsKey(const std::string& key, const std::string& localizedKey,
                                        const std::string& defaultValue) const;

  // The "CrashKit" string table of the application ("key = text" lines); empty when none.
  static std::map<std::string, std::string> localizedStrings();
  static std::map<std::string, std::string> parseStringTable(const std::string& text);

 private:
  const nlohmann::json* value(const char* section, const char* key) const;
  bool boolValue(const char* section, const char* key, bool fallback) const;
  uint32_t unsignedValue(const char* section, const char* key, uint32_t fallback) const;

  Dictionary mSettingsDictionary;
};

}  // namespace telemetry
