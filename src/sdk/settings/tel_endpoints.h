#pragma once
// Base addresses of the vendor's services. Each is read from the first source that has it:
// an environment variable named exactly like the key, then the "CrashKit" dictionary of the
// application's property list, then the built-in default.

#include <optional>
#include <string>

namespace telemetry {

inline constexpr const char* kSettingsEndpointKey = "SettingsEndpoint";
inline constexpr const char* kConfigureEndpointKey = "ConfigureEndpoint";

class TELEndpoints {
 public:
  static constexpr const char* kDefaultSettingsEndpoint = "https://settings.orrery.app";
  static constexpr const char* kDefaultConfigureEndpoint = "https://api.orrery.app";

  // Nothing for a key without a default that no source names.
  static std::optional<std::string> valueForConfigurationKey(const std::string& key);
  static std::string settingsEndpoint();
  static std::string configureEndpoint();
};

}  // namespace telemetry
