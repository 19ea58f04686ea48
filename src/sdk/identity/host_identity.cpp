#include "sdk/identity/host_identity.h"
#include "sdk/identity/host_identity_testing.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "sdk/core/file_io.h"
#include "sdk/core/strings.h"

namespace telemetry {

namespace {

constexpr size_t kValueBuffer = 128;  // a value and its terminator must fit

std::mutex gRootMutex;
std::string gRoot;

std::string hostPath(const std::string& absolute) {
  std::lock_guard lock(gRootMutex);
  return gRoot.empty() ? absolute : gRoot + absolute;
}

// A short text file's first line (or, for a device-tree property, its text up to the zero
// byte that ends it), when it fits the value buffer.
std::optional<std::string> readValue(const std::string& path, char end = '\n') {
  auto bytes = fileio::readFile(hostPath(path), 4096);
  if (!bytes) return std::nullopt;
  std::string text(bytes->begin(), bytes->end());
  text = text.substr(0, text.find(end));
  text = strings::trim(text);
  if (text.empty() || text.size() >= kValueBuffer || text.find('\0') != std::string::npos) return std::nullopt;
  return text;
}

// Debian names only its major release in os-release ("12"); the point release ("12.11") is in
// debian_version. A testing system's "trixie/sid" there adds nothing.
std::string withPointRelease(const std::string& versionID) {
  const auto debian = readValue("/etc/debian_version");
  if (!debian || debian->rfind(versionID + ".", 0) != 0) return versionID;
  const bool dotted = std::all_of(debian->begin(), debian->end(),
                                  [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; });
  return dotted ? *debian : versionID;
}

std::optional<std::string> osReleaseVersionID() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    auto bytes = fileio::readFile(hostPath(path), 65536);
    if (!bytes) continue;
    std::string text(bytes->begin(), bytes->end());
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end == std::string::npos ? text.size() : end + 1;
      if (line.rfind("VERSION_ID=", 0) != 0) continue;
      std::string value = line.substr(11);
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      return withPointRelease(value);
    }
    return std::nullopt;  // the first file found is the one that counts
  }
  return std::nullopt;
}

}  // namespace

void TELSetHostRootForTesting(const std::string& root) {
  std::lock_guard lock(gRootMutex);
  gRoot = root;
}

TELOperatingSystemVersion TELParseOperatingSystemVersion(const std::string& text) {
  TELOperatingSystemVersion v;
  int64_t* parts[] = {&v.major, &v.minor, &v.patch};
  size_t i = 0;
  for (int k = 0; k < 3; ++k) {
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) break;
    int64_t n = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      if (n < INT64_MAX / 10) n = n * 10 + (text[i] - '0');
      ++i;
    }
    *parts[k] = n;
    if (i >= text.size() || text[i] != '.') break;
    ++i;
  }
  return v;
}

TELOperatingSystemVersion TELHostOperatingSystemVersion() {
  if (auto id = osReleaseVersionID(); id && !id->empty() && std::isdigit(static_cast<unsigned char>((*id)[0])))
    return TELParseOperatingSystemVersion(*id);
  if (auto release = TELHostSysctlString("kernel.osrelease")) return TELParseOperatingSystemVersion(*release);
  struct utsname names {};
  if (::uname(&names) == 0) return TELParseOperatingSystemVersion(names.release);
  return {};
}

int64_t TELOperatingSystemVersionCode(const TELOperatingSystemVersion& version) {
  switch (version.minor) {
    case 6: return 1060;
    case 7: return 1070;
    case 8: return 1080;
    case 9: return 1090;
    case 10: return 101000;
    case 11: return 101100;
    default: return 0;
  }
}

int64_t TELHostOperatingSystemVersionCode() { return TELOperatingSystemVersionCode(TELHostOperatingSystemVersion()); }

std::optional<std::string> TELHostSysctlString(const std::string& name) {
  // Names are dotted words; nothing else may reach the file system.
  if (name.empty() || name.front() == '.' || name.back() == '.' || name.find("..") != std::string::npos) return std::nullopt;
  std::string path = "/proc/sys/";
  for (char c : name) {
    if (c == '.')
      path += '/';
    else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')
      path += c;
    else
      return std::nullopt;
  }
  return readValue(path);
}

std::optional<std::string> TELHostOSBuildVersion() { return TELHostSysctlString("kernel.osrelease"); }

std::optional<std::string> TELHostModel() {
  if (auto product = readValue("/sys/class/dmi/id/product_name")) return product;
  // Machines without DMI firmware (ARM boards) name themselves in the device tree.
  for (const char* path : {"/proc/device-tree/model", "/sys/firmware/devicetree/base/model"})
    if (auto model = readValue(path, '\0')) return model;
  return std::nullopt;
}

std::string TELHostPlatformName() {
  struct utsname names {};
  if (::uname(&names) == 0 && names.sysname[0]) return names.sysname;
  return "Linux";
}

std::string TELHostOSDisplayVersion() {
  TELOperatingSystemVersion v = TELHostOperatingSystemVersion();
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

}  // namespace telemetry
