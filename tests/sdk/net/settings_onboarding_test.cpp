#include "sdk/client/tel_network_client.h"
#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/identity/tel_application_identifer_model.h"
#include "sdk/onboarding/tel_icon.h"
#include "sdk/settings/tel_settings_onboarding_manager.h"
#include "sdk/settings/tel_download_and_save_settings_operation.h"
#include "support/https_test_server.h"
#include "net/captured_console.h"

#include "platform/core/notification_center.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>

#include <unistd.h>

namespace telemetry {
namespace {

using json = nlohmann::json;
using test::CapturedConsole;
using testsupport::HttpsTestRequest;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;
using namespace std::chrono_literals;

constexpr const char* kSettingsPath = "/spi/v2/platforms/mac/apps/org.orrery.test/settings";
constexpr const char* kCreatePath = "/spi/v1/platforms/mac/apps";
constexpr const char* kUpdatePath = "/spi/v1/platforms/mac/apps/org.orrery.test";

json infoPlist(bool reportIdentifiers = true) {
  return json{{"CFBundleIdentifier", "org.orrery.test"},
              {"CFBundleVersion", "150"},
              {"CFBundleShortVersionString", "1.5.0"},
              {"CFBundleName", "Orrery"},
              {"Telemetry", {{"APIKey", "test-api-key"}, {"Kits", json::array()}, {"ReportIdentifiers", reportIdentifiers}}},
              {"CrashKit", {{"SettingsEndpoint", "https://127.0.0.1:1"}}}};
}

HttpsTestResponse settingsAnswer(const json& body) { return HttpsTestResponse::ok(body.dump()); }

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Counts "TELSettingsAvailableNotification" and what the server had seen when it came.
class NotificationProbe {
 public:
  explicit NotificationProbe(const HttpsTestServer& server) : mServer(server) {
    mScope.observe(kTELSettingsAvailableNotification, nullptr, [this](const platform::Notification&) {
      std::lock_guard lock(mMutex);
      ++count;
      requestsSeen = mServer.requestCount();
      mCond.notify_all();
    });
  }
  bool waitForPost() {
    std::unique_lock lock(mMutex);
    return mCond.wait_for(lock, 30s, [&] { return count > 0; });
  }
  int posts() {
    std::lock_guard lock(mMutex);
    return count;
  }
  size_t requestsWhenPosted() {
    std::lock_guard lock(mMutex);
    return requestsSeen;
  }

 private:
  const HttpsTestServer& mServer;
  platform::ObserverScope mScope;
  std::mutex mMutex;
  std::condition_variable mCond;
  int count = 0;
  size_t requestsSeen = 0;
};

class SettingsOnboardingTest : public ::testing::Test {
 protected:
  SettingsOnboardingTest() : ca("Settings Test Root"), server(ca) {
    MainBundle::shared().setInfoDictionary(infoPlist());
    setenv("SettingsEndpoint", server.origin().c_str(), 1);
    setenv("ConfigureEndpoint", server.origin().c_str(), 1);
    fileio::removeItem(TELSettingsOnboardingManager::settingsDirectoryPath());
    model = TELApplicationIdentiferModel::create("install-1234", [] { return TELAppIconUtility().applicationIcon(); });
    server.script(kCreatePath, {HttpsTestResponse::withStatus(201)});
  }
  ~SettingsOnboardingTest() override {
    manager.reset();
    unsetenv("SettingsEndpoint");
    unsetenv("ConfigureEndpoint");
    MainBundle::shared().setInfoDictionary(std::nullopt);
  }

  void start() {
    manager = TELSettingsOnboardingManager::create(model, {Certificate::createWithData(ca.rootDER())});
    manager->setAdvertisingTokenSource([] { return std::optional<std::string>("ad-token"); });
    manager->beginSettingsAndOnboardingOperationsWithAPIKey("test-api-key",
                                                           {{"org.orrery.telemetry.Telemetry", "1.6.8"}, {"org.test.Kit", "2.0"}});
  }
  // True once the manager has ended its network session (nothing more is sent in this run).
  bool waitForSessionEnd() {
    auto ended = std::make_shared<std::promise<void>>();
    auto future = ended->get_future();
    manager->networkClient()->session()->addInvalidationHandler([ended] { ended->set_value(); });
    return future.wait_for(30s) == std::future_status::ready;
  }

