#include "crash/crk_settings.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "platform/core/regular_file.h"
#include "platform/core/text_table.h"
#include "sdk/analytics/ana_settings.h"
#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/settings/tel_endpoints.h"
#include "sdk/startup/telemetry.h"

namespace telemetry {

CRKSettings::CRKSettings(Dictionary dictionary) : mSettingsDictionary(std::move(dictionary)) {}

std::shared_ptr<CRKSettings> CRKSettings::current() {
  return std::make_shared<CRKSettings>(Telemetry::sharedSDK().settings());
}

const nlohmann::json* CRKSettings::value(const char* section, const char* key) const {
  return nestedSettingsValue(mSettingsDictionary.get(), section, key);
}

bool CRKSettings::boolValue(const char* section, const char* key, bool fallback) const {
  const nlohmann::json* v = value(section, key);
  return v ? boolValueOf(*v) : fallback;
}

uint32_t CRKSettings::unsignedValue(const char* section, const char* key, uint32_t fallback) const {
  const nlohmann::json* v = value(section, key);
  // Like unsignedIntValue: the integer reading, cut to 32 bits.
  return v ? static_cast<uint32_t>(integerValueOf(*v)) : fallback;
}

bool CRKSettings::crashReportingEnabled() const { return boolValue("features", "collect_reports", true); }
bool CRKSettings::errorReportingEnabled() const { return boolValue("features", "collect_logged_exceptions", true); }
bool CRKSettings::customExceptionsEnabled() const { return errorReportingEnabled(); }
bool CRKSettings::userPromptEnabled() const { return boolValue("features", "prompt_enabled", false); }
uint32_t CRKSettings::logBufferSize() const { return unsignedValue("session", "log_buffer_size", 65536); }
uint32_t CRKSettings::errorLogBufferSize() const { return logBufferSize(); }
uint32_t CRKSettings::maxCustomExceptions() const {
  return unsignedValue("session", "max_custom_exception_events", 16);
}
uint32_t CRKSettings::maxCustomKeys() const { return unsignedValue("session", "max_custom_key_value_pairs", 16); }

nlohmann::json CRKSettings::betaSuspendDuration() const {
  const nlohmann::json* v = value("beta", "update_suspend_duration");
  return v && v->is_number() ? *v : nlohmann::json(3600);
}

std::string CRKSettings::promptValueForSettingsKey(const std::string& key, const std::string& localizedKey,
                                                   const std::string& defaultValue) const {
  std::string fallback = defaultValue;
  if (const nlohmann::json* v = value("prompt", key.c_str()); v && v->is_string()) fallback = v->get<std::string>();
  const auto strings = localizedStrings();
  auto found = strings.find(localizedKey);
  return found != strings.end() ? found->second : fallback;
}

std::string CRKSettings::interactivePromptTitle() const {
  return promptValueForSettingsKey("title", "CrashKitCrashSubmissionPromptTitle", "Send Crash Report?");
}
std::string CRKSettings::interactivePromptMessage() const {
  return promptValueForSettingsKey(
      "message", "CrashKitCrashSubmissionPromptMessage",
      "Looks like we crashed! Please help us fix the problem by sending a crash report.");
}
std::string CRKSettings::interactivePromptCancelTitle() const {
  return promptValueForSettingsKey("cancel_button_title", "CrashKitCrashSubmissionCancelTitle", "Don't Send");
}
std::string CRKSettings::interactivePromptSendTitle() const {
  return promptValueForSettingsKey("send_button_title", "CrashKitCrashSubmissionSendTitle", "Send");
}
std::string CRKSettings::interactivePromptAlwaysSendTitle() const {
  return promptValueForSettingsKey("always_send_button_title", "CrashKitCrashSubmissionAlwaysSendTitle",
                                   "Always Send");
}

nlohmann::json CRKSettings::configuration() {
  nlohmann::json c = MainBundle::shared().objectForInfoDictionaryKey("CrashKit");
  return c.is_object() ? c : nlohmann::json::object();
}

nlohmann::json CRKSettings::defaultConfiguration() {
  nlohmann::json defaults = {{"PackageReports", true}, {"SubmitReports", true}, {"UrgentReports", true}};
  if (const std::optional<std::string> endpoint = TELEndpoints::builtInEndpoint()) {
    defaults["ReportsEndpoint"] = *endpoint;
    defaults["BetaEndpoint"] = *endpoint;
  }
  return defaults;
}

nlohmann::json CRKSettings::valueForConfigurationKey(const std::string& key) const {
  const std::string variable = "CrashKit" + key;
  if (const char* env = std::getenv(variable.c_str())) {
    consoleLog(strformat("[CrashKit:Crash] override: '%s' => '%s'", key.c_str(), env));
    return env;
  }
  const nlohmann::json c = configuration();
  if (auto it = c.find(key); it != c.end() && !it->is_null()) return *it;
  const nlohmann::json d = defaultConfiguration();
  auto it = d.find(key);
  return it != d.end() ? *it : nlohmann::json();
}

std::string CRKSettings::reportsEndpoint() const {
  nlohmann::json v = valueForConfigurationKey("ReportsEndpoint");
  return v.is_string() ? v.get<std::string>() : std::string();
}
std::string CRKSettings::betaEndpoint() const {
  nlohmann::json v = valueForConfigurationKey("BetaEndpoint");
  return v.is_string() ? v.get<std::string>() : std::string();
}
bool CRKSettings::shouldPackageReports() const { return boolValueOf(valueForConfigurationKey("PackageReports")); }
bool CRKSettings::shouldSubmitReports() const { return boolValueOf(valueForConfigurationKey("SubmitReports")); }
bool CRKSettings::canProcessUrgentReports() const { return boolValueOf(valueForConfigurationKey("UrgentReports")); }

std::map<std::string, std::string> CRKSettings::parseStringTable(const std::string& text) {
  std::map<std::string, std::string> table;
  for (auto& entry : platform::texttable::parse(text)) table[entry.key] = std::move(entry.text);
  return table;
}

std::map<std::string, std::string> CRKSettings::localizedStrings() {
  const auto info = MainBundle::shared().infoPath();
  if (!info) return {};
  const std::filesystem::path path = std::filesystem::path(*info).parent_path() / "CrashKit.txt";
  const auto bytes = fileio::readFile(path.string(), size_t(platform::kMaxInstalledFileBytes));
  if (!bytes) return {};
  return parseStringTable(std::string(bytes->begin(), bytes->end()));
}

}  // namespace telemetry
