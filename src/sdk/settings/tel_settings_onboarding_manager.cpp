#include "sdk/settings/tel_settings_onboarding_manager.h"

#include "sdk/client/tel_network_client.h"
#include "sdk/client/tel_url_builder.h"
#include "sdk/core/console.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/application_identity.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/identity/tel_application_identifer_model.h"
#include "sdk/onboarding/tel_icon.h"
#include "sdk/settings/tel_endpoints.h"

#include "platform/core/notification_center.h"

namespace telemetry {

namespace {
std::string describe(const Error& error) {
  return strformat("Error Domain=%s Code=%lld \"%s\"", error.domain.c_str(), static_cast<long long>(error.code),
                   error.localizedDescription().c_str());
}
}  // namespace

std::shared_ptr<TELSettingsOnboardingManager> TELSettingsOnboardingManager::create(
    std::shared_ptr<TELApplicationIdentiferModel> appIdentifierModel, const CertificateList& pinnedCertificates) {
  return create(std::move(appIdentifierModel), [pinnedCertificates] { return pinnedCertificates; });
}

std::shared_ptr<TELSettingsOnboardingManager> TELSettingsOnboardingManager::create(
    std::shared_ptr<TELApplicationIdentiferModel> appIdentifierModel, CertificateSource pinnedCertificates) {
  std::shared_ptr<TELSettingsOnboardingManager> manager(new TELSettingsOnboardingManager());
  manager->mAppIdentifierModel = std::move(appIdentifierModel);
  manager->mPinnedCertificates = std::move(pinnedCertificates);
  return manager;
}

TELSettingsOnboardingManager::~TELSettingsOnboardingManager() {
  // The session holds its client until it is invalidated.
  if (mNetworkClient) mNetworkClient->invalidateAndCancel();
}

std::shared_ptr<TELNetworkClient> TELSettingsOnboardingManager::networkClient() {
  std::lock_guard lock(mClientMutex);
  if (!mNetworkClient) {
    mNetworkClient =
        TELNetworkClient::createWithQueue(nullptr, mPinnedCertificates ? mPinnedCertificates() : CertificateList{});
  }
  return mNetworkClient;
}

std::shared_ptr<TELNetworkClient> TELSettingsOnboardingManager::madeNetworkClient() {
  std::lock_guard lock(mClientMutex);
  return mNetworkClient;
}

void TELSettingsOnboardingManager::beginSettingsAndOnboardingOperationsWithAPIKey(
    const std::optional<std::string>& APIKey, const KitVersions& kitVersionsByKitBundleIdentifier) {
  {
    std::lock_guard lock(mMutex);
    mAPIKey = APIKey;
    mKitVersionsByKitBundleIdentifier = kitVersionsByKitBundleIdentifier;
  }
  beginSettingsDownload();
}

void TELSettingsOnboardingManager::beginSettingsDownload() {
  if (!TELEndpoints::settingsEndpoint()) {
    // A build without a service is a choice of its maker, nothing a user can act on.
    debugLog("[Telemetry] No telemetry endpoint is configured; settings are not downloaded");
    finishNetworkingSession();
    return;
  }
  std::optional<std::string> APIKey;
  std::optional<std::string> advertisingToken;
  {
    std::lock_guard lock(mMutex);
    APIKey = mAPIKey;
    if (mAdvertisingTokenSource) advertisingToken = mAdvertisingTokenSource();
  }
  auto operation = TELDownloadAndSaveSettingsOperation::create(
      APIKey, weak_from_this(), settingsURL(), settingsDirectoryPath(), settingsPath(),
      mAppIdentifierModel ? mAppIdentifierModel->installID() : std::string(), advertisingToken, networkClient());
  if (operation) operation->start();
}

void TELSettingsOnboardingManager::beginOnboarding(bool create, const std::string& endpointString) {
  std::shared_ptr<TELOnboardingOperation> previous, operation;
  const std::shared_ptr<TELNetworkClient> client = networkClient();
  {
    std::lock_guard lock(mMutex);
    previous = std::move(mOnboardingOperation);
    operation = TELOnboardingOperation::create(weak_from_this(), create, mAPIKey, mKitVersionsByKitBundleIdentifier,
                                               mAppIdentifierModel, endpointString, client);
    mOnboardingOperation = operation;
  }
  if (previous) previous->cancel();
  if (operation) operation->start();
}

std::shared_ptr<TELSettings> TELSettingsOnboardingManager::settingsModel() {
  std::lock_guard lock(mMutex);
  if (!mSettingsModel) mSettingsModel = std::make_shared<TELSettings>(settingsPath());
  return mSettingsModel;
}

std::string TELSettingsOnboardingManager::settingsDirectoryPath() {
  std::string folder = paths::join(paths::cachesDirectory(), std::string(kHostKitIdentifier) + ".data");
  if (auto identifier = MainBundle::shared().bundleIdentifier()) folder = paths::join(folder, *identifier);
  return folder;
}

std::string TELSettingsOnboardingManager::settingsPath() { return paths::join(settingsDirectoryPath(), "settings.json"); }

std::optional<std::string> TELSettingsOnboardingManager::settingsURL() const {
  const std::optional<std::string> endpoint = TELEndpoints::settingsEndpoint();
  if (!endpoint) return std::nullopt;
  return settingsURLForEndpoint(*endpoint,
                                mAppIdentifierModel ? std::optional(mAppIdentifierModel->instanceIdentifier())
                                                    : std::nullopt,
                                appIconHash());
}

std::optional<std::string> TELSettingsOnboardingManager::settingsURLForEndpoint(
    const std::string& endpoint, const std::optional<std::string>& appInstanceIdentifier,
    const std::optional<std::string>& appIconHash) {
  auto builder = TELURLBuilder::URLWithBase(endpoint);
  builder.appendComponent("/spi/v2/platforms/");
  builder.escapeAndAppendComponent(kPlatformName);
  builder.appendComponent("/apps/");
  builder.escapeAndAppendComponent(TELApplicationEscapedBundleIdentifier().value_or(""));
  builder.appendComponent("/settings");
  builder.appendValue(TELApplicationBuildVersion(), "build_version");
  builder.appendValue(TELApplicationDisplayVersion(), "display_version");
  builder.appendValue(appInstanceIdentifier, "instance");
  builder.appendValue(appIconHash, "icon_hash");
  builder.appendValue(std::int64_t{TELApplicationInstallSource()}, "source");
  return builder.URL();
}

std::optional<std::string> TELSettingsOnboardingManager::appIconHash() const {
  if (!mAppIdentifierModel || !mAppIdentifierModel->icon()) return std::nullopt;
  return mAppIdentifierModel->icon()->dataHash();
}

bool TELSettingsOnboardingManager::hasAttemptedAppConfigure() const {
  std::lock_guard lock(mMutex);
  return mHasAttemptedAppConfigure;
}

void TELSettingsOnboardingManager::setAdvertisingTokenSource(AdvertisingTokenSource source) {
  std::lock_guard lock(mMutex);
  mAdvertisingTokenSource = std::move(source);
}

void TELSettingsOnboardingManager::finishNetworkingSession() {
  if (auto client = madeNetworkClient()) client->invalidateAndCancel();
}

void TELSettingsOnboardingManager::postSettingsDownloadCompletedNotification() {
  debugLog("[Telemetry] Settings are available for consumption");
  platform::NotificationCenter::defaultCenter().post(kTELSettingsAvailableNotification);
}

void TELSettingsOnboardingManager::operationDidDownloadAndSaveSettingsWithError(TELDownloadAndSaveSettingsOperation&,
                                                                                const OptionalError& error) {
  if (error) {
    consoleLog("[Telemetry] failed to download settings " + describe(*error));
    finishNetworkingSession();
    return;
  }
  debugLog("[Telemetry] settings downloaded successfully");
  auto settings = settingsModel();
  settings->clearSettingsDictionary();

  bool attempted;
  {
    std::lock_guard lock(mMutex);
    attempted = mHasAttemptedAppConfigure;
  }
  if (attempted) {
    debugLog("[Telemetry] App already onboarded in this run of the app");
    postSettingsDownloadCompletedNotification();
    finishNetworkingSession();
    return;
  }
  if (settings->appNeedsOnboarding()) {
    debugLog("[Telemetry] Starting onboarding with app create");
    startOnboardingOnce(true);
    return;
  }
  postSettingsDownloadCompletedNotification();
  if (settings->appUpdateRequired()) {
    debugLog("[Telemetry] Starting onboarding with app update");
    startOnboardingOnce(false);
    return;
  }
  finishNetworkingSession();
}

void TELSettingsOnboardingManager::startOnboardingOnce(bool create) {
  {
    std::lock_guard lock(mMutex);
    mHasAttemptedAppConfigure = true;
  }
  const std::optional<std::string> endpoint = TELEndpoints::configureEndpoint();
  if (!endpoint) {
    debugLog("[Telemetry] No configure endpoint; the application is not onboarded");
    finishNetworkingSession();
    return;
  }
  beginOnboarding(create, *endpoint);
}

void TELSettingsOnboardingManager::onboardingOperationDidCompleteAppCreationWithError(TELOnboardingOperation&,
                                                                                    const OptionalError& error) {
  if (error) {
    consoleLog("[Telemetry] unable to complete application configure: " + describe(*error));
    finishNetworkingSession();
    return;
  }
  {
    std::lock_guard lock(mMutex);
    mOnboardingOperation = nullptr;
  }
  debugLog("[Telemetry] completed configure");
  beginSettingsDownload();
}

void TELSettingsOnboardingManager::onboardingOperationDidCompleteAppUpdateWithError(TELOnboardingOperation&,
                                                                                  const OptionalError& error) {
  finishNetworkingSession();
  if (error) {
    consoleLog("[Telemetry] unable to complete application update: " + describe(*error));
    return;
  }
  {
    std::lock_guard lock(mMutex);
    mOnboardingOperation = nullptr;
  }
  debugLog("[Telemetry] completed application update");
}

}  // namespace telemetry
