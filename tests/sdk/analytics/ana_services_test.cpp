#include <gtest/gtest.h>

#include "analytics_test_support.h"
#include "platform/core/termination.h"
#include "sdk/analytics/ana_activity.h"
#include "sdk/analytics/ana_application.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/analytics/ana_timer.h"
#include "support/virtual_main_queue.h"

using namespace telemetry;
using nlohmann::json;

namespace {

// Sets the analytics logger's debug mode for a test and restores it.
struct LoggerDebugMode {
  bool previous = ANALogger::sharedLogger().debugMode();
  explicit LoggerDebugMode(bool on) { ANALogger::sharedLogger().setDebugMode(on); }
  ~LoggerDebugMode() { ANALogger::sharedLogger().setDebugMode(previous); }
};

}  // namespace

TEST(AnalyticsTimer, FiresOnItsQueueAtItsIntervalUntilDestroyed) {
  test::VirtualMainQueue main;
  int fired = 0;
  {
    ANATimer timer(600, &platform::mainQueue(), "org.orrery.telemetry.analytics.TimedEventsFlush", true, [&] {
      EXPECT_TRUE(platform::mainQueue().isCurrent());
      ++fired;
    });
    EXPECT_EQ(&timer.queue(), &platform::mainQueue());
    main.loop->advance(599);
    EXPECT_EQ(fired, 0);
    main.loop->advance(1);
    EXPECT_EQ(fired, 1);
    main.loop->advance(1800);
    EXPECT_EQ(fired, 4);
  }
  main.loop->advance(6000);
  EXPECT_EQ(fired, 4) << "a destroyed timer never fires again";

  ANATimer onGlobal(3600, "flush", true, [] {});
  EXPECT_EQ(&onGlobal.queue(), &platform::globalQueue(platform::QueuePriority::Default));
}

TEST(AnalyticsActivity, GivesItsTerminationHoldsBackExactlyOnce) {
  const int sudden = platform::suddenTerminationHoldCount();
  const int automatic = platform::automaticTerminationHoldCount();
  {
    auto activity = ANAActivity::beginActivity("org.orrery.telemetry.analytics.RecordEvent", 0xC000);
    EXPECT_EQ(platform::suddenTerminationHoldCount(), sudden + 1);
    EXPECT_EQ(platform::automaticTerminationHoldCount(), automatic + 1);
    EXPECT_FALSE(platform::waitUntilTerminationAllowed(std::chrono::milliseconds(0)));
    EXPECT_EQ(activity->backgroundTaskIdentifier(), 0u);
    activity->end();
    EXPECT_EQ(platform::suddenTerminationHoldCount(), sudden);
    EXPECT_EQ(platform::automaticTerminationHoldCount(), automatic);
    activity->end();
  }  // destruction after end gives nothing back a second time
  EXPECT_EQ(platform::suddenTerminationHoldCount(), sudden);
  EXPECT_EQ(platform::automaticTerminationHoldCount(), automatic);

  {
    auto onlySudden = ANAActivity::beginActivity("r", ANAActivity::kSuddenTerminationDisabled);
    EXPECT_EQ(platform::suddenTerminationHoldCount(), sudden + 1);
    EXPECT_EQ(platform::automaticTerminationHoldCount(), automatic);
  }  // destruction alone ends it
  EXPECT_EQ(platform::suddenTerminationHoldCount(), sudden);

  int ran = 0;
  ANAActivity::performActivity("perform", 0xC0FF, [&] {
    ++ran;
    EXPECT_EQ(platform::suddenTerminationHoldCount(), sudden + 1);
  });
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(platform::suddenTerminationHoldCount(), sudden);
  EXPECT_EQ(platform::automaticTerminationHoldCount(), automatic);
}

TEST(AnalyticsApplication, ReadsBundleFactsAndTellsAnExtensionByItsDictionary) {
  test::ConsoleLines console;
  ANAApplication app(json{
      {"CFBundleIdentifier", "org.orrery.Orrery"}, {"CFBundleVersion", "12"}, {"CFBundleShortVersionString", "1.2"}});
  EXPECT_EQ(app.bundleIdentifier(), std::string("org.orrery.Orrery"));
  EXPECT_EQ(app.bundleVersion(), std::string("12"));
  EXPECT_EQ(app.shortVersionString(), std::string("1.2"));
  EXPECT_FALSE(app.isExtension());
  EXPECT_EQ(app.appSharedInstance(), nullptr);
  EXPECT_TRUE(console.lines().empty()) << "an application is no malformed extension";

  ANAApplication extension(json{{"NSExtension", {{"NSExtensionPointIdentifier", "com.apple.share-services"}}}});
  EXPECT_TRUE(extension.isExtension());
  EXPECT_EQ(extension.extensionPointIdentifier(), std::string("com.apple.share-services"));

  ANAApplication stringEntry(json{{"NSExtension", "share"}});
  EXPECT_FALSE(stringEntry.isExtension());
  EXPECT_EQ(console.lines(), std::vector<std::string>{"Error: NSExtension Info.plist entry is mal-formed \"share\"\n"});

  ANAApplication numberPoint(json{{"NSExtension", {{"NSExtensionPointIdentifier", 5}}}});
  EXPECT_FALSE(numberPoint.isExtension());
  EXPECT_EQ(console.count("Error: NSExtensionPointIdentifier Info.plist entry is mal-formed"), 1);
  EXPECT_FALSE(ANAApplication(json::array()).isExtension());
}

TEST(AnalyticsLogger, SilentWithoutDebugAndPrefixedWithIt) {
  test::ConsoleLines console;
  {
    LoggerDebugMode off(false);
    ANALogger::sharedLogger().log("Logging %s", "quietly");
    ANALogger::sharedLogger().logWithLabel("WriteOperation", "Failed to write: %s", "disk full");
    EXPECT_TRUE(console.lines().empty());
  }
  {
    LoggerDebugMode on(true);
    ANALogger::sharedLogger().log("Logging Analytics event: %s", "e");
    ANALogger::sharedLogger().logWithLabel("Cleanup%sOperation", "Failed to remove %s", "x");
  }
  EXPECT_EQ(console.lines(), (std::vector<std::string>{"[Analytics] Logging Analytics event: e",
                                                       "[Analytics:Cleanup%sOperation] Failed to remove x"}));
}
