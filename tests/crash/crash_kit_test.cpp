// The crash kit as the application uses it. A start with both kits, a start with reporting
// switched off and repeated starts run in fresh processes (the SDK and the crash context
// start once per process) against the loopback server; the delegate bridge, keys and the
// write-only getters run in this process on the shared kit, which each case puts back.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>

#include "crash/crash_kit.h"
#include "crash/crk_context.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_user_logging.h"
#include "crash_test_support.h"
#include "hex_text.h"
#include "platform/core/notification_center.h"
#include "sdk/analytics/analytics_test_support.h"
#include "sdk/core/console.h"
#include "sdk/core/property_list.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "sdk/settings/tel_settings_onboarding_manager.h"
#include "sdk/startup/telemetry.h"
#include "support/child_checks.h"
#include "support/https_test_server.h"
#include "support/virtual_main_queue.h"

namespace {

using namespace telemetry;
using json = nlohmann::json;
using testsupport::HttpsTestRequest;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;

constexpr uint64_t kCrashStartedAt = 1700000000;

// Prints every analytics line of the bodies in a folder as "<ms> <name>".
const std::string kEventLines = std::string(test::kReceivedBodiesPython) + R"PY(
for name, ctype, msg in received_bodies(sys.argv[1]):
    for part in msg.walk():
        if part.is_multipart(): continue
        for line in gzip.decompress(part.get_payload(decode=True)).decode().split('\n'):
            if line: print(line.split('\t')[0], line.split('\t')[1])
)PY";

using Checks = testsupport::ChildChecks;
using Console = test::ConsoleLines;

// One child's whole world: the vendor's service on loopback (settings, onboarding, reports,
// events) and the application's configuration pointing at it.
struct Service {
  TestCertificateAuthority ca{"Crash Kit Root"};
  HttpsTestServer server{ca};
  std::string received = crashtest::makeFolder("kit-bodies");
  json settings;
  std::mutex mutex;
  int events = 0;

  explicit Service(bool collectReports) {
    settings = {{"app", {{"status", "activated"}}},
                {"features", {{"collect_reports", collectReports}, {"collect_analytics", true}}},
                {"analytics", {{"url", server.origin() + "/events"}, {"flush_interval_secs", 0}}}};
    server.setHandler([this](const HttpsTestRequest& r) {
      if (r.path.find("/settings") != std::string::npos) return HttpsTestResponse::ok(settings.dump());
      if (r.path.rfind("/events", 0) == 0) {
        std::lock_guard lock(mutex);
        const std::string base = received + "/" + std::to_string(100000 + ++events);
        test::writeText(base + ".bin", r.body);
        test::writeText(base + ".ct", r.header("Content-Type").value_or(""));
        return HttpsTestResponse::withStatus(202);
      }
      return HttpsTestResponse::withStatus(r.path.find("/reports") != std::string::npos ? 202 : 201);
    });
    setenv("SettingsEndpoint", server.origin().c_str(), 1);
    setenv("ConfigureEndpoint", server.origin().c_str(), 1);
    setenv("CrashKitReportsEndpoint", server.origin().c_str(), 1);
    TELSetPinnedCertificatesForTesting(CertificateList{Certificate::createWithData(ca.rootDER())});
    MainBundle::shared().setInfoDictionary(json{{"CFBundleIdentifier", "org.orrery.kit"},
                                                {"CFBundleVersion", "9"},
                                                {"CFBundleShortVersionString", "2.0.1"},
                                                {"Telemetry", {{"APIKey", "kit-key"}}}});
  }

  // A crash report an earlier run left behind.
  void leaveEarlierCrash() {
    CRKFileManager manager;
    manager.prepareForNewLaunch();
    crashtest::leaveEarlierCrash(manager.activePath(), "aaaa1111aaaa1111aaaa1111aaaa1111", "kit-key", kCrashStartedAt);
  }

  // "<ms> <name>" of every event the service received.
  std::vector<std::string> eventLines() {
    std::vector<std::string> lines;
    std::istringstream out(test::runPython(kEventLines, {received}));
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    return lines;
  }
  bool receivedEvent(const std::string& name) {
    for (const auto& line : eventLines())
      if (line.substr(line.find(' ') + 1) == name) return true;
    return false;
  }
  // Sends what the engine holds until `name` arrived (a resignation closes the current log).
  bool waitForEvent(const std::string& name, test::VirtualMainQueue& mainQueue) {
    for (int i = 0; i < 400; ++i) {
      mainQueue.loop->runPending();
      platform::NotificationCenter::defaultCenter().post("NSApplicationWillResignActiveNotification");
      if (auto controller = Analytics::sharedInstance().analyticsController()) controller->drain();
      if (receivedEvent(name)) return true;
      usleep(20000);
    }
    return false;
  }
};

