#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include "analytics/analytics_test_support.h"
#include "platform/core/launch_work.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/analytics/analytics.h"

namespace telemetry {
namespace {

// A kit of its own in the shared kit's place, restored afterwards.
class AnalyticsKitTest : public ::testing::Test {
 protected:
  AnalyticsKitTest() {
    ANAAnalyticsController::Environment env;
    env.firstInstall = false;
    env.facts = ANAMetadata::SDKFacts{"the-key", "run-1", "install-1", "instance-1"};
    kit = std::make_unique<Analytics>(root.path(), env);
    previous = Analytics::setSharedInstanceForTesting(kit.get());
    debug = ANALogger::sharedLogger().debugMode();
  }
  ~AnalyticsKitTest() override {
    Analytics::setSharedInstanceForTesting(previous);
    ANALogger::sharedLogger().setDebugMode(debug);
  }
  std::string events() const { return ANAAnalyticsController::eventDirectoryForRootDirectory(root.path()); }
  // The lines of every log not yet sent: name and payload.
  std::vector<std::pair<std::string, nlohmann::json>> loggedLines() {
    kit->analyticsController()->drain();
    std::vector<std::pair<std::string, nlohmann::json>> lines;
    for (const auto& e : std::filesystem::directory_iterator(events())) {
      if (e.path().extension() != ".log") continue;
      std::istringstream in(test::readText(e.path()));
      for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream f(line);
        for (std::string field; std::getline(f, field, '\t');) fields.push_back(field);
        if (fields.size() == 4) lines.emplace_back(fields[1], nlohmann::json::parse(fields[3]));
      }
    }
    return lines;
  }
  size_t packages() const {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(events()))
      if (e.path().extension() == ".multipartmime") ++n;
    return n;
  }

  test::ScratchFolder root;
  std::unique_ptr<Analytics> kit;
  Analytics* previous = nullptr;
  bool debug = false;
};

TEST_F(AnalyticsKitTest, EarlyEventsAreDroppedAndTheKitStartsOnce) {
  Analytics::logCustomEventWithName("too early");
  EXPECT_EQ(kit->analyticsController(), nullptr);
  std::vector<std::thread> starters;
  for (int i = 0; i < 4; ++i) starters.emplace_back([&, i] { kit->startWithBetaToken("token" + std::to_string(i)); });
  for (auto& t : starters) t.join();
  auto controller = kit->analyticsController();
  ASSERT_NE(controller, nullptr);
  kit->startWithBetaToken("another");
  EXPECT_EQ(kit->analyticsController(), controller);
  EXPECT_EQ(Analytics::kit().className(), "Analytics");
  EXPECT_EQ(TELKitClass::classNamed("Analytics"), &Analytics::kit());
  EXPECT_EQ(Analytics::kit().bundleIdentifier(), "org.orrery.telemetry.kit.analytics.mac");

  std::multiset<std::string> names;
  for (const auto& [name, payload] : loggedLines()) names.insert(name);
  EXPECT_EQ(names.count("custom"), 0u);
  EXPECT_EQ(names.count("app_launched"), 1u);
}

// While a launch holds its deferrable work the kit takes events but neither makes its folders
// nor writes; once the launch is over it sets up and writes the events in the order they came.
TEST_F(AnalyticsKitTest, DuringALaunchTheSetUpWaitsAndTheEventsKeepTheirOrder) {
  platform::holdLaunchWork();
  kit->startWithBetaToken(std::nullopt);
  Analytics::logCustomEventWithName("during the launch");
  // Work queued behind the set-up: it must not run (within a bound) before the release.
  std::promise<void> behind;
  kit->analyticsController()->eventQueue()->addOperationWithBlock([&] { behind.set_value(); });
  const bool ranDuringTheLaunch = behind.get_future().wait_for(std::chrono::milliseconds(300)) ==
                                  std::future_status::ready;
  EXPECT_FALSE(ranDuringTheLaunch);
  EXPECT_FALSE(test::exists(events())) << "the set-up ran during the launch";
  platform::releaseLaunchWork();
  Analytics::logCustomEventWithName("after the launch");
  std::vector<std::string> order;
  for (const auto& [name, payload] : loggedLines())
    order.push_back(name == "custom" ? payload.value("custom_type", "") : name);
  EXPECT_EQ(order, (std::vector<std::string>{"metadata", "app_launched", "during the launch", "after the launch"}));
}

