#pragma once
// Facts about the machine: the OS version (from /etc/os-release with Debian's point release,
// else the kernel release), the operating system's name (the kernel's: "Linux"),
// the kernel build (system control "kernel.osrelease") and the model (the firmware's
// product name, else the device tree's model).

#include <cstdint>
#include <optional>
#include <string>

namespace telemetry {

struct TELOperatingSystemVersion {
  int64_t major = 0;
  int64_t minor = 0;
  int64_t patch = 0;
  bool operator==(const TELOperatingSystemVersion&) const = default;
};

TELOperatingSystemVersion TELHostOperatingSystemVersion();
// By the minor number alone: 6 -> 1060 ... 9 -> 1090, 10 -> 101000, 11 -> 101100; else 0.
int64_t TELHostOperatingSystemVersionCode();
int64_t TELOperatingSystemVersionCode(const TELOperatingSystemVersion& version);
// A system control's text (from /proc/sys), when it fits a 128-byte buffer.
std::optional<std::string> TELHostSysctlString(const std::string& name);
std::optional<std::string> TELHostOSBuildVersion();
std::optional<std::string> TELHostModel();
// "%ld.%ld.%ld" of the OS version.
std::string TELHostOSDisplayVersion();
std::string TELHostPlatformName();

// Up to three dotted numbers from the start of a version text ("22.04" -> 22.4.0,
// "6.1.0-18-amd64" -> 6.1.0); zeros when it starts with no number.
TELOperatingSystemVersion TELParseOperatingSystemVersion(const std::string& text);

}  // namespace telemetry