using testsupport::hex;

std::map<std::string, std::string> userKeys() {
  CRKLoggingQueue()->sync([] {});
  return CRKUserLoggingReadKeyValues(CRKUserLoggingUserStore());
}

class LateDelegate final : public CrashKitDelegate {};

void startWithBothKits() {
  Checks checks;
  test::VirtualMainQueue mainQueue;
  Console console;
  Service service(/*collectReports=*/true);
  service.leaveEarlierCrash();

  CrashKit& kit = CrashKit::sharedInstance();
  Telemetry& sdk = Telemetry::with({kit, Analytics::kit()});
  checks.expect(kit.isCrashKitStarted(), "crash reporting started");
  checks.expect(CRKContextIsInitialized(), "the crash context exists");
  checks.expect(Analytics::sharedInstance().analyticsController() != nullptr, "the analytics kit started");
  auto versions = sdk.kitVersionsByKitBundleIdentifier();
  checks.expect(versions["org.orrery.telemetry.kit.crashkit.mac"] == "3.8.2", "crash kit version announced");
  checks.expect(versions.count("org.orrery.telemetry.kit.analytics.mac") == 1, "analytics kit announced");
  auto controller = kit.crashReportingController();

  // Again, by every road: nothing starts twice.
  Telemetry::with({kit});
  CrashKit::initializeIfNeeded();
  Analytics::initializeIfNeeded();
  kit.start();
  checks.expect(console.count("[CrashKit] Version 3.8.2 (118)") == 1, "one version line");
  checks.expect(kit.crashReportingController() == controller, "the same controller");

  kit.setDelegate(std::make_shared<LateDelegate>());
  checks.expect(console.count("[CrashKit] Warning, setting delegate after start.") == 1, "a late delegate is told");

  kit.setIntValue(7, "seven");
  kit.setBoolValue(true, "yes");
  kit.setFloatValue(0.5f, "half");
  kit.setObjectValue("text", "word");
  auto keys = userKeys();
  checks.expect(keys[hex("seven")] == hex("7"), "int key");
  checks.expect(keys[hex("yes")] == hex("1"), "bool key");
  checks.expect(keys[hex("half")] == hex("0.5"), "float key");
  checks.expect(keys[hex("word")] == hex("text"), "object key");

  // The earlier run's crash reaches analytics at its own date, and events logged through the
  // kit reach the service.
  kit.logEvent("through-the-crash-kit", nlohmann::ordered_json{{"n", 1}});
  checks.expect(service.waitForEvent("app_crashed", mainQueue), "the crash event arrived");
  checks.expect(service.waitForEvent("custom", mainQueue), "the kit's event arrived");
  int crashes = 0;
  for (const auto& line : service.eventLines()) {
    if (line.find(" app_crashed") == std::string::npos) continue;
    ++crashes;
    checks.expect(line == std::to_string(kCrashStartedAt * 1000) + " app_crashed", "crash date: " + line);
  }
  checks.expect(crashes == 1, "one crash event");
  for (int i = 0; i < 500 && service.server.requestCount("/sdk-api") == 0; ++i) usleep(20000);
  checks.expect(service.server.requestCount("/sdk-api") == 1, "the earlier crash report was sent");
  checks.expect(console.count("[Telemetry] [Telemetry +with] called multiple times") == 1, "a second with is logged");
  checks.exit();
}

void startWithReportingOff() {
  Checks checks;
  test::VirtualMainQueue mainQueue;
  Console console;
  Service service(/*collectReports=*/false);
  service.leaveEarlierCrash();
  // The settings of an earlier run say no crash reports.
  const std::string settingsPath = TELSettingsOnboardingManager::settingsPath();
  std::filesystem::create_directories(std::filesystem::path(settingsPath).parent_path());
  test::writeText(settingsPath, service.settings.dump());

  CrashKit& kit = CrashKit::sharedInstance();
  Telemetry::with({kit});
  checks.expect(console.count("[CrashKit:Crash] Reporting is disabled") == 1, "reporting is off");
  checks.expect(console.count("[CrashKit] Crash reporting could not be initialized") == 1, "told once");
  checks.expect(kit.isCrashKitStarted(), "the kit counts as started");
  checks.expect(!CRKContextIsInitialized(), "no crash context");
  checks.expect(crashtest::run("ls -A '" + CRKFileManager().activePath() + "' 2>/dev/null").empty(),
                "the earlier report is gone");
  kit.setIntValue(7, "dropped");
  kit.setUserIdentifier("nobody");
  kit.recordCustomExceptionName("Dropped", "no context", {});
  checks.expect(Analytics::sharedInstance().analyticsController() != nullptr, "analytics started all the same");
  kit.logEvent("while-reports-are-off");
  checks.expect(service.waitForEvent("custom", mainQueue), "events still arrive");
  checks.expect(!service.receivedEvent("app_crashed"), "no crash told to analytics");
  checks.expect(service.server.requestCount("/sdk-api") == 0, "no report sent");
  checks.exit();
}

