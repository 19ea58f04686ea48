#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "analytics/analytics_test_support.h"
#include "net/virtual_retry_queue.h"
#include "platform/core/notification_center.h"
#include "sdk/analytics/ana_analytics_controller.h"
#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/client/tel_network_client.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "support/https_test_server.h"

namespace telemetry {
namespace {

using testsupport::HttpsTestRequest;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;

// Reads each received body as a MIME message, unzips its part and prints its log lines.
const std::string kDecodeBodies = std::string(test::kReceivedBodiesPython) + R"PY(
for name, ctype, msg in received_bodies(sys.argv[1]):
    parts = [p for p in msg.walk() if not p.is_multipart()]
    lines = gzip.decompress(parts[0].get_payload(decode=True)).decode().split('\n')
    print(json.dumps({'body': name, 'lines': [l.split('\t') for l in lines if l]}))
)PY";
struct ReceivedLog {
  std::vector<std::string> names;
  std::vector<nlohmann::json> payloads;
};

class AnalyticsControllerTest : public ::testing::Test {
 protected:
  AnalyticsControllerTest() : ca("Analytics Test Root"), server(ca) {
    TELSetPinnedCertificatesForTesting(CertificateList{Certificate::createWithData(ca.rootDER())});
    ANALogger::sharedLogger().setDebugMode(true);
    std::filesystem::create_directories(received);
    server.setHandler([this](const HttpsTestRequest& r) { return answer(r); });
  }
  ~AnalyticsControllerTest() override {
    controller.reset();
    ANALogger::sharedLogger().setDebugMode(false);
    TELSetPinnedCertificatesForTesting(std::nullopt);
  }

  HttpsTestResponse answer(const HttpsTestRequest& r) {
    std::lock_guard lock(mutex);
    const int n = ++requests;
    if (!statuses.empty()) {
      int status = statuses.front();
      if (statuses.size() > 1) statuses.erase(statuses.begin());
      if (status != 200) return status == 503 ? HttpsTestResponse::retryAfter(503, "60") : HttpsTestResponse::withStatus(status);
    }
    const std::string base = received + "/" + std::to_string(100000 + n);
    test::writeText(base + ".bin", r.body);
    test::writeText(base + ".ct", r.header("Content-Type").value_or(""));
    return HttpsTestResponse::withStatus(202);
  }

  std::shared_ptr<ANAAnalyticsController> make(bool firstInstall) {
    ANAAnalyticsController::Environment env;
    env.firstInstall = firstInstall;
    env.facts = ANAMetadata::SDKFacts{"the-key", "run-1", "install-1", "instance-1"};
    env.retryQueue = &retries;
    env.flushTimerQueue = &timers;
    return ANAAnalyticsController::initWithBetaToken(std::nullopt, root.path(), env);
  }
  TELSettings::Dictionary settingsJSON(int maxBytes, bool collect = true, double flush = 0) {
    return std::make_shared<const nlohmann::json>(nlohmann::json{
        {"features", {{"collect_analytics", collect}}},
        {"analytics",
         {{"url", server.origin() + "/spi/v2/events"}, {"max_byte_size_per_file", maxBytes}, {"flush_interval_secs", flush}}}});
  }
  std::string events() const { return ANAAnalyticsController::eventDirectoryForRootDirectory(root.path()); }
  size_t filesWithExtension(const std::string& ext) const {
    size_t n = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(events(), ec))
      if (e.path().extension() == ext) ++n;
    return n;
  }
  // Drains the engine until no package is waiting for its answer.
  void settle() {
    for (int i = 0; i < 2000; ++i) {
      controller->drain();
      if (controller->uploader()->namesInFlight().empty() && controller->eventQueue()->operationCount() == 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "uploads never settled";
  }
  std::string dump() {
    std::string all;
    for (const auto& l : console.lines()) all += l + "\n";
    return all;
  }
  std::string errors() {
    std::string all;
    for (const auto& l : console.lines())
      if (l.find("rror") != std::string::npos || l.find("ailed") != std::string::npos) all += l + "\n";
    return all;
  }
  std::vector<ReceivedLog> receivedLogs() {
    std::vector<ReceivedLog> logs;
    std::istringstream out(test::runPython(kDecodeBodies, {received}));
    for (std::string line; std::getline(out, line);) {
      auto j = nlohmann::json::parse(line);
      ReceivedLog log;
      for (const auto& fields : j["lines"]) {
        log.names.push_back(fields[1].get<std::string>());
        log.payloads.push_back(nlohmann::json::parse(fields[3].get<std::string>()));
      }
      logs.push_back(std::move(log));
    }
    return logs;
  }

  test::ScratchFolder root;
  test::ScratchFolder bodies;
  std::string received = bodies / "received";
  test::ConsoleLines console;
  TestCertificateAuthority ca;
  HttpsTestServer server;
  test::VirtualRetryQueue retries;
  test::VirtualRetryQueue timers;
  std::mutex mutex;
  int requests = 0;
  std::vector<int> statuses;
  std::shared_ptr<ANAAnalyticsController> controller;
};

TEST_F(AnalyticsControllerTest, EveryEventArrivesOnceInLogsOpeningWithMetadata) {
  controller = make(true);
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(2000));
  constexpr int kThreads = 8, kPerThread = 500;
  std::mutex idsMutex;
  std::set<std::string> ids;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        auto e = ANACustomEvent::create("e" + std::to_string(t), nlohmann::ordered_json{{"i", i}});
        {
          std::lock_guard lock(idsMutex);
          ids.insert(e->identifier());
        }
        controller->logEvent(e);
      }
    });
  }
  for (auto& t : threads) t.join();
  platform::NotificationCenter::defaultCenter().post("NSApplicationWillResignActiveNotification");
  settle();
  // A transfer cut by the network keeps its package, and the next launch sends it.
  controller.reset();
  controller = make(false);
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(2000));
  settle();

  std::map<std::string, int> seen;
  bool installAlone = false;
  for (const auto& log : receivedLogs()) {
    ASSERT_FALSE(log.names.empty());
    EXPECT_EQ(log.names[0], "metadata");
    for (size_t i = 1; i < log.names.size(); ++i) {
      EXPECT_NE(log.names[i], "metadata");
      if (log.names[i] == "custom") ++seen[log.payloads[i]["eventId"].get<std::string>()];
    }
    if (log.names == std::vector<std::string>{"metadata", "app_installed"}) installAlone = true;
  }
  EXPECT_TRUE(installAlone) << errors();
  EXPECT_EQ(seen.size(), ids.size());
  for (const auto& id : ids) EXPECT_EQ(seen[id], 1) << id;
  EXPECT_EQ(filesWithExtension(".multipartmime"), 0u);
  EXPECT_EQ(filesWithExtension(".gz"), 0u);
}

