// The reports pipeline against the loopback HTTPS server (test authority pinned, endpoint
// from the environment): an earlier run's report is processed, packaged, sent with the
// service's headers and deleted once taken; the settings' switches keep it at its stage.
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_network_client.h"
#include "crash/crk_reports_controller.h"
#include "crash/crk_settings.h"
#include "crash_test_support.h"
#include "sdk/session/certificate.h"
#include "support/https_test_server.h"

namespace {

using namespace telemetry;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;
using namespace std::chrono_literals;

// Sets an environment variable for the test's life and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : mName(name) {
    if (const char* old = std::getenv(name)) mOld = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (mOld) setenv(mName, mOld->c_str(), 1);
    else unsetenv(mName);
  }

 private:
  const char* mName;
  std::optional<std::string> mOld;
};

class PipelineDelegate final : public CRKNetworkClientDelegate, public CRKReportsControllerDelegate {
 public:
  bool networkClientCanUseBackgroundSessions(CRKNetworkClient&) override { return false; }
  void networkClientDidFinishUploadWithPath(CRKNetworkClient&, const std::string& path,
                                            const OptionalError& error) override {
    if (pipeline) pipeline->reportUploadAtPathCompletedWithError(path, error);
  }
  void reportsControllerDidCompletePackageSubmission(CRKReportsController&, const std::string& path,
                                                     const OptionalError& error) override {
    std::lock_guard lock(mutex);
    completed.push_back({path, error.has_value()});
    changed.notify_all();
  }
  std::shared_ptr<CRKSettings> settingsForReportsController(CRKReportsController&) override {
    return std::make_shared<CRKSettings>(std::make_shared<const nlohmann::json>(nlohmann::json::object()));
  }
  std::optional<std::string> APIKeyForReportsController(CRKReportsController&) override { return "api-key-9"; }
  std::optional<std::string> bundleIdentifierForReportsController(CRKReportsController&) override {
    return "org.orrery.Orrery";
  }
  bool waitFor(size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 20s, [&] { return completed.size() >= count; });
  }

  CRKReportsController* pipeline = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<std::string, bool>> completed;
};

class CrashPipelineTest : public ::testing::Test {
 protected:
  CrashPipelineTest() : ca("Crash Pipeline Root"), server(ca), endpoint("CrashKitReportsEndpoint", server.origin()) {
    EXPECT_TRUE(manager.prepareForNewLaunch());
    client = CRKNetworkClient::create(queue, managerOwner, delegate, CertificateList{Certificate::createWithData(ca.rootDER())});
    pipeline = std::make_unique<CRKReportsController>(queue, delegate, client, managerOwner);
    delegate->pipeline = pipeline.get();
  }
  ~CrashPipelineTest() override {
    client->invalidateAndCancel();
    queue->waitUntilAllOperationsAreFinished();
  }
  std::shared_ptr<CRKInternalReport> earlierReport(const std::string& name = "aaaabbbbccccddddeeeeffff00001111") {
    std::string folder = manager.activePath() + "/" + name;
    EXPECT_TRUE(manager.createDirectoryAtPath(folder));
    std::ofstream(folder + "/metadata.crkrecord")
        << R"({"identity":{"session_id":")" << name << R"(","api_key":"api-key-9","started_at":1}})" << "\n";
    std::ofstream(folder + "/signal.crkrecord") << R"({"threads":[{"stacktrace":[4096,8192]}]})" << "\n";
    std::ofstream(folder + "/binary_images.crkrecord") << R"({"unload":{"uuid":"00","base":4096}})" << "\n";
    return CRKInternalReport::reportWithPath(folder);
  }
  bool empty(const std::string& folder) { return crashtest::run("ls -A '" + folder + "'").empty(); }

  TestCertificateAuthority ca;
  HttpsTestServer server;
  ScopedEnvironment endpoint;
  std::shared_ptr<CRKFileManager> managerOwner =
      std::make_shared<CRKFileManager>(crashtest::makeFolder("crash-pipeline"));
  CRKFileManager& manager = *managerOwner;
  std::shared_ptr<OperationQueue> queue = std::make_shared<OperationQueue>("crash-work", 1);
  std::shared_ptr<PipelineDelegate> delegate = std::make_shared<PipelineDelegate>();
  std::shared_ptr<CRKNetworkClient> client;
  std::unique_ptr<CRKReportsController> pipeline;
};