TEST(CrashKitStart, WithBothKitsCaptureAnalyticsAndTheEarlierCrashStartOnceAndReachTheService) {
  crashtest::DeathStyle style;
  EXPECT_EXIT(startWithBothKits(), ::testing::ExitedWithCode(0), "");
}

TEST(CrashKitStart, WithReportingSwitchedOffAnalyticsStillRunsAndRecordsAreDropped) {
  crashtest::DeathStyle style;
  EXPECT_EXIT(startWithReportingOff(), ::testing::ExitedWithCode(0), "");
}

TEST(CrashKitTesting, CrashTrapsAndThrowExceptionEndsTheProcess) {
  crashtest::DeathStyle style;
  EXPECT_EXIT(CrashKit::sharedInstance().crash(), ::testing::KilledBySignal(SIGILL), "");
  // Uncaught, as in an application: nothing after it runs.
  EXPECT_DEATH([]() noexcept { CrashKit::sharedInstance().throwException(); }(), "CrashKitTestException");
}

// The shared kit's delegate, put back after each case.
class CrashKitBridge : public ::testing::Test {
 protected:
  CrashKitBridge() {
    previous = kit.delegate();
    controller = CRKCrashReportingController::create(std::make_shared<CRKFileManager>(crashtest::makeFolder("bridge")),
                                                     std::weak_ptr<CRKCrashReportingControllerDelegate>());
  }
  ~CrashKitBridge() override { kit.setDelegate(previous); }

  std::shared_ptr<CRKReport> report() {
    return std::make_shared<CRKReport>(CRKInternalReport::reportWithPath(crashtest::makeFolder("report"), "r1"));
  }

  CrashKit& kit = CrashKit::sharedInstance();
  std::shared_ptr<CrashKitDelegate> previous;
  std::shared_ptr<CRKCrashReportingController> controller;
  test::VirtualMainQueue mainQueue;
};

struct Recorder : CrashKitDelegate {
  bool full = false, legacyWithReport = false, legacy = false, signals = false;
  std::vector<std::string> calls;
  std::function<void(bool)> held;
  bool respondsToDidDetectReportForLastExecution() const override { return full; }
  void crashKitDidDetectReportForLastExecution(std::shared_ptr<CRKReport> report,
                                               std::function<void(bool)> completion) override {
    calls.push_back("decide " + report->identifier());
    held = std::move(completion);
  }
  bool respondsToDidDetectCrashDuringPreviousExecutionWithReport() const override { return legacyWithReport; }
  void crashKitDidDetectCrashDuringPreviousExecution(CrashKit&, std::shared_ptr<CRKReport> report) override {
    calls.push_back("legacy " + report->identifier());
  }
  bool respondsToDidDetectCrashDuringPreviousExecution() const override { return legacy; }
  void crashKitDidDetectCrashDuringPreviousExecution(CrashKit&) override { calls.push_back("legacy"); }
  bool respondsToEnsureDeliveryOfUnixSignal() const override { return signals; }
  bool crashKitEnsureDeliveryOfUnixSignal(CrashKit&, int signal) override { return signal == SIGSEGV; }
};

