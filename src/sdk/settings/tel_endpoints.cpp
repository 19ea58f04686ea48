#include "sdk/settings/tel_endpoints.h"

#include "sdk/identity/main_bundle.h"

#include <cstdlib>

namespace telemetry {

std::optional<std::string> TELEndpoints::valueForConfigurationKey(const std::string& key) {
  if (const char* fromEnvironment = std::getenv(key.c_str()); fromEnvironment && *fromEnvironment)
    return std::string(fromEnvironment);
  nlohmann::json crashKit = MainBundle::shared().objectForInfoDictionaryKey("CrashKit");
  if (crashKit.is_object()) {
    auto value = crashKit.find(key);
    if (value != crashKit.end() && value->is_string() && !value->get<std::string>().empty())
      return value->get<std::string>();
  }
  if (key == kSettingsEndpointKey) return std::string(kDefaultSettingsEndpoint);
  if (key == kConfigureEndpointKey) return std::string(kDefaultConfigureEndpoint);
  return std::nullopt;
}

std::string TELEndpoints::settingsEndpoint() { return *valueForConfigurationKey(kSettingsEndpointKey); }

std::string TELEndpoints::configureEndpoint() { return *valueForConfigurationKey(kConfigureEndpointKey); }

}  // namespace telemetry