  TestCertificateAuthority ca;
  HttpsTestServer server;
  std::shared_ptr<TELApplicationIdentiferModel> model;
  std::shared_ptr<TELSettingsOnboardingManager> manager;
};

TEST_F(SettingsOnboardingTest, FirstRunCreatesTheAppThenDownloadsAgainBeforeAnnouncing) {
  server.script(kSettingsPath, {settingsAnswer({{"app", {{"status", "new"}}}}),
                                settingsAnswer({{"app", {{"status", "activated"}}}, {"features", {{"x", 1}}}})});
  NotificationProbe probe(server);
  start();
  ASSERT_TRUE(probe.waitForPost());
  ASSERT_TRUE(waitForSessionEnd());
  EXPECT_EQ(probe.posts(), 1);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].path, kSettingsPath);
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].path, kCreatePath);
  EXPECT_EQ(requests[2].path, kSettingsPath);
  EXPECT_TRUE(manager->hasAttemptedAppConfigure());

  auto settings = manager->settingsModel();
  EXPECT_EQ(settings->appStatus(), "activated");
  EXPECT_EQ(settings->valueForKey("features", "x"), json(1));
  EXPECT_EQ(json::parse(readText(TELSettingsOnboardingManager::settingsPath()))["app"]["status"], "activated");

  // The form describes the application; the icon's hash matches the settings query.
  const HttpsTestRequest& create = requests[1];
  std::string contentType = create.header("Content-Type").value_or("");
  ASSERT_EQ(contentType.rfind("multipart/form-data; boundary=", 0), 0u);
  EXPECT_EQ(create.header("Content-Length"), std::to_string(create.body.size()));
  for (const char* field : {"name=\"app[identifier]\"\r\nContent-Type: text/plain\r\n\r\norg.orrery.test\r\n",
                            "name=\"app[build_version]\"\r\nContent-Type: text/plain\r\n\r\n150\r\n",
                            "name=\"app[display_version]\"\r\nContent-Type: text/plain\r\n\r\n1.5.0\r\n",
                            "name=\"app[name]\"\r\nContent-Type: text/plain\r\n\r\nOrrery\r\n",
                            "name=\"app[build][libraries][org.orrery.telemetry.Telemetry]\"\r\nContent-Type: text/plain\r\n\r\n1.6.8\r\n",
                            "name=\"app[build][libraries][org.test.Kit]\"\r\nContent-Type: text/plain\r\n\r\n2.0\r\n",
                            "name=\"app[icon][prerendered]\"\r\nContent-Type: text/plain\r\n\r\ntrue\r\n",
                            "name=\"app[icon][width]\"\r\nContent-Type: text/plain\r\n\r\n256\r\n",
                            "name=\"app[icon][data]\"; filename=\"icon.png\"\r\nContent-Type: image/png\r\n"})
    EXPECT_NE(create.body.find(field), std::string::npos) << field;
  ASSERT_TRUE(model->icon());
  EXPECT_NE(create.body.find("\r\n\r\n" + model->icon()->dataHash() + "\r\n"), std::string::npos);
  EXPECT_NE(requests[0].query.find("icon_hash=" + model->icon()->dataHash()), std::string::npos);
}

TEST_F(SettingsOnboardingTest, StillNewAfterCreateIsNotCreatedTwice) {
  server.script(kSettingsPath, {settingsAnswer({{"app", {{"status", "new"}}}})});
  NotificationProbe probe(server);
  start();
  ASSERT_TRUE(probe.waitForPost());
  ASSERT_TRUE(waitForSessionEnd());
  EXPECT_EQ(server.requestCount(kCreatePath), 1u);
  EXPECT_EQ(server.requestCount(kSettingsPath), 2u);
  EXPECT_EQ(probe.posts(), 1);
}

