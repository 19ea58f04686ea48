#pragma once
// The crash kit's public face, and the one crash-reporting header the application includes:
//
//   telemetry::Telemetry::with({telemetry::CrashKit::sharedInstance(), telemetry::Analytics::kit()});
//
// The SDK core starts the kit once per process (start()): the crash reporting controller
// (capture, earlier reports, uploads), the beta check where supported, then the analytics
// kit. The kit bridges the controllers to an optional application delegate and records the
// user's identity, keys, errors and custom exceptions into the current report. Recording
// before the crash context exists drops the value. Safe from any thread; delegate callbacks
// arrive on the controller's work queue, the main queue or (detected crashes) the crashing
// thread.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crash/crk_beta_controller.h"
#include "crash/crk_crash_reporting_controller.h"
#include "crash/crk_stack_frame.h"
#include "crash/crk_web_view.h"
#include "sdk/analytics/analytics.h"
#include "sdk/core/error.h"
#include "sdk/startup/tel_kit.h"

namespace telemetry {

class CrashKit;
class CRKReport;

// The application's callbacks. Every one is optional: a delegate says which it answers.
class CrashKitDelegate {
 public:
  virtual ~CrashKitDelegate() = default;

  // A report of an earlier run awaits a decision; the completion may run at any time, on any
  // thread, with whether to submit.
  virtual bool respondsToDidDetectReportForLastExecution() const { return false; }
  virtual void crashKitDidDetectReportForLastExecution(std::shared_ptr<CRKReport> /*report*/,
                                                       std::function<void(bool submit)> completionHandler) {
    completionHandler(true);
  }
  // Legacy: after such a report was found, on the main queue.
  virtual bool respondsToDidDetectCrashDuringPreviousExecutionWithReport() const { return false; }
  virtual void crashKitDidDetectCrashDuringPreviousExecution(CrashKit& /*kit*/, std::shared_ptr<CRKReport> /*report*/) {}
  virtual bool respondsToDidDetectCrashDuringPreviousExecution() const { return false; }
  virtual void crashKitDidDetectCrashDuringPreviousExecution(CrashKit& /*kit*/) {}
  // Whether uploads may use a background session.
  virtual bool respondsToCanUseBackgroundSessions() const { return false; }
  virtual bool crashKitCanUseBackgroundSessions(CrashKit& /*kit*/) { return false; }
  // At crash time, synchronously on the crashing thread: async-signal-safe work only.
  virtual bool respondsToDidDetectCrash() const { return false; }
  virtual void crashKitDidDetectCrash(CrashKit& /*kit*/) {}
  // At start, once per handled signal.
  virtual bool respondsToEnsureDeliveryOfUnixSignal() const { return false; }
  virtual bool crashKitEnsureDeliveryOfUnixSignal(CrashKit& /*kit*/, int /*signal*/) { return false; }
};

class CrashKit final : public TELKitObject,
                       public CRKCrashReportingControllerDelegate,
                       public CRKBetaControllerDelegate,
                       public std::enable_shared_from_this<CrashKit> {
  struct PrivateTag {};

 public:
  static constexpr const char* kDisplayVersion = "3.8.2";
  static constexpr const char* kBuildVersion = "118";

  // The kit class registered as "CrashKit".
  static const TELKitClass& kit();
  // The one instance, made on first use; it lives for the process.
  static CrashKit& sharedInstance();
  static void initializeIfNeeded();
  // From the first lines of main until the kit starts: the launch marker is set and a fatal
  // signal leaves a record for the next start. False when it could not be set up.
  // `atHandOver`, when given, is called as the kit's handlers are about to take over.
  static bool captureCrashesBeforeStart(void (*atHandOver)() = nullptr);
  // A process that ends without starting the kit leaves neither record folder nor marker.
  static void abandonCaptureBeforeStart();
  // Sets the delegate when one is given, sets the key and starts the SDK with this kit.
  static CrashKit& startWithAPIKey(const std::string& APIKey, std::shared_ptr<CrashKitDelegate> delegate = nullptr);
  // The delay is ignored (deprecated forms).
  static CrashKit& startWithAPIKeyAfterDelay(const std::string& APIKey, double delay);
  static CrashKit& startWithAPIKeyDelegateAfterDelay(const std::string& APIKey,
                                                     std::shared_ptr<CrashKitDelegate> delegate, double delay);

  explicit CrashKit(PrivateTag) {}
  const TELKitClass& kitClass() const override { return kit(); }
  std::string version() const { return kDisplayVersion; }
  std::string bundleIdentifier() const;

  // Runs once per process; later calls do nothing.
  void start();
  bool isCrashKitStarted() const;
  std::shared_ptr<CRKCrashReportingController> crashReportingController() const;
  std::shared_ptr<CRKBetaController> betaController() const;

  std::optional<std::string> APIKey();
  bool isFirstInstall();
  // The identifier a legacy installation stored, else the SDK's.
  std::string installID();
  // Switches the SDK's debug logging on or off.
  void setDebugMode(bool debugMode);
  bool debugMode() const;
  void setDelegate(std::shared_ptr<CrashKitDelegate> delegate);
  std::shared_ptr<CrashKitDelegate> delegate() const;

  // Recording into the current report.
  void setUserIdentifier(const std::optional<std::string>& identifier);
  void setUserName(const std::optional<std::string>& name);
  void setUserEmail(const std::optional<std::string>& email);
  void setDevelopmentPlatformName(const std::optional<std::string>& name);
  void setDevelopmentPlatformVersion(const std::optional<std::string>& version);
  // Write-only: log and answer nothing.
  std::optional<std::string> developmentPlatformName() const;
  std::optional<std::string> developmentPlatformVersion() const;
  // No value deletes the key at the next compaction.
  void setObjectValue(const std::optional<std::string>& value, const std::string& key);
  void setIntValue(int value, const std::string& key);
  void setBoolValue(bool value, const std::string& key);
  void setFloatValue(float value, const std::string& key);
  void recordError(const Error& error);
  void recordError(const Error& error, const nlohmann::json& additionalUserInfo);
  void recordCustomExceptionName(const std::string& name, const std::string& reason,
                                 const std::vector<CRKStackFrame>& frameArray);

  // Custom analytics events, whether or not crash reporting started.
  void logEvent(const std::string& eventName);
  void logEvent(const std::string& eventName, const nlohmann::ordered_json& attributes);

  // Reports the page's uncaught script errors through the host's "crashkit" handler.
  void monitorErrorsForWebViewConfiguration(CRKScriptHost& configuration);
  void userContentControllerDidReceiveScriptMessage(const CRKScriptMessage& message);

  // Testing: stop at once with a trap; throw the kit's test exception.
  [[noreturn]] void crash();
  [[noreturn]] void throwException();

  // CRKCrashReportingControllerDelegate
  bool shouldInstallCrashCallback() override;
  void detectedCrash() override;
  bool reportingControllerCanUseBackgroundSessions(CRKCrashReportingController&) override;
  bool reportingControllerMustInformDelegateOfReports(CRKCrashReportingController&) override;
  void reportingControllerDidDetectReportForLastExecution(CRKCrashReportingController&,
                                                          std::shared_ptr<CRKReport> report,
                                                          std::function<void(bool submit)> completion) override;
  void reportingControllerInternalDidDetectReportForLastExecution(CRKCrashReportingController&,
                                                                  std::shared_ptr<CRKInternalReport> report) override;
  bool reportingControllerEnsureDeliveryOfUnixSignal(CRKCrashReportingController&, int signal) override;
  std::optional<std::string> APIKeyForCrashReportingController(CRKCrashReportingController&) override;
  std::optional<std::string> installIDForCrashReportingController(CRKCrashReportingController&) override;
  bool isFirstInstallForCrashReportingController(CRKCrashReportingController&) override;
  std::shared_ptr<CRKSettings> settingsForCrashReportingController(CRKCrashReportingController&) override;
  // CRKBetaControllerDelegate
  std::optional<std::string> APIKeyForBetaController(CRKBetaController&) override;
  std::shared_ptr<CRKSettings> settingsForBetaController(CRKBetaController&) override;

  // Runs on the main queue after start.
  void warnDelegateAboutMethods();

 private:
  bool mustInformDelegate(const std::shared_ptr<CrashKitDelegate>& delegate) const;

  std::once_flag mStarted;
  mutable std::mutex mMutex;  // guards the four below; never held while calling out
  std::shared_ptr<CrashKitDelegate> mDelegate;
  std::vector<std::shared_ptr<CrashKitDelegate>> mRetiredDelegates;
  std::shared_ptr<CRKCrashReportingController> mCrashReportingController;
  std::shared_ptr<CRKBetaController> mBetaController;
  // The delegate as the crash-time callback reads it (no lock there); kept alive by mDelegate.
  std::atomic<CrashKitDelegate*> mCrashTimeDelegate{nullptr};
};

}  // namespace telemetry
