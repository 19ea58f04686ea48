#include "sdk/client/tel_network_client.h"
#include "sdk/session/url_errors.h"
#include "support/https_test_server.h"
#include "net/virtual_retry_queue.h"

#include "platform/core/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <future>
#include <sstream>

namespace telemetry {
namespace {

using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;
using namespace std::chrono_literals;

struct Result {
  std::string body;
  std::optional<URLResponse> response;
  OptionalError error;
};

class NetworkClientTest : public ::testing::Test {
 protected:
  NetworkClientTest() : ca("Client Test Root"), server(ca) {
    client = TELNetworkClient::createWithQueue(nullptr, CertificateList{Certificate::createWithData(ca.rootDER())});
    client->setRetryQueue(&retries);
  }
  ~NetworkClientTest() override { client->invalidateAndCancel(); }

  // Starts a data task; the result arrives later through `result`.
  std::shared_future<Result> start(const std::string& path, unsigned retryLimit = 10, double timeout = 10) {
    auto promise = std::make_shared<std::promise<Result>>();
    URLRequest request(server.origin() + path, timeout);
    client->startDataTaskWithRequest(request, retryLimit, [promise](const auto& data, const auto& response,
                                                                    const auto& error) {
      promise->set_value(Result{std::string(data.begin(), data.end()), response, error});
    });
    return promise->get_future().share();
  }
  static Result await(const std::shared_future<Result>& future) {
    EXPECT_EQ(future.wait_for(30s), std::future_status::ready);
    return future.get();
  }
  // For each scheduled retry: nothing is sent `early` seconds on, the retry is sent by
  // `early + late`.
  void stepThroughRetries(std::initializer_list<std::pair<double, double>> steps) {
    std::optional<size_t> sent;
    for (auto [early, late] : steps) {
      ASSERT_TRUE(retries.waitForScheduled(1));
      if (!sent) sent = server.requestCount();
      retries.advance(early);
      EXPECT_EQ(server.requestCount(), *sent);
      ASSERT_TRUE(retries.advanceUntilFired(late));
      ASSERT_TRUE(server.waitForRequests(++*sent));
    }
  }

