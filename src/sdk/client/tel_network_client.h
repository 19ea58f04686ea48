#pragma once
// Runs the SDK's requests to its own service: data and download tasks over a URL session,
// retried with exponential backoff and jitter while the outcome is retryable, with
// server-trust challenges answered by the certificate pinner.

#include "sdk/client/tel_network_response_handler.h"
#include "sdk/core/operation_queue.h"
#include "sdk/session/crk_url_session.h"

#include "platform/core/dispatch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace telemetry {

class TELCertificatePinner;

class TELNetworkClient : public URLSessionDelegate, public std::enable_shared_from_this<TELNetworkClient> {
 public:
  using DataCompletion = std::function<void(const std::vector<std::uint8_t>& data,
                                            const std::optional<URLResponse>& response, const OptionalError& error)>;
  using DownloadCompletion = std::function<void(const std::string& location, const std::optional<URLResponse>& response,
                                                const OptionalError& error)>;

  static constexpr unsigned kDefaultRetryLimit = 10;
  // Upper bounds of a server's "Retry-After" and of any backoff delay, in seconds.
  static constexpr double kMaxRetryAfter = 300.0;
  static constexpr double kMaxRetryDelay = 900.0;

  static std::shared_ptr<TELNetworkClient> create();
  static std::shared_ptr<TELNetworkClient> createWithQueue(std::shared_ptr<OperationQueue> queue);
  static std::shared_ptr<TELNetworkClient> createWithQueue(std::shared_ptr<OperationQueue> queue,
                                                           const std::optional<CertificateList>& pinnedCertificates);
  // Nothing when no session can be made.
  static std::shared_ptr<TELNetworkClient> createWithSessionConfiguration(
      const std::optional<CRKURLSessionConfiguration>& configuration, std::shared_ptr<OperationQueue> queue,
      const std::optional<CertificateList>& pinnedCertificates);

  // Asks the session to finish its tasks and let go of the client.
  ~TELNetworkClient() override;

  void startDataTaskWithRequest(const URLRequest& request, DataCompletion completion);
  void startDataTaskWithRequest(const URLRequest& request, unsigned retryLimit, DataCompletion completion);
  void startDataTaskWithRequest(const URLRequest& request, unsigned retryLimit, unsigned tries,
                                DataCompletion completion);
  void startDownloadTaskWithRequest(const URLRequest& request, DownloadCompletion completion);
  void startDownloadTaskWithRequest(const URLRequest& request, unsigned retryLimit, DownloadCompletion completion);
  void startDownloadTaskWithRequest(const URLRequest& request, unsigned retryLimit, unsigned tries,
                                    DownloadCompletion completion);

  // max(2, Retry-After) raised to the retry count (1 for a count of 0), times the jitter;
  // both the base and the result are capped.
  double computeDelayForResponse(const std::optional<URLResponse>& response, unsigned retryCount) const;
  // The same for any client that retries on its own queue.
  static double backoffDelayForResponse(const std::optional<URLResponse>& response, unsigned retryCount);
  double generateRandomJitter() const;
  static double randomDoubleWithMin(double min, double max);
  void runAfterRetryValueFromResponse(const std::optional<URLResponse>& response, unsigned attempts,
                                      platform::Task block);
  void runAfterRetryValueFromResponse(const std::optional<URLResponse>& response, unsigned attempts,
                                      platform::Queue& queue, platform::Task block);
  // Where retries are scheduled: the global default-priority queue unless replaced.
  void setRetryQueue(platform::Queue* queue) { mRetryQueue = queue; }

  void invalidateAndCancel();

  const std::shared_ptr<TELCertificatePinner>& certPinner() const { return mCertPinner; }
  const std::shared_ptr<CRKURLSession>& session() const { return mSession; }

  void URLSessionDidReceiveChallenge(CRKURLSession& session, const URLAuthenticationChallenge& challenge,
                                     ChallengeCompletion completion) override;
  void URLSessionDidBecomeInvalidWithError(CRKURLSession&, const OptionalError&) override {}

 private:
  TELNetworkClient() = default;
  // One try: makes the task with a completion that classifies the outcome.
  template <typename Payload, typename Completion, typename MakeTask, typename Start>
  void startAttempt(const URLRequest& request, unsigned retryLimit, unsigned tries, Completion completion,
                    MakeTask makeTask, Start startAgain);
  // After a task completed: hands the outcome on, or schedules the next try.
  template <typename Payload, typename Completion, typename Restart>
  void finishAttempt(const URLRequest& request, unsigned retryLimit, unsigned tries, const Payload& payload,
                     const std::optional<URLResponse>& response, const OptionalError& error,
                     const Completion& completion, Restart restart);

  std::shared_ptr<TELCertificatePinner> mCertPinner;
  std::shared_ptr<CRKURLSession> mSession;
  platform::Queue* mRetryQueue = nullptr;
};

}  // namespace telemetry
