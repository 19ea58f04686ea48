#include "crash/crk_network_client.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <vector>

#include "crash/crk_file_manager.h"
#include "crash/crk_log.h"
#include "crash/crk_user_logging.h"
#include "sdk/client/tel_network_client.h"
#include "sdk/client/tel_network_response_handler.h"
#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/standard_paths.h"
#include "sdk/pinning/tel_certificate_pinner.h"
#include "sdk/pinning/tel_pinned_certificates.h"

namespace telemetry {

namespace {

bool readable(const std::string& path) {
  struct stat info {};
  return ::access(path.c_str(), R_OK) == 0 && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string folderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A count of a few digits; anything longer at its name is no counter of ours.
constexpr size_t kMaxRefusalCounterBytes = 32;

std::string refusalCounterPath(const std::string& packagePath) {
  return paths::join(folderOf(packagePath), "." + nameOf(packagePath) + ".refusals");
}

bool lastingRefusal(const std::optional<URLResponse>& response) {
  if (!response) return false;
  const int status = response->statusCode;
  return status >= 400 && status < 500 && status != 408 && status != 420 && status != 429;
}

// Pins the urgent upload's own session like every other.
class PinningDelegate final : public URLSessionDelegate {
 public:
  explicit PinningDelegate(std::shared_ptr<TELCertificatePinner> pinner) : mPinner(std::move(pinner)) {}
  void URLSessionDidReceiveChallenge(CRKURLSession& session, const URLAuthenticationChallenge& challenge,
                                     ChallengeCompletion completion) override {
    mPinner->handleChallenge(challenge, &session, completion);
  }

 private:
  std::shared_ptr<TELCertificatePinner> mPinner;
};

}  // namespace

std::shared_ptr<CRKNetworkClient> CRKNetworkClient::create(std::shared_ptr<OperationQueue> queue,
                                                           std::shared_ptr<const CRKFileManager> fileManager,
                                                           std::weak_ptr<CRKNetworkClientDelegate> delegate,
                                                           const std::optional<CertificateList>& pinnedCertificates) {
  std::shared_ptr<CRKNetworkClient> client(new CRKNetworkClient());
  client->mQueue = queue ? std::move(queue) : CRKURLSession::newDefaultDelegateQueue();
  client->mFileManager = std::move(fileManager);
  client->mDelegate = std::move(delegate);
  if (pinnedCertificates) client->mPinner = std::make_shared<TELCertificatePinner>(*pinnedCertificates);
  if (auto strong = client->mDelegate.lock()) client->mCanUseBackgroundSession = strong->networkClientCanUseBackgroundSessions(*client);
  if (!client->supportsBackgroundRequests() && isDebugEnabled())
    consoleLog("[CrashKit:Crash:Client] Background session uploading not supported, asynchronous uploading will be used");
  return client;
}

CRKNetworkClient::~CRKNetworkClient() {
  if (mSession) mSession->finishTasksAndInvalidate();
}

std::shared_ptr<TELCertificatePinner> CRKNetworkClient::pinner() {
  return std::make_shared<TELCertificatePinner>(TELPinnedCertificates());
}

std::shared_ptr<TELCertificatePinner> CRKNetworkClient::certPinner() const {
  std::lock_guard lock(mPinnerMutex);
  if (!mPinner) mPinner = pinner();
  return mPinner;
}

bool CRKNetworkClient::supportsBackgroundRequests() const {
  return CRKURLSession::NSURLSessionShouldBeUsed() && mCanUseBackgroundSession;
}

std::shared_ptr<CRKURLSession> CRKNetworkClient::session() {
  std::lock_guard lock(mMutex);
  if (!mSession) {
    mSession = CRKURLSession::sessionWithConfiguration(CRKURLSessionConfiguration::defaultSessionConfiguration(),
                                                       shared_from_this(), mQueue);
    if (!mSession) consoleLog("[CrashKit:Crash:Client] Failed to initialize");
  }
  return mSession;
}

void CRKNetworkClient::attemptToReconnectBackgroundSessionWithCompletionBlock(const std::function<void()>& block) {
  if (block) block();
}

void CRKNetworkClient::setRetryQueue(std::shared_ptr<platform::Queue> queue) {
  std::lock_guard lock(mMutex);
  mRetryQueue = std::move(queue);
}

std::string CRKNetworkClient::rootPath() const { return mFileManager->rootPath(); }

std::string CRKNetworkClient::absolutePathForRelativeTaskPath(const std::string& relative) const {
  return paths::join(rootPath(), relative);
}

std::optional<std::string> CRKNetworkClient::relativeTaskPathForAbsolutePath(const std::string& absolute) const {
  const std::string prefix = rootPath() + "/";
  if (absolute.compare(0, prefix.size(), prefix) != 0) {
    CRKLogWarn("Error: path '%s' is not at the root '%s'", absolute.c_str(), rootPath().c_str());
    return std::nullopt;
  }
  return absolute.substr(prefix.size());
}

void CRKNetworkClient::checkForExistingTaskMatchingDescription(const std::string& description,
                                                               const std::function<void(bool)>& completion) {
  auto self = shared_from_this();
  mQueue->addOperationWithBlock([self, description, completion] {
    auto current = self->session();
    if (!current) {
      completion(false);
      return;
    }
    current->getTasksWithCompletionHandler([description, completion](auto data, auto upload, auto download) {
      for (const auto* list : {&upload, &data, &download})
        for (const auto& task : *list)
          if (task && task->taskDescription() == description) {
            completion(true);
            return;
          }
      completion(false);
    });
  });
}

void CRKNetworkClient::startUploadRequest(const URLRequest& request, const std::string& filePath, bool immediately) {
  if (immediately) {
    startImmediateUploadRequest(request, filePath);
    return;
  }
  auto description = relativeTaskPathForAbsolutePath(filePath).value_or(filePath);
  auto self = shared_from_this();
  checkForExistingTaskMatchingDescription(description, [self, request, filePath](bool found) {
    if (found) {
      if (isDebugEnabled()) consoleLog("[CrashKit:Crash:Client] A task currently exists for this upload, skipping");
      return;
    }
    self->startNewUploadRequest(request, filePath);
  });
}

void CRKNetworkClient::startImmediateUploadRequest(const URLRequest& request, const std::string& filePath) {
  if (supportsBackgroundRequests()) {
    startNewUploadRequest(request, filePath);
    return;
  }
  if (!readable(filePath)) {
    CRKLogWarn("Error: file unreadable\n");
    return;
  }
  // Its own session and delegate queue: the caller may be the work queue itself.
  auto own = CRKURLSession::sessionWithConfiguration(CRKURLSessionConfiguration::defaultSessionConfiguration(),
                                                     std::make_shared<PinningDelegate>(certPinner()),
                                                     CRKURLSession::newDefaultDelegateQueue());
  if (!own) return;
  auto outcome = std::make_shared<std::promise<std::optional<URLResponse>>>();
  auto future = outcome->get_future();
  auto task = own->uploadTaskWithRequest(request, filePath,
                                         [outcome](const std::vector<uint8_t>&, const std::optional<URLResponse>& response,
                                                   const OptionalError& error) {
                                           outcome->set_value(error ? std::nullopt : response);
                                         });
  if (!task) {
    own->invalidateAndCancel();
    return;
  }
  task->resume();
  const double timeout = request.timeoutInterval() > 0 ? request.timeoutInterval() : 60.0;
  std::optional<URLResponse> response;
  if (future.wait_for(std::chrono::duration<double>(timeout + 1.0)) == std::future_status::ready) response = future.get();
  own->invalidateAndCancel();
  if (!response) return;
  bool success = false;
  TELNetworkResponseHandler::clientResponseType(
      response, [&](TELNetworkResponseType type, int) { success = type == TELNetworkResponseType::Success; });
  if (!success) return;
  if (auto delegate = mDelegate.lock()) delegate->networkClientDidFinishUploadWithPath(*this, filePath, std::nullopt);
}

void CRKNetworkClient::startNewUploadRequest(const URLRequest& request, const std::string& filePath) {
  auto self = shared_from_this();
  if (!readable(filePath)) {
    mQueue->addOperationWithBlock([self, filePath] {
      Error error{kCRKNetworkErrorDomain, kCRKNetworkErrorUnreadableFile, {}, nlohmann::json{{"path", filePath}}};
      if (auto delegate = self->mDelegate.lock()) delegate->networkClientDidFinishUploadWithPath(*self, filePath, error);
    });
    return;
  }
  auto current = session();
  if (!current) return;
  auto task = current->uploadTaskWithRequest(request, filePath);
  if (!task) return;
  task->setTaskDescription(relativeTaskPathForAbsolutePath(filePath).value_or(filePath));
  task->resume();
}

void CRKNetworkClient::URLSessionTaskDidCompleteWithError(CRKURLSession&, CRKURLSessionTask& task,
                                                          const OptionalError& error) {
  const auto response = task.response();
  const auto request = task.originalRequest();
  const auto description = task.taskDescription();
  TELNetworkResponseHandler::handleCompletedResponse(
      response, request, error, [&](bool retry, const OptionalError& outcome) {
        if (retry) {
          unsigned count;
          {
            std::lock_guard lock(mMutex);
            count = ++mRestarts[description];
          }
          if (count <= kMaxRestartsPerRun) {
            restart(request, description, response);
            return;
          }
          // Enough for this run; the package waits in "prepared" for the next launch.
          Error limit = outcome ? *outcome : TELNetworkResponseHandler::errorForCode(kTELNetworkErrorRetryable);
          limit.userInfo["retry_limit_reached"] = true;
          handleTaskDescriptionCompleted(description, limit);
          return;
        }
        const std::string path = absolutePathForRelativeTaskPath(description);
        if (!outcome) {
          ::unlink(refusalCounterPath(path).c_str());
        } else if (lastingRefusal(response) && recordRefusal(path)) {
          if (auto delegate = mDelegate.lock()) {
            Error gone = *outcome;
            gone.userInfo["quarantined"] = true;
            delegate->networkClientDidFinishUploadWithPath(*this, path, gone);
          }
          return;
        }
        handleTaskDescriptionCompleted(description, outcome);
      });
}

void CRKNetworkClient::restart(const URLRequest& request, const std::string& description,
                               const std::optional<URLResponse>& response) {
  unsigned count;
  std::shared_ptr<platform::Queue> retryQueue;
  {
    std::lock_guard lock(mMutex);
    count = mRestarts[description];
    retryQueue = mRetryQueue;
  }
  platform::Queue& queue = retryQueue ? *retryQueue : platform::globalQueue(platform::QueuePriority::Default);
  std::weak_ptr<CRKNetworkClient> weak = shared_from_this();
  queue.afterSeconds(TELNetworkClient::backoffDelayForResponse(response, count), [weak, request, description] {
    auto self = weak.lock();
    if (!self) return;
    self->mQueue->addOperationWithBlock([self, request, description] {
      self->startNewUploadRequest(request, self->absolutePathForRelativeTaskPath(description));
    });
  });
}

void CRKNetworkClient::handleTaskDescriptionCompleted(const std::string& description, const OptionalError& error) {
  if (auto delegate = mDelegate.lock())
    delegate->networkClientDidFinishUploadWithPath(*this, absolutePathForRelativeTaskPath(description), error);
}

bool CRKNetworkClient::recordRefusal(const std::string& packagePath) {
  const std::string counter = refusalCounterPath(packagePath);
  unsigned refusals = 0;
  // Only a counter of our own is read: a link planted at its name counts nothing.
  if (const auto bytes = fileio::kindOf(counter) == fileio::FileKind::Regular
                             ? fileio::readFile(counter, kMaxRefusalCounterBytes)
                             : std::nullopt) {
    const std::string text(bytes->begin(), bytes->end());
    if (std::sscanf(text.c_str(), "%u", &refusals) != 1) refusals = 0;
  }
  ++refusals;
  if (refusals < kRefusalsBeforeQuarantine) {
    // A file of its own: a link planted at its name gives way instead of being written through.
    const std::string text = std::to_string(refusals) + "\n";
    if (std::string error; !fileio::writeFileAtomically(counter, text.data(), text.size(), &error, /*durable=*/false))
      consoleLog("[CrashKit] Cannot count the refusals of a package: " + error);
    return false;
  }
  ::unlink(counter.c_str());
  const std::string quarantine = mFileManager->quarantinePath();
  if (!mFileManager->createDirectoryAtPath(quarantine) || !mFileManager->moveItemAtPath(packagePath, quarantine))
    return false;
  // Oldest first by modification time; only the newest stay.
  std::vector<std::pair<int64_t, std::string>> kept;
  for (const auto& entry : mFileManager->contentsOfDirectory(quarantine)) {
    struct stat info {};
    if (::stat(entry.c_str(), &info) == 0)
      kept.push_back({static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, entry});
  }
  std::sort(kept.begin(), kept.end());
  for (size_t i = 0; i + kQuarantineKept < kept.size(); ++i) mFileManager->removeItemAtPath(kept[i].second);
  return true;
}

void CRKNetworkClient::URLSessionDidReceiveChallenge(CRKURLSession& session, const URLAuthenticationChallenge& challenge,
                                                     ChallengeCompletion completion) {
  // Every mode pins, debug included.
  certPinner()->handleChallenge(challenge, &session, completion);
}

void CRKNetworkClient::URLSessionDidBecomeInvalidWithError(CRKURLSession&, const OptionalError& error) {
  if (isDebugEnabled())
    consoleLog("[CrashKit:Crash:Client] session became invalid: " + (error ? error->localizedDescription() : "(null)"));
}

void CRKNetworkClient::invalidateAndCancel() {
  std::lock_guard lock(mMutex);
  if (mSession) mSession->invalidateAndCancel();
}

}  // namespace telemetry
