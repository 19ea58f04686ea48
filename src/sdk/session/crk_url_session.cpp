#include "sdk/session/crk_url_session.h"

#include "sdk/core/console.h"
#include "sdk/core/sdk_constants.h"

#include <condition_variable>

namespace telemetry {

namespace {
constexpr long kMaximumConnectionsPerHost = 6;
}  // namespace

std::shared_ptr<CRKURLSession> CRKURLSession::sessionWithConfiguration(
    const std::optional<CRKURLSessionConfiguration>& configuration, std::shared_ptr<URLSessionDelegate> delegate,
    std::shared_ptr<OperationQueue> delegateQueue) {
  if (!configuration) return nullptr;
  if (!delegateQueue) delegateQueue = newDefaultDelegateQueue();
  // A few connections to a host, as browsers keep: a backlog of packages sent at once must
  // not open one connection each and be turned away by the server.
  auto loop = platform::CurlTransferLoop::create(std::string(kSDKIdentifierPrefix) + ".URLSession",
                                                 kMaximumConnectionsPerHost);
  if (!loop) return nullptr;
  return std::shared_ptr<CRKURLSession>(
      new CRKURLSession(std::move(delegate), *configuration, std::move(delegateQueue), std::move(loop)));
}

std::shared_ptr<OperationQueue> CRKURLSession::newDefaultDelegateQueue() {
  static const int anchor = 0;
  return std::make_shared<OperationQueue>(strformat("CRKURLSession %p", static_cast<const void*>(&anchor)), 1);
}

CRKURLSession::CRKURLSession(std::shared_ptr<URLSessionDelegate> delegate, CRKURLSessionConfiguration configuration,
                             std::shared_ptr<OperationQueue> delegateQueue, std::shared_ptr<platform::CurlTransferLoop> loop)
    : mDelegateQueue(std::move(delegateQueue)),
      mConfiguration(std::move(configuration)),
      mLoop(std::move(loop)),
      mDelegate(std::move(delegate)) {}

CRKURLSession::~CRKURLSession() = default;

void CRKURLSession::configureTask(const std::shared_ptr<CRKURLSessionTask>& task, const URLRequest& request,
                                  const std::function<void(URLRequest&)>& block) {
  URLRequest copy = request;
  {
    std::lock_guard lock(mMutex);
    mTaskSet.insert(task);
    for (const auto& [name, value] : mConfiguration.HTTPAdditionalHeaders()) copy.addValue(value, name);
  }
  if (block) block(copy);
  task->setOriginalRequest(std::move(copy));
  task->setDelegate(weak_from_this());
}

std::shared_ptr<CRKURLSessionDataTask> CRKURLSession::dataTaskWithRequest(
    const URLRequest& request, CRKURLSessionDataTask::CompletionHandler completion) {
  if (isInvalidated()) return nullptr;
  auto task = CRKURLSessionDataTask::task();
  if (completion) task->setCompletionHandler(std::move(completion));
  configureTask(task, request, nullptr);
  return task;
}

std::shared_ptr<CRKURLSessionUploadTask> CRKURLSession::uploadTaskWithRequest(
    const URLRequest& request, const std::string& fromFile, CRKURLSessionDataTask::CompletionHandler completion) {
  if (isInvalidated()) return nullptr;
  auto task = CRKURLSessionUploadTask::task();
  if (completion) task->setCompletionHandler(std::move(completion));
  configureTask(task, request, [&](URLRequest& r) {
    r.setHTTPBody({});
    r.setHTTPBodyFilePath(fromFile);
  });
  return task;
}

std::shared_ptr<CRKURLSessionDownloadTask> CRKURLSession::downloadTaskWithRequest(
    const URLRequest& request, CRKURLSessionDownloadTask::DownloadCompletionHandler completion) {
  if (isInvalidated()) return nullptr;
  auto task = CRKURLSessionDownloadTask::task();
  if (completion) task->setDownloadCompletionHandler(std::move(completion));
  configureTask(task, request, nullptr);
  return task;
}

std::shared_ptr<CRKURLSessionDownloadTask> CRKURLSession::downloadTaskWithURL(const std::string& url) {
  return downloadTaskWithRequest(URLRequest(url));
}

void CRKURLSession::getTasksWithCompletionHandler(
    std::function<void(TaskList data, TaskList upload, TaskList download)> completion) {
  auto self = shared_from_this();
  onDelegateQueue([self, completion = std::move(completion)] {
    TaskList data, upload, download;
    {
      std::lock_guard lock(self->mMutex);
      for (const auto& task : self->mTaskSet) {
        switch (task->kind()) {
          case CRKURLSessionTask::Kind::Data: data.push_back(task); break;
          case CRKURLSessionTask::Kind::Upload: upload.push_back(task); break;
          case CRKURLSessionTask::Kind::Download: download.push_back(task); break;
        }
      }
    }
    completion(std::move(data), std::move(upload), std::move(download));
  });
}

std::set<std::shared_ptr<CRKURLSessionTask>> CRKURLSession::invalidate() {
  std::set<std::shared_ptr<CRKURLSessionTask>> live;
  std::shared_ptr<URLSessionDelegate> dropped;
  bool first;
  {
    std::lock_guard lock(mMutex);
    live = mTaskSet;
    first = !mInvalidated;
    mInvalidated = true;
    dropped = std::move(mDelegate);
  }
  // Released here, not in the queued end: the end must find the delegate gone.
  dropped.reset();
  if (first) {
    auto self = shared_from_this();
    onDelegateQueue([self] {
      std::vector<std::function<void()>> handlers;
      {
        std::lock_guard lock(self->mMutex);
        self->mEnded = true;
        handlers.swap(self->mInvalidationHandlers);
      }
      for (auto& handler : handlers) handler();
    });
  }
  return live;
}

void CRKURLSession::invalidateAndCancel() {
  for (const auto& task : invalidate()) task->cancel();
}

void CRKURLSession::finishTasksAndInvalidate() { invalidate(); }

void CRKURLSession::addInvalidationHandler(std::function<void()> block) {
  if (!block) return;
  {
    std::lock_guard lock(mMutex);
    if (!mEnded) {
      mInvalidationHandlers.push_back(std::move(block));
      return;
    }
  }
  onDelegateQueue(std::move(block));
}

bool CRKURLSession::isInvalidated() const {
  std::lock_guard lock(mMutex);
  return mInvalidated;
}

std::shared_ptr<URLSessionDelegate> CRKURLSession::delegate() const {
  std::lock_guard lock(mMutex);
  return mDelegate;
}

std::string CRKURLSession::sessionDescription() const {
  std::lock_guard lock(mMutex);
  return mSessionDescription;
}

void CRKURLSession::setSessionDescription(std::string description) {
  std::lock_guard lock(mMutex);
  mSessionDescription = std::move(description);
}

bool CRKURLSession::shouldInvokeDelegate(const CRKURLSessionTask& task) const {
  return task.invokesDelegate() && delegate() != nullptr;
}

void CRKURLSession::onDelegateQueue(std::function<void()> block) { mDelegateQueue->addOperationWithBlock(std::move(block)); }

void CRKURLSession::removeTaskFromSet(const CRKURLSessionTask& task) {
  std::shared_ptr<CRKURLSessionTask> removed;  // released outside the lock
  std::lock_guard lock(mMutex);
  for (auto it = mTaskSet.begin(); it != mTaskSet.end(); ++it) {
    if (it->get() == &task) {
      removed = *it;
      mTaskSet.erase(it);
      break;
    }
  }
}

void CRKURLSession::taskDidReceiveResponse(CRKURLSessionDataTask& task, const URLResponse& response) {
  if (!shouldInvokeDelegate(task)) return;
  auto self = shared_from_this();
  auto strongTask = std::static_pointer_cast<CRKURLSessionDataTask>(task.shared_from_this());
  onDelegateQueue([self, strongTask, response] {
    if (auto d = self->delegate()) d->URLSessionDataTaskDidReceiveResponse(*self, *strongTask, response, [](int) {});
  });
}

void CRKURLSession::taskDidReceiveData(CRKURLSessionDataTask& task, const std::vector<std::uint8_t>& data) {
  if (!shouldInvokeDelegate(task)) return;
  auto self = shared_from_this();
  auto strongTask = std::static_pointer_cast<CRKURLSessionDataTask>(task.shared_from_this());
  onDelegateQueue([self, strongTask, data] {
    if (auto d = self->delegate()) d->URLSessionDataTaskDidReceiveData(*self, *strongTask, data);
  });
}

void CRKURLSession::downloadTaskDidFinishDownloadingToURL(CRKURLSessionDownloadTask& task, const std::string& location) {
  if (!shouldInvokeDelegate(task)) return;
  if (auto d = delegate()) d->URLSessionDownloadTaskDidFinishDownloadingToURL(*this, task, location);
}

void CRKURLSession::taskDidCompleteWithError(CRKURLSessionTask& task, const OptionalError& error,
                                             std::function<void()> first) {
  auto self = shared_from_this();
  auto strongTask = task.shared_from_this();
  bool forward = shouldInvokeDelegate(task);
  onDelegateQueue([self, strongTask, error, forward, first = std::move(first)] {
    if (first) first();
    if (forward)
      if (auto d = self->delegate()) d->URLSessionTaskDidCompleteWithError(*self, *strongTask, error);
    self->removeTaskFromSet(*strongTask);
  });
}

URLSessionAuthChallengeDisposition CRKURLSession::taskDidReceiveServerTrust(const std::shared_ptr<ServerTrust>& trust,
                                                                           const std::string& host, int port,
                                                                           double wait) {
  auto d = delegate();
  if (!d) return URLSessionAuthChallengeDisposition::PerformDefaultHandling;
  URLAuthenticationChallenge challenge;
  challenge.protectionSpace = URLProtectionSpace{host, port, kAuthenticationMethodServerTrust, trust};

  struct Answer {
    std::mutex mutex;
    std::condition_variable cond;
    bool given = false;
    URLSessionAuthChallengeDisposition disposition = URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge;
  };
  auto answer = std::make_shared<Answer>();
  auto self = shared_from_this();
  onDelegateQueue([self, d, challenge, answer] {
    d->URLSessionDidReceiveChallenge(*self, challenge,
                                     [answer](URLSessionAuthChallengeDisposition disposition, std::optional<URLCredential>) {
                                       std::lock_guard lock(answer->mutex);
                                       if (answer->given) return;
                                       answer->given = true;
                                       answer->disposition = disposition;
                                       answer->cond.notify_all();
                                     });
  });
  std::unique_lock lock(answer->mutex);
  // An unanswered challenge refuses the connection rather than holding it for ever.
  answer->cond.wait_for(lock, std::chrono::duration<double>(wait), [&] { return answer->given; });
  return answer->disposition;
}

}  // namespace telemetry
