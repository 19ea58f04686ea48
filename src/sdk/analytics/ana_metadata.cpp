#include "sdk/analytics/ana_metadata.h"

#include <unistd.h>

#include <exception>

#include "sdk/analytics/ana_logger.h"
#include "sdk/core/json_text.h"
#include "sdk/identity/application_identity.h"
#include "sdk/identity/host_identity.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/net/tel_network_operation.h"
#include "sdk/startup/telemetry.h"

namespace telemetry {

std::shared_ptr<ANAMetadata> ANAMetadata::initWithTelemetry(Telemetry& sdk,
                                                            const std::optional<std::string>& betaToken) {
  SDKFacts facts;
  try {
    facts.APIKey = sdk.APIKey();
  } catch (const std::exception& e) {
    ANALogger::sharedLogger().log("No API key for the metadata: %s", e.what());
  }
  facts.executionIdentifier = sdk.executionIdentifier();
  facts.installationId = sdk.installID();
  facts.instanceIdentifier = sdk.instanceIdentifier();
  return std::make_shared<ANAMetadata>(facts, betaToken);
}

ANAMetadata::ANAMetadata(const SDKFacts& facts, const std::optional<std::string>& betaToken)
    : mFacts(facts),
      mBetaToken(unwrapBetaToken(betaToken)),
      mBuildVersion(TELApplicationBuildVersion()),
      mBundleIdentifier(MainBundle::shared().bundleIdentifier()),
      mDisplayVersion(TELApplicationDisplayVersion()),
      mHostModel(TELHostModel()),
      mLocale(TELNetworkOperation::localeIdentifier()),
      mOSBuildVersion(TELHostOSBuildVersion()),
      mOSDisplayVersion(TELHostOSDisplayVersion()),
      mPlatform(TELHostPlatformName()) {
  long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  mNumberOfCores = cores > 0 ? static_cast<uint32_t>(cores) : 0;
}

std::optional<std::string> ANAMetadata::unwrapBetaToken(const std::optional<std::string>& token) {
  if (!token) return std::nullopt;
  size_t colon = token->find(':');
  if (colon == std::string::npos || token->find(':', colon + 1) != std::string::npos) return std::nullopt;
  if (token->compare(0, colon, "2") != 0) return std::nullopt;
  return token->substr(colon + 1);
}

std::optional<nlohmann::ordered_json> ANAMetadata::dictionaryRepresentationWithStartTime(uint64_t startTime) const {
  nlohmann::ordered_json d = nlohmann::ordered_json::object();
  const auto put = [&](const char* key, const std::optional<std::string>& value) {
    if (value) d[key] = *value;
  };
  d["generator"] = "Analytics Mac SDK/1.3.2";
  put("api_key", mFacts.APIKey);
  put("session_id", mFacts.executionIdentifier);
  d["started_at"] = startTime;
  put("advertising_id", identifierForAdvertising());
  put("beta_tester_token", mBetaToken);
  d["links_ad_support"] = advertisingSupportFrameworkLinked();
  d["advertising_tracking_enabled"] = trackingForAdvertisingEnabled();
  put("install_id", mFacts.installationId);
  put("model", mHostModel);
  put("machine", mHostModel);
  d["locale"] = mLocale;
  put("os_build", mOSBuildVersion);
  d["os_version"] = mOSDisplayVersion;
  d["platform"] = platform();
  d["platform_code"] = platformCode();
  d["cores"] = mNumberOfCores;
  d["jailbroken"] = isJailbroken();
  put("bundle_id", mBundleIdentifier);
  put("bundle_version", mBuildVersion);
  put("bundle_short_version", mDisplayVersion);
  put("instance_id", mFacts.instanceIdentifier);
  return d;
}

std::optional<std::string> ANAMetadata::serializedDictionaryWithStartTime(uint64_t startTime) const {
  {
    std::lock_guard lock(mCacheMutex);
    if (!mCachedText.empty() && mCachedStartTime == startTime) return mCachedText;
  }
  std::string text = jsonText(*dictionaryRepresentationWithStartTime(startTime));
  std::lock_guard lock(mCacheMutex);
  mCachedStartTime = startTime;
  mCachedText = text;
  return text;
}

}  // namespace telemetry
