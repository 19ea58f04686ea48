#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "sdk/settings/tel_settings_onboarding_manager.h"
#include "sdk/startup/tel_exception.h"
#include "sdk/startup/telemetry.h"
#include "support/child_checks.h"
#include "support/https_test_server.h"
#include "net/captured_console.h"

#include "platform/core/notification_center.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <regex>

// Telemetry::with starts the SDK once per process, so each case runs in a fresh process of
// its own (a re-executed death-test child) and reports through its exit code.

namespace telemetry {
namespace {

using json = nlohmann::json;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;

class CountingKit : public TELKitClass {
 public:
  CountingKit() : TELKitClass("StartCountingKit") {}
  bool conformsToTELKit() const override { return true; }
  std::string bundleIdentifier() const override { return "org.test.StartCountingKit"; }
  std::string kitDisplayVersion() const override { return "3.1"; }
  bool respondsToInitializeIfNeeded() const override { return true; }
  void initializeIfNeeded() const override { ++starts; }
  mutable int starts = 0;
};

class NoKit : public TELKitClass {
 public:
  NoKit() : TELKitClass("PlainClass") {}
  bool conformsToTELKit() const override { return false; }
};

json infoPlist(json telemetry) {
  return json{{"CFBundleIdentifier", "org.orrery.start"},
              {"CFBundleVersion", "7"},
              {"CFBundleShortVersionString", "1.5.7"},
              {"Telemetry", std::move(telemetry)}};
}

using Checks = testsupport::ChildChecks;

void fullStartInThisProcess() {
  Checks checks;
  TestCertificateAuthority ca("Start Test Root");
  HttpsTestServer server(ca);
  server.script("/spi/v2/platforms/mac/apps/org.orrery.start/settings",
                {HttpsTestResponse::ok(R"({"app":{"status":"new"}})"),
                 HttpsTestResponse::ok(R"({"app":{"status":"activated"},"analytics":{"sampling":1}})")});
  server.script("/spi/v1/platforms/mac/apps", {HttpsTestResponse::withStatus(201)});
  setenv("SettingsEndpoint", server.origin().c_str(), 1);
  setenv("ConfigureEndpoint", server.origin().c_str(), 1);
  TELSetPinnedCertificatesForTesting(CertificateList{Certificate::createWithData(ca.rootDER())});
  MainBundle::shared().setInfoDictionary(infoPlist({{"APIKey", "start-key"}, {"Kits", json::array()}}));
  test::CapturedConsole console;

  std::mutex mutex;
  std::condition_variable cond;
  int posts = 0;
  platform::ObserverScope scope;
  scope.observe(kTELSettingsAvailableNotification, nullptr, [&](const platform::Notification&) {
    std::lock_guard lock(mutex);
    ++posts;
    cond.notify_all();
  });

  CountingKit kit;
  Telemetry& sdk = Telemetry::with({kit});
  checks.expect(kit.starts == 1, "the kit was started once");
  checks.expect(sdk.APIKey() == "start-key", "the API key comes from the configuration");
  checks.expect(sdk.isFirstInstall(), "a first run is a first install");
  checks.expect(std::regex_match(sdk.executionIdentifier(), std::regex("[0-9a-f]{32}")), "execution identifier form");
  checks.expect(sdk.kitVersionsByKitBundleIdentifier().at("org.test.StartCountingKit") == "3.1", "kit version");
  {
    std::unique_lock lock(mutex);
    checks.expect(cond.wait_for(lock, std::chrono::seconds(30), [&] { return posts > 0; }), "settings announced");
  }
  checks.expect(server.requestCount() == 3, "settings, create, settings");
  auto settings = sdk.settings();
  checks.expect(settings && (*settings)["app"]["status"] == "activated", "the second download is what kits read");
  checks.expect(fileio::kindOf(TELSettingsOnboardingManager::settingsPath()) == fileio::FileKind::Regular,
                "settings.json written");
  auto create = server.requests().at(1);
  checks.expect(create.body.find("app[build][libraries][org.test.StartCountingKit]") != std::string::npos,
                "kits are named in the form");

  Telemetry& again = Telemetry::with({kit});
  checks.expect(&again == &sdk, "the same instance");
  checks.expect(kit.starts == 1, "a second start starts nothing");
  checks.expect(console.contains("[Telemetry] [Telemetry +with] called multiple times. Only the first call is honored, "
                                 "please pass all kits you wish to initialize"),
                "the second call is logged");
  std::lock_guard lock(mutex);
  checks.expect(posts == 1, "announced once");
  checks.exit();
}

void startWithInfo(const std::optional<json>& info, const std::vector<TELKitArgument>& kits,
                   const std::string& expectedReason, const CountingKit* mustNotStart) {
  Checks checks;
  MainBundle::shared().setInfoDictionary(info);
  try {
    Telemetry::with(kits);
    checks.expect(false, "no exception raised");
  } catch (const TELException& e) {
    checks.expect(e.reason() == expectedReason, "reason was: " + e.reason());
  }
  if (mustNotStart) checks.expect(mustNotStart->starts == 0, "no kit started");
  checks.exit();
}

// Makes the SDK object with its store in `dataHome` and leaves "<install id> <first>
// <execution id>" in `dataHome`/run-<n>.
void identifiersInThisProcess(const std::string& dataHome, int run) {
  setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
  Telemetry& sdk = Telemetry::sharedSDK();
  std::string line = sdk.installID() + " " + (sdk.isFirstInstall() ? "1" : "0") + " " + sdk.executionIdentifier();
  std::_Exit(fileio::writeFileAtomically(dataHome + "/run-" + std::to_string(run), line.data(), line.size()) ? 0 : 1);
}

class TelemetryStart : public ::testing::Test {
 protected:
  TelemetryStart() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(TelemetryStart, FullStartDownloadsOnboardsAnnouncesOnceAndIgnoresASecondCall) {
  EXPECT_EXIT(fullStartInThisProcess(), ::testing::ExitedWithCode(0), "");
}

TEST_F(TelemetryStart, ConfigurationErrorsRaiseFromWith) {
  CountingKit kit;
  EXPECT_EXIT(startWithInfo(infoPlist(json::array()), {kit},
                            "[Telemetry] Value of Info.plist key \"Telemetry\" must be a NSDictionary.", &kit),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(startWithInfo(infoPlist({{"Kits", json::array()}}), {kit},
                            "[Telemetry] Value of Info.plist[Telemetry][APIKey] must contain your Telemetry API Key.",
                            &kit),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(TelemetryStart, SomethingThatIsNoKitRaisesBeforeAnyKitStarts) {
  CountingKit kit;
  NoKit plain;
  EXPECT_EXIT(startWithInfo(infoPlist({{"APIKey", "k"}}), {kit, plain},
                            "[Telemetry] It appears that \"PlainClass\" is not a valid Telemetry Kit. Please make sure "
                            "you only pass Telemetry Kits to [Telemetry with:].",
                            &kit),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(TelemetryStart, InstallationIdentifierOutlivesTheRunExecutionIdentifierDoesNot) {
  // The children re-run this body in folders of their own; the parent's folder reaches them
  // through the environment they inherit.
  const char* inherited = std::getenv("TELEMETRY_TEST_SHARED_DATA_HOME");
  std::string dataHome = inherited ? inherited : std::string(std::getenv("TMPDIR")) + "/shared-data-home";
  if (!inherited) fileio::removeItem(dataHome);
  setenv("TELEMETRY_TEST_SHARED_DATA_HOME", dataHome.c_str(), 1);
  // Only the children inherit the folder; a repeated run in this process starts afresh.
  struct Unset {
    bool parent;
    ~Unset() {
      if (parent) unsetenv("TELEMETRY_TEST_SHARED_DATA_HOME");
    }
  } unset{inherited == nullptr};
  ASSERT_TRUE(fileio::createDirectories(dataHome));
  EXPECT_EXIT(identifiersInThisProcess(dataHome, 1), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(identifiersInThisProcess(dataHome, 2), ::testing::ExitedWithCode(0), "");
  auto read = [&](int run) {
    auto bytes = fileio::readFile(dataHome + "/run-" + std::to_string(run));
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
  };
  std::smatch first, second;
  std::string one = read(1), two = read(2);
  std::regex form("([0-9A-F-]{36}) ([01]) ([0-9a-f]{32})");
  ASSERT_TRUE(std::regex_match(one, first, form)) << one;
  ASSERT_TRUE(std::regex_match(two, second, form)) << two;
  EXPECT_EQ(first[1], second[1]);
  EXPECT_EQ(first[2], "1");
  EXPECT_EQ(second[2], "0");
  EXPECT_NE(first[3], second[3]);
}

}  // namespace
}  // namespace telemetry
