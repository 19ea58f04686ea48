#pragma once
// The SDK's configuration: the "Telemetry" dictionary of the application's property list.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace telemetry {

class TELConfiguration {
 public:
  // The "Telemetry" dictionary when it is usable. Raises TELException when there is no
  // property list, when "Telemetry" is not a dictionary, or when "APIKey" is not a string;
  // a "Kits" value that is not an array is only logged.
  static nlohmann::json validTelemetryConfigFromInfoPlist(const std::optional<nlohmann::json>& infoPlist);

  // The "KitInfo" of the first "Kits" entry whose "KitName" is the class name; an empty
  // dictionary when that entry has none; nothing when no entry matches.
  static std::optional<nlohmann::json> configurationDictionaryForKitClass(const nlohmann::json& telemetryConfig,
                                                                         const std::string& className);
};

}  // namespace telemetry
