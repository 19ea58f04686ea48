#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <stdexcept>

#include "analytics/analytics_test_support.h"
#include "net/virtual_retry_queue.h"
#include "sdk/analytics/ana_backoff_timer.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/analytics/ana_upload_operation.h"
#include "sdk/analytics/ana_uploader.h"
#include "sdk/client/tel_network_client.h"
#include "sdk/pinning/tel_certificate_pinner.h"
#include "support/https_test_server.h"

namespace telemetry {
namespace {

using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;
using namespace std::chrono_literals;

TEST(AnalyticsBackoff, DelaysGrowByTheBaseWithinTheJitter) {
  ANABackoffTimer timer;
  for (double initial : {0.0, 1.0}) {
    for (std::uint64_t n : {1u, 2u, 3u}) {
      const double expected = std::pow(2.0, static_cast<double>(n));
      const double d = timer.computeDelayForInitialValue(initial, n);
      EXPECT_GE(d, expected * 0.9);
      EXPECT_LT(d, expected * 1.1);
    }
  }
  for (auto [n, expected] : {std::pair{1u, 5.0}, {2u, 25.0}, {3u, 125.0}}) {
    const double d = timer.computeDelayForInitialValue(5, n);
    EXPECT_GE(d, expected * 0.9);
    EXPECT_LT(d, expected * 1.1);
  }
  ANABackoffTimer exact(0, 0.0);
  EXPECT_DOUBLE_EQ(exact.computeDelayForInitialValue(0, 0), 2.0);
  EXPECT_DOUBLE_EQ(exact.computeDelayForInitialValue(3, 2), 9.0);
}

TEST(AnalyticsBackoff, HugeRetryAfterValuesAreCappedNeverImmediate) {
  ANABackoffTimer timer;
  for (double initial : {60.0, 1e9, std::numeric_limits<double>::infinity(), std::nan("")}) {
    for (std::uint64_t n : {1u, 11u, 400u}) {
      const double d = timer.computeDelayForInitialValue(initial, n);
      EXPECT_TRUE(std::isfinite(d));
      EXPECT_GE(d, 1.8) << initial << " " << n;
      EXPECT_LE(d, TELNetworkClient::kMaxRetryDelay);
    }
  }
}

TEST(AnalyticsBackoff, CoefficientValidityAndTheScheduledBlock) {
  EXPECT_FALSE(ANABackoffTimer::jitterCoefficientIsValid(1.0));
  EXPECT_FALSE(ANABackoffTimer::jitterCoefficientIsValid(-0.01));
  EXPECT_TRUE(ANABackoffTimer::jitterCoefficientIsValid(0.0));
  EXPECT_TRUE(ANABackoffTimer::jitterCoefficientIsValid(0.999));
  EXPECT_THROW(ANABackoffTimer(2, 1.0), std::invalid_argument);
  EXPECT_EQ(ANABackoffTimer(3).jitterCoefficient(), 0.10000000149011612);

  test::VirtualRetryQueue queue;
  ANABackoffTimer timer(0, 0.0, &queue);
  int ran = 0;
  timer.executeBlockAfterNextInterval([&] { ++ran; });
  EXPECT_EQ(timer.retryCount(), 1u);
  queue.advance(1.9);
  EXPECT_EQ(ran, 0);
  queue.advance(0.2);
  EXPECT_EQ(ran, 1);
  timer.executeBlockAfterNextInterval([&] { ++ran; });
  queue.advance(3.9);
  EXPECT_EQ(ran, 1);
  queue.advance(0.2);
  EXPECT_EQ(ran, 2);
}

// Records what the uploader reports and answers completions with a scripted decision.
class RecordingDelegate final : public ANAUploaderDelegate {
 public:
  explicit RecordingDelegate(std::shared_ptr<TELCertificatePinner> pinner) : mPinner(std::move(pinner)) {}

