#pragma once
// Base addresses of the vendor's services. Each is read from the first source that has it:
// an environment variable named exactly like the key, then the "CrashKit" dictionary of the
// application's property list, then the endpoint the build was configured with. A build
// configured with none has no endpoint, and then nothing is sent anywhere.

#include <optional>
#include <string>

namespace telemetry {

inline constexpr const char* kSettingsEndpointKey = "SettingsEndpoint";
inline constexpr const char* kConfigureEndpointKey = "ConfigureEndpoint";

class TELEndpoints {
 public:
  // The service's base URL this build carries, or nothing.
  static std::optional<std::string> builtInEndpoint();

  // Nothing for a key no source names.
  static std::optional<std::string> valueForConfigurationKey(const std::string& key);
  static std::optional<std::string> settingsEndpoint();
  static std::optional<std::string> configureEndpoint();
};

}  // namespace telemetry
