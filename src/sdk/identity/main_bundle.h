#pragma once
// The application as the SDK sees it: its property list (identifier, versions, names and
// the SDK's configuration) and where its executable lives.
//
// The property list is "Info.plist", looked for in "sdk/" of the folder the environment
// variable ORRERY_RESOURCES_DIR names (tests and tools point it at the source tree), beside
// the executable, in "resources/sdk/" beside or above it, and in "share/orrery/sdk/" beside
// it or in the install prefix. A built program never reads the tree it was built from.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace telemetry {

class MainBundle {
 public:
  static MainBundle& shared();

  // The whole property list (an object), or null when none was found or it is unreadable.
  nlohmann::json infoDictionary() const;
  // The value under a top-level key, or null.
  nlohmann::json objectForInfoDictionaryKey(const std::string& key) const;
  // A top-level string value, or nothing (also when the value is no string).
  std::optional<std::string> stringForInfoDictionaryKey(const std::string& key) const;
  std::optional<std::string> bundleIdentifier() const;

  std::string executablePath() const;
  // The folder holding the executable.
  std::string bundlePath() const;
  // Where a store would have put the purchase receipt of this copy.
  std::string storeReceiptPath() const;

  // Where the property list was read from, when it was.
  std::optional<std::string> infoPath() const;
  std::vector<std::string> infoSearchPaths() const;

  // Replaces the property list (tests, hosts that embed it); nothing returns to the file.
  void setInfoDictionary(std::optional<nlohmann::json> info);

 private:
  MainBundle() = default;
  void loadIfNeeded() const;

  mutable std::mutex mMutex;
  mutable bool mLoaded = false;
  mutable nlohmann::json mInfo;
  mutable std::optional<std::string> mInfoPath;
  std::optional<nlohmann::json> mOverride;
};

// The boolean reading of a property-list value: booleans as they are, numbers when not
// zero, strings starting (after blanks, a sign and zeros) with Y, y, T, t or 1 to 9.
bool boolValueOf(const nlohmann::json& value);

}  // namespace telemetry
