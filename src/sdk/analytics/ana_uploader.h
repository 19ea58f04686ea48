#pragma once
// Sends packaged event files, one upload task per package, over a URL session whose
// callbacks run on the analytics queue. A package is in flight from its start until its
// delegate gives a final answer, retries included; a second start of it meanwhile is skipped.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "sdk/core/error.h"
#include "sdk/core/operation_queue.h"
#include "sdk/net/url_request.h"
#include "sdk/session/crk_url_session.h"
#include "sdk/session/url_response.h"
#include "sdk/session/url_session_delegate.h"

namespace telemetry {

class ANAUploader;

class ANAUploaderDelegate {
 public:
  using RetryDecision = std::function<void(bool retry, const OptionalError& error)>;
  virtual ~ANAUploaderDelegate() = default;
  virtual std::string uploaderFilePathForUniqueName(ANAUploader& uploader, const std::string& uniqueName) = 0;
  // The transfer ended for good (no error on success).
  virtual void uploaderDidFinishUploadWithUniqueName(ANAUploader& uploader, const std::string& uniqueName,
                                                     const OptionalError& error) = 0;
  // A transfer completed; `decide` says whether to try again, from any thread, once.
  virtual void uploaderCompletedRequest(ANAUploader& uploader, const URLRequest& request,
                                        const std::optional<URLResponse>& response, const std::string& uniqueName,
                                        const OptionalError& error, RetryDecision decide) = 0;
  // Server-trust challenges; the default is the system's own handling.
  virtual void uploaderDidReceiveChallenge(ANAUploader&, CRKURLSession&, const URLAuthenticationChallenge&,
                                           URLSessionDelegate::ChallengeCompletion completion) {
    completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
  }
};

class ANAUploader : public std::enable_shared_from_this<ANAUploader> {
 public:
  static constexpr double kDefaultUploadTimeout = 3600.0;
  static constexpr double kDefaultLowPowerUploadTimeout = 21600.0;

  static std::shared_ptr<ANAUploader> create(std::shared_ptr<OperationQueue> queue,
                                             std::weak_ptr<ANAUploaderDelegate> delegate);
  ~ANAUploader();
  ANAUploader(const ANAUploader&) = delete;
  ANAUploader& operator=(const ANAUploader&) = delete;

  void startUploadRequest(const URLRequest& request, const std::string& filePath, const std::string& uniqueName);
  // Starts a finished task's request again under its description.
  void restartTask(const URLRequest& originalRequest, const std::string& uniqueName);
  // No background session here: the block runs on the queue at once.
  void attemptToReconnectBackgroundSessionWithCompletionBlock(std::function<void()> block);
  static double retryIntervalForResponse(const std::optional<URLResponse>& response);

  void setDefaultUploadTimeout(double seconds);
  void setLowPowerUploadTimeout(double seconds);
  double defaultUploadTimeout() const;
  double lowPowerUploadTimeout() const;
  // No thermal state is offered here: never in low-power mode.
  bool lowPowerMode() const { return false; }
  // Wanted unless the host is an application extension; this system still has none to give.
  bool supportsBackgroundRequests() const;

  const std::shared_ptr<OperationQueue>& operationQueue() const { return mQueue; }
  // Names from their start until their final answer (queue only; tests read it after a drain).
  std::set<std::string> namesInFlight() const;

 private:
  class SessionDelegate;
  ANAUploader(std::shared_ptr<OperationQueue> queue, std::weak_ptr<ANAUploaderDelegate> delegate);
  void onQueue(std::function<void()> block);
  std::shared_ptr<CRKURLSession> session();
  void dropSession();
  void start(const URLRequest& request, const std::string& filePath, const std::string& uniqueName, bool restart);
  void finish(const std::string& uniqueName, const OptionalError& error);
  void taskDidComplete(CRKURLSessionTask& task, const OptionalError& error);

  const std::shared_ptr<OperationQueue> mQueue;
  const std::weak_ptr<ANAUploaderDelegate> mDelegate;
  // Queue only.
  std::shared_ptr<CRKURLSession> mSession;
  std::set<std::string> mInFlight;
  std::atomic<double> mDefaultUploadTimeout{kDefaultUploadTimeout};
  std::atomic<double> mLowPowerUploadTimeout{kDefaultLowPowerUploadTimeout};
};

}  // namespace telemetry
