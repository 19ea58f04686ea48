#include "sdk/session/crk_url_session.h"
#include "sdk/session/url_errors.h"
#include "support/https_test_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <sys/stat.h>

namespace telemetry {
namespace {

using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;
using namespace std::chrono_literals;

// Trusts exactly the chains that lead to the given root.
class AnchoredDelegate : public URLSessionDelegate {
 public:
  explicit AnchoredDelegate(std::vector<std::uint8_t> rootDER) : mRoot(Certificate::createWithData(rootDER)) {}
  void URLSessionDidReceiveChallenge(CRKURLSession&, const URLAuthenticationChallenge& challenge,
                                     ChallengeCompletion completion) override {
    ++challenges;
    auto trust = challenge.protectionSpace.serverTrust;
    TrustResult result = TrustResult::Invalid;
    if (trust && trust->setAnchorCertificates({mRoot}) == 0 && trust->setAnchorCertificatesOnly(true) == 0 &&
        trust->evaluate(result) == 0 && result == TrustResult::Unspecified) {
      completion(URLSessionAuthChallengeDisposition::UseCredential, URLCredential::forTrust(trust));
      return;
    }
    completion(URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge, std::nullopt);
  }
  void URLSessionTaskDidCompleteWithError(CRKURLSession&, CRKURLSessionTask&, const OptionalError& error) override {
    delegateCompletions.set_value(error);
  }
  void URLSessionDataTaskDidReceiveData(CRKURLSession&, CRKURLSessionDataTask&,
                                        const std::vector<std::uint8_t>& data) override {
    received.append(data.begin(), data.end());
  }

  std::atomic<int> challenges{0};
  std::promise<OptionalError> delegateCompletions;
  std::string received;

 private:
  std::shared_ptr<const Certificate> mRoot;
};

struct DataResult {
  std::string body;
  std::optional<URLResponse> response;
  OptionalError error;
};

class URLSessionTest : public ::testing::Test {
 protected:
  URLSessionTest() : ca("Session Test Root"), server(ca) {
    delegate = std::make_shared<AnchoredDelegate>(ca.rootDER());
    session = CRKURLSession::sessionWithConfiguration(CRKURLSessionConfiguration::defaultSessionConfiguration(),
                                                      delegate, queue);
  }
  ~URLSessionTest() override {
    if (session) session->invalidateAndCancel();
  }

  DataResult fetch(const URLRequest& request) {
    auto promise = std::make_shared<std::promise<DataResult>>();
    auto future = promise->get_future();
    auto task = session->dataTaskWithRequest(request, [promise](const auto& data, const auto& response,
                                                                const auto& error) {
      promise->set_value(DataResult{std::string(data.begin(), data.end()), response, error});
    });
    task->resume();
    EXPECT_EQ(future.wait_for(20s), std::future_status::ready);
    return future.get();
  }

  TestCertificateAuthority ca;
  HttpsTestServer server;
  std::shared_ptr<OperationQueue> queue = std::make_shared<OperationQueue>("session-test-delegate", 1);
  std::shared_ptr<AnchoredDelegate> delegate;
  std::shared_ptr<CRKURLSession> session;
};

TEST_F(URLSessionTest, OnlyOwnSessionsAndNoBackgroundConfiguration) {
  EXPECT_FALSE(CRKURLSession::NSURLSessionShouldBeUsed());
  EXPECT_FALSE(CRKURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier("x").has_value());
  EXPECT_FALSE(CRKURLSessionConfiguration::backgroundSessionConfiguration("x").has_value());
  EXPECT_EQ(CRKURLSession::sessionWithConfiguration(std::nullopt), nullptr);
}

TEST_F(URLSessionTest, DataTaskDeliversBodyResponseAndAdditionalHeaders) {
  server.script("/hello", {HttpsTestResponse::ok("{\"a\":1}")});
  CRKURLSessionConfiguration configuration;
  configuration.setHTTPAdditionalHeaders({{"X-Extra", "from-config"}, {"X-Fresh", "only-config"}});
  session->invalidateAndCancel();
  session = CRKURLSession::sessionWithConfiguration(configuration, delegate, queue);

  URLRequest request(server.origin() + "/hello?x=1", 10);
  request.setValue("from-request", "X-Extra");
  // A line break in a header would smuggle in headers of its own; such a header is not sent.
  request.setValue("harmless\r\nX-Smuggled: yes", "X-Broken");
  DataResult result = fetch(request);
  ASSERT_FALSE(result.error) << result.error->localizedDescription();
  EXPECT_EQ(result.body, "{\"a\":1}");
  ASSERT_TRUE(result.response);
  EXPECT_EQ(result.response->statusCode, 200);
  EXPECT_EQ(result.response->valueForHTTPHeaderField("content-type"), "application/json");
  auto seen = server.requests().at(0);
  EXPECT_EQ(seen.target, "/hello?x=1");
  EXPECT_EQ(seen.header("X-Extra"), "from-request,from-config");
  EXPECT_EQ(seen.header("X-Fresh"), "only-config");
  EXPECT_FALSE(seen.header("X-Smuggled").has_value());
  EXPECT_FALSE(seen.header("X-Broken").has_value());
  EXPECT_EQ(delegate->challenges.load(), 1);
}

TEST_F(URLSessionTest, PostBodyAndUploadFromFileReachTheServer) {
  server.script("/up", {HttpsTestResponse::withStatus(201)});
  URLRequest post(server.origin() + "/up", 10);
  post.setHTTPMethod("PUT");
  post.setValue("text/plain", "Content-Type");
  post.setValue("999", "Content-Length");  // the real length is sent instead
  post.setHTTPBody({'a', 'b', 'c'});
  DataResult posted = fetch(post);
  ASSERT_FALSE(posted.error);
  EXPECT_EQ(posted.response->statusCode, 201);

  std::string path = std::string(std::getenv("TMPDIR")) + "/upload-body.bin";
  std::ofstream(path) << std::string(100000, 'z');
  auto promise = std::make_shared<std::promise<OptionalError>>();
  URLRequest upload(server.origin() + "/up", 10);
  upload.setHTTPMethod("POST");
  auto task = session->uploadTaskWithRequest(upload, path, [promise](const auto&, const auto&, const auto& error) {
    promise->set_value(error);
  });
  EXPECT_EQ(task->kind(), CRKURLSessionTask::Kind::Upload);
  task->resume();
  auto future = promise->get_future();
  ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(future.get());
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "PUT");
  EXPECT_EQ(requests[0].body, "abc");
  EXPECT_EQ(requests[0].header("Content-Type"), "text/plain");
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].body.size(), 100000u);
}

