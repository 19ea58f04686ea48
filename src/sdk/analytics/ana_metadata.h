#pragma once
// The session and host facts that open every event log, gathered once per analytics start
// and shared, read-only, by every write of that run. The service relies on the exact keys and
// fixed values of the dictionary.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sdk/analytics/ana_metadata_serializable.h"

namespace telemetry {

class Telemetry;

class ANAMetadata final : public ANAMetadataSerializable {
 public:
  // What the SDK object knows of this installation and run.
  struct SDKFacts {
    std::optional<std::string> APIKey;
    std::optional<std::string> executionIdentifier;
    std::optional<std::string> installationId;
    std::optional<std::string> instanceIdentifier;
  };

  // Reads the SDK's facts and the host's; a configuration the SDK refuses gives no API key.
  static std::shared_ptr<ANAMetadata> initWithTelemetry(Telemetry& sdk, const std::optional<std::string>& betaToken);
  ANAMetadata(const SDKFacts& facts, const std::optional<std::string>& betaToken);

  // "2:<token>" gives the token; anything else nothing.
  static std::optional<std::string> unwrapBetaToken(const std::optional<std::string>& token);

  std::string eventName() const override { return "metadata"; }
  std::optional<nlohmann::ordered_json> dictionaryRepresentationWithStartTime(uint64_t startTime) const override;
  std::optional<std::string> serializedDictionaryWithStartTime(uint64_t startTime) const override;

  bool isJailbroken() const { return false; }
  uint32_t numberOfCores() const { return mNumberOfCores; }
  const std::optional<std::string>& APIKey() const { return mFacts.APIKey; }
  const std::optional<std::string>& betaToken() const { return mBetaToken; }
  const std::optional<std::string>& executionIdentifier() const { return mFacts.executionIdentifier; }
  const std::optional<std::string>& installationId() const { return mFacts.installationId; }
  const std::optional<std::string>& instanceIdentifier() const { return mFacts.instanceIdentifier; }
  const std::optional<std::string>& buildVersion() const { return mBuildVersion; }
  const std::optional<std::string>& bundleIdentifier() const { return mBundleIdentifier; }
  const std::optional<std::string>& displayVersion() const { return mDisplayVersion; }
  const std::optional<std::string>& hostModel() const { return mHostModel; }
  const std::string& locale() const { return mLocale; }
  const std::optional<std::string>& OSBuildVersion() const { return mOSBuildVersion; }
  const std::string& OSDisplayVersion() const { return mOSDisplayVersion; }
  const std::string& platform() const { return mPlatform; }
  uint32_t platformCode() const { return 0; }

  static bool advertisingSupportFrameworkLinked() { return false; }
  static bool trackingForAdvertisingEnabled() { return false; }
  static std::optional<std::string> identifierForAdvertising() { return std::nullopt; }

 private:
  const SDKFacts mFacts;
  std::optional<std::string> mBetaToken;
  uint32_t mNumberOfCores = 0;
  std::optional<std::string> mBuildVersion;
  std::optional<std::string> mBundleIdentifier;
  std::optional<std::string> mDisplayVersion;
  std::optional<std::string> mHostModel;
  std::string mLocale;
  std::optional<std::string> mOSBuildVersion;
  std::string mOSDisplayVersion;
  std::string mPlatform;

  mutable std::mutex mCacheMutex;  // guards the two fields below; events are made on any thread
  mutable uint64_t mCachedStartTime = 0;
  mutable std::string mCachedText;  // empty until the first call
};

}  // namespace telemetry
