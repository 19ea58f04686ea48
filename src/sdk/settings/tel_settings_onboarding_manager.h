#pragma once
// Once per run: downloads the settings, onboards the application when they ask for it, and
// announces "TELSettingsAvailableNotification". Every step after the first runs on the
// network client's delegate queue, one at a time; after the session is finished nothing
// more is sent in this run.

#include "sdk/onboarding/tel_onboarding_operation.h"
#include "sdk/session/certificate.h"
#include "sdk/settings/tel_download_and_save_settings_operation.h"
#include "sdk/settings/tel_settings.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace telemetry {

class TELApplicationIdentiferModel;
class TELNetworkClient;

inline constexpr const char* kTELSettingsAvailableNotification = "TELSettingsAvailableNotification";

class TELSettingsOnboardingManager : public TELDownloadAndSaveSettingsOperationDelegate,
                                     public TELOnboardingOperationDelegate,
                                     public std::enable_shared_from_this<TELSettingsOnboardingManager> {
 public:
  using KitVersions = std::map<std::string, std::string>;
  using AdvertisingTokenSource = std::function<std::optional<std::string>()>;

  using CertificateSource = std::function<CertificateList()>;

  // The network client trusts only `pinnedCertificates`. It is made at its first request, so
  // reading the certificates waits until then.
  static std::shared_ptr<TELSettingsOnboardingManager> create(
      std::shared_ptr<TELApplicationIdentiferModel> appIdentifierModel, const CertificateList& pinnedCertificates);
  static std::shared_ptr<TELSettingsOnboardingManager> create(
      std::shared_ptr<TELApplicationIdentiferModel> appIdentifierModel, CertificateSource pinnedCertificates);
  ~TELSettingsOnboardingManager() override;

  void beginSettingsAndOnboardingOperationsWithAPIKey(const std::optional<std::string>& APIKey,
                                                      const KitVersions& kitVersionsByKitBundleIdentifier);
  void beginSettingsDownload();
  void beginOnboarding(bool create, const std::string& endpointString);

  std::shared_ptr<TELSettings> settingsModel();
  // <caches>/<host kit identifier>.data/<bundle identifier>
  static std::string settingsDirectoryPath();
  static std::string settingsPath();
  std::optional<std::string> settingsURL() const;
  static std::optional<std::string> settingsURLForEndpoint(const std::string& endpoint,
                                                           const std::optional<std::string>& appInstanceIdentifier,
                                                           const std::optional<std::string>& appIconHash);
  std::optional<std::string> appIconHash() const;
  bool hasAttemptedAppConfigure() const;

  // Where the settings request finds the advertising token (the SDK object's).
  void setAdvertisingTokenSource(AdvertisingTokenSource source);

  void finishNetworkingSession();
  void postSettingsDownloadCompletedNotification();

  // Made on first use.
  std::shared_ptr<TELNetworkClient> networkClient();

  void operationDidDownloadAndSaveSettingsWithError(TELDownloadAndSaveSettingsOperation& operation,
                                                    const OptionalError& error) override;
  void onboardingOperationDidCompleteAppCreationWithError(TELOnboardingOperation& operation,
                                                          const OptionalError& error) override;
  void onboardingOperationDidCompleteAppUpdateWithError(TELOnboardingOperation& operation,
                                                        const OptionalError& error) override;

 private:
  TELSettingsOnboardingManager() = default;
  // Marks the run as having tried onboarding, then sends the request.
  void startOnboardingOnce(bool create);
  // The client if it was made, else none.
  std::shared_ptr<TELNetworkClient> madeNetworkClient();

  mutable std::mutex mMutex;  // guards the values below
  bool mHasAttemptedAppConfigure = false;
  std::shared_ptr<TELApplicationIdentiferModel> mAppIdentifierModel;
  std::shared_ptr<TELSettings> mSettingsModel;
  std::shared_ptr<TELOnboardingOperation> mOnboardingOperation;
  std::optional<std::string> mAPIKey;
  KitVersions mKitVersionsByKitBundleIdentifier;
  AdvertisingTokenSource mAdvertisingTokenSource;
  std::mutex mClientMutex;  // guards the two below
  CertificateSource mPinnedCertificates;
  std::shared_ptr<TELNetworkClient> mNetworkClient;
};

}  // namespace telemetry