TEST_F(CrashPipelineTest, AReportGoesFromItsFolderToTheServerAndIsDeleted) {
  server.script("/sdk-api", {HttpsTestResponse::ok("{}")});
  EXPECT_TRUE(pipeline->prepareAndSubmitReport(earlierReport(), false, true));
  ASSERT_TRUE(delegate->waitFor(1));
  EXPECT_FALSE(delegate->completed[0].second);
  ASSERT_EQ(server.requestCount(), 1u);
  const auto sent = server.requests()[0];
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.path, "/sdk-api/v1/platforms/mac/apps/org.orrery.Orrery/reports");
  EXPECT_EQ(sent.header("User-Agent"), "CrashKit Mac SDK/3.8.2");
  EXPECT_EQ(sent.header("X-CrashKit-API-Key"), "api-key-9");
  EXPECT_EQ(sent.header("X-CrashKit-API-Client-Id"), "org.orrery.telemetry.kit.crashkit.mac");
  EXPECT_EQ(sent.header("X-CrashKit-API-Client-Build-Version"), "118");
  EXPECT_EQ(sent.header("Accept"), "application/json");
  const std::string package = delegate->completed[0].first;
  const std::string boundary = package.substr(package.rfind('/') + 1, package.rfind('.') - package.rfind('/') - 1);
  EXPECT_EQ(sent.header("Content-Type"), "multipart/form-data; boundary=" + boundary);
  EXPECT_EQ(sent.header("Content-Length"), std::to_string(sent.body.size()));
  EXPECT_NE(sent.body.find("signal.crkrecord.symbolicated.gz"), std::string::npos);
  EXPECT_NE(sent.body.find("aaaabbbbccccddddeeeeffff00001111"), std::string::npos);
  for (const auto& folder : {manager.activePath(), manager.processingPath(), manager.preparedPath()})
    EXPECT_TRUE(empty(folder)) << folder;
}

TEST_F(CrashPipelineTest, SwitchedOffStagesKeepTheReportWhereItIs) {
  {
    ScopedEnvironment off("CrashKitSubmitReports", "0");
    EXPECT_FALSE(pipeline->prepareAndSubmitReport(earlierReport(), false, true));
    EXPECT_EQ(manager.preparedPathContents().size(), 1u);
    EXPECT_TRUE(empty(manager.processingPath()));
  }
  {
    ScopedEnvironment off("CrashKitPackageReports", "0");
    EXPECT_FALSE(pipeline->prepareAndSubmitReport(earlierReport("11112222333344445555666677778888"), false, true));
    EXPECT_EQ(manager.processingPathContents(),
              std::vector<std::string>{manager.processingPath() + "/11112222333344445555666677778888"});
    EXPECT_EQ(manager.preparedPathContents().size(), 1u);
  }
  // An interrupted run's processed report is packaged from where it lies; a package that is
  // already gone is ignored without a word to the delegate.
  server.script("/sdk-api", {HttpsTestResponse::ok("{}"), HttpsTestResponse::ok("{}")});
  auto leftover = CRKInternalReport::reportWithPath(manager.processingPath() + "/11112222333344445555666677778888");
  EXPECT_TRUE(pipeline->prepareAndSubmitReport(leftover, false, false));
  EXPECT_FALSE(pipeline->uploadPackagedReportAtPath(manager.preparedPath() + "/gone.multipartmime", false));
  for (const auto& path : manager.preparedPathContents()) pipeline->uploadPackagedReportAtPath(path, false);
  ASSERT_TRUE(delegate->waitFor(2));
  EXPECT_EQ(server.requestCount(), 2u);
  EXPECT_TRUE(empty(manager.processingPath()));
  EXPECT_TRUE(empty(manager.preparedPath()));
}

TEST_F(CrashPipelineTest, AnUrgentReportIsSentSynchronouslyAndGivesUpOnASlowServer) {
  server.script("/sdk-api", {HttpsTestResponse::heldUntilReleased(HttpsTestResponse::ok("{}"))});
  EXPECT_TRUE(pipeline->prepareAndSubmitReport(earlierReport(), true, true));
  server.release();
  EXPECT_TRUE(delegate->completed.empty());
  EXPECT_EQ(manager.preparedPathContents().size(), 1u);
  server.script("/sdk-api", {HttpsTestResponse::ok("{}")});
  EXPECT_TRUE(pipeline->uploadPackagedReportAtPath(manager.preparedPathContents()[0], true));
  EXPECT_EQ(delegate->completed.size(), 1u);
  EXPECT_TRUE(empty(manager.preparedPath()));
}

}  // namespace
