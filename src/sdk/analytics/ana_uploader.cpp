#include "sdk/analytics/ana_uploader.h"

#include <unistd.h>

#include "sdk/analytics/ana_application.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/client/tel_network_response_handler.h"
#include "sdk/core/sdk_constants.h"

namespace telemetry {

// The session keeps its delegate alive; this one holds the uploader weakly, so the uploader
// and its session never keep each other.
class ANAUploader::SessionDelegate final : public URLSessionDelegate {
 public:
  explicit SessionDelegate(std::weak_ptr<ANAUploader> uploader) : mUploader(std::move(uploader)) {}

  void URLSessionDidBecomeInvalidWithError(CRKURLSession&, const OptionalError& error) override {
    ANALogger::sharedLogger().logWithLabel("ANAUploader", "Error: session has become invalid %s",
                                           error ? error->localizedDescription().c_str() : "(null)");
  }
  void URLSessionDidReceiveChallenge(CRKURLSession& session, const URLAuthenticationChallenge& challenge,
                                     ChallengeCompletion completion) override {
    auto uploader = mUploader.lock();
    auto delegate = uploader ? uploader->mDelegate.lock() : nullptr;
    if (!delegate) {
      completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
      return;
    }
    delegate->uploaderDidReceiveChallenge(*uploader, session, challenge, std::move(completion));
  }
  void URLSessionTaskDidCompleteWithError(CRKURLSession&, CRKURLSessionTask& task, const OptionalError& error) override {
    if (auto uploader = mUploader.lock()) uploader->taskDidComplete(task, error);
  }

 private:
  const std::weak_ptr<ANAUploader> mUploader;
};

std::shared_ptr<ANAUploader> ANAUploader::create(std::shared_ptr<OperationQueue> queue,
                                                 std::weak_ptr<ANAUploaderDelegate> delegate) {
  if (!queue) queue = std::make_shared<OperationQueue>("org.orrery.telemetry.analytics.uploader", 1);
  return std::shared_ptr<ANAUploader>(new ANAUploader(std::move(queue), std::move(delegate)));
}

ANAUploader::ANAUploader(std::shared_ptr<OperationQueue> queue, std::weak_ptr<ANAUploaderDelegate> delegate)
    : mQueue(std::move(queue)), mDelegate(std::move(delegate)) {}

ANAUploader::~ANAUploader() {
  if (mSession) mSession->invalidateAndCancel();
}

void ANAUploader::onQueue(std::function<void()> block) {
  std::weak_ptr<ANAUploader> weak = weak_from_this();
  mQueue->addOperationWithBlock([weak, block = std::move(block)] {
    if (auto self = weak.lock()) block();
  });
}

bool ANAUploader::supportsBackgroundRequests() const { return !ANAApplication::hostApplication().isExtension(); }

std::shared_ptr<CRKURLSession> ANAUploader::session() {
  if (mSession && !mSession->isInvalidated()) return mSession;
  std::optional<CRKURLSessionConfiguration> configuration;
  if (supportsBackgroundRequests()) {
    configuration = CRKURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(
        std::string(kAnalyticsIdentifierPrefix) + ".background-session");
  }
  if (!configuration) configuration = CRKURLSessionConfiguration::defaultSessionConfiguration();
  mSession = CRKURLSession::sessionWithConfiguration(
      configuration, std::make_shared<SessionDelegate>(weak_from_this()), mQueue);
  return mSession;
}

void ANAUploader::dropSession() {
  onQueue([this] {
    // Running transfers finish on the old session; the next one builds a new session.
    if (mSession) mSession->finishTasksAndInvalidate();
    mSession.reset();
  });
}

void ANAUploader::setDefaultUploadTimeout(double seconds) {
  mDefaultUploadTimeout = seconds;
  dropSession();
}

void ANAUploader::setLowPowerUploadTimeout(double seconds) {
  mLowPowerUploadTimeout = seconds;
  dropSession();
}

double ANAUploader::defaultUploadTimeout() const { return mDefaultUploadTimeout; }
double ANAUploader::lowPowerUploadTimeout() const { return mLowPowerUploadTimeout; }

double ANAUploader::retryIntervalForResponse(const std::optional<URLResponse>& response) {
  return TELNetworkResponseHandler::retryValueForResponse(response);
}

void ANAUploader::attemptToReconnectBackgroundSessionWithCompletionBlock(std::function<void()> block) {
  onQueue([block = std::move(block)] {
    if (block) block();
  });
}

std::set<std::string> ANAUploader::namesInFlight() const {
  std::set<std::string> names;
  auto op = mQueue->addOperationWithBlock([&] { names = mInFlight; });
  op->waitUntilFinished();
  return names;
}

void ANAUploader::startUploadRequest(const URLRequest& request, const std::string& filePath,
                                     const std::string& uniqueName) {
  onQueue([this, request, filePath, uniqueName] { start(request, filePath, uniqueName, false); });
}

void ANAUploader::restartTask(const URLRequest& originalRequest, const std::string& uniqueName) {
  onQueue([this, originalRequest, uniqueName] {
    auto delegate = mDelegate.lock();
    std::string path = delegate ? delegate->uploaderFilePathForUniqueName(*this, uniqueName) : std::string();
    start(originalRequest, path, uniqueName, true);
  });
}

void ANAUploader::start(const URLRequest& request, const std::string& filePath, const std::string& uniqueName,
                        bool restart) {
  if (!restart && mInFlight.count(uniqueName)) {
    ANALogger::sharedLogger().logWithLabel("ANAUploader", "A task currently exists for this upload, skipping");
    return;
  }
  mInFlight.insert(uniqueName);
  std::shared_ptr<CRKURLSessionUploadTask> task;
  if (!uniqueName.empty() && !filePath.empty() && ::access(filePath.c_str(), R_OK) == 0) {
    if (auto s = session()) task = s->uploadTaskWithRequest(request, filePath);
  }
  if (!task) {
    Error error{"error", -1, {}, nlohmann::json{{"path", filePath}, {"name", uniqueName}}};
    finish(uniqueName, error);
    return;
  }
  task->setTaskDescription(uniqueName);
  task->resume();
}

void ANAUploader::finish(const std::string& uniqueName, const OptionalError& error) {
  mInFlight.erase(uniqueName);
  if (auto delegate = mDelegate.lock()) delegate->uploaderDidFinishUploadWithUniqueName(*this, uniqueName, error);
}

void ANAUploader::taskDidComplete(CRKURLSessionTask& task, const OptionalError& error) {
  const std::string name = task.taskDescription();
  const URLRequest request = task.originalRequest();
  auto delegate = mDelegate.lock();
  if (!delegate) {
    mInFlight.erase(name);
    return;
  }
  std::weak_ptr<ANAUploader> weak = weak_from_this();
  delegate->uploaderCompletedRequest(
      *this, request, task.response(), name, error, [weak, request, name](bool retry, const OptionalError& outcome) {
        auto self = weak.lock();
        if (!self) return;
        if (retry) {
          ANALogger::sharedLogger().log("Retrying task with name %s", name.c_str());
          self->restartTask(request, name);
        } else {
          self->onQueue([self = self.get(), name, outcome] { self->finish(name, outcome); });
        }
      });
}

}  // namespace telemetry
