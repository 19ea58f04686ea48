// A build without a telemetry endpoint, started as the application starts it (both kits, an
// earlier run's crash and package waiting, events logged and their log closed): it reaches
// no other machine, and keeps its reports and events on disk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "connection_watch.h"
#include "crash/crash_kit.h"
#include "crash/crk_crash_reporting_controller.h"
#include "crash/crk_file_manager.h"
#include "crash_test_support.h"
#include "platform/core/notification_center.h"
#include "sdk/analytics/analytics.h"
#include "sdk/analytics/analytics_test_support.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/settings/tel_endpoints.h"
#include "sdk/startup/telemetry.h"
#include "support/child_checks.h"
#include "support/virtual_main_queue.h"

namespace {

using namespace telemetry;
using json = nlohmann::json;

bool anyFileEndingIn(const std::string& folder, const std::string& ending) {
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() >= ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
      return true;
  }
  return false;
}

void startWithoutEndpoint() {
  testsupport::ChildChecks checks;
  test::VirtualMainQueue mainQueue;
  test::ConsoleLines console;
  for (const char* name : {"SettingsEndpoint", "ConfigureEndpoint", "CrashKitReportsEndpoint", "CrashKitBetaEndpoint"})
    unsetenv(name);
  MainBundle::shared().setInfoDictionary(json{{"CFBundleIdentifier", "org.orrery.quiet"},
                                              {"CFBundleVersion", "3"},
                                              {"CFBundleShortVersionString", "1.0.3"},
                                              {"CrashKit", json::object()},
                                              {"Telemetry", {{"APIKey", "quiet-key"}}}});
  // What an earlier run left: a crash report and a packaged one never sent.
  CRKFileManager files;
  files.prepareForNewLaunch();
  crashtest::leaveEarlierCrash(files.activePath(), "bbbb2222bbbb2222bbbb2222bbbb2222", "quiet-key", 1700000000);
  const std::string leftPackage = files.preparedPath() + "/cccc3333.multipartmime";
  std::ofstream(leftPackage) << "--cccc3333\r\n\r\nbody\r\n--cccc3333--\r\n";

  CrashKit& kit = CrashKit::sharedInstance();
  Telemetry::with({kit, Analytics::kit()});
  checks.expect(kit.isCrashKitStarted(), "crash reporting started");
  checks.expect(console.count("[Telemetry] No telemetry endpoint is configured") == 0,
                "a build without a service is no news for the terminal");

  kit.logEvent("kept-on-disk", nlohmann::ordered_json{{"n", 1}});
  mainQueue.loop->runPending();
  platform::NotificationCenter::defaultCenter().post("NSApplicationWillResignActiveNotification");
  auto analytics = Analytics::sharedInstance().analyticsController();
  checks.expect(analytics != nullptr, "the analytics kit started");
  if (analytics) analytics->drain();
  // The reconnect at start queues the left packages' uploads behind what it found.
  for (int pass = 0; pass < 3; ++pass) kit.crashReportingController()->operationQueue()->waitUntilAllOperationsAreFinished();
  if (analytics) analytics->drain();

  const std::vector<std::string> attempts = connectionwatch::attempts();
  std::string seen;
  for (const auto& attempt : attempts) seen += "\n  " + attempt;
  checks.expect(attempts.empty(), "no connection and no host look-up, found:" + seen);
  checks.expect(std::filesystem::exists(leftPackage), "the earlier package is kept");
  checks.expect(files.preparedPathContents().size() == 2, "the earlier crash is packaged and kept");
  if (analytics) {
    std::string folder;
    analytics->eventQueue()->addOperationWithBlock([&] { folder = analytics->rootEventDirectory(); })->waitUntilFinished();
    checks.expect(anyFileEndingIn(folder, ".multipartmime"), "the events are packaged and kept in " + folder);
  }
  checks.exit();
}

TEST(UnconfiguredStart, ReachesNoOtherMachineAndKeepsReportsAndEventsOnDisk) {
  if (TELEndpoints::builtInEndpoint()) GTEST_SKIP() << "this build carries a telemetry endpoint";
  crashtest::DeathStyle style;
  EXPECT_EXIT(startWithoutEndpoint(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
