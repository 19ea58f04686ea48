#pragma once
// Downloads the application's settings and puts the body in place of the settings file.
// The old file is replaced atomically: a failed download or a failed write leaves it as it
// was.

#include "sdk/net/tel_network_operation.h"

#include <memory>
#include <optional>
#include <string>

namespace telemetry {

class TELNetworkClient;
class TELDownloadAndSaveSettingsOperation;

class TELDownloadAndSaveSettingsOperationDelegate {
 public:
  virtual ~TELDownloadAndSaveSettingsOperationDelegate() = default;
  virtual void operationDidDownloadAndSaveSettingsWithError(TELDownloadAndSaveSettingsOperation& operation,
                                                            const OptionalError& error) = 0;
};

class TELDownloadAndSaveSettingsOperation : public TELNetworkOperation {
 public:
  static constexpr const char* kFileErrorDomain = "TELSettingsFileError";
  static constexpr unsigned kRetryLimit = 1;
  // Larger bodies are refused rather than read whole.
  static constexpr size_t kMaxSettingsBytes = 4u << 20;

  // Nothing without an API key. The advertising token is kept only when the application
  // lets device identifiers be collected.
  static std::shared_ptr<TELDownloadAndSaveSettingsOperation> create(
      const std::optional<std::string>& APIKey, std::weak_ptr<TELDownloadAndSaveSettingsOperationDelegate> delegate,
      std::optional<std::string> settingsURL, std::string settingsDirectoryPath, std::string settingsFilePath,
      std::string installIdentifier, const std::optional<std::string>& advertisingToken,
      std::weak_ptr<TELNetworkClient> networkClient);

  void main() override;
  URLRequest mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(const std::string& url) const override;

  OptionalError error() const;
  const std::optional<std::string>& settingsURL() const { return mSettingsURL; }
  const std::optional<std::string>& advertisingToken() const { return mAdvertisingToken; }

 private:
  TELDownloadAndSaveSettingsOperation(std::string APIKey) : TELNetworkOperation(std::move(APIKey), "TELDownloadAndSaveSettingsOperation") {}
  // Replaces the settings file with the downloaded one; the error when that fails.
  OptionalError saveDownloadedFile(const std::string& location) const;
  void finish(const OptionalError& error);

  std::weak_ptr<TELDownloadAndSaveSettingsOperationDelegate> mDelegate;
  std::optional<std::string> mSettingsURL;
  std::string mSettingsDirectoryPath;
  std::string mSettingsFilePath;
  std::string mInstallIdentifier;
  std::optional<std::string> mAdvertisingToken;
  std::weak_ptr<TELNetworkClient> mNetworkClient;
  mutable std::mutex mErrorMutex;
  OptionalError mError;
};

}  // namespace telemetry
