#include "platform/net/curl_transfer_loop.h"

#include "platform/net/curl_library.h"

#include "platform/core/clock.h"
#include "support/https_test_server.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace platform {
namespace {

using namespace std::chrono_literals;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;

// Records what a transfer reports; trusts servers whose certificate `authority` signed, or
// leaves trust to the system when `authority` is null.
class RecordingClient final : public CurlTransferClient {
 public:
  explicit RecordingClient(const TestCertificateAuthority* authority) : mAuthority(authority) {}

  void transferDidReceiveResponse(const HTTPResponseHead& response) override {
    std::lock_guard lock(mMutex);
    ++responses;
    head = response;
  }
  void transferDidReceiveData(std::vector<std::uint8_t> bytes) override {
    std::lock_guard lock(mMutex);
    body.append(bytes.begin(), bytes.end());
  }
  void transferDidComplete(const std::optional<TransferError>& failure) override {
    std::lock_guard lock(mMutex);
    ++completions;
    error = failure;
    mCond.notify_all();
  }
  bool decidesServerTrust() const override { return mAuthority != nullptr; }
  bool transferShouldTrustServer(const std::vector<X509*>& chain, const std::string& host, int port) override {
    std::lock_guard lock(mMutex);
    trustHost = host;
    trustPort = port;
    EVP_PKEY* key = X509_get0_pubkey(mAuthority->root().certificate());
    return !chain.empty() && X509_verify(chain.front(), key) == 1;
  }

  bool waitForCompletion() {
    std::unique_lock lock(mMutex);
    return mCond.wait_for(lock, 20s, [&] { return completions > 0; });
  }

  std::mutex mMutex;
  int responses = 0;
  int completions = 0;
  HTTPResponseHead head;
  std::string body;
  std::optional<TransferError> error;
  std::string trustHost;
  int trustPort = 0;

 private:
  const TestCertificateAuthority* mAuthority;
  std::condition_variable mCond;
};

class CurlTransferLoopTest : public ::testing::Test {
 protected:
  CurlTransferLoopTest() : ca("Loop Test Root"), server(ca), loop(CurlTransferLoop::create("test.loop")) {}

  std::shared_ptr<RecordingClient> run(const HTTPTransferRequest& request, const TestCertificateAuthority* trusted) {
    auto client = std::make_shared<RecordingClient>(trusted);
    loop->start(request, client);
    EXPECT_TRUE(client->waitForCompletion());
    return client;
  }
  HTTPTransferRequest get(const std::string& path) {
    HTTPTransferRequest request;
    request.url = server.origin() + path;
    request.timeoutInterval = 20;
    return request;
  }

  TestCertificateAuthority ca;
  HttpsTestServer server;
  std::shared_ptr<CurlTransferLoop> loop;
};

TEST_F(CurlTransferLoopTest, TrustedServerAnswersWithHeadThenBody) {
  server.script("/hello", {HttpsTestResponse::ok("{\"hi\":1}")});
  auto client = run(get("/hello?x=1"), &ca);
  EXPECT_FALSE(client->error) << client->error->description;
  EXPECT_EQ(client->responses, 1);
  EXPECT_EQ(client->head.statusCode, 200);
  EXPECT_EQ(client->head.url, server.origin() + "/hello?x=1");
  EXPECT_EQ(client->body, "{\"hi\":1}");
  EXPECT_EQ(client->trustHost, "127.0.0.1");
  EXPECT_EQ(client->trustPort, server.port());
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests()[0].query, "x=1");
}

