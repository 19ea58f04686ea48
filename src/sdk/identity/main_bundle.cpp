#include "sdk/identity/main_bundle.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/property_list.h"
#include "sdk/core/standard_paths.h"

#ifndef ORRERY_INSTALL_RESOURCES_DIR
#define ORRERY_INSTALL_RESOURCES_DIR "/usr/local/share/orrery"
#endif

namespace telemetry {

MainBundle& MainBundle::shared() {
  static MainBundle* bundle = new MainBundle();  // used until the process ends
  return *bundle;
}

std::string MainBundle::executablePath() const {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string MainBundle::bundlePath() const {
  std::string exe = executablePath();
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

std::string MainBundle::storeReceiptPath() const { return paths::join(bundlePath(), "_MASReceipt/receipt"); }

std::vector<std::string> MainBundle::infoSearchPaths() const {
  const std::string dir = bundlePath();
  std::vector<std::string> out;
  if (const char* named = std::getenv("ORRERY_RESOURCES_DIR"); named && *named)
    out.push_back(paths::join(named, "sdk/Info.plist"));
  for (const char* relative : {"Info.plist", "resources/sdk/Info.plist", "../resources/sdk/Info.plist",
                               "../share/orrery/sdk/Info.plist"})
    out.push_back(paths::join(dir, relative));
  out.push_back(paths::join(ORRERY_INSTALL_RESOURCES_DIR, "sdk/Info.plist"));
  return out;
}

void MainBundle::loadIfNeeded() const {
  if (mLoaded) return;
  mLoaded = true;
  for (const auto& path : infoSearchPaths()) {
    if (fileio::kindOf(path) != fileio::FileKind::Regular) continue;
    std::string error;
    auto info = plist::readFile(path, &error);
    if (!info || !info->is_object()) {
      consoleLog("[Telemetry] Unable to read the application's property list " + path + ": " + error);
      continue;
    }
    mInfo = std::move(*info);
    mInfoPath = path;
    return;
  }
}

nlohmann::json MainBundle::infoDictionary() const {
  std::lock_guard lock(mMutex);
  if (mOverride) return *mOverride;
  loadIfNeeded();
  return mInfo;
}

nlohmann::json MainBundle::objectForInfoDictionaryKey(const std::string& key) const {
  nlohmann::json info = infoDictionary();
  if (!info.is_object()) return nullptr;
  auto it = info.find(key);
  return it == info.end() ? nlohmann::json() : *it;
}

std::optional<std::string> MainBundle::stringForInfoDictionaryKey(const std::string& key) const {
  nlohmann::json v = objectForInfoDictionaryKey(key);
  if (!v.is_string()) return std::nullopt;
  return v.get<std::string>();
}

std::optional<std::string> MainBundle::bundleIdentifier() const { return stringForInfoDictionaryKey("CFBundleIdentifier"); }

std::optional<std::string> MainBundle::infoPath() const {
  std::lock_guard lock(mMutex);
  if (mOverride) return std::nullopt;
  loadIfNeeded();
  return mInfoPath;
}

void MainBundle::setInfoDictionary(std::optional<nlohmann::json> info) {
  std::lock_guard lock(mMutex);
  mOverride = std::move(info);
}

bool boolValueOf(const nlohmann::json& value) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0;
  if (!value.is_string()) return false;
  const std::string& s = value.get_ref<const std::string&>();
  size_t i = s.find_first_not_of(" \t\r\n");
  if (i == std::string::npos) return false;
  if (s[i] == '+' || s[i] == '-') ++i;
  while (i < s.size() && s[i] == '0') ++i;
  return i < s.size() && s[i] != '\0' && std::strchr("YyTt123456789", s[i]) != nullptr;
}

}  // namespace telemetry
