#include "sdk/identity/application_identity.h"

#include <algorithm>

#include "sdk/core/file_io.h"
#include "sdk/identity/host_identity.h"
#include "sdk/identity/main_bundle.h"

namespace telemetry {

std::string TELEscapeBundleIdentifier(const std::string& identifier) {
  std::string escaped = identifier;
  std::replace(escaped.begin(), escaped.end(), '/', '_');
  return escaped;
}

std::optional<std::string> TELApplicationEscapedBundleIdentifier() {
  auto identifier = MainBundle::shared().bundleIdentifier();
  if (!identifier) return std::nullopt;
  return TELEscapeBundleIdentifier(*identifier);
}

std::optional<std::string> TELApplicationBuildVersion() {
  return MainBundle::shared().stringForInfoDictionaryKey("CFBundleVersion");
}

std::optional<std::string> TELApplicationDisplayVersion() {
  return MainBundle::shared().stringForInfoDictionaryKey("CFBundleShortVersionString");
}

std::optional<std::string> TELApplicationName() {
  const MainBundle& bundle = MainBundle::shared();
  if (auto name = bundle.stringForInfoDictionaryKey("CFBundleDisplayName")) return name;
  if (auto name = bundle.stringForInfoDictionaryKey("CFBundleName")) return name;
  return TELApplicationBuildVersion();
}

int TELApplicationInstallSource() {
  if (TELApplicationInstalledFromStore()) return kTELInstallSourceStore;
  if (TELApplicationSignedForDistribution()) return kTELInstallSourceSignedForDistribution;
  return kTELInstallSourceOther;
}

bool TELApplicationInstalledFromStore() {
  if (TELHostOperatingSystemVersionCode() < 1070) return false;
  return fileio::kindOf(MainBundle::shared().storeReceiptPath()) == fileio::FileKind::Regular;
}

bool TELApplicationSignedForDistribution() {
  return boolValueOf(MainBundle::shared().objectForInfoDictionaryKey("CrashKitSignedForDistribution"));
}

bool TELApplicationCollectsDeviceIdentifiers() {
  const MainBundle& bundle = MainBundle::shared();
  nlohmann::json config = bundle.objectForInfoDictionaryKey("Telemetry");
  if (config.is_object()) {
    auto it = config.find("ReportIdentifiers");
    if (it != config.end() && !it->is_null()) return boolValueOf(*it);
  }
  nlohmann::json legacy = bundle.objectForInfoDictionaryKey("CrashKitCollectDeviceIdentifiers");
  if (!legacy.is_null()) return boolValueOf(legacy);
  return true;
}

}  // namespace telemetry
