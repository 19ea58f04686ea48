#include "crash/crk_crash_reporting_controller.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <vector>

#include "crash/crk_early_capture.h"
#include "crash/crk_exception.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_log.h"
#include "crash/crk_settings.h"
#include "crash/crk_signal.h"
#include "crash/crk_user_logging.h"
#include "platform/core/launch_work.h"
#include "platform/core/notification_center.h"
#include "platform/core/regular_file.h"
#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/startup/telemetry.h"

namespace telemetry {

namespace {

std::mutex gPresenterMutex;
std::shared_ptr<CRKPermissionPresenter> gPresenter;

std::shared_ptr<CRKPermissionPresenter> currentPresenter() {
  std::lock_guard lock(gPresenterMutex);
  return gPresenter;
}

// An NSNumber holding a double prints like "%g" with up to 17 significant digits.
std::string millisecondsText(double milliseconds) {
  std::ostringstream text;
  text.precision(17);
  text << milliseconds;
  return text.str();
}

// The crash context keeps its callback target for the rest of the process, which a
// controller need not live for: it gets a relay that is never freed and reaches the
// controller only while it exists.
class CrashCallbackRelay final : public CRKCrashCallbackTarget {
 public:
  explicit CrashCallbackRelay(std::weak_ptr<CRKCrashReportingController> controller)
      : mController(std::move(controller)) {}
  void deliverCrashDelegateCallback() override {
    if (auto controller = mController.lock()) controller->deliverCrashDelegateCallback();
  }

