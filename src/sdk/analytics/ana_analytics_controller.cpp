#include "sdk/analytics/ana_analytics_controller.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>

#include "platform/core/launch_work.h"
#include "platform/core/notification_center.h"
#include "sdk/analytics/ana_activity.h"
#include "sdk/analytics/ana_cleanup_files_operation.h"
#include "sdk/analytics/ana_compress_log_operation.h"
#include "sdk/analytics/ana_file_utils.h"
#include "sdk/analytics/ana_lifecycle_event.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/analytics/ana_package_log_operation.h"
#include "sdk/analytics/ana_recording_arena.h"
#include "sdk/analytics/ana_rotate_crash_metadata_operation.h"
#include "sdk/analytics/ana_upload_operation.h"
#include "sdk/analytics/ana_write_event_operation.h"
#include "sdk/client/tel_network_response_handler.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/application_identity.h"
#include "sdk/identity/encoding.h"
#include "sdk/net/tel_multipart_mime_stream_encoder.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "sdk/settings/tel_settings_onboarding_manager.h"
#include "sdk/startup/telemetry.h"

namespace telemetry {

namespace {
const std::string kPrefix = kAnalyticsIdentifierPrefix;
constexpr std::uint64_t kRecordOptions = ANAActivity::kSuddenTerminationDisabled | ANAActivity::kAutomaticTerminationDisabled;
const char* const kLifecycleNotifications[] = {"NSApplicationWillTerminateNotification",
                                               "NSApplicationWillResignActiveNotification",
                                               "NSApplicationDidBecomeActiveNotification"};
}  // namespace

std::string ANAAnalyticsController::rootDirectory() {
  return paths::join(paths::join(paths::join(paths::join(paths::cachesDirectory(), std::string(kSDKIdentifierPrefix) + ".data"),
                                             TELApplicationEscapedBundleIdentifier().value_or("")),
                                 "analytics"),
                     "v2");
}

std::string ANAAnalyticsController::eventDirectoryForRootDirectory(const std::string& root) {
  return paths::join(root, "events");
}

std::string ANAAnalyticsController::crashMetadataPathForRootDirectory(const std::string& root) {
  return paths::join(root, "crash_metadata");
}

std::shared_ptr<ANAAnalyticsController> ANAAnalyticsController::initWithBetaToken(
    const std::optional<std::string>& betaToken) {
  return initWithBetaToken(betaToken, rootDirectory());
}

std::shared_ptr<ANAAnalyticsController> ANAAnalyticsController::initWithBetaToken(
    const std::optional<std::string>& betaToken, const std::string& root) {
  return initWithBetaToken(betaToken, root, Environment{});
}

std::shared_ptr<ANAAnalyticsController> ANAAnalyticsController::initWithBetaToken(
    const std::optional<std::string>& betaToken, const std::string& root, Environment environment) {
  std::shared_ptr<ANAAnalyticsController> controller(new ANAAnalyticsController(betaToken, root, environment));
  controller->start();
  return controller;
}

ANAAnalyticsController::ANAAnalyticsController(std::optional<std::string> betaToken, std::string root,
                                               Environment environment)
    : mBetaToken(std::move(betaToken)), mRootDirectory(std::move(root)), mEnvironment(environment) {}

ANAAnalyticsController::~ANAAnalyticsController() {
  platform::NotificationCenter::defaultCenter().removeObserver(this);
  // Queued blocks hold the controller weakly; those still waiting find it gone.
  mFlushTimer.reset();
}

void ANAAnalyticsController::start() {
  ANARecordingArena::prepareSpares();
  mEventQueue = std::make_shared<OperationQueue>(kPrefix + ".EventQueue", 1);
  // The set-up (folders, the previous run's metadata, old logs) and the events waiting behind
  // it keep their order but begin once the launch is over, off the first window's way.
  mEventQueue->setSuspended(true);
  platform::afterLaunch([queue = std::weak_ptr<OperationQueue>(mEventQueue)] {
    if (auto events = queue.lock()) events->setSuspended(false);
  });
  auto& center = platform::NotificationCenter::defaultCenter();
  std::weak_ptr<ANAAnalyticsController> weak = weak_from_this();
  for (const char* name : kLifecycleNotifications) {
    center.addObserver(this, name, nullptr, [weak](const platform::Notification& n) {
      if (auto self = weak.lock()) self->enqueueEvent(ANALifecycleEvent::eventWithNotification(n.name));
    });
  }
  mEventQueue->addOperationWithBlock([weak] {
    if (auto self = weak.lock()) self->setUp();
  });
  center.addObserver(this, kTELSettingsAvailableNotification, nullptr, [weak](const platform::Notification&) {
    auto self = weak.lock();
    if (self && !self->standalone())
      self->initializeSettingsIfNeededWithTelemetrySettings(Telemetry::sharedSDK().settings());
  });
  const bool firstInstall =
      mEnvironment.firstInstall ? *mEnvironment.firstInstall : !standalone() && Telemetry::sharedSDK().isFirstInstall();
  if (firstInstall) enqueueEvent(ANALifecycleEvent::installEvent());
  enqueueEvent(ANALifecycleEvent::appLaunchedEvent());
  if (standalone()) return;
  initializeSettingsIfNeededWithTelemetrySettings(Telemetry::sharedSDK().settings());
  Telemetry::sharedSDK().setAdvertisingToken(ANAMetadata::identifierForAdvertising());
}

void ANAAnalyticsController::setUp() {
  mRootEventDirectory = eventDirectoryForRootDirectory(mRootDirectory);
  std::error_code ignored;
  std::filesystem::create_directories(mRootEventDirectory, ignored);
  mCurrentLogURL = generateNewLogPath();
  mSettings = ANASettings();
  mMetadata = standalone() ? std::make_shared<ANAMetadata>(*mEnvironment.facts, mBetaToken)
                           : ANAMetadata::initWithTelemetry(Telemetry::sharedSDK(), mBetaToken);
  ANARotateCrashMetadataOperation rotation(crashMetadataPathForRootDirectory(mRootDirectory), mMetadata);
  rotation.main();
  mPreviousExecutionMetadata = rotation.crashMetadata();
  mCertPinner = std::make_shared<TELCertificatePinner>(TELPinnedCertificates());
  mUploader = ANAUploader::create(mEventQueue, weak_from_this());
  cleanupAndProcessExistingFiles();
}

void ANAAnalyticsController::drain() {
  // Each pass waits for what was queued before it; stages queue more, so go until a pass
  // finds the queue empty behind it.
  for (int i = 0; i < 64; ++i) {
    mEventQueue->addOperationWithBlock([] {})->waitUntilFinished();
    if (mEventQueue->operationCount() == 0) return;
  }
}

void ANAAnalyticsController::initializeSettingsIfNeededWithTelemetrySettings(TELSettings::Dictionary dictionary) {
  std::weak_ptr<ANAAnalyticsController> weak = weak_from_this();
  mEventQueue->addOperationWithBlock([weak, dictionary] {
    auto self = weak.lock();
    if (!self || !dictionary || self->mSettings.valid()) return;
    self->mSettings = ANASettings(dictionary);
    auto& log = ANALogger::sharedLogger();
    if (!self->mSettings.shouldCollectAnalytics()) {
      log.log("Analytics is disabled. Cleaning up.");
      self->removeAllLogs();
      return;
    }
    const nlohmann::json analytics = dictionary->is_object() ? dictionary->value("analytics", nlohmann::json()) : nlohmann::json();
    log.log("Answers enabled with settings: %s", analytics.dump().c_str());
    log.log("Logging events to %s", self->mRootEventDirectory.c_str());
    const double interval = self->mSettings.flushInterval();
    if (interval > 0) {
      self->mFlushTimer = std::make_unique<ANATimer>(interval, self->mEnvironment.flushTimerQueue,
                                                     kPrefix + ".TimedEventsFlush", true, [weak] {
                                                       if (auto s = weak.lock()) s->flushTimerFired();
                                                     });
    }
    self->mUploader->setDefaultUploadTimeout(self->mSettings.defaultUploadTimeout());
    self->mUploader->setLowPowerUploadTimeout(self->mSettings.lowPowerUploadTimeout());
    self->uploadAllMultipartFiles();
  });
}

bool ANAAnalyticsController::shouldLogEvent() const { return !mSettings.valid() || mSettings.shouldCollectAnalytics(); }

bool ANAAnalyticsController::discardedBySampling(const ANAEvent& event) const {
  return mEventFilter.shouldDiscardEvent(&event, mMetadata->betaToken(), mMetadata->installationId(),
                                         mSettings.samplingRate());
}

void ANAAnalyticsController::logEvent(std::shared_ptr<const ANAEvent> event) {
  if (!event) return;
  if (ANALogger::sharedLogger().debugMode())
    ANALogger::sharedLogger().log("Logging Analytics event: %s", event->name().c_str());
  enqueueEvent(std::move(event));
}

void ANAAnalyticsController::enqueueOperations(const std::string& activityName,
                                               std::function<void(std::shared_ptr<Operation> activity)> block) {
  auto activity = ANAActivity::beginActivity(activityName, kRecordOptions);
  auto end = BlockOperation::create([activity] { activity->end(); });
  std::weak_ptr<Operation> weakEnd = end;
  auto work = BlockOperation::create([block = std::move(block), weakEnd] { block(weakEnd.lock()); });
  end->addDependency(work);
  mEventQueue->addOperation(work);
  mEventQueue->addOperation(end);
}

void ANAAnalyticsController::enqueueEvent(std::shared_ptr<const ANAEvent> event) {
  if (!event) return;
  if (mInbox.push({std::move(event), nullptr})) scheduleDrain();
}

void ANAAnalyticsController::scheduleDrain() {
  static const std::string kRecordEvent = kPrefix + ".RecordEvent";
  std::weak_ptr<ANAAnalyticsController> weak = weak_from_this();
  enqueueOperations(kRecordEvent, [weak](std::shared_ptr<Operation> activity) {
    if (auto self = weak.lock()) self->drainInbox(activity);
  });
}

void ANAAnalyticsController::drainInbox(const std::shared_ptr<Operation>& activity) {
  EventBatch events;
  for (auto& entry : mInbox.take()) {
    if (entry.event) {
      events.push_back(std::move(entry.event));
      continue;
    }
    record(events, activity);
    events.clear();
    entry.block(activity);
  }
  record(events, activity);
  // What came meanwhile found a drain under way and asked for none.
  if (!mInbox.finishDrain()) scheduleDrain();
}

void ANAAnalyticsController::record(const EventBatch& events, const std::shared_ptr<Operation>& activity) {
  if (events.empty() || !shouldLogEvent()) return;
  // A run of events goes in one write, ended where the log passes its size limit or an event
  // flushes it; the size counts what queued writes will add, as the file has not grown yet.
  if (mCurrentLogBytes < 0) mCurrentLogBytes = static_cast<std::int64_t>(ANAFileUtils::fileSizeAtURL(mCurrentLogURL));
  std::shared_ptr<ANAWriteEventOperation> run;
  std::shared_ptr<Operation> lastWrite;
  for (const auto& event : events) {
    if (discardedBySampling(*event)) {
      ANALogger::sharedLogger().log("Application is enabled for sampling, skipping %s", event->name().c_str());
      continue;
    }
    if (!run) run = std::make_shared<ANAWriteEventOperation>(mMetadata, mCurrentLogURL);
    mCurrentLogBytes += static_cast<std::int64_t>(run->append(event));
    if (mCurrentLogBytes <= mSettings.maximumPayloadSize() && !event->triggersFlush()) continue;
    addToQueue(run);
    lastWrite = std::exchange(run, nullptr);
    rotateAndSubmitCurrentLog();
  }
  if (run) {
    addToQueue(run);
    lastWrite = run;
  }
  // The queue runs one operation at a time, in order: the hold waits for the last write only.
  if (activity && lastWrite) activity->addDependency(lastWrite);
}

void ANAAnalyticsController::logCrashEvent(std::shared_ptr<const ANACrashEvent> event) {
  if (!event) return;
  std::weak_ptr<ANAAnalyticsController> weak = weak_from_this();
  // Through the inbox, so it keeps its place among the events recorded around it.
  auto block = [weak, event](const std::shared_ptr<Operation>& activity) {
    auto self = weak.lock();
    if (!self) return;
    ANALogger::sharedLogger().log("Attempting to log %s", event->name().c_str());
    if (!self->shouldLogEvent()) return;
    if (self->discardedBySampling(*event)) {
      ANALogger::sharedLogger().log("Application is enabled for sampling, skipping %s", event->name().c_str());
      return;
    }
    self->rotateAndSubmitCurrentLog();
    self->write(event, self->mPreviousExecutionMetadata, activity);
    self->rotateAndSubmitCurrentLog();
  };
  if (mInbox.push({nullptr, std::move(block)})) scheduleDrain();
}

void ANAAnalyticsController::write(std::shared_ptr<const ANAEvent> event,
                                   std::shared_ptr<const ANAMetadataSerializable> metadata,
                                   const std::shared_ptr<Operation>& activity) {
  auto op = std::make_shared<ANAWriteEventOperation>(std::move(event), std::move(metadata), mCurrentLogURL);
  if (activity) activity->addDependency(op);
  addToQueue(op);
}

}  // namespace telemetry