  std::string uploaderFilePathForUniqueName(ANAUploader&, const std::string& name) override {
    return folder + "/" + name + ".multipartmime";
  }
  void uploaderDidFinishUploadWithUniqueName(ANAUploader&, const std::string& name, const OptionalError& error) override {
    std::lock_guard lock(mMutex);
    finished.emplace_back(name, error);
    mChanged.notify_all();
  }
  void uploaderCompletedRequest(ANAUploader&, const URLRequest&, const std::optional<URLResponse>& response,
                                const std::string&, const OptionalError& error, RetryDecision decide) override {
    bool retry;
    {
      std::lock_guard lock(mMutex);
      statuses.push_back(response ? response->statusCode : 0);
      retry = retriesLeft > 0;
      if (retry) --retriesLeft;
    }
    decide(retry, error);
  }
  void uploaderDidReceiveChallenge(ANAUploader&, CRKURLSession& session, const URLAuthenticationChallenge& challenge,
                                   URLSessionDelegate::ChallengeCompletion completion) override {
    mPinner->handleChallenge(challenge, &session, completion);
  }
  bool waitForFinished(size_t count) {
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, 30s, [&] { return finished.size() >= count; });
  }

  std::string folder;
  int retriesLeft = 0;
  std::vector<std::pair<std::string, OptionalError>> finished;
  std::vector<int> statuses;

 private:
  std::shared_ptr<TELCertificatePinner> mPinner;
  std::mutex mMutex;
  std::condition_variable mChanged;
};

class AnalyticsUploadTest : public ::testing::Test {
 protected:
  AnalyticsUploadTest() : ca("Upload Test Root"), server(ca) {
    delegate = std::make_shared<RecordingDelegate>(
        std::make_shared<TELCertificatePinner>(CertificateList{Certificate::createWithData(ca.rootDER())}));
    delegate->folder = folder.path();
    uploader = ANAUploader::create(std::make_shared<OperationQueue>("upload-test", 1), delegate);
    ANALogger::sharedLogger().setDebugMode(true);
  }
  ~AnalyticsUploadTest() override {
    uploader.reset();
    ANALogger::sharedLogger().setDebugMode(false);
  }
  // A package file named by its boundary.
  std::string package(const std::string& boundary, const std::string& body) {
    std::string path = folder / (boundary + ".multipartmime");
    test::writeText(path, body);
    return path;
  }
  void send(const std::string& boundary) {
    auto op = std::make_shared<ANAUploadOperation>(uploader, server.origin() + "/spi/v2/events", "the-key",
                                                   folder / (boundary + ".multipartmime"), boundary);
    op->start();
  }

