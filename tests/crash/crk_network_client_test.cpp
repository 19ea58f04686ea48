// Crash report uploads against the loopback HTTPS server with the test authority pinned:
// success, restarts on the virtual retry queue, the per-run restart limit, quarantine after
// lasting refusals, unreadable packages, duplicate starts, pinning in debug mode and the
// synchronous urgent upload.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "crash/crk_file_manager.h"
#include "crash/crk_network_client.h"
#include "crash_test_support.h"
#include "sdk/core/console.h"
#include "sdk/net/virtual_retry_queue.h"
#include "sdk/session/certificate.h"
#include "support/https_test_server.h"

namespace {

using namespace telemetry;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;
using namespace std::chrono_literals;

struct Finished {
  std::string path;
  OptionalError error;
};

class RecordingDelegate final : public CRKNetworkClientDelegate {
 public:
  bool networkClientCanUseBackgroundSessions(CRKNetworkClient&) override { return true; }
  void networkClientDidFinishUploadWithPath(CRKNetworkClient&, const std::string& path,
                                            const OptionalError& error) override {
    std::lock_guard lock(mMutex);
    mFinished.push_back({path, error});
    mChanged.notify_all();
  }
  bool waitFor(size_t count) {
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, 20s, [&] { return mFinished.size() >= count; });
  }
  std::vector<Finished> finished() {
    std::lock_guard lock(mMutex);
    return mFinished;
  }

 private:
  std::mutex mMutex;
  std::condition_variable mChanged;
  std::vector<Finished> mFinished;
};

class CrashUploadTest : public ::testing::Test {
 protected:
  CrashUploadTest() : ca("Crash Upload Root"), server(ca) {
    EXPECT_TRUE(manager.prepareForNewLaunch());
    client = CRKNetworkClient::create(nullptr, managerOwner, delegate,
                                      CertificateList{Certificate::createWithData(ca.rootDER())});
    client->setRetryQueue(retryOwner);
  }
  ~CrashUploadTest() override { client->invalidateAndCancel(); }

  std::string package(const std::string& boundary = "1B4C0D0E-0000-4000-8000-00000000000A") {
    std::string path = manager.preparedPath() + "/" + boundary + ".multipartmime";
    std::ofstream(path) << "MIME-Version: 1.0\r\n--" << boundary << "--\r\n";
    return path;
  }
  URLRequest request(double timeout = 10) {
    URLRequest r(server.origin() + "/reports", timeout);
    r.setHTTPMethod("POST");
    return r;
  }
  static bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

  TestCertificateAuthority ca;
  HttpsTestServer server;
  std::shared_ptr<CRKFileManager> managerOwner =
      std::make_shared<CRKFileManager>(crashtest::makeFolder("crash-upload"));
  CRKFileManager& manager = *managerOwner;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<test::VirtualRetryQueue> retryOwner = std::make_shared<test::VirtualRetryQueue>();
  test::VirtualRetryQueue& retries = *retryOwner;
  std::shared_ptr<CRKNetworkClient> client;
};

TEST_F(CrashUploadTest, TheServerTakingAPackageIsReportedWithoutError) {
  server.script("/reports", {HttpsTestResponse::ok("{}")});
  std::string path = package();
  client->startUploadRequest(request(), path, false);
  ASSERT_TRUE(delegate->waitFor(1));
  EXPECT_EQ(delegate->finished()[0].path, path);
  EXPECT_FALSE(delegate->finished()[0].error);
  ASSERT_EQ(server.requestCount("/reports"), 1u);
  EXPECT_NE(server.requests()[0].body.find("MIME-Version: 1.0"), std::string::npos);
  EXPECT_FALSE(client->supportsBackgroundRequests());
  EXPECT_EQ(client->relativeTaskPathForAbsolutePath(path), "v3/prepared/" + path.substr(path.rfind('/') + 1));
  EXPECT_FALSE(client->relativeTaskPathForAbsolutePath("/elsewhere/x"));
}

TEST_F(CrashUploadTest, RetryableAnswersRestartWithGrowingCappedWaitsAtMostSixTimes) {
  std::vector<HttpsTestResponse> answers(7, HttpsTestResponse::withStatus(503));
  answers[1] = HttpsTestResponse::retryAfter(503, "3");
  answers[2] = HttpsTestResponse::retryAfter(503, "100000");
  server.script("/reports", answers);
  std::string path = package();
  client->startUploadRequest(request(), path, false);
  // 2 s then Retry-After 3 s, then a huge Retry-After held to the cap.
  ASSERT_TRUE(retries.waitForScheduled(1));
  retries.advance(1.7);
  EXPECT_EQ(server.requestCount(), 1u);
  ASSERT_TRUE(retries.advanceUntilFired(1.0));
  ASSERT_TRUE(server.waitForRequests(2));
  ASSERT_TRUE(retries.waitForScheduled(1));
  retries.advance(3.0 * 3.0 * 0.85);
  EXPECT_EQ(server.requestCount(), 2u);
  ASSERT_TRUE(retries.advanceUntilFired(3.0 * 3.0 * 0.3));
  ASSERT_TRUE(server.waitForRequests(3));
  ASSERT_TRUE(retries.waitForScheduled(1));
  retries.advance(899);
  EXPECT_EQ(server.requestCount(), 3u);
  ASSERT_TRUE(retries.advanceUntilFired(2));
  for (size_t sent = 4; sent <= 7; ++sent) {
    ASSERT_TRUE(server.waitForRequests(sent));
    if (sent == 7) break;
    ASSERT_TRUE(retries.waitForScheduled(1));
    ASSERT_TRUE(retries.advanceUntilFired(80));
  }
  // The seventh answer ends the run's attempts: the package stays for the next launch.
  ASSERT_TRUE(delegate->waitFor(1));
  EXPECT_EQ(server.requestCount(), 7u);
  ASSERT_TRUE(delegate->finished()[0].error);
  EXPECT_EQ(delegate->finished()[0].error->userInfo.value("retry_limit_reached", false), true);
  EXPECT_TRUE(exists(path));
  EXPECT_EQ(retries.scheduled(), 0u);
}