TEST_F(AnalyticsControllerTest, OnlyTheFirstSettingsApplyAndDisabledAnalyticsEmptiesTheFolder) {
  controller = make(false);
  controller->drain();
  test::writeText(events() + "/LEFT.multipartmime", "x");
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(8000, false));
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(8000, true));
  controller->logEvent(ANACustomEvent::create("dropped"));
  controller->drain();
  EXPECT_TRUE(std::filesystem::is_empty(events()));
  EXPECT_EQ(console.count("Analytics is disabled. Cleaning up."), 1);
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(AnalyticsControllerTest, PackagesOfAnOfflineSpellAreKeptAndSentByTheNextLaunch) {
  server.stop();
  controller = make(true);
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(8000));
  settle();
  EXPECT_EQ(filesWithExtension(".multipartmime"), 1u);  // the installation's log
  controller.reset();

  HttpsTestServer again(ca);
  server.stop();
  std::atomic<int> got{0};
  again.setHandler([&](const HttpsTestRequest&) {
    ++got;
    return HttpsTestResponse::withStatus(200);
  });
  controller = make(false);
  auto s = nlohmann::json(*settingsJSON(8000));
  s["analytics"]["url"] = again.origin() + "/spi/v2/events";
  controller->initializeSettingsIfNeededWithTelemetrySettings(std::make_shared<const nlohmann::json>(s));
  settle();
  // The kept package, and the previous run's last log (left unsent at its end).
  EXPECT_EQ(got.load(), 2);
  EXPECT_EQ(filesWithExtension(".multipartmime"), 0u);
}

TEST_F(AnalyticsControllerTest, ALeftLogIsPackagedUnderItsOwnNameSoPackagingItAgainSendsNothingTwice) {
  const std::string name = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
  std::filesystem::create_directories(events());
  test::writeText(events() + "/" + name + ".log", "1700000000000\tcustom\t2\t{}\n");
  controller = make(false);
  controller->drain();
  EXPECT_TRUE(test::exists(events() + "/" + name + ".multipartmime")) << dump();
  EXPECT_FALSE(test::exists(events() + "/" + name + ".gz"));
  EXPECT_FALSE(test::exists(events() + "/" + name + ".log"));
}