TEST_F(AnalyticsKitTest, EachOperationRecordsItsType) {
  kit->startWithBetaToken(std::nullopt);
  Analytics::logSignUpWithMethod("mail", true);
  Analytics::logLoginWithMethod("mail", false);
  Analytics::logShareWithMethod("link", "map", "doc", "1");
  Analytics::logInviteWithMethod("mail");
  Analytics::logPurchaseWithPrice(std::nullopt, "EUR", true, "pen", "tool", "7");
  Analytics::logLevelStart("one");
  Analytics::logLevelEnd("one", 10, true);
  Analytics::logAddToCartWithPrice(ANADecimal(199, -2), "EUR", "pen", "tool", "7");
  Analytics::logStartCheckoutWithPrice(ANADecimal(5, 0), "EUR", 2);
  Analytics::logRating(4, "map", "doc", "1");
  Analytics::logContentViewWithName("map", "doc", "1");
  Analytics::logSearchWithQuery("planets");
  Analytics::logCustomEventWithName("opened", nlohmann::ordered_json{{"n", 1}});
  Analytics::logCustomEventWithName(std::nullopt);

  std::vector<std::string> types;
  nlohmann::json purchase;
  int custom = 0;
  for (const auto& [name, payload] : loggedLines()) {
    if (name == "predefined") types.push_back(payload.value("predefined_type", ""));
    if (name == "custom") ++custom;
    if (payload.value("predefined_type", "") == "purchase") purchase = payload;
  }
  EXPECT_EQ(types, (std::vector<std::string>{"sign_up", "login", "share", "invite", "purchase", "level_start",
                                             "level_end", "add_to_cart", "start_checkout", "rating", "content_view",
                                             "search"}));
  EXPECT_EQ(custom, 1);
  ASSERT_TRUE(purchase.is_object());
  EXPECT_FALSE(purchase.dump().find("item_price") != std::string::npos);
}

TEST_F(AnalyticsKitTest, APreviousCrashIsRecordedOnlyWithADate) {
  kit->startWithBetaToken(std::nullopt);
  kit->analyticsController()->drain();
  const size_t before = packages();
  Analytics::logPreviousSessionCrashedOnDate(std::nullopt);
  kit->analyticsController()->drain();
  EXPECT_EQ(packages(), before);
  Analytics::logPreviousSessionCrashedOnDate(std::chrono::system_clock::now() - std::chrono::hours(1));
  kit->analyticsController()->drain();
  // The log in progress, then the crash in a log of its own.
  EXPECT_EQ(packages(), before + 2);
}

// Stands in for the crash kit: records that it was asked to start.
class FakeCrashKitClass final : public TELKitClass {
 public:
  FakeCrashKitClass() : TELKitClass("CrashKit") {}
  bool conformsToTELKit() const override { return true; }
  bool respondsToInitializeIfNeeded() const override { return true; }
  void initializeIfNeeded() const override { ++started; }
  mutable int started = 0;
};

TEST_F(AnalyticsKitTest, TheCrashKitStartsAnalyticsWhenPresent) {
  {
    FakeCrashKitClass crashKit;
    ASSERT_EQ(TELKitClass::classNamed("CrashKit"), &crashKit);
    Analytics::initializeIfNeeded();
    EXPECT_EQ(crashKit.started, 1);
    EXPECT_EQ(kit->analyticsController(), nullptr);
  }
  if (!TELKitClass::classNamed("CrashKit")) {
    Analytics::initializeIfNeeded();
    EXPECT_NE(kit->analyticsController(), nullptr);
  }
}

}  // namespace
}  // namespace telemetry
