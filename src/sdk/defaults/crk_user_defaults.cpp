#include "sdk/defaults/crk_user_defaults.h"

#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/property_list.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/application_identity.h"
#include "sdk/identity/main_bundle.h"

namespace telemetry {

namespace {
constexpr const char* kFileName = "CRKUserDefaults.plist";
}

CRKUserDefaults& CRKUserDefaults::standardUserDefaults() {
  static CRKUserDefaults* shared = new CRKUserDefaults(generateDirectoryURL(), ApplicationDefaultsDomain::standardUserDefaults());
  return *shared;
}

CRKUserDefaults::CRKUserDefaults(std::string directory, std::shared_ptr<ApplicationDefaultsDomain> platformDefaults)
    : mDirectory(std::move(directory)),
      mFile(paths::join(mDirectory, kFileName)),
      mPlatformDefaults(std::move(platformDefaults)) {
  auto loaded = loadDefaults();
  mDataDictionary = loaded ? std::move(*loaded) : nlohmann::json::object();
}

std::optional<std::string> CRKUserDefaults::getEscapedAppBundleIdentifier() {
  return TELApplicationEscapedBundleIdentifier();
}

std::string CRKUserDefaults::generateDirectoryURLForBaseURL(const std::string& base,
                                                            const std::optional<std::string>& escapedBundleIdentifier) {
  std::string directory = base;
  if (escapedBundleIdentifier && !escapedBundleIdentifier->empty())
    directory = paths::join(directory, *escapedBundleIdentifier);
  return paths::join(directory, kSDKIdentifierPrefix);
}

std::string CRKUserDefaults::generateDirectoryURL() {
  return generateDirectoryURLForBaseURL(paths::applicationSupportDirectory(), getEscapedAppBundleIdentifier());
}

nlohmann::json CRKUserDefaults::objectForKey(const std::string& key) {
  nlohmann::json value;
  {
    std::lock_guard lock(mDictionaryMutex);
    auto it = mDataDictionary.find(key);
    if (it != mDataDictionary.end()) value = *it;
  }
  return value;
}

std::optional<std::string> CRKUserDefaults::stringForKey(const std::string& key) {
  nlohmann::json value = objectForKey(key);
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

bool CRKUserDefaults::boolForKey(const std::string& key) {
  nlohmann::json value = objectForKey(key);
  return value.is_number() || value.is_boolean() ? boolValueOf(value) : false;
}

void CRKUserDefaults::setObject(nlohmann::json value, const std::string& key) {
  {
    std::lock_guard lock(mDictionaryMutex);
    if (value.is_null())
      mDataDictionary.erase(key);
    else
      mDataDictionary[key] = std::move(value);
  }
}

void CRKUserDefaults::setString(const std::string& value, const std::string& key) { setObject(value, key); }

void CRKUserDefaults::setBool(bool value, const std::string& key) { setObject(value, key); }

void CRKUserDefaults::removeObjectForKey(const std::string& key) { setObject(nullptr, key); }

void CRKUserDefaults::removeAllObjects() {
  std::lock_guard lock(mDictionaryMutex);
  mDataDictionary = nlohmann::json::object();
}

nlohmann::json CRKUserDefaults::dictionaryRepresentation() {
  std::lock_guard lock(mDictionaryMutex);
  return mDataDictionary;
}

bool CRKUserDefaults::synchronize(bool durable) {
  std::lock_guard lock(mFileMutex);
  // Copied here, in write order: a snapshot taken before another thread's write could
  // otherwise land after it and put back older values.
  const nlohmann::json snapshot = dictionaryRepresentation();
  std::string error;
  if (fileio::kindOf(mDirectory) != fileio::FileKind::Directory && !fileio::createDirectories(mDirectory, &error))
    consoleLog("[Telemetry:UserDefaults] failed to create directory with error:" + error);
  const bool written = plist::writeFile(mFile, snapshot, &error, durable);
  if (!written) consoleLog("[Telemetry:UserDefaults] Unable to open file for writing at path " + mFile);
  return written;
}

std::optional<nlohmann::json> CRKUserDefaults::loadDefaults() {
  std::optional<nlohmann::json> result;
  [&] {
    std::lock_guard lock(mFileMutex);
    switch (fileio::kindOf(mFile)) {
      case fileio::FileKind::Missing:
        return;
      case fileio::FileKind::Directory: {
        consoleLog("[Telemetry:UserDefaults] found directory where file expected. Removing conflicting directory");
        std::string error;
        if (!fileio::removeItem(mFile, &error))
          consoleLog("[Telemetry:UserDefaults] error removing conflicting directory: {error = " + error + "}");
        return;
      }
      default: {
        auto values = plist::readFile(mFile);
        if (!values || !values->is_object()) {
          consoleLog("[Telemetry:UserDefaults] failed to read existing UserDefaults file");
          return;
        }
        result = std::move(values);
      }
    }
  }();
  return result;
}

nlohmann::json CRKUserDefaults::objectForKeyByMigratingFromNSUserDefaults(const std::string& key) {
  if (key.empty()) return nullptr;
  nlohmann::json value = objectForKey(key);
  if (!value.is_null()) return value;
  if (!mPlatformDefaults) return nullptr;
  value = mPlatformDefaults->objectForKey(key);
  if (value.is_null()) return nullptr;
  setObject(value, key);
  // The value leaves the application's defaults only once it is safely in this store.
  if (synchronize()) {
    mPlatformDefaults->removeObjectForKey(key);
    mPlatformDefaults->synchronize();
  }
  return value;
}

void CRKUserDefaults::migrateFromNSUserDefaults(const std::vector<std::string>& keys) {
  if (!mPlatformDefaults) return;
  bool copied = false;
  for (const auto& key : keys) {
    nlohmann::json value = mPlatformDefaults->objectForKey(key);
    if (value.is_null()) continue;
    setObject(std::move(value), key);
    copied = true;
  }
  if (!copied || !synchronize()) return;
  for (const auto& key : keys) mPlatformDefaults->removeObjectForKey(key);
  mPlatformDefaults->synchronize();
}

}  // namespace telemetry