  test::ScratchFolder folder;
  test::ConsoleLines console;
  TestCertificateAuthority ca;
  HttpsTestServer server;
  std::shared_ptr<RecordingDelegate> delegate;
  std::shared_ptr<ANAUploader> uploader;
};

TEST_F(AnalyticsUploadTest, APackageIsPostedWithItsHeadersAndFileBody) {
  server.script("/spi/v2/events", {HttpsTestResponse::withStatus(202)});
  const std::string body = std::string("--B1\r\n\r\n\x1f\x8b binary \0 bytes\r\n--B1--\r\n", 35);
  package("B1", body);
  const auto before = std::time(nullptr);
  send("B1");
  ASSERT_TRUE(delegate->waitForFinished(1));
  EXPECT_EQ(delegate->finished[0].first, "B1");
  EXPECT_FALSE(delegate->finished[0].second);
  EXPECT_EQ(delegate->statuses, std::vector<int>{202});

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/spi/v2/events");
  EXPECT_EQ(r.body, body);
  EXPECT_EQ(r.header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(r.header("Content-Type"), "multipart/form-data; boundary=B1");
  EXPECT_EQ(r.header("User-Agent"), "Analytics Mac SDK/1.3.2");
  EXPECT_EQ(r.header("X-CRASHKIT-API-KEY"), "the-key");
  EXPECT_EQ(r.header("X-CRASHKIT-API-CLIENT-TYPE"), "Analytics Mac SDK");
  EXPECT_EQ(r.header("X-CRASHKIT-API-CLIENT-VERSION"), "18");
  EXPECT_EQ(r.header("X-CRASHKIT-API-CLIENT-DISPLAY-VERSION"), "1.3.2");
  EXPECT_EQ(r.header("X-CRASHKIT-API-CLIENT-BUILD-VERSION"), "18");
  EXPECT_EQ(r.header("X-CRASHKIT-DEVELOPER-TOKEN")->size(), 40u);
  const long stamp = std::stol(r.header("X-CrashKit-Api-Client-Packaged-Timestamp").value_or("0"));
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, std::time(nullptr));
  EXPECT_EQ(console.count("Transmitting packaged events."), 1);
  EXPECT_TRUE(uploader->namesInFlight().empty());
}

TEST_F(AnalyticsUploadTest, ASecondStartWhileInFlightIsSkippedRetriesIncluded) {
  server.script("/spi/v2/events", {HttpsTestResponse::heldUntilReleased(HttpsTestResponse::withStatus(503)),
                                   HttpsTestResponse::withStatus(200)});
  package("B2", "payload");
  delegate->retriesLeft = 1;
  send("B2");
  ASSERT_TRUE(server.waitForRequests(1));
  send("B2");
  EXPECT_EQ(uploader->namesInFlight(), std::set<std::string>{"B2"});
  server.release();
  ASSERT_TRUE(delegate->waitForFinished(1));
  EXPECT_EQ(delegate->statuses, (std::vector<int>{503, 200}));
  EXPECT_EQ(server.requestCount(), 2u);
  EXPECT_EQ(server.requests()[1].body, "payload");
  EXPECT_EQ(console.count("A task currently exists for this upload, skipping"), 1);
  EXPECT_EQ(console.count("Retrying task with name B2"), 1);
  EXPECT_EQ(delegate->finished.size(), 1u);
}

TEST_F(AnalyticsUploadTest, AMissingPackageOrNameFailsWithPathAndName) {
  send("gone");
  uploader->startUploadRequest(URLRequest(server.origin() + "/spi/v2/events"), package("named", "x"), "");
  ASSERT_TRUE(delegate->waitForFinished(2));
  for (const auto& [name, error] : delegate->finished) {
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->is("error", -1));
    EXPECT_TRUE(error->userInfo.contains("path"));
    EXPECT_TRUE(error->userInfo.contains("name"));
  }
  EXPECT_EQ(delegate->finished[0].second->userInfo["name"], "gone");
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_TRUE(uploader->namesInFlight().empty());
}

TEST_F(AnalyticsUploadTest, WithoutAnEndpointNothingStartsAndThePackageStays) {
  const std::string path = package("B3", "kept");
  ANAUploadOperation(uploader, "", "key", path, "B3").start();
  EXPECT_TRUE(uploader->namesInFlight().empty());
  EXPECT_TRUE(test::exists(path));
  EXPECT_TRUE(delegate->finished.empty());
}

TEST_F(AnalyticsUploadTest, AnUnpinnedChainIsRefused) {
  TestCertificateAuthority other("Someone Else");
  auto strict = std::make_shared<RecordingDelegate>(
      std::make_shared<TELCertificatePinner>(CertificateList{Certificate::createWithData(other.rootDER())}));
  strict->folder = folder.path();
  uploader = ANAUploader::create(std::make_shared<OperationQueue>("upload-test", 1), strict);
  server.script("/spi/v2/events", {HttpsTestResponse::withStatus(200)});
  package("B4", "secret");
  send("B4");
  ASSERT_TRUE(strict->waitForFinished(1));
  EXPECT_TRUE(strict->finished[0].second);
  EXPECT_EQ(strict->statuses, std::vector<int>{0});
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST(AnalyticsUploadNames, TheUniqueNameIsTheFileNameWithoutItsExtension) {
  EXPECT_EQ(ANAUploadOperation::uniqueNameForMultipartURL("/a/b.c/XYZ.multipartmime"), "XYZ");
  EXPECT_EQ(ANAUploadOperation::uniqueNameForMultipartURL("/a/XYZ"), "XYZ");
}

}  // namespace
}  // namespace telemetry
