#pragma once
// Facts about the host bundle from its information dictionary, above all whether it is an
// application extension.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace telemetry {

class ANAApplication {
 public:
  // From the main bundle's information dictionary.
  static ANAApplication hostApplication();
  explicit ANAApplication(nlohmann::json infoPlistDict) : mInfoPlistDict(std::move(infoPlistDict)) {}

  std::optional<std::string> bundleIdentifier() const { return stringFor("CFBundleIdentifier"); }
  std::optional<std::string> bundleVersion() const { return stringFor("CFBundleVersion"); }
  std::optional<std::string> shortVersionString() const { return stringFor("CFBundleShortVersionString"); }

  // The "NSExtension" dictionary; a console line when the entry is there but no dictionary.
  std::optional<nlohmann::json> extensionDefinitionDictionary() const;
  // Its "NSExtensionPointIdentifier"; a console line when the dictionary lacks it as text.
  std::optional<std::string> extensionPointIdentifier() const;
  bool isExtension() const { return extensionPointIdentifier().has_value(); }
  // The SDK has no application object to hand out.
  std::shared_ptr<void> appSharedInstance() const { return nullptr; }

  const nlohmann::json& infoPlistDict() const { return mInfoPlistDict; }

 private:
  std::optional<std::string> stringFor(const char* key) const;
  nlohmann::json mInfoPlistDict;
};

}  // namespace telemetry
