#pragma once
// Registers the application with the vendor's service (create) or refreshes its record
// there (update): one multipart form describing the application, its kits, its executable's
// slices and its icon.

#include "sdk/net/tel_network_operation.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace telemetry {

class TELApplicationIdentiferModel;
class TELNetworkClient;
class TELOnboardingOperation;

inline constexpr const char* kTELSDKOnboardingErrorDomain = "TELSDKOnboardingErrorDomain";

class TELOnboardingOperationDelegate {
 public:
  virtual ~TELOnboardingOperationDelegate() = default;
  virtual void onboardingOperationDidCompleteAppUpdateWithError(TELOnboardingOperation& operation,
                                                                const OptionalError& error) = 0;
  virtual void onboardingOperationDidCompleteAppCreationWithError(TELOnboardingOperation& operation,
                                                                  const OptionalError& error) = 0;
};

class TELOnboardingOperation : public TELNetworkOperation {
 public:
  using KitVersions = std::map<std::string, std::string>;
  static constexpr unsigned kCreateRetryLimit = 10;
  static constexpr unsigned kUpdateRetryLimit = 1;

  // Nothing without an API key.
  static std::shared_ptr<TELOnboardingOperation> create(std::weak_ptr<TELOnboardingOperationDelegate> delegate,
                                                        bool shouldCreate, const std::optional<std::string>& APIKey,
                                                        KitVersions kitVersionsByKitBundleIdentifier,
                                                        std::shared_ptr<TELApplicationIdentiferModel> appIdentifierModel,
                                                        std::string endpointString,
                                                        std::weak_ptr<TELNetworkClient> networkClient);

  void main() override;
  void beginAppConfigure();

  // "POST" to the create URL or "PUT" to the update URL, with the default headers.
  URLRequest onboardingRequestForAppCreate(bool create) const;
  std::string appCreateURL() const;
  std::string appUpdateURL() const;
  // The form, encoded whole; its content type and length are the encoder's.
  struct Form {
    std::vector<std::uint8_t> body;
    std::string contentType;
    std::string contentLength;
  };
  std::optional<Form> encodeForm() const;

  bool shouldCreate() const { return mShouldCreate; }
  OptionalError error() const;
  static Error errorForCode(std::int64_t code, nlohmann::json userInfo = nlohmann::json::object());

 private:
  TELOnboardingOperation(std::string APIKey) : TELNetworkOperation(std::move(APIKey), "TELOnboardingOperation") {}
  void finish(const OptionalError& error, bool tellDelegate);

  std::weak_ptr<TELOnboardingOperationDelegate> mDelegate;
  bool mShouldCreate = false;
  KitVersions mKitVersionsByKitBundleIdentifier;
  std::shared_ptr<TELApplicationIdentiferModel> mAppIdentifierModel;
  std::string mAppEndpoint;
  std::weak_ptr<TELNetworkClient> mNetworkClient;
  mutable std::mutex mErrorMutex;
  OptionalError mError;
};

}  // namespace telemetry
