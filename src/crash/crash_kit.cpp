#include "crash/crash_kit.h"

#include <cstdio>
#include <sstream>

#include "crash/crk_application.h"
#include "crash/crk_context.h"
#include "crash/crk_early_capture.h"
#include "crash/crk_exception.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_settings.h"
#include "crash/crk_user_logging.h"
#include "platform/core/dispatch.h"
#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/property_list.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/host_identity.h"
#include "sdk/startup/telemetry.h"

namespace telemetry {

namespace {

class CrashKitClass final : public TELKitClass {
 public:
  CrashKitClass() : TELKitClass("CrashKit") {}
  bool conformsToTELKit() const override { return true; }
  std::string bundleIdentifier() const override { return std::string(kKitIdentifierPrefix) + ".crashkit.mac"; }
  std::string kitDisplayVersion() const override { return CrashKit::kDisplayVersion; }
  std::optional<std::string> kitBuildVersion() const override { return std::string(CrashKit::kBuildVersion); }
  bool respondsToInitializeIfNeeded() const override { return true; }
  void initializeIfNeeded() const override { CrashKit::initializeIfNeeded(); }
};

// Registered at load, so the core and the analytics kit find the kit by name.
const CrashKitClass gCrashKitClass;

std::string internalKey(const char* suffix) { return std::string(kSDKIdentifierPrefix) + suffix; }

void recordInternal(const char* suffix, const std::optional<std::string>& value) {
  CRKUserLoggingRecordInternalKeyValue(internalKey(suffix).c_str(), value);
}

// A float as a number object describes itself: up to 7 significant digits.
std::string floatDescription(float value) {
  std::ostringstream text;
  text.precision(7);
  text << value;
  return text.str();
}

}  // namespace

const TELKitClass& CrashKit::kit() { return gCrashKitClass; }

CrashKit& CrashKit::sharedInstance() {
  // Held for the process's life: controllers keep it only weakly as their delegate.
  static std::shared_ptr<CrashKit> shared = std::make_shared<CrashKit>(PrivateTag{});
  return *shared;
}

void CrashKit::initializeIfNeeded() { sharedInstance().start(); }

bool CrashKit::captureCrashesBeforeStart(void (*atHandOver)()) {
  return CRKEarlyCaptureInstall(CRKFileManager::defaultRootPath(), atHandOver);
}

void CrashKit::abandonCaptureBeforeStart() { CRKEarlyCaptureAbandon(); }

CrashKit& CrashKit::startWithAPIKey(const std::string& APIKey, std::shared_ptr<CrashKitDelegate> delegate) {
  CrashKit& kit = sharedInstance();
  if (delegate) kit.setDelegate(std::move(delegate));
  Telemetry::sharedSDK().setAPIKey(APIKey);
  Telemetry::with({kit});
  return kit;
}

CrashKit& CrashKit::startWithAPIKeyAfterDelay(const std::string& APIKey, double /*delay*/) {
  consoleLog("[CrashKit] Warning, startWithAPIKey:afterDelay: is deprecated.");
  return startWithAPIKey(APIKey);
}

CrashKit& CrashKit::startWithAPIKeyDelegateAfterDelay(const std::string& APIKey,
                                                      std::shared_ptr<CrashKitDelegate> delegate, double /*delay*/) {
  consoleLog("[CrashKit] Warning, startWithAPIKey:delegate:afterDelay: is deprecated.");
  return startWithAPIKey(APIKey, std::move(delegate));
}

std::string CrashKit::bundleIdentifier() const { return gCrashKitClass.bundleIdentifier(); }

void CrashKit::start() {
  std::call_once(mStarted, [this] {
    const uint64_t mark = CRKProfileMark();
    systemLog(strformat("[CrashKit] Version %s (%s)", kDisplayVersion, kBuildVersion));
    if (Telemetry::sharedSDK().debug())
      consoleLog(strformat("[CrashKit] Running on %s, %s (%s)", TELHostModel().value_or("").c_str(),
                           TELHostOSDisplayVersion().c_str(), TELHostOSBuildVersion().value_or("").c_str()));
    std::weak_ptr<CrashKit> weak = weak_from_this();
    platform::mainQueue().async([weak] {
      if (auto self = weak.lock()) self->warnDelegateAboutMethods();
    });
    auto fileManager = std::make_shared<CRKFileManager>();

    std::shared_ptr<CRKBetaController> beta;
    if (CRKBetaController::isBetaSupported()) {
      beta = CRKBetaController::initWithDelegate(weak, {});
      if (!beta->start()) consoleLog("[CrashKit] Beta could not be initialized");
    }
    auto controller = CRKCrashReportingController::create(fileManager, weak);
    {
      std::lock_guard lock(mMutex);
      mBetaController = beta;
      mCrashReportingController = controller;
    }
    const std::optional<std::string> betaToken = beta ? beta->betaToken() : std::nullopt;
    if (!controller->startWithProfilingMark(mark, betaToken))
      consoleLog("[CrashKit] Crash reporting could not be initialized");
    Analytics::sharedInstance().startWithBetaToken(betaToken);
  });
}

bool CrashKit::isCrashKitStarted() const { return crashReportingController() != nullptr; }

std::shared_ptr<CRKCrashReportingController> CrashKit::crashReportingController() const {
  std::lock_guard lock(mMutex);
  return mCrashReportingController;
}

std::shared_ptr<CRKBetaController> CrashKit::betaController() const {
  std::lock_guard lock(mMutex);
  return mBetaController;
}

// State and identity.

std::optional<std::string> CrashKit::APIKey() { return Telemetry::sharedSDK().APIKey(); }

bool CrashKit::isFirstInstall() { return Telemetry::sharedSDK().isFirstInstall(); }

std::string CrashKit::installID() {
  const std::string legacy =
      paths::join(paths::join(paths::applicationSupportDirectory(), kSDKIdentifierPrefix), "CRKUserDefaults.plist");
  if (fileio::kindOf(legacy) == fileio::FileKind::Regular) {
    if (auto values = plist::readFile(legacy); values && values->is_object()) {
      auto value = values->find(internalKey(".iuuid"));
      if (value != values->end() && value->is_string() && !value->get<std::string>().empty())
        return value->get<std::string>();
    }
  }
  return Telemetry::sharedSDK().installID();
}

void CrashKit::setDebugMode(bool debugMode) {
  Telemetry::sharedSDK().setDebug(debugMode);
  if (isCrashKitStarted()) consoleLog("[CrashKit] Warning, consider enabling debug mode before starting CrashKit");
}

bool CrashKit::debugMode() const { return Telemetry::sharedSDK().debug(); }

void CrashKit::setDelegate(std::shared_ptr<CrashKitDelegate> delegate) {
  {
    std::lock_guard lock(mMutex);
    // A replaced delegate stays alive: a crash on another thread may be reading it.
    if (mDelegate) mRetiredDelegates.push_back(mDelegate);
    mDelegate = delegate;
    mCrashTimeDelegate.store(delegate.get());
  }
  if (isCrashKitStarted())
    consoleLog(
        "[CrashKit] Warning, setting delegate after start. Make sure to set the CrashKit delegate before calling "
        "startWithAPIKey:.., or +[Telemetry with...] to avoid missing some delegate callbacks.");
}

std::shared_ptr<CrashKitDelegate> CrashKit::delegate() const {
  std::lock_guard lock(mMutex);
  return mDelegate;
}

// Recording.

void CrashKit::setUserIdentifier(const std::optional<std::string>& identifier) { recordInternal(".user-id", identifier); }
void CrashKit::setUserName(const std::optional<std::string>& name) { recordInternal(".user-name", name); }
void CrashKit::setUserEmail(const std::optional<std::string>& email) { recordInternal(".user-email", email); }
void CrashKit::setDevelopmentPlatformName(const std::optional<std::string>& name) {
  recordInternal(".development-platform-name", name);
}
void CrashKit::setDevelopmentPlatformVersion(const std::optional<std::string>& version) {
  recordInternal(".development-platform-version", version);
}

std::optional<std::string> CrashKit::developmentPlatformName() const {
  consoleLog("[CrashKit] developmentPlatformName is write-only");
  return std::nullopt;
}

std::optional<std::string> CrashKit::developmentPlatformVersion() const {
  consoleLog("[CrashKit] developmentPlatformVersion is write-only");
  return std::nullopt;
}

void CrashKit::setObjectValue(const std::optional<std::string>& value, const std::string& key) {
  CRKUserLoggingRecordUserKeyValue(key.c_str(), value);
}
void CrashKit::setIntValue(int value, const std::string& key) { setObjectValue(std::to_string(value), key); }
void CrashKit::setBoolValue(bool value, const std::string& key) { setObjectValue(value ? "1" : "0", key); }
void CrashKit::setFloatValue(float value, const std::string& key) { setObjectValue(floatDescription(value), key); }

void CrashKit::recordError(const Error& error) { recordError(error, nlohmann::json()); }

void CrashKit::recordError(const Error& error, const nlohmann::json& additionalUserInfo) {
  CRKUserLoggingRecordError(error, additionalUserInfo);
}

void CrashKit::recordCustomExceptionName(const std::string& name, const std::string& reason,
                                         const std::vector<CRKStackFrame>& frameArray) {
  CRKExceptionRecord(kCRKExceptionCustom, name.c_str(), reason.c_str(), frameArray, /*notify=*/false);
}

void CrashKit::logEvent(const std::string& eventName) { Analytics::logCustomEventWithName(eventName); }

void CrashKit::logEvent(const std::string& eventName, const nlohmann::ordered_json& attributes) {
  Analytics::logCustomEventWithName(eventName, attributes);
}

// Web views.

void CrashKit::monitorErrorsForWebViewConfiguration(CRKScriptHost& configuration) {
  std::weak_ptr<CrashKit> weak = weak_from_this();
  configuration.addScriptMessageHandler(kCRKWebViewMessageHandlerName, [weak](const CRKScriptMessage& message) {
    if (auto self = weak.lock()) self->userContentControllerDidReceiveScriptMessage(message);
  });
  if (!CRKWebViewInstallErrorScript(configuration))
    consoleLog(strformat("[CrashKit] Unable to monitor %p", static_cast<void*>(&configuration)));
}

void CrashKit::userContentControllerDidReceiveScriptMessage(const CRKScriptMessage& message) {
  if (!CRKWebViewRecordScriptMessage(message)) consoleLog("[CrashKit] Unable to record exception from WKWebView");
}

// Testing.

void CrashKit::crash() { __builtin_trap(); }

void CrashKit::throwException() { CRKExceptionRaiseTestException(); }

// The crash reporting controller's delegate.

bool CrashKit::shouldInstallCrashCallback() {
  auto d = delegate();
  return d && d->respondsToDidDetectCrash();
}

void CrashKit::detectedCrash() {
  if (CrashKitDelegate* d = mCrashTimeDelegate.load()) d->crashKitDidDetectCrash(*this);
}

bool CrashKit::reportingControllerCanUseBackgroundSessions(CRKCrashReportingController&) {
  auto d = delegate();
  if (d && d->respondsToCanUseBackgroundSessions()) return d->crashKitCanUseBackgroundSessions(*this);
  return !CRKApplicationIsExtension();
}

bool CrashKit::mustInformDelegate(const std::shared_ptr<CrashKitDelegate>& d) const {
  return d && (d->respondsToDidDetectReportForLastExecution() ||
               d->respondsToDidDetectCrashDuringPreviousExecutionWithReport() ||
               d->respondsToDidDetectCrashDuringPreviousExecution());
}

bool CrashKit::reportingControllerMustInformDelegateOfReports(CRKCrashReportingController&) {
  return mustInformDelegate(delegate());
}

void CrashKit::reportingControllerDidDetectReportForLastExecution(CRKCrashReportingController&,
                                                                  std::shared_ptr<CRKReport> report,
                                                                  std::function<void(bool submit)> completion) {
  auto d = delegate();
  if (!mustInformDelegate(d)) {
    completion(true);
    return;
  }
  if (d->respondsToDidDetectReportForLastExecution())
    d->crashKitDidDetectReportForLastExecution(report, std::move(completion));
  else
    completion(true);
  std::weak_ptr<CrashKit> weak = weak_from_this();
  platform::mainQueue().async([weak, d, report] {
    auto self = weak.lock();
    if (!self) return;
    if (d->respondsToDidDetectCrashDuringPreviousExecutionWithReport())
      d->crashKitDidDetectCrashDuringPreviousExecution(*self, report);
    if (d->respondsToDidDetectCrashDuringPreviousExecution()) d->crashKitDidDetectCrashDuringPreviousExecution(*self);
  });
}

void CrashKit::reportingControllerInternalDidDetectReportForLastExecution(CRKCrashReportingController&,
                                                                          std::shared_ptr<CRKInternalReport> report) {
  if (!report || !report->isCrash()) return;
  Analytics::Date date;
  if (auto seconds = report->dateCreated())
    date = std::chrono::system_clock::time_point(std::chrono::seconds(static_cast<int64_t>(*seconds)));
  platform::mainQueue().async([date] { Analytics::logPreviousSessionCrashedOnDate(date); });
}

bool CrashKit::reportingControllerEnsureDeliveryOfUnixSignal(CRKCrashReportingController&, int signal) {
  auto d = delegate();
  return d && d->respondsToEnsureDeliveryOfUnixSignal() && d->crashKitEnsureDeliveryOfUnixSignal(*this, signal);
}

std::optional<std::string> CrashKit::APIKeyForCrashReportingController(CRKCrashReportingController&) {
  return APIKey();
}

std::optional<std::string> CrashKit::installIDForCrashReportingController(CRKCrashReportingController&) {
  return installID();
}

bool CrashKit::isFirstInstallForCrashReportingController(CRKCrashReportingController&) { return isFirstInstall(); }

std::shared_ptr<CRKSettings> CrashKit::settingsForCrashReportingController(CRKCrashReportingController&) {
  return CRKSettings::current();
}

std::optional<std::string> CrashKit::APIKeyForBetaController(CRKBetaController&) { return APIKey(); }

std::shared_ptr<CRKSettings> CrashKit::settingsForBetaController(CRKBetaController&) { return CRKSettings::current(); }

void CrashKit::warnDelegateAboutMethods() {
  auto d = delegate();
  if (!d) return;
  if (d->respondsToDidDetectCrashDuringPreviousExecutionWithReport() ||
      d->respondsToDidDetectCrashDuringPreviousExecution())
    consoleLog(strformat("[CrashKit] The CrashKit delegate '%p' implements deprecated methods.  Please see CrashKit "
                         "for details.",
                         static_cast<void*>(d.get())));
  if (d->respondsToCanUseBackgroundSessions() && d->crashKitCanUseBackgroundSessions(*this) &&
      CRKApplicationIsExtension())
    consoleLog("[CrashKit] Background sessions are not supported in extensions. Please see CrashKit for details.");
}

}  // namespace telemetry
