#include "crash/crk_beta_controller.h"

#include <cmath>

#include "crash/crk_context.h"
#include "platform/core/notification_center.h"
#include "sdk/analytics/ana_application.h"
#include "sdk/client/tel_url_builder.h"
#include "sdk/core/console.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/identity/application_identity.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/net/tel_network_operation.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "sdk/session/url_errors.h"
#include "sdk/settings/tel_settings_onboarding_manager.h"
#include "sdk/startup/telemetry.h"

namespace telemetry {

namespace {

std::mutex gProviderMutex;
CRKBetaController::TokenProvider gProvider;  // none: no token on this system

void betaLog(const std::string& line) {
  debugLog("[CrashKit:Beta] " + line);
}

std::string localized(const std::string& key, const std::string& fallback) {
  const auto table = CRKSettings::localizedStrings();
  const auto it = table.find(key);
  return it == table.end() ? fallback : it->second;
}

}  // namespace

std::optional<CRKBetaUpdate> CRKBetaUpdate::betaUpdateWithDictionary(const nlohmann::json& dictionary,
                                                                     OptionalError* error) {
  const auto url = dictionary.is_object() ? dictionary.find("url") : dictionary.end();
  if (url == dictionary.end() || !url->is_string() || url->get<std::string>().find("://") == std::string::npos) {
    if (error) *error = Error{kURLErrorDomain, -1017, {}, nlohmann::json::object()};
    return std::nullopt;
  }
  CRKBetaUpdate update{url->get<std::string>(), std::nullopt};
  const auto version = dictionary.find("version_string");
  if (version != dictionary.end() && version->is_string()) update.version = version->get<std::string>();
  return update;
}

std::string CRKBetaUpdate::promptTitle() const {
  return localized("CrashKitDistributionPromptTitle", "New Build Available");
}
std::string CRKBetaUpdate::promptMessage() const {
  std::string text = localized("CrashKitDistributionPromptMessage", "A new version of %@ is available for testing.");
  const auto at = text.find("%@");
  if (at != std::string::npos) text.replace(at, 2, TELApplicationName().value_or(""));
  return text;
}
std::string CRKBetaUpdate::cancelLabel() const { return localized("CrashKitDistributionPromptCancelTitle", "Cancel"); }
std::string CRKBetaUpdate::installLabel() const {
  return localized("CrashKitDistributionPromptInstallTitle", "Install");
}

bool CRKBetaController::isBetaSupported() {
  return !ANAApplication::hostApplication().isExtension() && TELApplicationInstallSource() == 3;
}

CRKBetaController::TokenProvider CRKBetaController::setTokenProviderForTesting(TokenProvider provider) {
  std::lock_guard lock(gProviderMutex);
  std::swap(gProvider, provider);
  return provider;
}

std::optional<std::string> CRKBetaController::CRKBetaTokenForApplication() {
  TokenProvider provider;
  {
    std::lock_guard lock(gProviderMutex);
    provider = gProvider;
  }
  return provider ? provider() : std::nullopt;
}

std::shared_ptr<CRKBetaController> CRKBetaController::initWithDelegate(std::weak_ptr<CRKBetaControllerDelegate> delegate,
                                                                      Environment environment) {
  return std::shared_ptr<CRKBetaController>(new CRKBetaController(std::move(delegate), environment));
}

CRKBetaController::CRKBetaController(std::weak_ptr<CRKBetaControllerDelegate> delegate, Environment environment)
    : mDelegate(std::move(delegate)), mEnvironment(environment) {
  mQueue = std::make_shared<platform::SerialQueue>(std::string(kKitIdentifierPrefix) + ".crashkit.mac.beta");
  mNetworkClient = TELNetworkClient::createWithQueue(nullptr, TELPinnedCertificates());
  if (!mNetworkClient) betaLog("Failed to configure networking");
}

CRKBetaController::~CRKBetaController() {
  platform::NotificationCenter::defaultCenter().removeObserver(this);
  if (mNetworkClient) mNetworkClient->invalidateAndCancel();
}

std::optional<std::string> CRKBetaController::betaToken() {
  std::lock_guard lock(mMutex);
  if (!mBetaToken) mBetaToken = CRKBetaTokenForApplication();
  return mBetaToken;
}

bool CRKBetaController::start() {
  if (!betaToken()) return false;
  std::weak_ptr<CRKBetaController> weak = weak_from_this();
  platform::NotificationCenter::defaultCenter().addObserver(
      this, kTELSettingsAvailableNotification, nullptr, [weak](const platform::Notification&) {
        if (auto self = weak.lock()) self->checkForUpdate();
      });
  return true;
}

std::shared_ptr<CRKSettings> CRKBetaController::settings() {
  auto delegate = mDelegate.lock();
  return delegate ? delegate->settingsForBetaController(*this) : nullptr;
}

platform::Queue& CRKBetaController::mainQueue() const {
  return mEnvironment.mainQueue ? *mEnvironment.mainQueue : platform::mainQueue();
}

bool CRKBetaController::shouldGetUpdates() const {
  const bool supported = mEnvironment.betaSupported.value_or(isBetaSupported());
  std::lock_guard lock(mMutex);
  return supported && !mChecksSuspended;
}

void CRKBetaController::checkForUpdate() {
  std::weak_ptr<CRKBetaController> weak = weak_from_this();
  mQueue->async([weak] {
    auto self = weak.lock();
    if (!self || !self->shouldGetUpdates() || self->retrying()) return;
    betaLog("Loading beta update");
    self->loadUpdate();
  });
}

std::string CRKBetaController::betaUpdateURL() {
  auto s = settings();
  const std::string endpoint = s ? s->betaEndpoint() : std::string();
  if (endpoint.empty()) return {};
  TELURLBuilder builder = TELURLBuilder::URLWithBase(endpoint);
  builder.appendComponent("/spi/v2/platforms/");
  builder.appendComponent(kPlatformName);
  builder.appendComponent("/apps/");
  builder.appendComponent(TELApplicationEscapedBundleIdentifier().value_or(""));
  builder.appendComponent("/beta_update_check");
  builder.appendValue(TELApplicationBuildVersion(), "build_version");
  builder.appendValue(TELApplicationDisplayVersion(), "display_version");
  builder.appendValue(mEnvironment.instanceIdentifier ? mEnvironment.instanceIdentifier
                                                      : Telemetry::sharedSDK().instanceIdentifier(),
                      "instance");
  builder.appendValue(std::to_string(TELApplicationInstallSource()), "source");
  return builder.URL().value_or("");
}

void CRKBetaController::loadUpdate() {
  const std::string url = betaUpdateURL();
  if (url.empty()) {
    betaLog("No beta endpoint; no update check");
    return;
  }
  betaLog("Beta Update-Check url string: '" + url + "'");
  URLRequest request(url, 10.0, URLRequest::CachePolicy::ReloadIgnoringLocalCacheData);
  const std::string locale = TELNetworkOperation::localeIdentifier();
  auto delegate = mDelegate.lock();
  request.setValue("CrashKit Mac SDK/3.8.2", "User-Agent");
  request.setValue("application/json", "Accept");
  request.setValue("utf-8", "Accept-Charset");
  request.setValue(locale, "Accept-Language");
  request.setValue(locale, "Content-Language");
  request.setValue(kDeveloperToken, "X-CrashKit-Developer-Token");
  request.setValue(kCRKBundleIdentifier, "X-CrashKit-API-Client-Id");
  request.setValue("3.8.2", "X-CrashKit-API-Client-Display-Version");
  request.setValue("118", "X-CrashKit-API-Client-Build-Version");
  request.setValue(delegate ? delegate->APIKeyForBetaController(*this).value_or("") : "", "X-CrashKit-API-Key");
  request.setValue(betaToken().value_or(""), "X-CrashKit-Beta-Token");
  {
    std::lock_guard lock(mMutex);
    if (mRetrying) return;
    mRetrying = true;
  }
  if (!mNetworkClient) {
    std::lock_guard lock(mMutex);
    mRetrying = false;
    return;
  }
  std::weak_ptr<CRKBetaController> weak = weak_from_this();
  mNetworkClient->startDataTaskWithRequest(request, 10, [weak](const auto& data, const auto&, const auto& error) {
    if (auto self = weak.lock()) self->mQueue->async([self, data, error] { self->handleAnswer(data, error); });
  });
}

void CRKBetaController::handleAnswer(const std::vector<std::uint8_t>& data, const OptionalError& error) {
  {
    // Cleared on every outcome, so a failed load never stops later checks.
    std::lock_guard lock(mMutex);
    mRetrying = false;
  }
  if (error || data.empty()) {
    betaLog("Failed to load update '" + (error ? error->localizedDescription() : std::string("(null)")) + "'");
    return;
  }
  betaLog("Beta update loaded");
  temporarilySuspendChecks();
  const nlohmann::json body = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
  if (body.is_discarded()) {
    betaLog("Unable to deserialize beta update data: the answer is not JSON");
    return;
  }
  OptionalError parseError;
  auto update = CRKBetaUpdate::betaUpdateWithDictionary(body, &parseError);
  if (!update) {
    betaLog("Unable to read beta update data: " + parseError->localizedDescription());
    betaLog("Beta update url is invalid");
    return;
  }
  std::weak_ptr<CRKBetaController> weak = weak_from_this();
  mainQueue().async([weak, update] {
    if (auto self = weak.lock()) {
      std::lock_guard lock(self->mMutex);
      self->mActiveUpdate = update;
    }
  });
}

void CRKBetaController::temporarilySuspendChecks() {
  auto s = settings();
  const nlohmann::json duration = s ? s->betaSuspendDuration() : nlohmann::json();
  if (!duration.is_number()) return;
  const double seconds = duration.get<double>();
  if (!std::isfinite(seconds)) return;
  std::weak_ptr<CRKBetaController> weak = weak_from_this();
  mainQueue().async([weak, seconds] {
    auto self = weak.lock();
    if (!self) return;
    std::uint64_t token;
    {
      std::lock_guard lock(self->mMutex);
      self->mChecksSuspended = true;
      token = ++self->mSuspension;
    }
    self->mainQueue().afterSeconds(std::max(0.0, seconds), [weak, token] {
      auto me = weak.lock();
      if (!me) return;
      std::lock_guard lock(me->mMutex);
      if (me->mSuspension == token) me->mChecksSuspended = false;
    });
  });
}

std::optional<CRKBetaUpdate> CRKBetaController::activeUpdate() const {
  std::lock_guard lock(mMutex);
  return mActiveUpdate;
}
bool CRKBetaController::checksSuspended() const {
  std::lock_guard lock(mMutex);
  return mChecksSuspended;
}
bool CRKBetaController::retrying() const {
  std::lock_guard lock(mMutex);
  return mRetrying;
}
void CRKBetaController::drain() { mQueue->drain(); }

}  // namespace telemetry
