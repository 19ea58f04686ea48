#include "sdk/core/console.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/startup/tel_configuration.h"
#include "sdk/startup/tel_exception.h"
#include "sdk/startup/tel_kit_registry.h"
#include "net/captured_console.h"

#include <gtest/gtest.h>

namespace telemetry {
namespace {

using json = nlohmann::json;
using test::CapturedConsole;

std::string raisedMessage(const std::optional<json>& plist) {
  try {
    TELConfiguration::validTelemetryConfigFromInfoPlist(plist);
  } catch (const TELException& e) {
    return e.reason();
  }
  return "";
}

TEST(TelemetryConfiguration, EveryInvalidPropertyListRaisesItsMessage) {
  EXPECT_EQ(raisedMessage(std::nullopt), "[Telemetry] Cannot find Info.plist.");
  EXPECT_EQ(raisedMessage(json::object()), "[Telemetry] Value of Info.plist key \"Telemetry\" must be a NSDictionary.");
  EXPECT_EQ(raisedMessage(json{{"Telemetry", json::array()}}),
            "[Telemetry] Value of Info.plist key \"Telemetry\" must be a NSDictionary.");
  const std::string keyMessage = "[Telemetry] Value of Info.plist[Telemetry][APIKey] must contain your Telemetry API Key.";
  EXPECT_EQ(raisedMessage(json{{"Telemetry", {{"Kits", json::array()}}}}), keyMessage);
  EXPECT_EQ(raisedMessage(json{{"Telemetry", {{"Kits", json::array()}, {"APIKey", 42}}}}), keyMessage);
}

TEST(TelemetryConfiguration, MissingKitsOnlyLogsAndAnEmptyKeyPasses) {
  CapturedConsole console;
  json config = TELConfiguration::validTelemetryConfigFromInfoPlist(json{{"Telemetry", {{"APIKey", ""}}}});
  EXPECT_EQ(config["APIKey"], "");
  EXPECT_TRUE(console.contains("[Telemetry] [Telemetry] Value of Info.plist[Telemetry][Kits] should be a NSArray."));
}

TEST(TelemetryConfiguration, KitInfoIsFoundByClassName) {
  json config = {{"APIKey", "k"},
                 {"Kits", {{{"KitName", "CrashKit"}, {"KitInfo", {{"a", 1}}}},
                           {{"KitName", "CrashKit"}, {"KitInfo", {{"a", 2}}}},
                           {{"KitName", "Analytics"}}}}};
  EXPECT_EQ(TELConfiguration::configurationDictionaryForKitClass(config, "CrashKit"), (json{{"a", 1}}));
  EXPECT_EQ(TELConfiguration::configurationDictionaryForKitClass(config, "Analytics"), json::object());
  EXPECT_FALSE(TELConfiguration::configurationDictionaryForKitClass(config, "Other").has_value());
}

// Kit classes made for the tests; each registers under its name while it lives.
class FakeKitClass : public TELKitClass {
 public:
  FakeKitClass(std::string name, bool kit = true) : TELKitClass(std::move(name)), mKit(kit) {}
  bool conformsToTELKit() const override { return mKit; }
  std::string bundleIdentifier() const override { return "org.test." + className(); }
  std::string kitDisplayVersion() const override { return "2." + std::to_string(className().size()); }
  bool respondsToInitializeIfNeeded() const override { return true; }
  void initializeIfNeeded() const override { ++starts; }
  mutable int starts = 0;

