#include "sdk/defaults/application_defaults_domain.h"

#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/property_list.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/application_identity.h"

namespace telemetry {

std::shared_ptr<ApplicationDefaultsDomain> ApplicationDefaultsDomain::standardUserDefaults() {
  static std::shared_ptr<ApplicationDefaultsDomain> shared = [] {
    std::string name = TELApplicationEscapedBundleIdentifier().value_or("orrery");
    return std::make_shared<PlistFileDefaultsDomain>(paths::join(paths::configDirectory(), name + ".plist"));
  }();
  return shared;
}

void PlistFileDefaultsDomain::loadIfNeeded() {
  if (mLoaded) return;
  mLoaded = true;
  if (fileio::kindOf(mPath) != fileio::FileKind::Regular) return;
  auto values = plist::readFile(mPath);
  if (values && values->is_object()) mValues = std::move(*values);
}

nlohmann::json PlistFileDefaultsDomain::objectForKey(const std::string& key) {
  std::lock_guard lock(mMutex);
  loadIfNeeded();
  auto it = mValues.find(key);
  return it == mValues.end() ? nlohmann::json() : *it;
}

void PlistFileDefaultsDomain::setObject(nlohmann::json value, const std::string& key) {
  std::lock_guard lock(mMutex);
  loadIfNeeded();
  if (value.is_null())
    mValues.erase(key);
  else
    mValues[key] = std::move(value);
}

void PlistFileDefaultsDomain::removeObjectForKey(const std::string& key) {
  std::lock_guard lock(mMutex);
  loadIfNeeded();
  mValues.erase(key);
}

bool PlistFileDefaultsDomain::synchronize() {
  std::lock_guard lock(mMutex);
  loadIfNeeded();
  std::string error;
  const std::string folder = mPath.substr(0, mPath.rfind('/'));
  if (!fileio::createDirectories(folder, &error) || !plist::writeFile(mPath, mValues, &error)) {
    consoleLog("[Telemetry:UserDefaults] " + error);
    return false;
  }
  return true;
}

}  // namespace telemetry
