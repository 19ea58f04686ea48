#pragma once
// The host kit: the one object through which the application starts the SDK, once, at
// launch, and from which every kit reads the shared state (API key, identifiers, debug
// switch, advertising token, downloaded settings).
//
//   telemetry::Telemetry::with({crashKitClass});   // first thing at launch, main thread
//
// A kit registers by defining one TELKitClass object (see tel_kit.h); the start orders the
// kits, starts each with initializeIfNeeded(), then downloads the settings and onboards the
// application in the background. The call returns without waiting on the network.

#include "sdk/settings/tel_settings.h"
#include "sdk/startup/tel_kit.h"
#include "sdk/startup/tel_kit_registry.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace telemetry {

class TELApplicationIdentiferModel;
class TELSettingsOnboardingManager;

class Telemetry {
 public:
  // Starts the SDK on the first call only; later calls log and change nothing. Raises
  // TELException for an invalid configuration or for something that is no kit.
  static Telemetry& with(const std::vector<TELKitArgument>& kits);
  // The one instance of the process, made on first use.
  static Telemetry& sharedSDK();
  // From now on the SDK's console lines go to the system log, under the name the program
  // opened it with, instead of standard error; for a program whose own lines go there.
  static void logToSystemLog();

  // Set explicitly, else the configuration's "APIKey" (validating the configuration on
  // first use, which may raise TELException).
  std::optional<std::string> APIKey();
  void setAPIKey(std::string APIKey);

  // The downloaded settings, or nothing before a settings file exists.
  TELSettings::Dictionary settings();
  std::shared_ptr<TELSettings> settingsModel();
  std::optional<std::string> instanceIdentifier() const;
  const std::string& installID() const { return mInstallID; }
  bool isFirstInstall() const { return mIsFirstInstall; }
  const std::string& executionIdentifier() const { return mExecutionIdentifier; }
  bool debug() const;
  void setDebug(bool debug);
  std::optional<std::string> advertisingToken() const;
  void setAdvertisingToken(std::optional<std::string> token);

  // The validated "Telemetry" dictionary, read once (may raise TELException).
  const nlohmann::json& telemetryConfig();
  std::optional<nlohmann::json> configurationDictionaryForKit(const TELKitObject& kit);
  static std::optional<nlohmann::json> configurationDictionaryForKitClass(const TELKitClass& kitClass);
  TELKitRegistry::KitVersions kitVersionsByKitBundleIdentifier() const;
  TELKitClassList kitClasses() const;

  const std::shared_ptr<TELSettingsOnboardingManager>& settingsAndOnboardingManager() const { return mManager; }
  const std::shared_ptr<TELApplicationIdentiferModel>& applicationIdentifierModel() const { return mModel; }

 private:
  Telemetry();
  void onboardAppAndDownloadSettings();

  mutable std::mutex mMutex;  // guards the values set after construction
  bool mIsFirstInstall = false;
  TELKitClassList mKitClasses;
  std::optional<nlohmann::json> mTelemetryConfig;
  std::shared_ptr<TELSettingsOnboardingManager> mManager;
  std::shared_ptr<TELApplicationIdentiferModel> mModel;
  std::optional<std::string> mAPIKey;
  std::string mInstallID;
  std::string mExecutionIdentifier;
  std::optional<std::string> mAdvertisingToken;
};

}  // namespace telemetry