TEST_F(CrashKitBridge, DelegatesDecideOrAreToldAsTheyAnswer) {
  std::vector<std::string> submitted;
  auto completion = [&](bool submit) { submitted.push_back(submit ? "yes" : "no"); };

  // None: every report goes, nobody is asked.
  kit.setDelegate(nullptr);
  EXPECT_FALSE(kit.reportingControllerMustInformDelegateOfReports(*controller));
  EXPECT_FALSE(kit.shouldInstallCrashCallback());
  EXPECT_TRUE(kit.reportingControllerCanUseBackgroundSessions(*controller));
  EXPECT_FALSE(kit.reportingControllerEnsureDeliveryOfUnixSignal(*controller, SIGSEGV));
  kit.reportingControllerDidDetectReportForLastExecution(*controller, report(), completion);
  EXPECT_EQ(submitted, std::vector<std::string>{"yes"});

  // Legacy only: submitted at once, both legacy calls later on the main queue.
  auto legacy = std::make_shared<Recorder>();
  legacy->legacyWithReport = legacy->legacy = true;
  kit.setDelegate(legacy);
  EXPECT_TRUE(kit.reportingControllerMustInformDelegateOfReports(*controller));
  kit.reportingControllerDidDetectReportForLastExecution(*controller, report(), completion);
  EXPECT_EQ(submitted.size(), 2u);
  EXPECT_TRUE(legacy->calls.empty()) << "legacy calls wait for the main queue";
  mainQueue.loop->runPending();
  EXPECT_EQ(legacy->calls, (std::vector<std::string>{"legacy r1", "legacy"}));

  // Full: the delegate holds the decision and answers later; signals it asks for are kept.
  auto full = std::make_shared<Recorder>();
  full->full = full->signals = true;
  kit.setDelegate(full);
  kit.reportingControllerDidDetectReportForLastExecution(*controller, report(), completion);
  EXPECT_EQ(submitted.size(), 2u) << "nothing decided yet";
  ASSERT_TRUE(full->held);
  full->held(false);
  EXPECT_EQ(submitted.back(), "no");
  mainQueue.loop->runPending();
  EXPECT_EQ(full->calls, std::vector<std::string>{"decide r1"});
  EXPECT_TRUE(kit.reportingControllerEnsureDeliveryOfUnixSignal(*controller, SIGSEGV));
  EXPECT_FALSE(kit.reportingControllerEnsureDeliveryOfUnixSignal(*controller, SIGBUS));
}

TEST_F(CrashKitBridge, DebugSwitchesBothWaysAndGettersAreWriteOnly) {
  const bool before = isDebugEnabled();
  Console console;
  kit.setDebugMode(true);
  EXPECT_TRUE(kit.debugMode());
  kit.setDebugMode(false);
  EXPECT_FALSE(kit.debugMode()) << "switching debug off must stay off";
  EXPECT_FALSE(kit.developmentPlatformName());
  EXPECT_FALSE(kit.developmentPlatformVersion());
  EXPECT_EQ(console.count("[CrashKit] developmentPlatformName is write-only"), 1);
  EXPECT_EQ(console.count("[CrashKit] developmentPlatformVersion is write-only"), 1);
  setDebugEnabled(before);
}

TEST_F(CrashKitBridge, ALegacyInstallationIdentifierWinsOverTheSDKs) {
  const std::string folder = paths::join(paths::applicationSupportDirectory(), kSDKIdentifierPrefix);
  const std::string legacy = paths::join(folder, "CRKUserDefaults.plist");
  std::filesystem::create_directories(folder);
  EXPECT_EQ(kit.installID(), Telemetry::sharedSDK().installID());
  ASSERT_TRUE(plist::writeFile(legacy, json{{"org.orrery.telemetry.iuuid", "LEGACY-UUID"}}));
  EXPECT_EQ(kit.installID(), "LEGACY-UUID");
  test::writeText(legacy, "not a property list");
  EXPECT_EQ(kit.installID(), Telemetry::sharedSDK().installID());
  std::filesystem::remove(legacy);
}

class Page final : public CRKScriptHost {
 public:
  explicit Page(bool scripts) : mScripts(scripts) {}
  bool supportsUserScripts() const override { return mScripts; }
  void addUserScript(const CRKUserScript& script) override { scripts.push_back(script); }
  void addScriptMessageHandler(const std::string& name, std::function<void(const CRKScriptMessage&)> handler) override {
    handlers[name] = std::move(handler);
  }
  std::vector<CRKUserScript> scripts;
  std::map<std::string, std::function<void(const CRKScriptMessage&)>> handlers;

 private:
  bool mScripts;
};

TEST_F(CrashKitBridge, AWebViewIsHookedThroughItsCrashKitHandler) {
  Console console;
  Page page(true);
  kit.monitorErrorsForWebViewConfiguration(page);
  ASSERT_EQ(page.scripts.size(), 1u);
  ASSERT_EQ(page.handlers.count("crashkit"), 1u);
  page.handlers["crashkit"]({"crashkit", "[1,2]"});
  EXPECT_EQ(console.count("[CrashKit] Unable to record exception from WKWebView"), 1);

  Page bare(false);
  kit.monitorErrorsForWebViewConfiguration(bare);
  EXPECT_EQ(console.count("[CrashKit] Unable to monitor"), 1);
}

}  // namespace
