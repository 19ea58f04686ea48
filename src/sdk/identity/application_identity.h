#pragma once
// Facts about the application, read from the main bundle at every call.

#include <optional>
#include <string>

namespace telemetry {

// Install-source codes.
inline constexpr int kTELInstallSourceOther = 1;
inline constexpr int kTELInstallSourceSignedForDistribution = 3;
inline constexpr int kTELInstallSourceStore = 4;

// The bundle identifier with every "/" replaced by "_"; nothing without an identifier.
std::optional<std::string> TELApplicationEscapedBundleIdentifier();
std::string TELEscapeBundleIdentifier(const std::string& identifier);
// "CFBundleVersion" / "CFBundleShortVersionString".
std::optional<std::string> TELApplicationBuildVersion();
std::optional<std::string> TELApplicationDisplayVersion();
// "CFBundleDisplayName", else "CFBundleName", else the build version.
std::optional<std::string> TELApplicationName();
int TELApplicationInstallSource();
bool TELApplicationInstalledFromStore();
bool TELApplicationSignedForDistribution();
// "Telemetry"/"ReportIdentifiers" when present, else "CrashKitCollectDeviceIdentifiers"
// when present, else true.
bool TELApplicationCollectsDeviceIdentifiers();

}  // namespace telemetry