// A backlog sent at once shares a few connections: a server that takes only some at a time
// still answers every request.
TEST_F(URLSessionTest, ManyTasksAtOnceShareAFewConnectionsToTheHost) {
  HttpsTestServer::Limits limits;
  limits.maxConnections = 8;
  HttpsTestServer small(ca, limits);
  small.setHandler([](const testsupport::HttpsTestRequest&) { return HttpsTestResponse::withStatus(202); });
  constexpr int kTasks = 60;
  std::vector<std::future<OptionalError>> results;
  for (int i = 0; i < kTasks; ++i) {
    auto promise = std::make_shared<std::promise<OptionalError>>();
    results.push_back(promise->get_future());
    URLRequest post(small.origin() + "/batch", 20);
    post.setHTTPMethod("POST");
    post.setHTTPBody({'x'});
    session->dataTaskWithRequest(post, [promise](const auto&, const auto&, const auto& error) {
      promise->set_value(error);
    })->resume();
  }
  for (auto& result : results) {
    ASSERT_EQ(result.wait_for(60s), std::future_status::ready);
    EXPECT_FALSE(result.get());
  }
  EXPECT_EQ(small.requestCount("/batch"), static_cast<size_t>(kTasks));
}

TEST_F(URLSessionTest, DelegateHearsTasksWithoutCompletionBlocks) {
  server.script("/d", {HttpsTestResponse::ok("streamed body")});
  auto task = session->dataTaskWithRequest(URLRequest(server.origin() + "/d", 10));
  ASSERT_TRUE(task->invokesDelegate());
  auto done = delegate->delegateCompletions.get_future();
  task->resume();
  ASSERT_EQ(done.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(done.get());
  EXPECT_EQ(delegate->received, "streamed body");
}

TEST_F(URLSessionTest, DownloadFileLivesUntilTheCompletionReturns) {
  server.script("/file", {HttpsTestResponse::ok(std::string(50000, 'q'), "application/octet-stream")});
  auto promise = std::make_shared<std::promise<std::pair<std::string, size_t>>>();
  auto task = session->downloadTaskWithRequest(URLRequest(server.origin() + "/file", 10),
                                               [promise](const std::string& location, const auto&, const auto& error) {
                                                 struct stat st{};
                                                 size_t size = (!error && stat(location.c_str(), &st) == 0)
                                                                   ? static_cast<size_t>(st.st_size)
                                                                   : 0;
                                                 promise->set_value({location, size});
                                               });
  task->resume();
  auto future = promise->get_future();
  ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
  auto [location, size] = future.get();
  EXPECT_EQ(size, 50000u);
  // The file goes once the delegate queue has moved past the completion.
  queue->addOperationWithBlock([] {})->waitUntilFinished();
  struct stat st{};
  EXPECT_NE(stat(location.c_str(), &st), 0);
}

TEST_F(URLSessionTest, DownloadThatCannotBeWrittenFailsWithItsOwnError) {
  server.script("/file", {HttpsTestResponse::ok("content")});
  std::string saved = std::getenv("TMPDIR");
  setenv("TMPDIR", (saved + "/missing/folder").c_str(), 1);
  auto promise = std::make_shared<std::promise<OptionalError>>();
  auto task = session->downloadTaskWithRequest(
      URLRequest(server.origin() + "/file", 10),
      [promise](const std::string&, const auto&, const auto& error) { promise->set_value(error); });
  setenv("TMPDIR", saved.c_str(), 1);
  task->resume();
  auto future = promise->get_future();
  ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
  auto error = future.get();
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->is(CRKURLSessionDownloadTask::kErrorDomain, -1));
}

