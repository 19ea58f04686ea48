#pragma once
// The SDK's URL session. This system offers no session with background configurations, so
// every factory hands out this own session: data, upload and download tasks over libcurl,
// delegate calls and completion blocks on the delegate queue, one connection loop per
// session.

#include "sdk/core/operation_queue.h"
#include "sdk/session/crk_url_session_configuration.h"
#include "sdk/session/crk_url_session_task.h"
#include "sdk/session/url_session_delegate.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace telemetry {

class CRKURLSession : public std::enable_shared_from_this<CRKURLSession> {
 public:
  using TaskList = std::vector<std::shared_ptr<CRKURLSessionTask>>;

  // Whether the platform's own session with background configurations is there: never here.
  static bool NSURLSessionShouldBeUsed() { return false; }

  // No configuration gives no session. A delegate without a queue gets a new default queue.
  static std::shared_ptr<CRKURLSession> sessionWithConfiguration(
      const std::optional<CRKURLSessionConfiguration>& configuration,
      std::shared_ptr<URLSessionDelegate> delegate = nullptr, std::shared_ptr<OperationQueue> delegateQueue = nullptr);
  // One operation at a time, named after the class and its address.
  static std::shared_ptr<OperationQueue> newDefaultDelegateQueue();

  ~CRKURLSession();

  // Tasks are handed out suspended. After invalidation no task is made (nothing is returned).
  std::shared_ptr<CRKURLSessionDataTask> dataTaskWithRequest(const URLRequest& request,
                                                             CRKURLSessionDataTask::CompletionHandler completion = {});
  std::shared_ptr<CRKURLSessionUploadTask> uploadTaskWithRequest(const URLRequest& request,
                                                                 const std::string& fromFile,
                                                                 CRKURLSessionDataTask::CompletionHandler completion = {});
  std::shared_ptr<CRKURLSessionDownloadTask> downloadTaskWithRequest(
      const URLRequest& request, CRKURLSessionDownloadTask::DownloadCompletionHandler completion = {});
  std::shared_ptr<CRKURLSessionDownloadTask> downloadTaskWithURL(const std::string& url);

  // On the delegate queue: the live data, upload and download tasks.
  void getTasksWithCompletionHandler(std::function<void(TaskList data, TaskList upload, TaskList download)> completion);

  // Cancels every live task, then drops the delegate.
  void invalidateAndCancel();
  // Drops the delegate; running tasks go on, but their events reach nobody.
  void finishTasksAndInvalidate();
  // The end of the session: `block` runs on the delegate queue once the session is invalidated,
  // has released its delegate and the delegate calls queued before have run. Registered after
  // the end, it is queued at once.
  void addInvalidationHandler(std::function<void()> block);

  std::shared_ptr<URLSessionDelegate> delegate() const;
  bool isInvalidated() const;
  const std::shared_ptr<OperationQueue>& delegateQueue() const { return mDelegateQueue; }
  const CRKURLSessionConfiguration& configuration() const { return mConfiguration; }
  std::string sessionDescription() const;
  void setSessionDescription(std::string description);

  // What tasks report, from their own queues.
  void taskDidReceiveResponse(CRKURLSessionDataTask& task, const URLResponse& response);
  void taskDidReceiveData(CRKURLSessionDataTask& task, const std::vector<std::uint8_t>& data);
  // On the delegate queue: tells the delegate where the file is, when it may hear of the task.
  void downloadTaskDidFinishDownloadingToURL(CRKURLSessionDownloadTask& task, const std::string& location);
  // One delegate-queue operation per finished task: `first` (the task's completion block and
  // what goes with it), then the delegate hears of the completion, then the task leaves the
  // set. Whoever saw the completion block run finds the task gone once the queue moves on.
  void taskDidCompleteWithError(CRKURLSessionTask& task, const OptionalError& error,
                                std::function<void()> first = {});
  // On the connection loop's thread: asks the delegate, waiting at most `wait` seconds.
  URLSessionAuthChallengeDisposition taskDidReceiveServerTrust(const std::shared_ptr<ServerTrust>& trust,
                                                               const std::string& host, int port, double wait);
  std::shared_ptr<platform::CurlTransferLoop> transferLoop() const { return mLoop; }

 private:
  CRKURLSession(std::shared_ptr<URLSessionDelegate> delegate, CRKURLSessionConfiguration configuration,
                std::shared_ptr<OperationQueue> delegateQueue, std::shared_ptr<platform::CurlTransferLoop> loop);
  void configureTask(const std::shared_ptr<CRKURLSessionTask>& task, const URLRequest& request,
                     const std::function<void(URLRequest&)>& block);
  bool shouldInvokeDelegate(const CRKURLSessionTask& task) const;
  void removeTaskFromSet(const CRKURLSessionTask& task);
  void onDelegateQueue(std::function<void()> block);
  // Marks the session invalid and releases its delegate; answers the tasks that were live.
  std::set<std::shared_ptr<CRKURLSessionTask>> invalidate();

  const std::shared_ptr<OperationQueue> mDelegateQueue;
  const CRKURLSessionConfiguration mConfiguration;
  const std::shared_ptr<platform::CurlTransferLoop> mLoop;
  mutable std::mutex mMutex;  // guards the values below
  std::shared_ptr<URLSessionDelegate> mDelegate;
  std::set<std::shared_ptr<CRKURLSessionTask>> mTaskSet;
  std::string mSessionDescription;
  bool mInvalidated = false;
  bool mEnded = false;  // the invalidation handlers have been run
  std::vector<std::function<void()>> mInvalidationHandlers;
};

}  // namespace telemetry
