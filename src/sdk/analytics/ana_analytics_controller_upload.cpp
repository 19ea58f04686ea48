// The analytics controller's way out: rotating the current log, compressing and packaging it
// as a multipart body, uploading the packages with a back-off per package, and cleaning up the
// files a start finds.
#include "sdk/analytics/ana_analytics_controller.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "sdk/analytics/ana_activity.h"
#include "sdk/analytics/ana_cleanup_files_operation.h"
#include "sdk/analytics/ana_compress_log_operation.h"
#include "sdk/analytics/ana_file_utils.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/analytics/ana_package_log_operation.h"
#include "sdk/analytics/ana_upload_operation.h"
#include "sdk/client/tel_network_response_handler.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/encoding.h"
#include "sdk/net/tel_multipart_mime_stream_encoder.h"

namespace telemetry {

namespace {
constexpr std::uint64_t kRotateOptions =
    ANAActivity::kSuddenTerminationDisabled | ANAActivity::kAutomaticTerminationDisabled | ANAActivity::kBackground;

std::string withExtension(const std::string& path, const std::string& extension) {
  return std::filesystem::path(path).replace_extension(extension).string();
}

std::string extensionOf(const std::string& path) {
  std::string e = std::filesystem::path(path).extension().string();
  return e.empty() ? e : e.substr(1);
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

// A lasting refusal: the same package would be refused again.
bool refusedForGood(const std::optional<URLResponse>& response) {
  if (!response) return false;
  const int s = response->statusCode;
  return s >= 400 && s < 500 && s != 408 && s != 420 && s != 429;
}
}  // namespace

bool ANAAnalyticsController::shouldSubmitLogAtURL(const std::string& path) const {
  return static_cast<std::int64_t>(ANAFileUtils::fileSizeAtURL(path)) > mSettings.maximumPayloadSize();
}

void ANAAnalyticsController::rotateAndSubmitCurrentLog() {
  auto activity = ANAActivity::beginActivity(std::string(kAnalyticsIdentifierPrefix) + ".RotateAndSubmit", kRotateOptions);
  auto end = BlockOperation::create([activity] { activity->end(); });
  const std::string old = mCurrentLogURL;
  mCurrentLogURL = generateNewLogPath();
  mCurrentLogBytes = 0;
  for (const auto& op : operationsForUncompressedLog(old)) {
    end->addDependency(op);
    addToQueue(op);
  }
  addToQueue(end);
}

std::vector<std::shared_ptr<Operation>> ANAAnalyticsController::operationsForUncompressedLog(const std::string& logURL) {
  if (extensionOf(logURL) != "log") {
    ANALogger::sharedLogger().log("Error: attempted to submit file with invalid extension %s, should be %s",
                                  extensionOf(logURL).c_str(), "log");
  }
  const std::string compressed = withExtension(logURL, "gz");
  auto compress = std::make_shared<ANACompressLogOperation>(logURL, compressed);
  std::weak_ptr<ANACompressLogOperation> weakCompress = compress;
  auto removeLog = BlockOperation::create([weakCompress, logURL] {
    auto c = weakCompress.lock();
    if (c && c->success()) removeFile(logURL);
  });
  removeLog->addDependency(compress);
  std::vector<std::shared_ptr<Operation>> ops{compress, removeLog};
  for (auto& op : packageAndUploadOperations(compressed, removeLog)) ops.push_back(std::move(op));
  return ops;
}

std::vector<std::shared_ptr<Operation>> ANAAnalyticsController::operationsForCompressedLog(
    const std::string& compressedURL) {
  if (extensionOf(compressedURL) != "gz") {
    ANALogger::sharedLogger().log("Error: attempted to submit file with invalid extension %s, should be %s",
                                  extensionOf(compressedURL).c_str(), "gz");
  }
  return packageAndUploadOperations(compressedURL, nullptr);
}

std::vector<std::shared_ptr<Operation>> ANAAnalyticsController::packageAndUploadOperations(
    const std::string& compressedURL, const std::shared_ptr<Operation>& after) {
  const std::string boundary = boundaryForCompressedLog(compressedURL);
  const std::string packageURL = multipartMimeURLWithBoundary(boundary);
  auto package = std::make_shared<ANAPackageLogOperation>(compressedURL, packageURL, boundary);
  if (after) package->addDependency(after);
  auto upload = uploadOperationForFileAtURL(packageURL, boundary);
  std::weak_ptr<ANAPackageLogOperation> weakPackage = package;
  std::weak_ptr<Operation> weakUpload = upload;
  // The ".gz" goes only once its package holds it; without a package there is nothing to send.
  std::weak_ptr<ANAAnalyticsController> weak = weak_from_this();
  auto settle = BlockOperation::create([weak, weakPackage, weakUpload, compressedURL, packageURL, boundary] {
    auto p = weakPackage.lock();
    auto u = weakUpload.lock();
    if (!p || !p->success()) {
      if (u) u->cancel();
      return;
    }
    removeFile(compressedURL);
    // Settings that arrived while this log was packaged send it now rather than next launch.
    auto self = weak.lock();
    if (self && u && u->isCancelled() && self->mSettings.valid())
      self->addToQueue(self->uploadOperationForFileAtURL(packageURL, boundary));
  });
  settle->addDependency(package);
  upload->addDependency(settle);
  return {package, settle, upload};
}

std::shared_ptr<Operation> ANAAnalyticsController::uploadOperationForFileAtURL(const std::string& path,
                                                                              const std::string& boundary) {
  auto op = std::make_shared<ANAUploadOperation>(mUploader, mSettings.analyticsURL().value_or(""),
                                                 mMetadata->APIKey().value_or(""), path, boundary);
  if (!mSettings.valid()) op->cancel();
  return op;
}

void ANAAnalyticsController::cleanupAndProcessExistingFiles() {
  auto cleanup = std::make_shared<ANACleanupFilesOperation>(
      mRootEventDirectory, static_cast<size_t>(std::max<std::int64_t>(0, mSettings.maxPendingSendFiles())));
  std::weak_ptr<ANAAnalyticsController> weak = weak_from_this();
  cleanup->setSuccessBlock([weak](const std::set<std::string>& logs, const std::set<std::string>& compressed,
                                  const std::set<std::string>& packages) {
    auto self = weak.lock();
    if (!self) return;
    // The cleanup runs on the event queue, so its answer is handled there too.
    for (const auto& log : logs) {
      if (log == self->mCurrentLogURL) continue;
      for (const auto& op : self->operationsForUncompressedLog(log)) self->addToQueue(op);
    }
    for (const auto& gz : compressed)
      for (const auto& op : self->operationsForCompressedLog(gz)) self->addToQueue(op);
    self->mUploader->attemptToReconnectBackgroundSessionWithCompletionBlock([weak, packages] {
      if (auto s = weak.lock()) s->uploadMultipartFiles(packages);
    });
  });
  addToQueue(cleanup);
}

void ANAAnalyticsController::uploadAllMultipartFiles() {
  uploadMultipartFiles(ANAFileUtils::filesWithExtension("multipartmime", mRootEventDirectory));
}

void ANAAnalyticsController::uploadMultipartFiles(const std::set<std::string>& paths) {
  for (const auto& path : paths) {
    auto boundary = boundaryFromURL(path);
    if (!boundary) continue;
    addToQueue(uploadOperationForFileAtURL(path, *boundary));
  }
}

void ANAAnalyticsController::removeAllLogs() {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(mRootEventDirectory, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    std::filesystem::remove_all(it->path(), ignored);
  }
}

void ANAAnalyticsController::flushTimerFired() {
  std::weak_ptr<ANAAnalyticsController> weak = weak_from_this();
  mEventQueue->addOperationWithBlock([weak] {
    auto self = weak.lock();
    if (!self) return;
    if (self->mSettings.flushInterval() <= 0) {
      self->mFlushTimer.reset();
      return;
    }
    if (self->shouldSubmitLogAtURL(self->mCurrentLogURL)) self->rotateAndSubmitCurrentLog();
  });
}

ANABackoffTimer* ANAAnalyticsController::timerForUniqueName(const std::string& uniqueName, double initialRetryValue) {
  if (uniqueName.empty()) {
    ANALogger::sharedLogger().log("Error: Requesting timer for nil unique name.");
    return nullptr;
  }
  auto& timer = mRetryTimerMap[uniqueName];
  if (!timer) timer = std::make_unique<ANABackoffTimer>(initialRetryValue, ANABackoffTimer::kDefaultJitterCoefficient,
                                                        mEnvironment.retryQueue);
  if (timer->retryCount() < kMaximumRetries) return timer.get();
  mRetryTimerMap.erase(uniqueName);
  return nullptr;
}

std::string ANAAnalyticsController::boundaryForCompressedLog(const std::string& compressedURL) {
  // The log's own name (a UUID), so a log packaged twice makes the same package.
  const std::string base = std::filesystem::path(compressedURL).stem().string();
  const bool uuid = base.size() == 36 && std::all_of(base.begin(), base.end(), [](char c) {
                      return c == '-' || std::isxdigit(static_cast<unsigned char>(c));
                    });
  return uuid ? base : TELMultipartMimeStreamEncoder::generateBoundary();
}

std::string ANAAnalyticsController::generateNewLogPath() const {
  return paths::join(mRootEventDirectory, TELGenerateUUIDString() + ".log");
}

std::string ANAAnalyticsController::multipartMimeURLWithBoundary(const std::string& boundary) const {
  return paths::join(mRootEventDirectory, boundary + ".multipartmime");
}

std::optional<std::string> ANAAnalyticsController::boundaryFromURL(const std::string& path) {
  if (extensionOf(path) != "multipartmime") return std::nullopt;
  return std::filesystem::path(path).stem().string();
}

std::string ANAAnalyticsController::uploaderFilePathForUniqueName(ANAUploader&, const std::string& uniqueName) {
  return multipartMimeURLWithBoundary(uniqueName);
}

void ANAAnalyticsController::uploaderCompletedRequest(ANAUploader& uploader, const URLRequest& request,
                                                      const std::optional<URLResponse>& response,
                                                      const std::string& uniqueName, const OptionalError& error,
                                                      RetryDecision decide) {
  if (error) ANALogger::sharedLogger().log("Error transmitting events: %s", error->localizedDescription().c_str());
  const bool answered = !error && response && response->statusCode >= 200 && response->statusCode < 300;
  if (answered || refusedForGood(response)) mAnswered.insert(uniqueName);
  TELNetworkResponseHandler::handleCompletedResponse(
      response, request, error, [&](bool retry, const OptionalError& outcome) {
        if (!retry) {
          decide(false, outcome);
          return;
        }
        ANABackoffTimer* timer = timerForUniqueName(uniqueName, uploader.retryIntervalForResponse(response));
        if (!timer) {
          decide(false, outcome);
          return;
        }
        ANALogger::sharedLogger().log("Scheduling %lu th retry.", static_cast<unsigned long>(timer->retryCount()));
        timer->executeBlockAfterNextInterval([decide, outcome] { decide(true, outcome); });
      });
}

void ANAAnalyticsController::uploaderDidFinishUploadWithUniqueName(ANAUploader&, const std::string& uniqueName,
                                                                   const OptionalError& error) {
  if (error) {
    ANALogger::sharedLogger().log("Failed to upload %s with error %s", uniqueName.c_str(),
                                  error->localizedDescription().c_str());
  }
  ANALogger::sharedLogger().log("Finished transmission.");
  // Kept when offline, throttled past the last retry or refused for now: the next launch sends it.
  if (mAnswered.erase(uniqueName) && !uniqueName.empty()) removeFile(multipartMimeURLWithBoundary(uniqueName));
}

void ANAAnalyticsController::uploaderDidReceiveChallenge(ANAUploader&, CRKURLSession& session,
                                                         const URLAuthenticationChallenge& challenge,
                                                         URLSessionDelegate::ChallengeCompletion completion) {
  // Pinned whatever the debug mode: debug changes only what is logged.
  if (!mCertPinner) {
    completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
    return;
  }
  mCertPinner->handleChallenge(challenge, &session, completion);
}

}  // namespace telemetry