TEST_F(URLSessionTest, LiveTasksAreListedAndCancelReportsCompletion) {
  server.script("/slow", {HttpsTestResponse::slow(10s, HttpsTestResponse::ok("late"))});
  auto promise = std::make_shared<std::promise<OptionalError>>();
  auto task = session->dataTaskWithRequest(URLRequest(server.origin() + "/slow", 30),
                                           [promise](const auto&, const auto&, const auto& error) {
                                             promise->set_value(error);
                                           });
  auto download = session->downloadTaskWithURL(server.origin() + "/slow");
  task->resume();
  ASSERT_TRUE(server.waitForRequests(1));

  std::promise<std::array<size_t, 3>> listed;
  session->getTasksWithCompletionHandler([&](auto data, auto upload, auto downloads) {
    listed.set_value({data.size(), upload.size(), downloads.size()});
  });
  auto counts = listed.get_future().get();
  EXPECT_EQ(counts[0], 1u);
  EXPECT_EQ(counts[1], 0u);
  EXPECT_EQ(counts[2], 1u);

  task->cancel();
  auto future = promise->get_future();
  ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
  auto error = future.get();
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->is(kURLErrorDomain, kURLErrorCancelled));

  std::promise<size_t> after;
  session->getTasksWithCompletionHandler([&](auto data, auto, auto) { after.set_value(data.size()); });
  EXPECT_EQ(after.get_future().get(), 0u);
}

TEST_F(URLSessionTest, UntrustedChainIsRefusedAndDefaultHandlingUsesSystemRoots) {
  TestCertificateAuthority stranger("Stranger Root");
  HttpsTestServer other(stranger);
  other.script("/", {HttpsTestResponse::ok("never")});
  DataResult refused = fetch(URLRequest(other.origin() + "/x", 10));
  ASSERT_TRUE(refused.error);
  EXPECT_TRUE(refused.error->is(kURLErrorDomain, kURLErrorServerCertificateUntrusted));
  EXPECT_EQ(other.requestCount(), 0u);

  // Without a delegate the system's roots decide, and they do not know the test root.
  auto plain = CRKURLSession::sessionWithConfiguration(CRKURLSessionConfiguration::defaultSessionConfiguration());
  auto promise = std::make_shared<std::promise<OptionalError>>();
  plain->dataTaskWithRequest(URLRequest(server.origin() + "/x", 10),
                             [promise](const auto&, const auto&, const auto& error) { promise->set_value(error); })
      ->resume();
  auto future = promise->get_future();
  ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
  EXPECT_TRUE(future.get().has_value());
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(URLSessionTest, DroppedConnectionIsATransportError) {
  server.script("/drop", {HttpsTestResponse::dropped()});
  DataResult result = fetch(URLRequest(server.origin() + "/drop", 10));
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->domain, kURLErrorDomain);
  EXPECT_EQ(result.error->code, kURLErrorNetworkConnectionLost);
}

TEST_F(URLSessionTest, NoTaskAfterInvalidation) {
  session->finishTasksAndInvalidate();
  EXPECT_EQ(session->dataTaskWithRequest(URLRequest(server.origin() + "/x")), nullptr);
  EXPECT_EQ(session->delegate(), nullptr);
}

// Waiting for the end of a session needs no polling: the handlers run once, after the delegate
// calls queued before, with the delegate already released; a late handler still runs.
TEST_F(URLSessionTest, TheEndOfASessionIsSignalledOnceItsDelegateIsGone) {
  auto own = std::make_shared<AnchoredDelegate>(ca.rootDER());
  std::weak_ptr<AnchoredDelegate> weak = own;
  auto ending = CRKURLSession::sessionWithConfiguration(CRKURLSessionConfiguration::defaultSessionConfiguration(),
                                                        std::move(own), queue);
  std::promise<void> gate;
  std::atomic<bool> earlierRan{false};
  queue->addOperationWithBlock([&gate, &earlierRan, future = gate.get_future().share()] {
    future.wait();
    earlierRan = true;
  });
  std::atomic<int> ends{0};
  std::promise<std::pair<bool, bool>> seen;
  ending->addInvalidationHandler([&] {
    ++ends;
    seen.set_value({weak.expired(), earlierRan.load()});
  });
  ending->finishTasksAndInvalidate();
  ending->invalidateAndCancel();
  gate.set_value();
  auto future = seen.get_future();
  ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(future.get(), std::make_pair(true, true)) << "(delegate released, earlier delegate calls ran)";

  std::promise<void> late;
  ending->addInvalidationHandler([&] { late.set_value(); });
  ASSERT_EQ(late.get_future().wait_for(20s), std::future_status::ready);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ends.load(), 1) << "a second invalidation ends nothing again";
}

}  // namespace
}  // namespace telemetry