TEST_F(CurlTransferLoopTest, RefusedOrUnknownCertificatesNeverReachTheServer) {
  server.script("/", {HttpsTestResponse::ok("secret")});
  TestCertificateAuthority stranger("Stranger Root");
  auto refused = run(get("/a"), &stranger);
  ASSERT_TRUE(refused->error);
  EXPECT_EQ(refused->error->failure, TransferFailure::ServerCertificateUntrusted);
  EXPECT_EQ(refused->responses, 0);

  // A client that leaves trust to the system's roots does not know the test root either.
  auto system = run(get("/b"), nullptr);
  ASSERT_TRUE(system->error);
  EXPECT_EQ(system->error->failure, TransferFailure::ServerCertificateUntrusted) << system->error->description;
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(CurlTransferLoopTest, BodiesAndHeadersGoOutAsSent) {
  server.script("/post", {HttpsTestResponse::withStatus(201)});
  HTTPTransferRequest request = get("/post");
  request.method = "PUT";
  request.body = {'a', 'b', 'c'};
  request.headers = {{"X-One", "1"},
                     {"Content-Length", "999"},
                     {"X-Split", "v\r\nX-Injected: yes"},
                     {"Bad:Name", "x"},
                     {"X-Two", "2"}};
  auto client = run(request, &ca);
  EXPECT_FALSE(client->error);
  EXPECT_EQ(client->head.statusCode, 201);
  ASSERT_EQ(server.requestCount(), 1u);
  auto sent = server.requests()[0];
  EXPECT_EQ(sent.method, "PUT");
  EXPECT_EQ(sent.body, "abc");
  EXPECT_EQ(sent.header("X-One"), "1");
  EXPECT_EQ(sent.header("X-Two"), "2");
  EXPECT_EQ(sent.header("Content-Length"), "3");
  EXPECT_FALSE(sent.header("X-Injected"));
  EXPECT_FALSE(sent.header("X-Split"));

  HTTPTransferRequest fromFile = get("/post");
  fromFile.bodyFilePath = "/nonexistent/orrery/body";
  auto unreadable = run(fromFile, &ca);
  ASSERT_TRUE(unreadable->error);
  EXPECT_EQ(unreadable->error->failure, TransferFailure::CannotOpenBodyFile);
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(CurlTransferLoopTest, CancelledTransferCompletesOnceAsCancelled) {
  server.script("/held", {HttpsTestResponse::heldUntilReleased(HttpsTestResponse::ok("late"))});
  auto client = std::make_shared<RecordingClient>(&ca);
  auto id = loop->start(get("/held"), client);
  ASSERT_TRUE(server.waitForRequests(1));
  loop->cancel(id);
  loop->cancel(id);
  ASSERT_TRUE(client->waitForCompletion());
  server.release();
  ASSERT_TRUE(client->error);
  EXPECT_EQ(client->error->failure, TransferFailure::Cancelled);
  // A later transfer on the same loop still runs.
  server.script("/after", {HttpsTestResponse::ok("fine")});
  EXPECT_EQ(run(get("/after"), &ca)->body, "fine");
  std::lock_guard lock(client->mMutex);
  EXPECT_EQ(client->completions, 1);
}

// Swaps in a virtual media clock for one test.
struct VirtualMediaClock {
  VirtualMediaClock() : clock(std::make_shared<VirtualClock>()), previous(setMediaClock(clock)) {}
  ~VirtualMediaClock() { setMediaClock(previous); }
  std::shared_ptr<VirtualClock> clock;
  std::shared_ptr<Clock> previous;
};

TEST_F(CurlTransferLoopTest, StalledServerTimesOutWhenTheMediaClockPassesTheTimeout) {
  VirtualMediaClock media;
  server.script("/stall", {HttpsTestResponse::heldUntilReleased(HttpsTestResponse::ok("late"))});
  server.script("/quick", {HttpsTestResponse::ok("quick")});
  HTTPTransferRequest stalled = get("/stall");
  stalled.timeoutInterval = 5;
  auto client = std::make_shared<RecordingClient>(&ca);
  loop->start(stalled, client);
  ASSERT_TRUE(server.waitForRequests(1));

  // Without the clock moving, a transfer never times out however long it really takes.
  auto quick = run(get("/quick"), &ca);
  EXPECT_EQ(quick->body, "quick");
  {
    std::lock_guard lock(client->mMutex);
    EXPECT_EQ(client->completions, 0);
  }
  media.clock->advance(5.5);
  ASSERT_TRUE(client->waitForCompletion());
  server.release();
  ASSERT_TRUE(client->error);
  EXPECT_EQ(client->error->failure, TransferFailure::TimedOut);
  EXPECT_EQ(client->responses, 0);
}

// The program opens libcurl only when it first transfers; on a machine without it (or with one
// lacking a function) every transfer still completes, with a reason that names the library.
TEST(CurlLibrary, AMissingOrIncompleteLibraryIsRefusedWithItsName) {
  std::string error;
  EXPECT_EQ(loadCurlLibrary("libcurl-absent.so.4", &error), nullptr);
  EXPECT_NE(error.find("libcurl-absent.so.4 could not be loaded"), std::string::npos) << error;
  EXPECT_EQ(loadCurlLibrary("libz.so.1", &error), nullptr);
  EXPECT_NE(error.find("libz.so.1 could not be loaded (it has no curl_global_init)"), std::string::npos) << error;

  auto real = loadCurlLibrary(kCurlLibraryFile, &error);
  ASSERT_NE(real, nullptr) << error;
  EXPECT_NE(real->url_cleanup, nullptr);
  EXPECT_EQ(curlLibrary(), curlLibrary());
}

TEST(CurlLibrary, WithoutLibcurlEveryTransferCompletesWithTheReason) {
  std::shared_ptr<CurlTransferLoop> loop = CurlTransferLoop::create(
      "test.nocurl", 0, [](std::string* error) { return loadCurlLibrary("libcurl-absent.so.4", error).release(); });
  HTTPTransferRequest request;
  request.url = "https://127.0.0.1:1/never";
  std::vector<std::shared_ptr<RecordingClient>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(std::make_shared<RecordingClient>(nullptr));
    loop->start(request, clients.back());
  }
  loop->cancel(1);
  // Those still waiting when the owner lets go are answered too.
  loop.reset();
  for (auto& client : clients) {
    ASSERT_TRUE(client->waitForCompletion());
    std::lock_guard lock(client->mMutex);
    EXPECT_EQ(client->completions, 1);
    EXPECT_EQ(client->responses, 0);
    ASSERT_TRUE(client->error.has_value());
    EXPECT_EQ(client->error->failure, TransferFailure::Unknown);
    EXPECT_NE(client->error->description.find("libcurl-absent.so.4 could not be loaded"), std::string::npos)
        << client->error->description;
  }
}

}  // namespace
}  // namespace platform