TEST_F(SettingsOnboardingTest, UpdateIsAnnouncedFirstThenSent) {
  server.script(kSettingsPath, {settingsAnswer({{"app", {{"status", "activated"}, {"update_required", true}}}})});
  server.script(kUpdatePath, {HttpsTestResponse::withStatus(200)});
  NotificationProbe probe(server);
  start();
  ASSERT_TRUE(probe.waitForPost());
  ASSERT_TRUE(waitForSessionEnd());
  EXPECT_EQ(probe.requestsWhenPosted(), 1u);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].method, "PUT");
  EXPECT_EQ(requests[1].path, kUpdatePath);
}

TEST_F(SettingsOnboardingTest, NothingToDoEndsAfterTheAnnouncement) {
  server.script(kSettingsPath, {settingsAnswer({{"app", nullptr}})});
  NotificationProbe probe(server);
  start();
  ASSERT_TRUE(probe.waitForPost());
  ASSERT_TRUE(waitForSessionEnd());
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_FALSE(manager->hasAttemptedAppConfigure());
}

TEST_F(SettingsOnboardingTest, SettingsRequestCarriesTheAppAndHostAndPrefersTheEnvironment) {
  server.script(kSettingsPath, {settingsAnswer(json::object())});
  NotificationProbe probe(server);
  start();
  ASSERT_TRUE(probe.waitForPost());
  auto request = server.requests().at(0);
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.query.rfind("build_version=150&display_version=1.5.0&instance=" + model->instanceIdentifier() +
                                    "&icon_hash=",
                                0),
            0u);
  EXPECT_NE(request.query.find("&source=1"), std::string::npos);
  EXPECT_EQ(request.header("Accept"), "application/json");
  EXPECT_EQ(request.header("X-CrashKit-Installation-ID"), "install-1234");
  EXPECT_EQ(request.header("X-CrashKit-API-Client-Version"), "1.6.8");
  EXPECT_EQ(request.header("X-CrashKit-API-Key"), "test-api-key");
  EXPECT_EQ(request.header("X-CrashKit-Advertising-Token"), "ad-token");
  EXPECT_TRUE(request.header("X-CrashKit-OS-Display-Version").has_value());
}

TEST_F(SettingsOnboardingTest, NoAdvertisingTokenWhenIdentifiersMayNotBeCollected) {
  MainBundle::shared().setInfoDictionary(infoPlist(false));
  server.script(kSettingsPath, {settingsAnswer(json::object())});
  NotificationProbe probe(server);
  start();
  ASSERT_TRUE(probe.waitForPost());
  auto request = server.requests().at(0);
  EXPECT_FALSE(request.header("X-CrashKit-Advertising-Token").has_value());
  EXPECT_EQ(request.header("X-CrashKit-Installation-ID"), "install-1234");
}

TEST_F(SettingsOnboardingTest, FailedDownloadKeepsTheOldFileAndAnnouncesNothing) {
  ASSERT_TRUE(fileio::createDirectories(TELSettingsOnboardingManager::settingsDirectoryPath()));
  const std::string old = "{\"app\":{\"status\":\"activated\"},\"kept\":true}";
  ASSERT_TRUE(fileio::writeFileAtomically(TELSettingsOnboardingManager::settingsPath(), old.data(), old.size()));
  // Too large to be taken as settings: the download succeeds but the file cannot be placed.
  server.script(kSettingsPath, {HttpsTestResponse::withStatus(404),
                                HttpsTestResponse::ok(std::string(5u << 20, ' ') + "{}")});
  CapturedConsole console;
  NotificationProbe probe(server);
  start();
  ASSERT_TRUE(waitForSessionEnd());
  EXPECT_TRUE(console.contains("[Telemetry] failed to download settings Error Domain=TELNetworkError Code=-5"));
  EXPECT_EQ(readText(TELSettingsOnboardingManager::settingsPath()), old);

  manager.reset();
  start();
  ASSERT_TRUE(waitForSessionEnd());
  EXPECT_TRUE(console.contains("[Telemetry] Unable to complete settings download"));
  EXPECT_EQ(readText(TELSettingsOnboardingManager::settingsPath()), old);
  EXPECT_EQ(probe.posts(), 0);
}

