#include "sdk/analytics/ana_application.h"

#include "sdk/core/console.h"
#include "sdk/core/json_text.h"
#include "sdk/identity/main_bundle.h"

namespace telemetry {

ANAApplication ANAApplication::hostApplication() { return ANAApplication(MainBundle::shared().infoDictionary()); }

std::optional<std::string> ANAApplication::stringFor(const char* key) const {
  if (!mInfoPlistDict.is_object()) return std::nullopt;
  auto it = mInfoPlistDict.find(key);
  if (it == mInfoPlistDict.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<nlohmann::json> ANAApplication::extensionDefinitionDictionary() const {
  if (!mInfoPlistDict.is_object()) return std::nullopt;
  auto it = mInfoPlistDict.find("NSExtension");
  if (it == mInfoPlistDict.end() || it->is_null()) return std::nullopt;
  if (it->is_object()) return *it;
  consoleLog("Error: NSExtension Info.plist entry is mal-formed " + jsonText(*it) + "\n");
  return std::nullopt;
}

std::optional<std::string> ANAApplication::extensionPointIdentifier() const {
  auto definition = extensionDefinitionDictionary();
  if (!definition) return std::nullopt;  // an application, or a line said why already
  auto it = definition->find("NSExtensionPointIdentifier");
  if (it != definition->end() && it->is_string()) return it->get<std::string>();
  consoleLog("Error: NSExtensionPointIdentifier Info.plist entry is mal-formed\n");
  return std::nullopt;
}

}  // namespace telemetry