 private:
  std::weak_ptr<CRKCrashReportingController> mController;
};

CRKCrashCallbackTarget* newCrashCallbackRelay(std::weak_ptr<CRKCrashReportingController> controller) {
  static auto* mutex = new std::mutex;
  static auto* relays = new std::vector<std::unique_ptr<CrashCallbackRelay>>;
  std::lock_guard lock(*mutex);
  relays->push_back(std::make_unique<CrashCallbackRelay>(std::move(controller)));
  return relays->back().get();
}

void writeInternalPairOnLoggingQueue(const std::string& key, const std::string& value) {
  if (!CRKContextIsInitialized()) return;
  CRKLoggingQueue()->async([key, value] { CRKUserLoggingWriteInternalKeyValue(key.c_str(), value); });
}

}  // namespace

std::shared_ptr<CRKCrashReportingController> CRKCrashReportingController::create(
    std::shared_ptr<CRKFileManager> fileManager, std::weak_ptr<CRKCrashReportingControllerDelegate> delegate,
    const std::optional<CertificateList>& pinnedCertificates) {
  std::shared_ptr<CRKCrashReportingController> controller(new CRKCrashReportingController());
  controller->mFileManager = std::move(fileManager);
  controller->mDelegate = std::move(delegate);
  controller->mQueue = std::make_shared<OperationQueue>(std::string(kCRKBundleIdentifier) + ".work-queue", 1);
  controller->mClient = CRKNetworkClient::create(controller->mQueue, controller->mFileManager, controller,
                                                 pinnedCertificates);
  return controller;
}

CRKCrashReportingController::~CRKCrashReportingController() {
  platform::NotificationCenter::defaultCenter().removeObserver(this);
  if (mLiveLock >= 0) ::close(mLiveLock);
}

void CRKCrashReportingController::setPermissionPresenter(std::shared_ptr<CRKPermissionPresenter> presenter) {
  std::lock_guard lock(gPresenterMutex);
  gPresenter = std::move(presenter);
}

void CRKCrashReportingController::setRetryQueue(std::shared_ptr<platform::Queue> queue) {
  mClient->setRetryQueue(queue);
  std::lock_guard lock(mMutex);
  mRetryQueue = std::move(queue);
}

std::shared_ptr<CRKReportsController> CRKCrashReportingController::reportsController() {
  std::lock_guard lock(mMutex);
  if (!mReportsController)
    mReportsController = std::make_shared<CRKReportsController>(mQueue, weak_from_this(), mClient, mFileManager);
  return mReportsController;
}

std::shared_ptr<CRKSettings> CRKCrashReportingController::settings() {
  std::lock_guard lock(mMutex);
  if (!mSettings) {
    auto delegate = mDelegate.lock();
    mSettings = delegate ? delegate->settingsForCrashReportingController(*this) : nullptr;
    if (!mSettings) mSettings = CRKSettings::current();
  }
  return mSettings;
}

std::optional<std::string> CRKCrashReportingController::APIKey() {
  auto delegate = mDelegate.lock();
  return delegate ? delegate->APIKeyForCrashReportingController(*this) : std::nullopt;
}

std::string CRKCrashReportingController::bundleIdentifier() {
  std::string identifier = MainBundle::shared().bundleIdentifier().value_or("");
  std::replace(identifier.begin(), identifier.end(), '/', '_');
  return identifier;
}

bool CRKCrashReportingController::needsToPrompt() {
  const int64_t choice = mPromptChoice.load();
  if (choice == 2 || choice == 3) return false;
  return settings()->userPromptEnabled();
}

bool CRKCrashReportingController::canProcessUrgentReports() {
  auto delegate = mDelegate.lock();
  const bool mustInform = delegate && delegate->reportingControllerMustInformDelegateOfReports(*this);
  return settings()->canProcessUrgentReports() && !needsToPrompt() && !mustInform;
}

uint32_t CRKCrashReportingController::machExceptionMask() {
  uint32_t mask = 0;
  auto delegate = mDelegate.lock();
  if (!delegate) return mask;
  CRKSignalEnumerateHandledSignals([&](int, int number) {
    if (delegate->reportingControllerEnsureDeliveryOfUnixSignal(*this, number))
      mask |= CRKMachExceptionMaskForSignal(number);
  });
  return mask;
}

void CRKCrashReportingController::deliverCrashDelegateCallback() {
  if (auto delegate = mDelegate.lock()) delegate->detectedCrash();
}

bool CRKCrashReportingController::createLaunchMarker() {
  const std::string marker = mFileManager->launchMarkerPath();
  std::string why;
  const int fd = platform::openRegularFileForWriting(marker, O_WRONLY | O_CREAT | O_TRUNC, 0644, &why);
  if (fd < 0) {
    CRKLogToConsole("[CrashKit] Unable to create the launch marker %s: %s", marker.c_str(), why.c_str());
    return false;
  }
  ::close(fd);
  return true;
}

bool CRKCrashReportingController::checkForAndCreateLaunchMarker() {
  // The early capture made the marker at the top of main and saw whether one was left.
  const bool found = mEarlyMarkerFound ? *mEarlyMarkerFound
                                       : fileio::kindOf(mFileManager->launchMarkerPath()) != fileio::FileKind::Missing;
  if (found) {
    debugLog("[CrashKit:Crash] Last launch failed: this may indicate a crash shortly after app launch.");
    return true;
  }
  createLaunchMarker();
  return false;
}

std::shared_ptr<CRKInternalReport> CRKCrashReportingController::setupCurrentReport() {
  createLaunchMarker();
  std::string identifier = mExecutionIdentifier.empty() ? Telemetry::sharedSDK().executionIdentifier() : mExecutionIdentifier;
  auto path = mFileManager->setupNewPathForExecutionIdentifier(identifier);
  auto report = path ? CRKInternalReport::reportWithPath(*path, identifier) : nullptr;
  if (!report) {
    consoleLog("[CrashKit:Crash] Unable to setup a new report");
    return nullptr;
  }
  // Held for the process's life: another instance starting now leaves this folder alone.
  mLiveLock = CRKFileManager::lockReportFolder(*path);
  return report;
}

bool CRKCrashReportingController::startCrashReporter(const std::optional<std::string>& betaToken,
                                                     uint64_t profilingMark,
                                                     const std::shared_ptr<CRKInternalReport>& report) {
  if (!report) return false;
  auto delegate = mDelegate.lock();
  auto crashSettings = settings();
  mReportPath = report->path();
  mSessionId = report->identifier();
  mAPIKey = APIKey().value_or("");
  mInstallId = delegate ? delegate->installIDForCrashReportingController(*this).value_or("") : "";
  mBetaToken = betaToken.value_or("");
  CRKContextInitData data;
  data.apiKey = mAPIKey.c_str();
  data.firstInstall = delegate && delegate->isFirstInstallForCrashReportingController(*this);
  data.crashCallbackTarget =
      delegate && delegate->shouldInstallCrashCallback() ? newCrashCallbackRelay(weak_from_this()) : nullptr;
  data.reportPath = mReportPath.c_str();
  data.sessionId = mSessionId.c_str();
  data.installId = mInstallId.empty() ? nullptr : mInstallId.c_str();
  data.betaToken = betaToken ? mBetaToken.c_str() : nullptr;
  data.machExceptionMask = machExceptionMask();
  data.errorReportingEnabled = crashSettings->errorReportingEnabled();
  data.customExceptionsEnabled = crashSettings->customExceptionsEnabled();
  data.maxCustomExceptions = crashSettings->maxCustomExceptions();
  data.errorLogBufferSize = crashSettings->errorLogBufferSize();
  data.logBufferSize = crashSettings->logBufferSize();
  data.maxCustomKeys = crashSettings->maxCustomKeys();
  if (!CRKContextInitialize(&data)) return false;
  setupStateNotifications();
  crashReportingSetupCompleted(profilingMark);
  return true;
}

void CRKCrashReportingController::crashReportingSetupCompleted(uint64_t profilingMark) {
  std::weak_ptr<CRKCrashReportingController> weak = weak_from_this();
  platform::mainQueue().afterSeconds(2.0, [weak] {
    CRKExceptionCheckHandlers();
    CRKSignalCheckHandlers();
    auto self = weak.lock();
    if (!self) return;
    auto delegate = self->mDelegate.lock();
    if (self->settings()->userPromptEnabled() && !(delegate && delegate->reportingControllerMustInformDelegateOfReports(*self)))
      consoleLog(
          "[CrashKit:Crash] WARNING: the user prompt feature is enabled. As of CrashKit 3.0.0, implementing a user "
          "prompt is the application's responsibility. See CrashKit's notes about "
          "-crashKitDidDetectReportForLastExecution:completionHandler:");
  });
  const std::string marker = mFileManager->launchMarkerPath();
  platform::mainQueue().async([marker, profilingMark] {
    ::unlink(marker.c_str());
    writeInternalPairOnLoggingQueue(std::string(kSDKIdentifierPrefix) + ".first-run-loop-time",
                                    millisecondsText(CRKProfileElapsedMilliseconds(profilingMark)));
  });
}

void CRKCrashReportingController::setupStateNotifications() {
  const std::string key = std::string(kSDKIdentifierPrefix) + ".in-background";
  writeInternalPairOnLoggingQueue(key, "0");
  auto& center = platform::NotificationCenter::defaultCenter();
  center.addObserver(this, kWillBecomeActive, nullptr,
                     [key](const platform::Notification&) { CRKUserLoggingRecordInternalKeyValue(key.c_str(), "0"); });
  center.addObserver(this, kDidResignActive, nullptr,
                     [key](const platform::Notification&) { CRKUserLoggingRecordInternalKeyValue(key.c_str(), "1"); });
}

bool CRKCrashReportingController::startWithProfilingMark(uint64_t profilingMark,
                                                         const std::optional<std::string>& betaToken) {
  // The capture from the start of main records faults until the kit's own handlers are in; it
  // ends there, or on the way out when the kit does not start, putting back what it replaced.
  mEarlyMarkerFound = CRKEarlyCaptureMarkerFound();
  struct EndEarlyCapture {
    ~EndEarlyCapture() { CRKEarlyCaptureEnd(); }
  } endEarlyCapture;
  if (bundleIdentifier().empty()) {
    consoleLog("[CrashKit] An application must have a valid bundle idenifier in its Info.plist");
    return false;
  }
  if (!settings()->crashReportingEnabled()) {
    consoleLog("[CrashKit:Crash] Reporting is disabled");
    mFileManager->removeContentsOfAllPaths();
    return false;
  }
  // The folders are made only after the legacy tree is gone, or its removal would take them.
  // Here, not on the work queue: finding no legacy tree is one look at the disk, less than
  // handing the queue a task and waiting for its thread to start and answer.
  mQueue->waitUntilAllOperationsAreFinished();
  mFileManager->removeLegacyDirectories();
  // The work the start hands to the queue (packaging and uploading earlier reports above all)
  // begins once the start returned and the launch is over, instead of competing with the
  // first window for the processor.
  mQueue->setSuspended(true);
  struct Resume {
    std::weak_ptr<OperationQueue> queue;
    ~Resume() {
      platform::afterLaunch([queue = queue] {
        if (auto work = queue.lock()) work->setSuspended(false);
      });
    }
  } resume{mQueue};
  if (!mFileManager->prepareForNewLaunch()) return false;
  const bool urgent = checkForAndCreateLaunchMarker();
  std::vector<std::string> earlier = mFileManager->activePathContents();
  // The capture from the start of main writes into a folder of this run until the kit's handlers
  // are in, and it is removed only then: it is not an earlier run's report.
  if (const std::string early = CRKEarlyCaptureReportPath(); !early.empty())
    std::erase_if(earlier, [&](const std::string& path) {
      return fileio::lastPathComponent(path) == fileio::lastPathComponent(early);
    });
  // Packages of earlier runs only: those this run makes are already on their way.
  const std::vector<std::string> leftPackages = mFileManager->preparedPathContents();
  const std::vector<std::string> leftProcessing = mFileManager->processingPathContents();
  auto current = setupCurrentReport();
  CRKEarlyCaptureHandOverReached();
  bool started = startCrashReporter(betaToken, profilingMark, current);
  CRKEarlyCaptureEnd();
  if (current && !started) consoleLog("[CrashKit:Crash] Unable to start crash reporter");
  for (const auto& path : earlier) {
    // Another running instance's folder is not an earlier report.
    if (CRKFileManager::isReportFolderLive(path)) continue;
    processExistingActiveReportPath(path, urgent);
  }
  auto self = shared_from_this();
  for (const auto& path : leftProcessing) {
    mQueue->addOperationWithBlock([self, path] {
      self->reportsController()->prepareAndSubmitReport(CRKInternalReport::reportWithPath(path), false, false);
    });
  }
  mClient->attemptToReconnectBackgroundSessionWithCompletionBlock([self, leftPackages] {
    self->mQueue->addOperationWithBlock([self, leftPackages] {
      for (const auto& path : leftPackages)
        if (fileio::kindOf(path) != fileio::FileKind::Missing)
          self->reportsController()->uploadPackagedReportAtPath(path, false);
    });
  });
  writeInternalPairOnLoggingQueue(std::string(kSDKIdentifierPrefix) + ".kit-start-time",
                                  millisecondsText(CRKProfileElapsedMilliseconds(profilingMark)));
  return current && started;
}

void CRKCrashReportingController::removeReport(const std::shared_ptr<CRKInternalReport>& report) {
  mFileManager->removeItemAtPath(report->path());
}

void CRKCrashReportingController::processExistingActiveReportPath(const std::string& path, bool urgent) {
  auto report = CRKInternalReport::reportWithPath(path);
  if (!report || !report->needsToBeSubmitted()) {
    auto fileManager = mFileManager;
    mQueue->addOperationWithBlock([fileManager, path] { fileManager->removeItemAtPath(path); });
    return;
  }
  auto delegate = mDelegate.lock();
  if (delegate) delegate->reportingControllerInternalDidDetectReportForLastExecution(*this, report);
  if (urgent && canProcessUrgentReports()) {
    reportsController()->prepareAndSubmitReport(report, true, true);
    return;
  }
  std::weak_ptr<CRKCrashReportingController> weak = weak_from_this();
  auto completion = [weak, report](bool submit) {
    if (auto self = weak.lock()) self->handleDelegateCompletion(report, submit);
  };
  if (delegate)
    delegate->reportingControllerDidDetectReportForLastExecution(*this, std::make_shared<CRKReport>(report), completion);
  else
    completion(true);
}

void CRKCrashReportingController::handleDelegateCompletion(std::shared_ptr<CRKInternalReport> report, bool submit) {
  auto self = shared_from_this();
  mQueue->addOperationWithBlock([self, report, submit] {
    if (!submit) {
      debugLog("[CrashKit:Crash] Removing report at request of delegate");
      self->removeReport(report);
    } else if (self->needsToPrompt()) {
      self->displayPermissionAlert(report);
    } else {
      self->reportsController()->prepareAndSubmitReport(report, false, true);
    }
  });
}

void CRKCrashReportingController::displayPermissionAlert(std::shared_ptr<CRKInternalReport> report) {
  auto presenter = currentPresenter();
  auto self = shared_from_this();
  if (!presenter) {
    // No window to ask in: sent as an extension would.
    mQueue->addOperationWithBlock([self, report] { self->reportsController()->prepareAndSubmitReport(report, false, true); });
    return;
  }
  auto crashSettings = settings();
  CRKPermissionPresenter::Texts texts{crashSettings->interactivePromptTitle(), crashSettings->interactivePromptMessage(),
                                      crashSettings->interactivePromptCancelTitle(),
                                      crashSettings->interactivePromptSendTitle(), std::nullopt};
  std::string always = crashSettings->interactivePromptAlwaysSendTitle();
  if (!always.empty()) texts.alwaysSend = always;
  debugLog("[CrashKit:Crash] Displaying permission alert");
  platform::mainQueue().async([self, report, presenter, texts] {
    const int64_t choice = self->mPromptChoice.load();
    if (choice == 2 || choice == 3) {
      self->handlePromptComplete(report, true, false);
      return;
    }
    if (choice == 1) {
      self->handlePromptComplete(report, false, false);
      return;
    }
    presenter->present(texts, [self, report](CRKPermissionPresenter::Choice picked) {
      self->handlePromptComplete(report, picked != CRKPermissionPresenter::Choice::Cancel,
                                 picked == CRKPermissionPresenter::Choice::AlwaysSend);
    });
  });
}

void CRKCrashReportingController::handlePromptComplete(std::shared_ptr<CRKInternalReport> report, bool submit,
                                                       bool always) {
  // The choice holds from the moment it is made: alerts already waiting on the main queue
  // must not ask again.
  mPromptChoice = submit ? (always ? 3 : 2) : 1;
  auto self = shared_from_this();
  mQueue->addOperationWithBlock([self, report, submit, always] {
    if (!submit) {
      self->mPromptChoice = 1;
      debugLog("[CrashKit:Crash] Removing report at request of user");
      self->removeReport(report);
      return;
    }
    self->reportsController()->prepareAndSubmitReport(report, false, true);
    self->mPromptChoice = always ? 3 : 2;
    if (always) systemLog("should set always submit here");
  });
}

bool CRKCrashReportingController::networkClientCanUseBackgroundSessions(CRKNetworkClient&) {
  auto delegate = mDelegate.lock();
  return delegate && delegate->reportingControllerCanUseBackgroundSessions(*this);
}

void CRKCrashReportingController::networkClientDidFinishUploadWithPath(CRKNetworkClient&, const std::string& path,
                                                                       const OptionalError& error) {
  reportsController()->reportUploadAtPathCompletedWithError(path, error);
}

void CRKCrashReportingController::reportsControllerDidCompletePackageSubmission(CRKReportsController&,
                                                                                const std::string& path,
                                                                                const OptionalError& error) {
  if (!error) {
    debugLog("[CrashKit:Crash] report submission successful");
    return;
  }
  debugLog("[CrashKit:Crash] report submission failed with error " + error->localizedDescription());
  CRKLogWarn("Error: failed to submit report '%s'\n", error->localizedDescription().c_str());
  // A quarantined package is never sent again; one that used up this run's restarts waits
  // for the next launch.
  if (error->userInfo.is_object() &&
      (error->userInfo.value("quarantined", false) || error->userInfo.value("retry_limit_reached", false)))
    return;
  std::weak_ptr<CRKCrashReportingController> weak = weak_from_this();
  std::shared_ptr<platform::Queue> retryQueue;
  {
    std::lock_guard lock(mMutex);
    retryQueue = mRetryQueue;
  }
  platform::Queue& queue = retryQueue ? *retryQueue : platform::globalQueue(platform::QueuePriority::Default);
  queue.afterSeconds(kRetryAfterFailureSeconds, [weak, path] {
    auto self = weak.lock();
    if (!self) return;
    self->mQueue->addOperationWithBlock([self, path] {
      debugLog("[CrashKit:Crash] re-attempting report submission");
      self->reportsController()->uploadPackagedReportAtPath(path, false);
    });
  });
}

}  // namespace telemetry
