#include "sdk/settings/tel_endpoints.h"

#include "sdk/identity/main_bundle.h"

#include <cstdlib>

#ifndef ORRERY_TELEMETRY_ENDPOINT
#define ORRERY_TELEMETRY_ENDPOINT ""
#endif

namespace telemetry {

std::optional<std::string> TELEndpoints::builtInEndpoint() {
  static constexpr const char* kEndpoint = ORRERY_TELEMETRY_ENDPOINT;
  if (*kEndpoint == '\0') return std::nullopt;
  return std::string(kEndpoint);
}

std::optional<std::string> TELEndpoints::valueForConfigurationKey(const std::string& key) {
  if (const char* fromEnvironment = std::getenv(key.c_str()); fromEnvironment && *fromEnvironment)
    return std::string(fromEnvironment);
  nlohmann::json crashKit = MainBundle::shared().objectForInfoDictionaryKey("CrashKit");
  if (crashKit.is_object()) {
    auto value = crashKit.find(key);
    if (value != crashKit.end() && value->is_string() && !value->get<std::string>().empty())
      return value->get<std::string>();
  }
  if (key == kSettingsEndpointKey || key == kConfigureEndpointKey) return builtInEndpoint();
  return std::nullopt;
}

std::optional<std::string> TELEndpoints::settingsEndpoint() { return valueForConfigurationKey(kSettingsEndpointKey); }

std::optional<std::string> TELEndpoints::configureEndpoint() { return valueForConfigurationKey(kConfigureEndpointKey); }

}  // namespace telemetry
