#include "sdk/session/crk_url_session_task.h"

#include "platform/core/regular_file.h"
#include "sdk/core/console.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/session/crk_url_session.h"
#include "sdk/session/server_trust.h"
#include "sdk/session/url_errors.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace telemetry {

namespace {

std::atomic<std::uint64_t> gNextTaskIdentifier{1};

// A name no other download of this process uses, and that another process cannot guess.
std::string uniqueDownloadName() {
  static std::atomic<std::uint64_t> counter{0};
  std::random_device device;
  return std::string(kSDKIdentifierPrefix) + ".download." + std::to_string(getpid()) + "." +
         std::to_string(++counter) + "." + std::to_string(device());
}

platform::HTTPTransferRequest transferRequest(const URLRequest& request) {
  platform::HTTPTransferRequest transfer;
  transfer.url = request.URL();
  transfer.method = request.HTTPMethod();
  transfer.headers = request.allHTTPHeaderFields();
  transfer.body = request.HTTPBody();
  transfer.bodyFilePath = request.HTTPBodyFilePath();
  transfer.timeoutInterval = request.timeoutInterval();
  return transfer;
}

}  // namespace

// ---- CRKURLSessionTask ----

CRKURLSessionTask::CRKURLSessionTask()
    : mIdentifier(gNextTaskIdentifier++),
      mQueue(PooledSerialQueue::create(std::string(kSDKIdentifierPrefix) + ".URLSessionTask")) {}

CRKURLSessionTask::~CRKURLSessionTask() = default;

URLRequest CRKURLSessionTask::originalRequest() const {
  std::lock_guard lock(mMutex);
  return mOriginalRequest;
}

URLRequest CRKURLSessionTask::currentRequest() const { return originalRequest(); }

void CRKURLSessionTask::setOriginalRequest(URLRequest request) {
  std::lock_guard lock(mMutex);
  mOriginalRequest = std::move(request);
}

std::optional<URLResponse> CRKURLSessionTask::response() const {
  std::lock_guard lock(mMutex);
  return mResponse;
}

void CRKURLSessionTask::setResponse(const URLResponse& response) {
  std::lock_guard lock(mMutex);
  mResponse = response;
}

OptionalError CRKURLSessionTask::error() const {
  std::lock_guard lock(mMutex);
  return mError;
}

void CRKURLSessionTask::setErrorIfNone(const Error& error) {
  std::lock_guard lock(mMutex);
  if (!mError) mError = error;
}

std::string CRKURLSessionTask::taskDescription() const {
  std::lock_guard lock(mMutex);
  return mTaskDescription;
}

void CRKURLSessionTask::setTaskDescription(std::string description) {
  std::lock_guard lock(mMutex);
  mTaskDescription = std::move(description);
}

// ---- CRKURLSessionDataTask ----

std::shared_ptr<CRKURLSessionDataTask> CRKURLSessionDataTask::task() {
  return std::shared_ptr<CRKURLSessionDataTask>(new CRKURLSessionDataTask());
}

void CRKURLSessionDataTask::setCompletionHandler(CompletionHandler handler) {
  mCompletionHandler = std::move(handler);
  setInvokesDelegate(!mCompletionHandler);
}

void CRKURLSessionDataTask::resume() {
  auto self = std::static_pointer_cast<CRKURLSessionDataTask>(shared_from_this());
  queue().async([self] { self->startConnection(); });
}

void CRKURLSessionDataTask::startConnection() {
  if (mStarted || mCompleted) return;
  mStarted = true;
  auto session = delegate();
  auto loop = session ? session->transferLoop() : nullptr;
  if (!loop) {
    completeWithError(makeURLError(kURLErrorCancelled, "The task's session is gone"));
    return;
  }
  mLoop = loop;
  mTransfer = loop->start(transferRequest(originalRequest()), std::static_pointer_cast<CRKURLSessionDataTask>(shared_from_this()));
}

void CRKURLSessionDataTask::cancel() {
  auto self = std::static_pointer_cast<CRKURLSessionDataTask>(shared_from_this());
  queue().async([self] { self->completeWithError(makeURLError(kURLErrorCancelled, "cancelled")); });
}

void CRKURLSessionDataTask::completeWithError(const Error& error) {
  if (mCompleted) return;
  if (auto loop = mLoop.lock(); loop && mStarted) loop->cancel(mTransfer);
  setErrorIfNone(error);
  complete();
}

void CRKURLSessionDataTask::transferDidReceiveResponse(const platform::HTTPResponseHead& head) {
  auto self = std::static_pointer_cast<CRKURLSessionDataTask>(shared_from_this());
  URLResponse response{head.url, head.statusCode, head.headers};
  queue().async([self, response] {
    if (self->mCompleted) return;
    if (auto session = self->delegate()) session->taskDidReceiveResponse(*self, response);
    self->setResponse(response);
  });
}

void CRKURLSessionDataTask::transferDidReceiveData(std::vector<std::uint8_t> bytes) {
  auto self = std::static_pointer_cast<CRKURLSessionDataTask>(shared_from_this());
  queue().async([self, bytes = std::move(bytes)]() mutable {
    if (!self->mCompleted) self->handleData(std::move(bytes));
  });
}

