#include "sdk/startup/tel_configuration.h"

#include "sdk/core/console.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/startup/tel_exception.h"

namespace telemetry {

namespace {
constexpr const char* kConfigurationKey = "Telemetry";
}  // namespace

nlohmann::json TELConfiguration::validTelemetryConfigFromInfoPlist(const std::optional<nlohmann::json>& infoPlist) {
  if (!infoPlist || !infoPlist->is_object())
    throw TELException(strformat("[%s] Cannot find Info.plist.", kHostKitClassName));
  auto config = infoPlist->find(kConfigurationKey);
  if (config == infoPlist->end() || !config->is_object())
    throw TELException(strformat("[%s] Value of Info.plist key \"%s\" must be a NSDictionary.", kHostKitClassName,
                                 kConfigurationKey));
  auto kits = config->find("Kits");
  if (kits == config->end() || !kits->is_array())
    consoleLog(strformat("[Telemetry] [%s] Value of Info.plist[%s][%s] should be a NSArray.", kHostKitClassName,
                         kHostKitClassName, "Kits"));
  auto key = config->find("APIKey");
  if (key == config->end() || !key->is_string())
    throw TELException(strformat("[%s] Value of Info.plist[%s][%s] must contain your %s API Key.", kHostKitClassName,
                                 kHostKitClassName, "APIKey", kHostKitClassName));
  return *config;
}

std::optional<nlohmann::json> TELConfiguration::configurationDictionaryForKitClass(const nlohmann::json& telemetryConfig,
                                                                                  const std::string& className) {
  auto kits = telemetryConfig.find("Kits");
  if (kits == telemetryConfig.end() || !kits->is_array()) return std::nullopt;
  for (const auto& entry : *kits) {
    if (!entry.is_object()) continue;
    auto name = entry.find("KitName");
    if (name == entry.end() || !name->is_string() || name->get<std::string>() != className) continue;
    auto info = entry.find("KitInfo");
    if (info == entry.end() || !info->is_object()) return nlohmann::json::object();
    return *info;
  }
  return std::nullopt;
}

}  // namespace telemetry
