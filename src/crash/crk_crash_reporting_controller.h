#pragma once
// The crash kit's life cycle for one process: prepares the crash data tree, detects a launch
// that died early (the launch marker), creates the current run's report folder and hands it
// to the crash context, then decides on every report earlier runs left — submit at once
// (urgent), ask the application's delegate, ask the user through the installed permission
// presenter, or delete — and restarts unfinished packaging and uploads. Decisions,
// deletions, submissions and retries run on one serial work queue.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crash/crk_context.h"
#include "crash/crk_network_client.h"
#include "crash/crk_reports_controller.h"
#include "platform/core/dispatch.h"
#include "sdk/core/operation_queue.h"

namespace telemetry {

class CRKCrashReportingController;
class CRKFileManager;
class CRKInternalReport;
class CRKReport;
class CRKSettings;

class CRKCrashReportingControllerDelegate {
 public:
  virtual ~CRKCrashReportingControllerDelegate() = default;
  virtual bool shouldInstallCrashCallback() = 0;
  virtual void detectedCrash() = 0;
  virtual bool reportingControllerCanUseBackgroundSessions(CRKCrashReportingController&) = 0;
  virtual bool reportingControllerMustInformDelegateOfReports(CRKCrashReportingController&) = 0;
  virtual void reportingControllerDidDetectReportForLastExecution(CRKCrashReportingController&,
                                                                  std::shared_ptr<CRKReport> report,
                                                                  std::function<void(bool submit)> completion) = 0;
  virtual void reportingControllerInternalDidDetectReportForLastExecution(CRKCrashReportingController&,
                                                                          std::shared_ptr<CRKInternalReport> report) = 0;
  virtual bool reportingControllerEnsureDeliveryOfUnixSignal(CRKCrashReportingController&, int signal) = 0;
  virtual std::optional<std::string> APIKeyForCrashReportingController(CRKCrashReportingController&) = 0;
  virtual std::optional<std::string> installIDForCrashReportingController(CRKCrashReportingController&) = 0;
  virtual bool isFirstInstallForCrashReportingController(CRKCrashReportingController&) = 0;
  virtual std::shared_ptr<CRKSettings> settingsForCrashReportingController(CRKCrashReportingController&) = 0;
};

// Shows the permission alert; the application installs one (the kit itself has no windows).
// Called on the main queue; the completion may be called from any thread.
class CRKPermissionPresenter {
 public:
  struct Texts {
    std::string title, message, cancel, send;
    std::optional<std::string> alwaysSend;
  };
  enum class Choice { Send, AlwaysSend, Cancel };
  virtual ~CRKPermissionPresenter() = default;
  virtual void present(const Texts& texts, std::function<void(Choice)> completion) = 0;
};

class CRKCrashReportingController final : public CRKNetworkClientDelegate,
                                          public CRKReportsControllerDelegate,
                                          public CRKCrashCallbackTarget,
                                          public std::enable_shared_from_this<CRKCrashReportingController> {
 public:
  static constexpr double kRetryAfterFailureSeconds = 600.0;
  static constexpr const char* kWillBecomeActive = "NSApplicationWillBecomeActiveNotification";
  static constexpr const char* kDidResignActive = "NSApplicationDidResignActiveNotification";

  // `pinnedCertificates` replaces the shipped roots (tests pin their own authority).
  static std::shared_ptr<CRKCrashReportingController> create(
      std::shared_ptr<CRKFileManager> fileManager, std::weak_ptr<CRKCrashReportingControllerDelegate> delegate,
      const std::optional<CertificateList>& pinnedCertificates = {});
  ~CRKCrashReportingController() override;

  // With none installed, reports the prompt would ask about are submitted.
  static void setPermissionPresenter(std::shared_ptr<CRKPermissionPresenter> presenter);

  bool startWithProfilingMark(uint64_t profilingMark, const std::optional<std::string>& betaToken);
  // The run's execution identifier; the SDK's unless set (tools, tests).
  void setExecutionIdentifier(std::string identifier) { mExecutionIdentifier = std::move(identifier); }
  // Where the 600-second retries wait: the global default-priority queue unless replaced.
  void setRetryQueue(std::shared_ptr<platform::Queue> queue);

  const std::shared_ptr<OperationQueue>& operationQueue() const { return mQueue; }
  const std::shared_ptr<CRKNetworkClient>& networkClient() const { return mClient; }
  std::shared_ptr<CRKReportsController> reportsController();
  std::shared_ptr<CRKSettings> settings();
  std::optional<std::string> APIKey();
  static std::string bundleIdentifier();
  int64_t promptChoice() const { return mPromptChoice.load(); }
  bool needsToPrompt();
  bool canProcessUrgentReports();
  uint32_t machExceptionMask();

  void deliverCrashDelegateCallback() override;
  void processExistingActiveReportPath(const std::string& path, bool urgent);

  // CRKNetworkClientDelegate
  bool networkClientCanUseBackgroundSessions(CRKNetworkClient&) override;
  void networkClientDidFinishUploadWithPath(CRKNetworkClient&, const std::string& path,
                                            const OptionalError& error) override;
  // CRKReportsControllerDelegate
  void reportsControllerDidCompletePackageSubmission(CRKReportsController&, const std::string& path,
                                                     const OptionalError& error) override;
  std::shared_ptr<CRKSettings> settingsForReportsController(CRKReportsController&) override { return settings(); }
  std::optional<std::string> APIKeyForReportsController(CRKReportsController&) override { return APIKey(); }
  std::optional<std::string> bundleIdentifierForReportsController(CRKReportsController&) override {
    return bundleIdentifier();
  }

 private:
  CRKCrashReportingController() = default;
  bool checkForAndCreateLaunchMarker();
  bool createLaunchMarker();
  std::shared_ptr<CRKInternalReport> setupCurrentReport();
  bool startCrashReporter(const std::optional<std::string>& betaToken, uint64_t profilingMark,
                          const std::shared_ptr<CRKInternalReport>& report);
  void crashReportingSetupCompleted(uint64_t profilingMark);
  void setupStateNotifications();
  void handleDelegateCompletion(std::shared_ptr<CRKInternalReport> report, bool submit);
  void displayPermissionAlert(std::shared_ptr<CRKInternalReport> report);
  void handlePromptComplete(std::shared_ptr<CRKInternalReport> report, bool submit, bool always);
  void removeReport(const std::shared_ptr<CRKInternalReport>& report);

  std::shared_ptr<CRKFileManager> mFileManager;
  std::weak_ptr<CRKCrashReportingControllerDelegate> mDelegate;
  std::shared_ptr<OperationQueue> mQueue;
  std::shared_ptr<CRKNetworkClient> mClient;
  std::mutex mMutex;
  std::shared_ptr<CRKReportsController> mReportsController;
  std::shared_ptr<CRKSettings> mSettings;
  std::atomic<int64_t> mPromptChoice{0};
  std::string mExecutionIdentifier;
  std::shared_ptr<platform::Queue> mRetryQueue;
  int mLiveLock = -1;
  // Whether the launch marker was there when the early capture made it; nothing without one.
  std::optional<bool> mEarlyMarkerFound;
  // Copies the crash context keeps pointers to for the process's life.
  std::string mReportPath, mSessionId, mAPIKey, mInstallId, mBetaToken;
};

}  // namespace telemetry
