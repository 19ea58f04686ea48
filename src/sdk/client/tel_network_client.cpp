#include "sdk/client/tel_network_client.h"
#include "sdk/pinning/tel_pinned_certificates.h"

#include "sdk/core/console.h"
#include "sdk/session/url_errors.h"
#include "sdk/pinning/tel_certificate_pinner.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <random>

namespace telemetry {

namespace {
bool startsWithHTTPS(const std::string& url) {
  return url.size() >= 8 && equalsIgnoringCase(url.substr(0, 8), "https://");
}
}  // namespace

std::shared_ptr<TELNetworkClient> TELNetworkClient::create() { return createWithQueue(nullptr); }

std::shared_ptr<TELNetworkClient> TELNetworkClient::createWithQueue(std::shared_ptr<OperationQueue> queue) {
  return createWithQueue(std::move(queue), std::nullopt);
}

std::shared_ptr<TELNetworkClient> TELNetworkClient::createWithQueue(
    std::shared_ptr<OperationQueue> queue, const std::optional<CertificateList>& pinnedCertificates) {
  return createWithSessionConfiguration(CRKURLSessionConfiguration::defaultSessionConfiguration(), std::move(queue),
                                        pinnedCertificates);
}

std::shared_ptr<TELNetworkClient> TELNetworkClient::createWithSessionConfiguration(
    const std::optional<CRKURLSessionConfiguration>& configuration, std::shared_ptr<OperationQueue> queue,
    const std::optional<CertificateList>& pinnedCertificates) {
  std::shared_ptr<TELNetworkClient> client(new TELNetworkClient());
  // Every mode pins, debug included: a debugging user's traffic is as worth protecting.
  client->mCertPinner =
      std::make_shared<TELCertificatePinner>(pinnedCertificates ? *pinnedCertificates : TELPinnedCertificates());
  client->mSession = CRKURLSession::sessionWithConfiguration(configuration, client, std::move(queue));
  if (!client->mSession) return nullptr;
  return client;
}

TELNetworkClient::~TELNetworkClient() {
  if (mSession) mSession->finishTasksAndInvalidate();
}

void TELNetworkClient::startDataTaskWithRequest(const URLRequest& request, DataCompletion completion) {
  startDataTaskWithRequest(request, kDefaultRetryLimit, std::move(completion));
}

void TELNetworkClient::startDataTaskWithRequest(const URLRequest& request, unsigned retryLimit,
                                                DataCompletion completion) {
  startDataTaskWithRequest(request, retryLimit, 0, std::move(completion));
}

void TELNetworkClient::startDataTaskWithRequest(const URLRequest& request, unsigned retryLimit, unsigned tries,
                                                DataCompletion completion) {
  using Start = void (TELNetworkClient::*)(const URLRequest&, unsigned, unsigned, DataCompletion);
  startAttempt<std::vector<std::uint8_t>>(
      request, retryLimit, tries, std::move(completion),
      [this, &request](CRKURLSessionDataTask::CompletionHandler handler) {
        return mSession->dataTaskWithRequest(request, std::move(handler));
      },
      static_cast<Start>(&TELNetworkClient::startDataTaskWithRequest));
}

void TELNetworkClient::startDownloadTaskWithRequest(const URLRequest& request, DownloadCompletion completion) {
  startDownloadTaskWithRequest(request, kDefaultRetryLimit, std::move(completion));
}

void TELNetworkClient::startDownloadTaskWithRequest(const URLRequest& request, unsigned retryLimit,
                                                    DownloadCompletion completion) {
  startDownloadTaskWithRequest(request, retryLimit, 0, std::move(completion));
}

void TELNetworkClient::startDownloadTaskWithRequest(const URLRequest& request, unsigned retryLimit, unsigned tries,
                                                    DownloadCompletion completion) {
  using Start = void (TELNetworkClient::*)(const URLRequest&, unsigned, unsigned, DownloadCompletion);
  startAttempt<std::string>(
      request, retryLimit, tries, std::move(completion),
      [this, &request](CRKURLSessionDownloadTask::DownloadCompletionHandler handler) {
        return mSession->downloadTaskWithRequest(request, std::move(handler));
      },
      static_cast<Start>(&TELNetworkClient::startDownloadTaskWithRequest));
}

template <typename Payload, typename Completion, typename MakeTask, typename Start>
void TELNetworkClient::startAttempt(const URLRequest& request, unsigned retryLimit, unsigned tries,
                                    Completion completion, MakeTask makeTask, Start startAgain) {
  // A pinned client talks TLS only: a plain address would skip the pin check.
  if (mCertPinner && !startsWithHTTPS(request.URL())) {
    completion(Payload{}, std::nullopt,
               makeURLError(kURLErrorSecureConnectionRequired, "The pinned client only loads https addresses"));
    return;
  }
  auto self = shared_from_this();
  auto task = makeTask([self, request, retryLimit, tries, completion, startAgain](
                           const Payload& payload, const std::optional<URLResponse>& response, const OptionalError& error) {
    self->finishAttempt(request, retryLimit, tries, payload, response, error, completion,
                        [self, request, retryLimit, tries, completion, startAgain] {
                          ((*self).*startAgain)(request, retryLimit, tries + 1, completion);
                        });
  });
  if (!task) {
    completion(Payload{}, std::nullopt, TELNetworkResponseHandler::errorForCode(kTELNetworkErrorNoTask));
    return;
  }
  task->resume();
}

template <typename Payload, typename Completion, typename Restart>
void TELNetworkClient::finishAttempt(const URLRequest& request, unsigned retryLimit, unsigned tries,
                                     const Payload& payload, const std::optional<URLResponse>& response,
                                     const OptionalError& error, const Completion& completion, Restart restart) {
  TELNetworkResponseHandler::handleCompletedResponse(
      response, request, error, [&](bool retry, const OptionalError& classified) {
        if (!retry) {
          completion(payload, response, classified);
          return;
        }
        if (tries >= retryLimit) {
          completion(Payload{}, std::nullopt, TELNetworkResponseHandler::errorForCode(kTELNetworkErrorRetryLimitReached));
          return;
        }
        runAfterRetryValueFromResponse(response, tries, std::move(restart));
      });
}

double TELNetworkClient::computeDelayForResponse(const std::optional<URLResponse>& response, unsigned retryCount) const {
  return backoffDelayForResponse(response, retryCount);
}

double TELNetworkClient::backoffDelayForResponse(const std::optional<URLResponse>& response, unsigned retryCount) {
  double base = std::min(std::max(2.0, TELNetworkResponseHandler::retryValueForResponse(response)), kMaxRetryAfter);
  double exponent = retryCount == 0 ? 1.0 : static_cast<double>(retryCount);
  double delay = std::pow(base, exponent) * randomDoubleWithMin(static_cast<double>(0.9f), static_cast<double>(1.1f));
  if (!std::isfinite(delay)) return kMaxRetryDelay;
  return std::min(delay, kMaxRetryDelay);
}

double TELNetworkClient::generateRandomJitter() const {
  return randomDoubleWithMin(static_cast<double>(0.9f), static_cast<double>(1.1f));
}

double TELNetworkClient::randomDoubleWithMin(double min, double max) {
  static std::mutex mutex;
  static std::mt19937_64 engine{std::random_device{}()};
  std::lock_guard lock(mutex);
  double r = std::uniform_real_distribution<double>(0.0, 1.0)(engine);
  return min + r * (max - min);
}

void TELNetworkClient::runAfterRetryValueFromResponse(const std::optional<URLResponse>& response, unsigned attempts,
                                                      platform::Task block) {
  platform::Queue& queue = mRetryQueue ? *mRetryQueue : platform::globalQueue(platform::QueuePriority::Default);
  runAfterRetryValueFromResponse(response, attempts, queue, std::move(block));
}

void TELNetworkClient::runAfterRetryValueFromResponse(const std::optional<URLResponse>& response, unsigned attempts,
                                                      platform::Queue& queue, platform::Task block) {
  queue.afterSeconds(computeDelayForResponse(response, attempts), std::move(block));
}

void TELNetworkClient::invalidateAndCancel() { mSession->invalidateAndCancel(); }

void TELNetworkClient::URLSessionDidReceiveChallenge(CRKURLSession& session,
                                                     const URLAuthenticationChallenge& challenge,
                                                     ChallengeCompletion completion) {
  if (!mCertPinner) {
    completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
    return;
  }
  mCertPinner->handleChallenge(challenge, &session, completion);
}

}  // namespace telemetry