TEST_F(CrashUploadTest, ThreeLastingRefusalsQuarantineThePackage) {
  server.script("/reports", {HttpsTestResponse::withStatus(400), HttpsTestResponse::withStatus(413),
                             HttpsTestResponse::withStatus(400)});
  std::string path = package();
  // A link planted at the counter's name is neither read nor written through: it gives way.
  const std::string counter = manager.preparedPath() + "/." + path.substr(path.rfind('/') + 1) + ".refusals";
  const std::string elsewhere = manager.rootPath() + "/elsewhere";
  std::ofstream(elsewhere) << "2\n";
  ASSERT_EQ(::symlink(elsewhere.c_str(), counter.c_str()), 0);
  for (size_t round = 1; round <= 3; ++round) {
    client->startUploadRequest(request(), path, false);
    ASSERT_TRUE(delegate->waitFor(round));
    EXPECT_TRUE(delegate->finished()[round - 1].error);
    EXPECT_EQ(exists(path), round < 3) << round;
  }
  EXPECT_EQ(crashtest::run("cat '" + elsewhere + "'"), "2\n");
  EXPECT_FALSE(exists(path));
  EXPECT_EQ(manager.contentsOfDirectory(manager.quarantinePath()).size(), 1u);
  EXPECT_TRUE(crashtest::run("ls -A '" + manager.preparedPath() + "'").empty());
  EXPECT_EQ(delegate->finished()[2].error->userInfo.value("quarantined", false), true);

  // Only the newest twenty stay.
  for (int i = 0; i < 25; ++i) {
    const std::string old = manager.quarantinePath() + "/old" + std::to_string(i);
    std::ofstream(old).close();
    const timespec past[2] = {{1600000000 + i, 0}, {1600000000 + i, 0}};
    utimensat(AT_FDCWD, old.c_str(), past, 0);
  }
  server.script("/reports", std::vector<HttpsTestResponse>(3, HttpsTestResponse::withStatus(400)));
  std::string second = package("1B4C0D0E-0000-4000-8000-00000000000B");
  for (size_t round = 4; round <= 6; ++round) {
    client->startUploadRequest(request(), second, false);
    ASSERT_TRUE(delegate->waitFor(round));
  }
  auto kept = manager.contentsOfDirectory(manager.quarantinePath());
  EXPECT_EQ(kept.size(), CRKNetworkClient::kQuarantineKept);
  EXPECT_NE(std::find(kept.begin(), kept.end(), manager.quarantinePath() + "/" + second.substr(second.rfind('/') + 1)),
            kept.end());
}

TEST_F(CrashUploadTest, UnreadablePackageDuplicateStartAndUnpinnedChain) {
  client->startUploadRequest(request(), manager.preparedPath() + "/gone.multipartmime", false);
  ASSERT_TRUE(delegate->waitFor(1));
  auto first = delegate->finished()[0];
  ASSERT_TRUE(first.error);
  EXPECT_TRUE(first.error->is("CRKNetworkError", -2));
  EXPECT_EQ(first.error->userInfo["path"], first.path);

  server.script("/reports", {HttpsTestResponse::heldUntilReleased(HttpsTestResponse::ok("{}"))});
  std::string path = package();
  client->startUploadRequest(request(), path, false);
  ASSERT_TRUE(server.waitForRequests(1));
  client->startUploadRequest(request(), path, false);
  std::promise<bool> checked;
  client->checkForExistingTaskMatchingDescription(*client->relativeTaskPathForAbsolutePath(path),
                                                  [&](bool found) { checked.set_value(found); });
  EXPECT_TRUE(checked.get_future().get());
  server.release();
  ASSERT_TRUE(delegate->waitFor(2));
  EXPECT_EQ(server.requestCount("/reports"), 1u);

  // A client pinning other roots refuses this server, debug mode or not.
  bool wasDebug = isDebugEnabled();
  setDebugEnabled(true);
  auto other = CRKNetworkClient::create(nullptr, managerOwner, delegate, CertificateList{});
  other->setRetryQueue(retryOwner);
  other->startUploadRequest(request(), path, false);
  ASSERT_TRUE(delegate->waitFor(3));
  setDebugEnabled(wasDebug);
  EXPECT_TRUE(delegate->finished()[2].error);
  EXPECT_EQ(server.requestCount("/reports"), 1u);
  other->invalidateAndCancel();
}

TEST_F(CrashUploadTest, UrgentUploadsAreSynchronousAndGiveUpOnASlowServer) {
  server.script("/reports", {HttpsTestResponse::ok("{}"), HttpsTestResponse::withStatus(400),
                             HttpsTestResponse::heldUntilReleased(HttpsTestResponse::ok("{}"))});
  std::string path = package();
  client->startUploadRequest(request(), path, true);
  ASSERT_EQ(delegate->finished().size(), 1u);
  EXPECT_FALSE(delegate->finished()[0].error);
  client->startUploadRequest(request(), path, true);
  client->startUploadRequest(request(2), path, true);
  server.release();
  EXPECT_EQ(delegate->finished().size(), 1u);
  EXPECT_TRUE(exists(path));
  client->startUploadRequest(request(), manager.preparedPath() + "/missing.multipartmime", true);
  EXPECT_EQ(delegate->finished().size(), 1u);
}

}  // namespace