TEST_F(SettingsOnboardingTest, FailedCreateIsLoggedAndNotAnnounced) {
  server.script(kSettingsPath, {settingsAnswer({{"app", {{"status", "new"}}}})});
  server.script(kCreatePath, {HttpsTestResponse::withStatus(422)});
  CapturedConsole console;
  NotificationProbe probe(server);
  start();
  ASSERT_TRUE(waitForSessionEnd());
  EXPECT_TRUE(console.contains("[Telemetry] unable to complete application configure: Error Domain=TELNetworkError Code=-5"));
  EXPECT_EQ(server.requestCount(kSettingsPath), 1u);
  EXPECT_EQ(probe.posts(), 0);
}

TEST(SettingsFile, InvalidJSONIsDeletedAndReadsAsAbsent) {
  std::string path = std::string(std::getenv("TMPDIR")) + "/settings-invalid.json";
  std::ofstream(path) << "{not json";
  TELSettings settings(path);
  CapturedConsole console;
  EXPECT_EQ(settings.settingsDictionary(), nullptr);
  EXPECT_TRUE(console.contains("[Telemetry] Could not load settings with error: "));
  EXPECT_EQ(fileio::kindOf(path), fileio::FileKind::Missing);
  EXPECT_EQ(settings.settingsDictionary(), nullptr);
  EXPECT_FALSE(settings.appNeedsOnboarding());
  EXPECT_FALSE(settings.appUpdateRequired());

  std::ofstream(path) << R"({"app":{"status":null,"update_required":true},"session":{"timeout":5}})";
  settings.clearSettingsDictionary();
  EXPECT_FALSE(settings.appStatus().has_value());
  EXPECT_TRUE(settings.appUpdateRequired());
  EXPECT_EQ(settings.valueForKey("session", "timeout"), json(5));
  EXPECT_FALSE(settings.valueForKey("session", "missing").has_value());
  EXPECT_FALSE(settings.valueForKey("absent", "timeout").has_value());

  // Larger than a download may be (sparse: no disk taken), it is not read whole.
  ASSERT_EQ(::truncate(path.c_str(), off_t(TELDownloadAndSaveSettingsOperation::kMaxSettingsBytes) + 1), 0);
  settings.clearSettingsDictionary();
  EXPECT_EQ(settings.settingsDictionary(), nullptr);
  EXPECT_TRUE(console.contains("[Telemetry] Could not load settings with error: too large (4194305 bytes)"));
  EXPECT_EQ(fileio::kindOf(path), fileio::FileKind::Missing);
}

TEST(SettingsFile, NestingTooDeepToReadSafelyIsRefusedLikeInvalidJSON) {
  // Small enough to be downloaded, deep enough that walking it would exhaust the stack.
  std::string path = std::string(std::getenv("TMPDIR")) + "/settings-deep.json";
  const size_t depth = 1u << 20;
  std::ofstream(path) << "{\"app\":{\"status\":\"new\",\"x\":" << std::string(depth, '[')
                      << std::string(depth, ']') << "}}";
  TELSettings settings(path);
  CapturedConsole console;
  EXPECT_FALSE(settings.appNeedsOnboarding());
  EXPECT_EQ(settings.settingsDictionary(), nullptr);
  EXPECT_TRUE(console.contains("[Telemetry] Could not load settings with error: "));
  EXPECT_EQ(fileio::kindOf(path), fileio::FileKind::Missing);

  std::ofstream(path) << R"({"app":{"status":"new","nested":{"a":[[{"b":[1,2]}]]}}})";
  EXPECT_TRUE(settings.appNeedsOnboarding());
}

}  // namespace
}  // namespace telemetry
