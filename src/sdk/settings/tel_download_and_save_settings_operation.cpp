#include "sdk/settings/tel_download_and_save_settings_operation.h"

#include "sdk/client/tel_network_client.h"
#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/identity/application_identity.h"
#include "sdk/identity/host_identity.h"
#include "sdk/session/url_errors.h"

#include "platform/net/curl_library.h"

namespace telemetry {

namespace {

// Why the download does not start. Without libcurl the builder makes no URL, and the URL is not
// at fault: the error is the one every transfer ends with then.
Error notStarted(bool hasURL) {
  if (hasURL) return makeURLError(kURLErrorCancelled, "The network session has ended");
  std::string unavailable;
  if (!platform::curlLibrary(&unavailable)) return makeURLError(kURLErrorUnknown, unavailable);
  return makeURLError(kURLErrorBadURL, "The settings URL is not valid");
}

}  // namespace

std::shared_ptr<TELDownloadAndSaveSettingsOperation> TELDownloadAndSaveSettingsOperation::create(
    const std::optional<std::string>& APIKey, std::weak_ptr<TELDownloadAndSaveSettingsOperationDelegate> delegate,
    std::optional<std::string> settingsURL, std::string settingsDirectoryPath, std::string settingsFilePath,
    std::string installIdentifier, const std::optional<std::string>& advertisingToken,
    std::weak_ptr<TELNetworkClient> networkClient) {
  if (!APIKey) return nullptr;
  std::shared_ptr<TELDownloadAndSaveSettingsOperation> op(new TELDownloadAndSaveSettingsOperation(*APIKey));
  op->mDelegate = std::move(delegate);
  op->mSettingsURL = std::move(settingsURL);
  op->mSettingsDirectoryPath = std::move(settingsDirectoryPath);
  op->mSettingsFilePath = std::move(settingsFilePath);
  op->mInstallIdentifier = std::move(installIdentifier);
  op->mNetworkClient = std::move(networkClient);
  if (TELApplicationCollectsDeviceIdentifiers())
    op->mAdvertisingToken = advertisingToken;
  else
    debugLog("[Telemetry] Suppressing device identifier reporting");
  return op;
}

URLRequest TELDownloadAndSaveSettingsOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(
    const std::string& url) const {
  URLRequest request = TELNetworkOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(url);
  request.setHTTPMethod("GET");
  request.setValue("application/json", "Accept");
  if (!mInstallIdentifier.empty()) request.setValue(mInstallIdentifier, "X-CrashKit-Installation-ID");
  if (auto model = TELHostModel()) request.setValue(*model, "X-CrashKit-Device-Model");
  if (auto build = TELHostOSBuildVersion()) request.setValue(*build, "X-CrashKit-OS-Build-Version");
  request.setValue(TELHostOSDisplayVersion(), "X-CrashKit-OS-Display-Version");
  request.setValue(kHostKitDisplayVersion, "X-CrashKit-API-Client-Version");
  if (mAdvertisingToken && !mAdvertisingToken->empty())
    request.setValue(*mAdvertisingToken, "X-CrashKit-Advertising-Token");
  return request;
}

OptionalError TELDownloadAndSaveSettingsOperation::error() const {
  std::lock_guard lock(mErrorMutex);
  return mError;
}

void TELDownloadAndSaveSettingsOperation::main() {
  auto client = mNetworkClient.lock();
  if (!mSettingsURL || !client) {
    finish(notStarted(mSettingsURL.has_value()));
    return;
  }
  auto self = std::static_pointer_cast<TELDownloadAndSaveSettingsOperation>(shared_from_this());
  client->startDownloadTaskWithRequest(
      mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(*mSettingsURL), kRetryLimit,
      [self](const std::string& location, const std::optional<URLResponse>&, const OptionalError& error) {
        if (error) {
          self->finish(error);
          return;
        }
        OptionalError saveError = self->saveDownloadedFile(location);
        if (saveError) consoleLog("[Telemetry] Unable to complete settings download " + saveError->localizedDescription());
        self->finish(saveError);
      });
}

OptionalError TELDownloadAndSaveSettingsOperation::saveDownloadedFile(const std::string& location) const {
  std::string failure;
  if (!fileio::createDirectories(mSettingsDirectoryPath, &failure))
    return Error{kFileErrorDomain, 1, "The settings folder could not be created: " + failure, {}};
  auto body = fileio::readFile(location, kMaxSettingsBytes);
  if (!body) return Error{kFileErrorDomain, 2, "The downloaded settings could not be read from " + location, {}};
  if (!fileio::writeFileAtomically(mSettingsFilePath, body->data(), body->size(), &failure))
    return Error{kFileErrorDomain, 3, "The settings file could not be replaced: " + failure, {}};
  return std::nullopt;
}

void TELDownloadAndSaveSettingsOperation::finish(const OptionalError& error) {
  {
    std::lock_guard lock(mErrorMutex);
    mError = error;
  }
  if (auto delegate = mDelegate.lock()) delegate->operationDidDownloadAndSaveSettingsWithError(*this, error);
  finishWithError(error);
}

}  // namespace telemetry
