#include "sdk/startup/telemetry.h"

#include "sdk/core/console.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/defaults/crk_user_defaults.h"
#include "sdk/identity/encoding.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/identity/tel_application_identifer_model.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "sdk/onboarding/tel_icon.h"
#include "sdk/settings/tel_settings_onboarding_manager.h"
#include "sdk/startup/tel_configuration.h"

#include "platform/core/dispatch.h"
#include "platform/core/launch_work.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace telemetry {

namespace {

std::string installationUUIDKey() { return std::string(kSDKIdentifierPrefix) + ".iuuid"; }

}  // namespace

Telemetry& Telemetry::sharedSDK() {
  static Telemetry* shared = new Telemetry();  // lives until the process ends
  return *shared;
}

Telemetry::Telemetry() {
  CRKUserDefaults& store = CRKUserDefaults::standardUserDefaults();
  nlohmann::json stored = store.objectForKeyByMigratingFromNSUserDefaults(installationUUIDKey());
  if (stored.is_string() && !stored.get<std::string>().empty()) {
    mInstallID = stored.get<std::string>();
  } else {
    mIsFirstInstall = true;
    mInstallID = TELGenerateUUIDString();
    store.setString(mInstallID, installationUUIDKey());
    // Written at once, so that a process ending (or crashing) right after the start leaves the
    // identifier its reports carry to the next run; waiting for the disk (fsync) takes
    // milliseconds, so that happens in the background.
    store.synchronize(/*durable=*/false);
    platform::globalQueue(platform::QueuePriority::Background).async([] {
      CRKUserDefaults::standardUserDefaults().synchronize();
    });
  }
  std::string execution = TELGenerateUUIDString();
  execution.erase(std::remove(execution.begin(), execution.end(), '-'), execution.end());
  std::transform(execution.begin(), execution.end(), execution.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  mExecutionIdentifier = execution;

  mModel = TELApplicationIdentiferModel::create(mInstallID, [] { return TELAppIconUtility().applicationIcon(); });
  mManager = TELSettingsOnboardingManager::create(mModel, &TELPinnedCertificates);
  mManager->setAdvertisingTokenSource([this] { return advertisingToken(); });
}

Telemetry& Telemetry::with(const std::vector<TELKitArgument>& kits) {
  static std::atomic<bool> claimed{false};
  if (claimed.exchange(true)) {
    consoleLog(
        "[Telemetry] [Telemetry +with] called multiple times. Only the first call is honored, please pass all kits "
        "you wish to initialize");
    return sharedSDK();
  }
  Telemetry& sdk = sharedSDK();
  if (!sdk.APIKey()) return sdk;
  TELKitClassList classes = TELKitRegistry::orderedKitClasses(kits);
  {
    std::lock_guard lock(sdk.mMutex);
    sdk.mKitClasses = classes;
  }
  for (const TELKitClass* kitClass : classes) TELKitRegistry::initializeKit(*kitClass);
  // Kits read the previous run's settings at their start; the new ones can wait for the launch,
  // and are asked for off the calling thread: making the network client loads the transfer
  // library with its two dozen dependencies, several milliseconds the main thread must not wait.
  platform::afterLaunch([&sdk] {
    platform::globalQueue(platform::QueuePriority::Default).async([&sdk] { sdk.onboardAppAndDownloadSettings(); });
  });
  return sdk;
}

void Telemetry::onboardAppAndDownloadSettings() {
  mManager->beginSettingsAndOnboardingOperationsWithAPIKey(APIKey(), kitVersionsByKitBundleIdentifier());
}

std::optional<std::string> Telemetry::APIKey() {
  {
    std::lock_guard lock(mMutex);
    if (mAPIKey) return mAPIKey;
  }
  const nlohmann::json& config = telemetryConfig();
  std::lock_guard lock(mMutex);
  if (!mAPIKey) {
    auto key = config.find("APIKey");
    if (key != config.end() && key->is_string()) mAPIKey = key->get<std::string>();
  }
  return mAPIKey;
}

void Telemetry::setAPIKey(std::string APIKey) {
  std::lock_guard lock(mMutex);
  mAPIKey = std::move(APIKey);
}

const nlohmann::json& Telemetry::telemetryConfig() {
  std::lock_guard lock(mMutex);
  if (!mTelemetryConfig) {
    nlohmann::json info = MainBundle::shared().infoDictionary();
    mTelemetryConfig = TELConfiguration::validTelemetryConfigFromInfoPlist(
        info.is_object() ? std::optional<nlohmann::json>(std::move(info)) : std::nullopt);
  }
  return *mTelemetryConfig;
}

std::optional<nlohmann::json> Telemetry::configurationDictionaryForKit(const TELKitObject& kit) {
  return configurationDictionaryForKitClass(kit.kitClass());
}

std::optional<nlohmann::json> Telemetry::configurationDictionaryForKitClass(const TELKitClass& kitClass) {
  return TELConfiguration::configurationDictionaryForKitClass(sharedSDK().telemetryConfig(), kitClass.className());
}

TELKitRegistry::KitVersions Telemetry::kitVersionsByKitBundleIdentifier() const {
  return TELKitRegistry::kitVersionsByKitBundleIdentifier(kitClasses());
}

TELKitClassList Telemetry::kitClasses() const {
  std::lock_guard lock(mMutex);
  return mKitClasses;
}

TELSettings::Dictionary Telemetry::settings() { return settingsModel()->settingsDictionary(); }

std::shared_ptr<TELSettings> Telemetry::settingsModel() { return mManager->settingsModel(); }

std::optional<std::string> Telemetry::instanceIdentifier() const {
  if (!mModel) return std::nullopt;
  return mModel->instanceIdentifier();
}

void Telemetry::logToSystemLog() { consoleToSystemLog(); }

bool Telemetry::debug() const { return isDebugEnabled(); }

void Telemetry::setDebug(bool debug) { setDebugEnabled(debug); }

std::optional<std::string> Telemetry::advertisingToken() const {
  std::lock_guard lock(mMutex);
  return mAdvertisingToken;
}

void Telemetry::setAdvertisingToken(std::optional<std::string> token) {
  std::lock_guard lock(mMutex);
  mAdvertisingToken = std::move(token);
}

}  // namespace telemetry
