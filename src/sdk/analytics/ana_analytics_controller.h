#pragma once
// The analytics engine: one serial queue takes every decision (may an event be recorded,
// which log it goes to, when a log is closed and sent) and runs the stages that turn a
// closed log into an upload. A stage's input is deleted only when the stage succeeded, and a
// package only after the server took it (2xx) or refused it for good (a 4xx other than 408,
// 420 and 429); anything else stays for a later launch.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/core/dispatch.h"
#include "sdk/analytics/ana_backoff_timer.h"
#include "sdk/analytics/ana_crash_event.h"
#include "sdk/analytics/ana_crash_metadata.h"
#include "sdk/analytics/ana_event.h"
#include "sdk/analytics/ana_event_filter.h"
#include "sdk/analytics/ana_event_inbox.h"
#include "sdk/analytics/ana_metadata.h"
#include "sdk/analytics/ana_settings.h"
#include "sdk/analytics/ana_timer.h"
#include "sdk/analytics/ana_uploader.h"
#include "sdk/core/operation_queue.h"
#include "sdk/pinning/tel_certificate_pinner.h"
#include "sdk/settings/tel_settings.h"

namespace telemetry {

class ANAAnalyticsController final : public ANAUploaderDelegate,
                                     public std::enable_shared_from_this<ANAAnalyticsController> {
 public:
  // What a test replaces; the defaults are the process's own.
  struct Environment {
    // With these facts the engine stands alone: it reads nothing of the SDK object (settings
    // come only through initializeSettingsIfNeededWithTelemetrySettings).
    std::optional<ANAMetadata::SDKFacts> facts;
    std::optional<bool> firstInstall;          // else the SDK's
    platform::Queue* retryQueue = nullptr;     // backoff waits; else the global queue
    platform::Queue* flushTimerQueue = nullptr;  // else the global queue
  };
  static constexpr std::uint64_t kMaximumRetries = 11;

  static std::string rootDirectory();
  static std::string eventDirectoryForRootDirectory(const std::string& root);
  static std::string crashMetadataPathForRootDirectory(const std::string& root);

  static std::shared_ptr<ANAAnalyticsController> initWithBetaToken(const std::optional<std::string>& betaToken);
  static std::shared_ptr<ANAAnalyticsController> initWithBetaToken(const std::optional<std::string>& betaToken,
                                                                   const std::string& rootDirectory);
  static std::shared_ptr<ANAAnalyticsController> initWithBetaToken(const std::optional<std::string>& betaToken,
                                                                   const std::string& rootDirectory,
                                                                   Environment environment);
  // Stops listening; work already queued still runs.
  ~ANAAnalyticsController() override;

  void logEvent(std::shared_ptr<const ANAEvent> event);
  void logCrashEvent(std::shared_ptr<const ANACrashEvent> event);
  // Only the first dictionary of the run is applied.
  void initializeSettingsIfNeededWithTelemetrySettings(TELSettings::Dictionary settings);

  const std::shared_ptr<OperationQueue>& eventQueue() const { return mEventQueue; }
  const std::shared_ptr<ANAUploader>& uploader() const { return mUploader; }
  // Queue only (tests read them from a block on the queue).
  const std::string& currentLogURL() const { return mCurrentLogURL; }
  const std::string& rootEventDirectory() const { return mRootEventDirectory; }
  const ANASettings& settings() const { return mSettings; }
  // Waits until the queue has run everything queued so far (and what that queued).
  void drain();

  // The uploader's delegate, on the event queue.
  std::string uploaderFilePathForUniqueName(ANAUploader& uploader, const std::string& uniqueName) override;
  void uploaderDidFinishUploadWithUniqueName(ANAUploader& uploader, const std::string& uniqueName,
                                             const OptionalError& error) override;
  void uploaderCompletedRequest(ANAUploader& uploader, const URLRequest& request,
                                const std::optional<URLResponse>& response, const std::string& uniqueName,
                                const OptionalError& error, RetryDecision decide) override;
  void uploaderDidReceiveChallenge(ANAUploader& uploader, CRKURLSession& session,
                                   const URLAuthenticationChallenge& challenge,
                                   URLSessionDelegate::ChallengeCompletion completion) override;

 private:
  ANAAnalyticsController(std::optional<std::string> betaToken, std::string rootDirectory, Environment environment);
  void start();
  bool standalone() const { return mEnvironment.facts.has_value(); }
  void setUp();
  void enqueueEvent(std::shared_ptr<const ANAEvent> event);
  // Queues a drain of the inbox under a termination hold that lasts until its writes ran.
  void scheduleDrain();
  // On the event queue: records the waiting events and runs the waiting blocks, in order.
  void drainInbox(const std::shared_ptr<Operation>& activity);
  void enqueueOperations(const std::string& activityName,
                         std::function<void(std::shared_ptr<Operation> activity)> block);
  // On the event queue: the settings gate, sampling, the writes (a run of events in one) and,
  // when due, the rotation; the hold waits for the last write.
  void record(const std::vector<std::shared_ptr<const ANAEvent>>& events, const std::shared_ptr<Operation>& activity);
  bool shouldLogEvent() const;
  bool discardedBySampling(const ANAEvent& event) const;
  void write(std::shared_ptr<const ANAEvent> event, std::shared_ptr<const ANAMetadataSerializable> metadata,
             const std::shared_ptr<Operation>& activity);
  bool shouldSubmitLogAtURL(const std::string& path) const;
  void rotateAndSubmitCurrentLog();
  std::vector<std::shared_ptr<Operation>> operationsForUncompressedLog(const std::string& logURL);
  std::vector<std::shared_ptr<Operation>> operationsForCompressedLog(const std::string& compressedURL);
  std::vector<std::shared_ptr<Operation>> packageAndUploadOperations(const std::string& compressedURL,
                                                                     const std::shared_ptr<Operation>& after);
  std::shared_ptr<Operation> uploadOperationForFileAtURL(const std::string& path, const std::string& boundary);
  void cleanupAndProcessExistingFiles();
  void uploadAllMultipartFiles();
  void uploadMultipartFiles(const std::set<std::string>& paths);
  void removeAllLogs();
  void flushTimerFired();
  ANABackoffTimer* timerForUniqueName(const std::string& uniqueName, double initialRetryValue);
  std::string generateNewLogPath() const;
  static std::string boundaryForCompressedLog(const std::string& compressedURL);
  std::string multipartMimeURLWithBoundary(const std::string& boundary) const;
  static std::optional<std::string> boundaryFromURL(const std::string& path);
  void addToQueue(const std::shared_ptr<Operation>& operation) { mEventQueue->addOperation(operation); }

  const std::optional<std::string> mBetaToken;
  const std::string mRootDirectory;
  const Environment mEnvironment;
  std::shared_ptr<OperationQueue> mEventQueue;
  using EventBatch = std::vector<std::shared_ptr<const ANAEvent>>;
  ANAEventInbox mInbox;
  // Event queue only, from the set-up block on.
  std::string mRootEventDirectory;
  std::shared_ptr<ANAMetadata> mMetadata;
  std::shared_ptr<ANACrashMetadata> mPreviousExecutionMetadata;
  std::shared_ptr<ANAUploader> mUploader;
  std::string mCurrentLogURL;
  // What the current log will hold once its queued writes ran; unknown (-1) until first needed.
  std::int64_t mCurrentLogBytes = -1;
  std::shared_ptr<TELCertificatePinner> mCertPinner;
  ANAEventFilter mEventFilter;
  ANASettings mSettings;
  std::unique_ptr<ANATimer> mFlushTimer;
  std::map<std::string, std::unique_ptr<ANABackoffTimer>> mRetryTimerMap;
  // Packages whose last answer removes them (taken or refused for good).
  std::set<std::string> mAnswered;
};

}  // namespace telemetry