  TestCertificateAuthority ca;
  HttpsTestServer server;
  test::VirtualRetryQueue retries;
  std::shared_ptr<TELNetworkClient> client;
};

TEST_F(NetworkClientTest, FinalOutcomesAreDeliveredWithoutRetry) {
  server.script("/ok", {HttpsTestResponse::ok("{\"ok\":true}")});
  server.script("/missing", {HttpsTestResponse::withStatus(404)});
  server.script("/odd", {HttpsTestResponse::withStatus(203)});
  server.script("/drop", {HttpsTestResponse::dropped()});

  Result ok = await(start("/ok"));
  EXPECT_FALSE(ok.error);
  EXPECT_EQ(ok.body, "{\"ok\":true}");
  EXPECT_EQ(ok.response->statusCode, 200);

  Result missing = await(start("/missing"));
  EXPECT_TRUE(missing.error->is(kTELNetworkErrorDomain, kTELNetworkErrorClient));
  Result odd = await(start("/odd"));
  EXPECT_TRUE(odd.error->is(kTELNetworkErrorDomain, kTELNetworkErrorFailure));
  Result dropped = await(start("/drop"));
  EXPECT_TRUE(dropped.error->is(kURLErrorDomain, kURLErrorNetworkConnectionLost));

  // A connection that dies unanswered may be tried once more by the connection layer itself.
  EXPECT_EQ(server.requestCount() - server.requestCount("/drop"), 3u);
  EXPECT_EQ(retries.scheduled(), 0u);
}

TEST_F(NetworkClientTest, ServerErrorsAreRetriedWithExponentialBackoff) {
  server.script("/flaky", {HttpsTestResponse::withStatus(503), HttpsTestResponse::withStatus(500),
                           HttpsTestResponse::withStatus(408), HttpsTestResponse::ok("done")});
  auto result = start("/flaky");
  // Delays of about 2, 2 and 4 seconds (each within the 0.9 to 1.1 jitter).
  stepThroughRetries({{1.7, 0.6}, {1.7, 0.6}, {3.5, 1.0}});
  Result done = await(result);
  EXPECT_FALSE(done.error);
  EXPECT_EQ(done.body, "done");
}

TEST_F(NetworkClientTest, RateLimitFollowsRetryAfter) {
  server.script("/limited", {HttpsTestResponse::retryAfter(429, "5"), HttpsTestResponse::retryAfter(429, "5"),
                             HttpsTestResponse::retryAfter(420, "5"), HttpsTestResponse::ok("through")});
  auto result = start("/limited");
  // 5, 5, then 25 seconds.
  stepThroughRetries({{4.4, 1.2}, {4.4, 1.2}, {22.0, 6.0}});
  EXPECT_EQ(await(result).body, "through");
}

TEST_F(NetworkClientTest, RetryLimitEndsWithItsOwnError) {
  server.script("/down", {HttpsTestResponse::withStatus(503)});
  Result none = await(start("/down", 0));
  EXPECT_TRUE(none.error->is(kTELNetworkErrorDomain, kTELNetworkErrorRetryLimitReached));
  EXPECT_FALSE(none.response);
  EXPECT_EQ(server.requestCount(), 1u);

  auto once = start("/down", 1);
  ASSERT_TRUE(retries.waitForScheduled(1));
  retries.advance(2.5);
  Result after = await(once);
  EXPECT_TRUE(after.error->is(kTELNetworkErrorDomain, kTELNetworkErrorRetryLimitReached));
  EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(NetworkClientTest, TimeoutsAreRetried) {
  // The first answer stalls until the test lets it go. Transfer timeouts run on the media
  // clock, so moving a virtual one past the timeout ends the first attempt, and the second
  // can never time out however slow the machine is.
  auto clock = std::make_shared<platform::VirtualClock>();
  struct Restore {
    std::shared_ptr<platform::Clock> previous;
    ~Restore() { platform::setMediaClock(previous); }
  } restore{platform::setMediaClock(clock)};
  server.script("/slow", {HttpsTestResponse::heldUntilReleased(HttpsTestResponse::ok("late")),
                          HttpsTestResponse::ok("fast")});
  auto result = start("/slow", 1, 4.0);
  ASSERT_TRUE(server.waitForRequests(1));
  clock->advance(4.5);
  ASSERT_TRUE(retries.waitForScheduled(1));
  retries.advance(2.5);
  Result done = await(result);
  server.release();
  EXPECT_FALSE(done.error);
  EXPECT_EQ(done.body, "fast");
  EXPECT_EQ(server.requestCount("/slow"), 2u);
}

TEST_F(NetworkClientTest, OnlyPinnedRootsAreTrusted) {
  TestCertificateAuthority stranger("Stranger Root");
  HttpsTestServer impostor(stranger);
  impostor.script("/", {HttpsTestResponse::ok("secret")});
  auto promise = std::make_shared<std::promise<OptionalError>>();
  client->startDataTaskWithRequest(URLRequest(impostor.origin() + "/settings", 10), 3,
                                   [promise](const auto&, const auto&, const auto& error) { promise->set_value(error); });
  auto future = promise->get_future();
  ASSERT_EQ(future.wait_for(30s), std::future_status::ready);
  auto error = future.get();
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->is(kURLErrorDomain, kURLErrorServerCertificateUntrusted));
  EXPECT_EQ(impostor.requestCount(), 0u);
  EXPECT_EQ(retries.scheduled(), 0u);

  // Nor does a pinned client leave TLS.
  auto plain = std::make_shared<std::promise<OptionalError>>();
  std::string insecure = "http://" + server.origin().substr(8) + "/x";
  client->startDataTaskWithRequest(URLRequest(insecure, 10), 0,
                                   [plain](const auto&, const auto&, const auto& e) { plain->set_value(e); });
  auto plainError = plain->get_future().get();
  ASSERT_TRUE(plainError);
  EXPECT_TRUE(plainError->is(kURLErrorDomain, kURLErrorSecureConnectionRequired));

  // A client pinned to nothing refuses even the right server.
  auto empty = TELNetworkClient::createWithQueue(nullptr, CertificateList{});
  auto refused = std::make_shared<std::promise<OptionalError>>();
  empty->startDataTaskWithRequest(URLRequest(server.origin() + "/x", 10), 0,
                                  [refused](const auto&, const auto&, const auto& e) { refused->set_value(e); });
  auto refusal = refused->get_future();
  ASSERT_EQ(refusal.wait_for(30s), std::future_status::ready);
  EXPECT_TRUE(refusal.get().has_value());
  empty->invalidateAndCancel();
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(NetworkClientTest, DownloadsRetryAsDownloads) {
  server.script("/settings.json", {HttpsTestResponse::withStatus(502), HttpsTestResponse::ok("{\"app\":{}}")});
  auto promise = std::make_shared<std::promise<std::string>>();
  client->startDownloadTaskWithRequest(URLRequest(server.origin() + "/settings.json", 10), 1,
                                       [promise](const std::string& location, const auto&, const OptionalError& error) {
                                         std::ifstream in(location);
                                         std::stringstream body;
                                         body << in.rdbuf();
                                         promise->set_value(error ? "error" : body.str());
                                       });
  ASSERT_TRUE(retries.waitForScheduled(1));
  retries.advance(2.5);
  auto future = promise->get_future();
  ASSERT_EQ(future.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(future.get(), "{\"app\":{}}");
}

TEST(NetworkClientBackoff, DelaysStayFiniteAndCapped) {
  auto client = TELNetworkClient::create();
  URLResponse limited;
  limited.statusCode = 429;
  limited.headers = {{"Retry-After", "60"}};
  for (unsigned count = 0; count <= 40; ++count) {
    double delay = client->computeDelayForResponse(limited, count);
    EXPECT_TRUE(std::isfinite(delay));
    EXPECT_GT(delay, 0.0);
    EXPECT_LE(delay, TELNetworkClient::kMaxRetryDelay);
  }
  double first = client->computeDelayForResponse(limited, 1);
  EXPECT_GE(first, 60 * 0.9 - 1e-6);
  EXPECT_LE(first, 60 * 1.1 + 1e-6);
  limited.headers = {{"Retry-After", "1e308"}};
  EXPECT_LE(client->computeDelayForResponse(limited, 3), TELNetworkClient::kMaxRetryDelay);

  URLResponse plain;
  plain.statusCode = 503;
  for (unsigned count : {0u, 1u, 2u, 3u}) {
    double expected = std::pow(2.0, count == 0 ? 1 : count);
    double delay = client->computeDelayForResponse(plain, count);
    EXPECT_GE(delay, expected * 0.9 - 1e-6);
    EXPECT_LE(delay, expected * 1.1 + 1e-6);
  }
  client->invalidateAndCancel();
}

}  // namespace
}  // namespace telemetry
