#pragma once
// The SDK's own key-value store, kept apart from the application's user defaults in
// "<application support>/<escaped bundle identifier>/<SDK identifier prefix>/CRKUserDefaults.plist".
// Values live in memory until synchronize() rewrites the whole file atomically. Any thread
// may call any operation: the values are touched only under the store's value lock, the
// file only under its file lock, on the caller's thread.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sdk/defaults/application_defaults_domain.h"

namespace telemetry {

class CRKUserDefaults {
 public:
  static CRKUserDefaults& standardUserDefaults();

  // A store in `directory`, migrating from `platformDefaults` (tests, tools).
  CRKUserDefaults(std::string directory, std::shared_ptr<ApplicationDefaultsDomain> platformDefaults);
  CRKUserDefaults(const CRKUserDefaults&) = delete;
  CRKUserDefaults& operator=(const CRKUserDefaults&) = delete;

  // Values; null stands for "nothing".
  nlohmann::json objectForKey(const std::string& key);
  std::optional<std::string> stringForKey(const std::string& key);
  bool boolForKey(const std::string& key);
  // A null value removes the key.
  void setObject(nlohmann::json value, const std::string& key);
  void setString(const std::string& value, const std::string& key);
  void setBool(bool value, const std::string& key);
  void removeObjectForKey(const std::string& key);
  void removeAllObjects();
  nlohmann::json dictionaryRepresentation();

  // Writes every value to the store file; false when that failed (it is logged).
  // `durable` false writes the file without waiting for the disk (see fileio::writeFileAtomically).
  bool synchronize(bool durable = true);
  // The dictionary in the store file, or nothing.
  std::optional<nlohmann::json> loadDefaults();

  void migrateFromNSUserDefaults(const std::vector<std::string>& keys);
  nlohmann::json objectForKeyByMigratingFromNSUserDefaults(const std::string& key);

  const std::string& directoryURL() const { return mDirectory; }
  const std::string& fileURL() const { return mFile; }

  static std::string generateDirectoryURL();
  static std::string generateDirectoryURLForBaseURL(const std::string& base, const std::optional<std::string>& escapedBundleIdentifier);
  static std::optional<std::string> getEscapedAppBundleIdentifier();

 private:
  std::string mDirectory;
  std::string mFile;
  std::shared_ptr<ApplicationDefaultsDomain> mPlatformDefaults;
  nlohmann::json mDataDictionary = nlohmann::json::object();
  // Locks, not queues: every access is short, and a hop to another thread costs a caller
  // (the SDK's start on the main thread) a wake-up each time. Lock order: file, then values.
  std::mutex mDictionaryMutex;
  std::mutex mFileMutex;  // the store file: reads, and writes in the order of their snapshots
};

}  // namespace telemetry