void CRKURLSessionDataTask::transferDidComplete(const std::optional<platform::TransferError>& failure) {
  auto self = std::static_pointer_cast<CRKURLSessionDataTask>(shared_from_this());
  OptionalError error;
  if (failure) error = makeURLError(*failure);
  queue().async([self, error] {
    if (self->mCompleted) return;
    if (error) self->setErrorIfNone(*error);
    self->complete();
  });
}

bool CRKURLSessionDataTask::transferShouldTrustServer(const std::vector<X509*>& presented, const std::string& host,
                                                      int port) {
  auto session = delegate();
  if (!session) return false;
  CertificateList chain;
  for (X509* cert : presented)
    if (auto certificate = Certificate::createWithX509(cert)) chain.push_back(certificate);
  auto trust = std::make_shared<ServerTrust>(std::move(chain), host);
  double wait = originalRequest().timeoutInterval();
  switch (session->taskDidReceiveServerTrust(trust, host, port, wait > 0 ? wait : 60.0)) {
    case URLSessionAuthChallengeDisposition::UseCredential: return true;
    case URLSessionAuthChallengeDisposition::PerformDefaultHandling: {
      // The system's roots, looked up in its certificate folder only when needed.
      TrustResult result = TrustResult::Invalid;
      return trust->evaluate(result) == kTrustStatusSuccess &&
             (result == TrustResult::Unspecified || result == TrustResult::Proceed);
    }
    default: return false;
  }
}

void CRKURLSessionDataTask::handleData(std::vector<std::uint8_t> bytes) {
  mData.insert(mData.end(), bytes.begin(), bytes.end());
  if (auto session = delegate()) session->taskDidReceiveData(*this, bytes);
}

void CRKURLSessionDataTask::complete() {
  if (mCompleted) return;
  mCompleted = true;
  auto session = delegate();
  std::function<void()> block;
  if (mCompletionHandler)
    block = [handler = std::move(mCompletionHandler), data = std::move(mData), response = response(),
             error = error()] { handler(data, response, error); };
  if (session)
    session->taskDidCompleteWithError(*this, error(), std::move(block));
  else if (block)
    block();
}

// ---- CRKURLSessionUploadTask ----

std::shared_ptr<CRKURLSessionUploadTask> CRKURLSessionUploadTask::task() {
  return std::shared_ptr<CRKURLSessionUploadTask>(new CRKURLSessionUploadTask());
}

// ---- CRKURLSessionDownloadTask ----

std::shared_ptr<CRKURLSessionDownloadTask> CRKURLSessionDownloadTask::task() {
  return std::shared_ptr<CRKURLSessionDownloadTask>(new CRKURLSessionDownloadTask());
}

CRKURLSessionDownloadTask::CRKURLSessionDownloadTask()
    : mTargetURL(paths::join(paths::temporaryDirectory(), uniqueDownloadName())) {}

CRKURLSessionDownloadTask::~CRKURLSessionDownloadTask() { closeStream(); }

void CRKURLSessionDownloadTask::setDownloadCompletionHandler(DownloadCompletionHandler handler) {
  mDownloadCompletionHandler = std::move(handler);
  setInvokesDelegate(!mDownloadCompletionHandler);
}

bool CRKURLSessionDownloadTask::openStream() {
  if (mOutput >= 0) return true;
  std::string why;
  mOutput = platform::openRegularFileForWriting(mTargetURL, O_WRONLY | O_CREAT | O_TRUNC, 0600, &why);
  if (mOutput < 0) consoleLog("[Telemetry] Cannot write the download to " + mTargetURL + ": " + why);
  return mOutput >= 0;
}

void CRKURLSessionDownloadTask::closeStream() {
  if (mOutput >= 0) ::close(mOutput);
  mOutput = -1;
}

void CRKURLSessionDownloadTask::handleData(std::vector<std::uint8_t> bytes) {
  bool written = openStream();
  size_t done = 0;
  while (written && done < bytes.size()) {
    ssize_t n = ::write(mOutput, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) written = false;
    else done += static_cast<size_t>(n);
  }
  if (!written) {
    closeStream();
    completeWithError(Error{kErrorDomain, -1, "The downloaded data could not be written to " + mTargetURL, {}});
  }
}

void CRKURLSessionDownloadTask::complete() {
  if (hasCompleted()) return;
  markCompleted();
  // An empty body still leaves a file, so the location handed out always exists.
  if (!error() && !openStream()) setErrorIfNone(Error{kErrorDomain, -1, "The download file could not be created", {}});
  closeStream();
  OptionalError failure = error();
  auto session = delegate();
  auto self = std::static_pointer_cast<CRKURLSessionDownloadTask>(shared_from_this());
  std::function<void()> block;
  if (mDownloadCompletionHandler)
    block = [self, handler = std::move(mDownloadCompletionHandler), response = response(), failure] {
      handler(self->mTargetURL, response, failure);
    };
  if (!session) {
    if (block) block();
    cleanup();
    return;
  }
  // The file lives until the block or the delegate has been told of it.
  session->taskDidCompleteWithError(*this, failure, [self, session, block = std::move(block), failure] {
    if (block) block();
    if (!failure) session->downloadTaskDidFinishDownloadingToURL(*self, self->mTargetURL);
    self->cleanup();
  });
}

void CRKURLSessionDownloadTask::cleanup() { ::unlink(mTargetURL.c_str()); }

}  // namespace telemetry
