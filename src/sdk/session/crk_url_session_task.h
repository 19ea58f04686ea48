#pragma once
// Tasks of the SDK's own URL session. Each task has its own serial queue: the connection's
// events are moved onto it, so a task handles them one at a time and in order. Completion
// blocks and delegate calls go on to the session's delegate queue.

#include "sdk/core/error.h"
#include "sdk/net/url_request.h"
#include "sdk/session/pooled_serial_queue.h"
#include "sdk/session/url_response.h"

#include "platform/core/dispatch.h"
#include "platform/net/curl_transfer_loop.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace telemetry {

class CRKURLSession;

class CRKURLSessionTask : public std::enable_shared_from_this<CRKURLSessionTask> {
 public:
  enum class Kind { Data, Upload, Download };

  virtual ~CRKURLSessionTask();
  CRKURLSessionTask(const CRKURLSessionTask&) = delete;
  CRKURLSessionTask& operator=(const CRKURLSessionTask&) = delete;

  virtual Kind kind() const = 0;
  virtual void resume() {}
  virtual void cancel() {}

  std::uint64_t taskIdentifier() const { return mIdentifier; }
  URLRequest originalRequest() const;
  URLRequest currentRequest() const;
  std::optional<URLResponse> response() const;
  OptionalError error() const;
  std::string taskDescription() const;
  void setTaskDescription(std::string description);
  // False once a completion block is set: the session's delegate then hears nothing of it.
  bool invokesDelegate() const { return mInvokesDelegate; }
  platform::Queue& queue() { return *mQueue; }

  // Set up by the session before the task is handed out.
  void setDelegate(std::weak_ptr<CRKURLSession> session) { mDelegate = std::move(session); }
  std::shared_ptr<CRKURLSession> delegate() const { return mDelegate.lock(); }
  void setOriginalRequest(URLRequest request);

 protected:
  CRKURLSessionTask();
  void setInvokesDelegate(bool invokes) { mInvokesDelegate = invokes; }
  void setResponse(const URLResponse& response);
  void setErrorIfNone(const Error& error);

 private:
  const std::uint64_t mIdentifier;
  std::weak_ptr<CRKURLSession> mDelegate;
  std::shared_ptr<PooledSerialQueue> mQueue;
  std::atomic<bool> mInvokesDelegate{true};
  mutable std::mutex mMutex;  // guards the values below, read from any thread
  URLRequest mOriginalRequest;
  std::optional<URLResponse> mResponse;
  OptionalError mError;
  std::string mTaskDescription;
};

class CRKURLSessionDataTask : public CRKURLSessionTask, public platform::CurlTransferClient {
 public:
  using CompletionHandler =
      std::function<void(const std::vector<std::uint8_t>& data, const std::optional<URLResponse>& response,
                         const OptionalError& error)>;

  static std::shared_ptr<CRKURLSessionDataTask> task();

  Kind kind() const override { return Kind::Data; }
  // Starts the connection the first time; later calls do nothing.
  void resume() override;
  // Ends the transfer; the task completes with a cancellation error.
  void cancel() override;

  void setCompletionHandler(CompletionHandler handler);

  // Connection events, on the transfer loop's thread.
  void transferDidReceiveResponse(const platform::HTTPResponseHead& response) override;
  void transferDidReceiveData(std::vector<std::uint8_t> bytes) override;
  void transferDidComplete(const std::optional<platform::TransferError>& error) override;
  // The session's delegate decides, as a server-trust challenge.
  bool decidesServerTrust() const override { return true; }
  bool transferShouldTrustServer(const std::vector<X509*>& chain, const std::string& host, int port) override;

 protected:
  CRKURLSessionDataTask() = default;
  // On the task's queue.
  virtual void handleData(std::vector<std::uint8_t> bytes);
  virtual void complete();
  // Cancels the connection and completes with `error`, unless an error is already set.
  void completeWithError(const Error& error);
  bool hasCompleted() const { return mCompleted; }
  void markCompleted() { mCompleted = true; }

 private:
  void startConnection();

  CompletionHandler mCompletionHandler;
  std::vector<std::uint8_t> mData;
  // Task queue only.
  bool mStarted = false;
  bool mCompleted = false;
  std::weak_ptr<platform::CurlTransferLoop> mLoop;
  platform::CurlTransferLoop::TransferID mTransfer = 0;
};

// Sends its body from a file; behaves as a data task otherwise.
class CRKURLSessionUploadTask final : public CRKURLSessionDataTask {
 public:
  static std::shared_ptr<CRKURLSessionUploadTask> task();
  Kind kind() const override { return Kind::Upload; }

 private:
  CRKURLSessionUploadTask() = default;
};

class CRKURLSessionDownloadTask final : public CRKURLSessionDataTask {
 public:
  using DownloadCompletionHandler = std::function<void(
      const std::string& location, const std::optional<URLResponse>& response, const OptionalError& error)>;
  static constexpr const char* kErrorDomain = "CRKURLSessionDownloadTaskError";

  static std::shared_ptr<CRKURLSessionDownloadTask> task();
  ~CRKURLSessionDownloadTask() override;

  Kind kind() const override { return Kind::Download; }
  void setDownloadCompletionHandler(DownloadCompletionHandler handler);
  // The file the body is written to: in the temporary folder, named uniquely in the process.
  const std::string& targetURL() const { return mTargetURL; }
  // Removes the downloaded file.
  void cleanup();

 protected:
  void handleData(std::vector<std::uint8_t> bytes) override;
  void complete() override;

 private:
  CRKURLSessionDownloadTask();
  bool openStream();
  void closeStream();

  std::string mTargetURL;
  int mOutput = -1;
  DownloadCompletionHandler mDownloadCompletionHandler;
};

}  // namespace telemetry