TEST_F(AnalyticsControllerTest, ThrottledPackagesAreRetriedElevenTimesWithCappedWaitsThenKept) {
  statuses = {503};
  controller = make(true);
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(8000));
  ASSERT_TRUE(server.waitForRequests(1));
  for (int i = 1; i <= 11; ++i) {
    ASSERT_TRUE(retries.waitForScheduled(1)) << i << dump();
    // Retry-After 60 raised to the count would wait hours by the third retry.
    ASSERT_TRUE(retries.advanceUntilFired(TELNetworkClient::kMaxRetryDelay * 1.01)) << i;
    ASSERT_TRUE(server.waitForRequests(static_cast<size_t>(i) + 1)) << i;
  }
  settle();
  EXPECT_EQ(server.requestCount(), 12u);
  EXPECT_EQ(retries.scheduled(), 0u);
  EXPECT_EQ(filesWithExtension(".multipartmime"), 1u);
}

TEST_F(AnalyticsControllerTest, ALastingRefusalDropsOnlyThatPackage) {
  controller = make(true);
  controller->drain();
  statuses = {400, 413, 200};
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(8000));
  settle();
  for (int round = 0; round < 2; ++round) {
    controller->logEvent(ANACustomEvent::create("later"));
    platform::NotificationCenter::defaultCenter().post("NSApplicationDidBecomeActiveNotification");
    settle();
  }
  EXPECT_EQ(filesWithExtension(".multipartmime"), 0u);
  EXPECT_EQ(server.requestCount(), 3u);
  EXPECT_EQ(retries.scheduled(), 0u);
  ASSERT_EQ(receivedLogs().size(), 1u);
  EXPECT_EQ(receivedLogs()[0].names.back(), "app_became_active");
}

TEST_F(AnalyticsControllerTest, ABurstRecordedWhileTheQueueIsBusyStillClosesLogsAtTheSizeLimit) {
  controller = make(false);
  constexpr int kLimit = 2000;
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(kLimit));
  controller->drain();
  // Held back, the whole burst reaches the queue as one batch of events.
  controller->eventQueue()->setSuspended(true);
  constexpr int kEvents = 300;
  for (int i = 0; i < kEvents; ++i) controller->logEvent(ANACustomEvent::create("burst", nlohmann::ordered_json{{"i", i}}));
  controller->eventQueue()->setSuspended(false);
  platform::NotificationCenter::defaultCenter().post("NSApplicationWillResignActiveNotification");
  settle();

  std::vector<int> seen;
  const auto logs = receivedLogs();
  EXPECT_GT(logs.size(), 5u) << "a burst far over the limit spreads over several logs";
  for (const auto& log : logs) {
    size_t eventBytes = 0;
    std::vector<int> inLog;
    for (size_t i = 0; i < log.names.size(); ++i) {
      if (log.names[i] != "custom") continue;
      eventBytes += log.payloads[i].dump().size();
      inLog.push_back(log.payloads[i]["custom_attributes"]["i"].get<int>());
    }
    EXPECT_LT(eventBytes, 2u * kLimit) << "a log closes once it passes the limit";
    EXPECT_TRUE(std::is_sorted(inLog.begin(), inLog.end())) << "a log keeps the order recorded";
    seen.insert(seen.end(), inLog.begin(), inLog.end());
  }
  std::sort(seen.begin(), seen.end());
  std::vector<int> expected(kEvents);
  for (int i = 0; i < kEvents; ++i) expected[i] = i;
  EXPECT_EQ(seen, expected) << "every event once";
}

TEST_F(AnalyticsControllerTest, TheFlushTimerSendsOnlyALogOverTheLimit) {
  controller = make(false);
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(3000, true, 10));
  controller->logEvent(ANACustomEvent::create("small"));
  controller->drain();
  timers.advance(10.5);
  settle();
  EXPECT_EQ(server.requestCount(), 0u);
  for (int i = 0; i < 40; ++i) controller->logEvent(ANACustomEvent::create("more"));
  controller->drain();
  timers.advance(10.5);
  settle();
  EXPECT_GE(server.requestCount(), 1u);
}

TEST_F(AnalyticsControllerTest, ACrashEventTravelsAloneWithThePreviousRunsMetadata) {
  controller = make(false);
  controller->initializeSettingsIfNeededWithTelemetrySettings(settingsJSON(8000));
  controller->logEvent(ANACustomEvent::create("before"));
  controller->logCrashEvent(ANACrashEvent::create(std::chrono::system_clock::now(), 1));
  settle();
  auto logs = receivedLogs();
  ASSERT_EQ(logs.size(), 2u);
  bool crashAlone = false;
  for (const auto& log : logs)
    if (log.names == std::vector<std::string>{"metadata", "app_crashed"}) crashAlone = true;
  EXPECT_TRUE(crashAlone);
}

}  // namespace
}  // namespace telemetry
