#pragma once
// Sends packaged crash reports (".multipartmime" files in the prepared folder) to the report
// endpoint, streaming each package from its file over a pinned session. There are no
// background sessions here: every upload uses the kit's own session, and an urgent one is
// sent synchronously through a session with its own delegate queue (the work queue is the
// one waiting).
//
// A retryable answer restarts the upload after a growing, capped wait, at most
// kMaxRestartsPerRun times a run; after that the package waits for the next launch. A
// lasting refusal (a 4xx other than 408, 420 and 429) is counted in a hidden file beside the
// package; at the third the package moves to "quarantine", where the newest
// kQuarantineKept stay and none is sent again.
//
// The session keeps the client alive until its tasks end, so a completion may run after the
// controller that made the client is gone: the client shares ownership of everything it
// reaches from a completion (file manager, retry queue) and holds its delegate weakly.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/dispatch.h"
#include "sdk/core/error.h"
#include "sdk/core/operation_queue.h"
#include "sdk/net/url_request.h"
#include "sdk/session/crk_url_session.h"
#include "sdk/session/url_session_delegate.h"

namespace telemetry {

class CRKFileManager;
class CRKNetworkClient;
class TELCertificatePinner;

inline constexpr const char* kCRKNetworkErrorDomain = "CRKNetworkError";
inline constexpr int64_t kCRKNetworkErrorUnreadableFile = -2;

class CRKNetworkClientDelegate {
 public:
  virtual ~CRKNetworkClientDelegate() = default;
  virtual bool networkClientCanUseBackgroundSessions(CRKNetworkClient& client) = 0;
  // The package's absolute path; no error when the server took it.
  virtual void networkClientDidFinishUploadWithPath(CRKNetworkClient&, const std::string&, const OptionalError&) {}
};

class CRKNetworkClient : public URLSessionDelegate, public std::enable_shared_from_this<CRKNetworkClient> {
 public:
  static constexpr unsigned kMaxRestartsPerRun = 6;
  static constexpr unsigned kRefusalsBeforeQuarantine = 3;
  static constexpr size_t kQuarantineKept = 20;

  // `pinnedCertificates` replaces the shipped roots (tests pin their own authority).
  static std::shared_ptr<CRKNetworkClient> create(std::shared_ptr<OperationQueue> queue,
                                                  std::shared_ptr<const CRKFileManager> fileManager,
                                                  std::weak_ptr<CRKNetworkClientDelegate> delegate,
                                                  const std::optional<CertificateList>& pinnedCertificates = {});
  ~CRKNetworkClient() override;

  static std::shared_ptr<TELCertificatePinner> pinner();
  bool canUseBackgroundSession() const { return mCanUseBackgroundSession; }
  bool supportsBackgroundRequests() const;
  // Made on first use; nothing while no session can be made.
  std::shared_ptr<CRKURLSession> session();
  const std::shared_ptr<OperationQueue>& operationQueue() const { return mQueue; }
  // Made on first use: reading the built-in certificates waits until a report goes out.
  std::shared_ptr<TELCertificatePinner> certPinner() const;

  void attemptToReconnectBackgroundSessionWithCompletionBlock(const std::function<void()>& block);
  void startUploadRequest(const URLRequest& request, const std::string& filePath, bool immediately);
  void startImmediateUploadRequest(const URLRequest& request, const std::string& filePath);
  void startNewUploadRequest(const URLRequest& request, const std::string& filePath);

  std::string rootPath() const;
  std::string absolutePathForRelativeTaskPath(const std::string& relative) const;
  std::optional<std::string> relativeTaskPathForAbsolutePath(const std::string& absolute) const;
  // On the work queue: whether the session has a live task with that description.
  void checkForExistingTaskMatchingDescription(const std::string& description,
                                               const std::function<void(bool found)>& completion);
  // Where restarts wait: the global default-priority queue unless replaced.
  void setRetryQueue(std::shared_ptr<platform::Queue> queue);
  void invalidateAndCancel();

  void URLSessionTaskDidCompleteWithError(CRKURLSession& session, CRKURLSessionTask& task,
                                          const OptionalError& error) override;
  void URLSessionDidReceiveChallenge(CRKURLSession& session, const URLAuthenticationChallenge& challenge,
                                     ChallengeCompletion completion) override;
  void URLSessionDidBecomeInvalidWithError(CRKURLSession& session, const OptionalError& error) override;

 private:
  CRKNetworkClient() = default;
  void handleTaskDescriptionCompleted(const std::string& description, const OptionalError& error);
  void restart(const URLRequest& request, const std::string& description, const std::optional<URLResponse>& response);
  // Counts a lasting refusal; true when the package went to quarantine.
  bool recordRefusal(const std::string& packagePath);

  std::shared_ptr<OperationQueue> mQueue;
  std::shared_ptr<const CRKFileManager> mFileManager;
  std::weak_ptr<CRKNetworkClientDelegate> mDelegate;
  mutable std::mutex mPinnerMutex;
  mutable std::shared_ptr<TELCertificatePinner> mPinner;  // guarded by mPinnerMutex
  bool mCanUseBackgroundSession = false;
  std::mutex mMutex;
  std::shared_ptr<CRKURLSession> mSession;
  std::map<std::string, unsigned> mRestarts;  // by task description, this run
  std::shared_ptr<platform::Queue> mRetryQueue;  // guarded by mMutex
};

}  // namespace telemetry