 private:
  bool mKit;
};

class FakeLegacyInstance : public TELLegacyKitInstance {
 public:
  bool respondsToVersion() const override { return complete; }
  void start() override { ++starts; }
  std::string bundleIdentifier() const override { return "org.test.legacy"; }
  std::string version() const override { return "0.9"; }
  bool complete = true;
  int starts = 0;
};

class FakeLegacyClass : public TELKitClass {
 public:
  explicit FakeLegacyClass(std::string name) : TELKitClass(std::move(name)) {}
  bool conformsToTELKit() const override { return false; }
  TELLegacyKitInstance* sharedInstance() const override { return &instance; }
  mutable FakeLegacyInstance instance;
};

class FakeKitObject : public TELKitObject {
 public:
  explicit FakeKitObject(const TELKitClass& c) : mClass(c) {}
  const TELKitClass& kitClass() const override { return mClass; }

 private:
  const TELKitClass& mClass;
};

TEST(KitRegistry, AnalyticsJoinsCrashKitOnceAndRecorderKitGoesFirst) {
  FakeKitClass crashKit("CrashKit"), analytics("Analytics"), recorder("RecorderKit"), other("OtherKit");
  FakeKitObject crashObject(crashKit);

  auto byClass = TELKitRegistry::orderedKitClasses({crashKit});
  auto byObject = TELKitRegistry::orderedKitClasses({crashObject});
  EXPECT_EQ(byClass, (TELKitClassList{&crashKit, &analytics}));
  EXPECT_EQ(byObject, byClass);

  EXPECT_EQ(TELKitRegistry::orderedKitClasses({analytics, crashKit}), (TELKitClassList{&analytics, &crashKit}));
  EXPECT_EQ(TELKitRegistry::orderedKitClasses({other}), (TELKitClassList{&other}));
  EXPECT_EQ(TELKitRegistry::orderedKitClasses({other, crashKit, recorder}),
            (TELKitClassList{&recorder, &other, &crashKit, &analytics}));
}

TEST(KitRegistry, LegacyKitsAreAcceptedWithAWarningAndAppended) {
  CapturedConsole console;
  FakeKitClass crashKit("CrashKit");
  FakeLegacyClass legacy("LegacyKit");
  // Hides the linked analytics kit, which would otherwise join behind the crash kit and start.
  FakeKitClass noAnalytics("Analytics", false);
  auto classes = TELKitRegistry::orderedKitClasses({crashKit});
  ASSERT_EQ(classes.back(), &legacy);
  EXPECT_EQ(TELKitRegistry::orderedKitClasses({legacy, crashKit}), (TELKitClassList{&legacy, &crashKit}));
  EXPECT_TRUE(console.contains("[Telemetry] Please upgrade to the latest version of \"LegacyKit\""));

  for (const TELKitClass* c : classes) TELKitRegistry::initializeKit(*c);
  EXPECT_EQ(crashKit.starts, 1);
  EXPECT_EQ(legacy.instance.starts, 1);

  auto versions = TELKitRegistry::kitVersionsByKitBundleIdentifier(classes);
  EXPECT_EQ(versions["org.test.CrashKit"], "2.8");
  EXPECT_EQ(versions["org.test.legacy"], "0.9");
  EXPECT_EQ(versions[kHostKitIdentifier], "1.6.8");
}

TEST(KitRegistry, SomethingThatIsNoKitRaisesBeforeAnyKitStarts) {
  FakeKitClass good("GoodKit");
  FakeKitClass notAKit("NotAKit", false);
  FakeLegacyClass halfLegacy("HalfLegacyKit");
  halfLegacy.instance.complete = false;
  for (const TELKitClass* bad : {static_cast<const TELKitClass*>(&notAKit), static_cast<const TELKitClass*>(&halfLegacy)}) {
    try {
      TELKitRegistry::orderedKitClasses({good, *bad});
      ADD_FAILURE() << "no exception for " << bad->className();
    } catch (const TELException& e) {
      EXPECT_EQ(e.reason(), "[Telemetry] It appears that \"" + bad->className() +
                                "\" is not a valid Telemetry Kit. Please make sure you only pass Telemetry Kits to "
                                "[Telemetry with:].");
    }
  }
  EXPECT_EQ(good.starts, 0);
}

}  // namespace
}  // namespace telemetry
