#include <gtest/gtest.h>

#include "analytics_test_support.h"
#include "sdk/analytics/ana_attribute_dictionary.h"
#include "sdk/analytics/ana_crash_event.h"
#include "sdk/analytics/ana_crash_metadata.h"
#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_lifecycle_event.h"
#include "sdk/analytics/ana_predefined_event.h"
#include "sdk/analytics/ana_text.h"
#include "sdk/core/json_text.h"

using namespace telemetry;
using Json = nlohmann::ordered_json;

namespace {

std::vector<std::string> keysOf(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& [k, v] : object.items()) keys.push_back(k);
  return keys;
}

const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
const std::string kAcute = "\xCC\x81";          // U+0301 combining acute accent

}  // namespace

TEST(AnalyticsAttributes, KeepTheFirstTwentyOneEntriesAndReportEachRefusedOne) {
  test::ConsoleLines console;
  Json attributes = Json::object();
  for (int i = 0; i < 25; ++i) attributes[std::string(1, static_cast<char>('a' + i))] = i;
  ANAAttributeDictionary dictionary(attributes);
  const Json& kept = dictionary.dictionaryRepresentation();
  ASSERT_EQ(kept.size(), 21u);
  EXPECT_EQ(keysOf(kept).front(), "a");
  EXPECT_EQ(keysOf(kept).back(), "u") << "which 21 follows the given order";
  EXPECT_EQ(console.count("[Analytics] Maximum number of Event attributes exceeded. Ignoring entry"), 4);
  EXPECT_EQ(console.count("Ignoring entry y:24"), 1);

  ANAAttributeDictionary full(attributes);
  full.addAttribute("replacement", "a");
  EXPECT_EQ(full.dictionaryRepresentation()["a"], 0) << "a full dictionary refuses even an existing key";
}

TEST(AnalyticsAttributes, TakeTextAndNumbersAndRefuseOtherValuesAndKeys) {
  test::ConsoleLines console;
  ANAAttributeDictionary d;
  d.addAttribute(true, "flag");
  d.addAttribute(2.5, "ratio");
  d.addAttribute(-7, "count");
  d.addAttribute(nullptr, "absent");
  d.addAttribute("value", nullptr);
  d.addAttribute(Json::array({1, 2}), "list");
  d.addAttribute(Json::object({{"x", 1}}), "object");
  d.addAttribute(std::nan(""), "nan");
  d.addAttribute("value", 5);
  d.addBooleanAttribute(true, "yes");
  d.addBooleanAttribute(false, "no");
  d.addBooleanAttribute(std::nullopt, "maybe");
  EXPECT_EQ(jsonText(d.dictionaryRepresentation()),
            R"({"flag":true,"ratio":2.5,"count":-7,"yes":"true","no":"false"})");
  EXPECT_EQ(console.count("Event attribute values must be of type NSString or NSNumber. Ignoring entry"), 3);
  EXPECT_EQ(console.count("Event attribute keys must be of type NSString. Ignoring entry 5:value"), 1);
  EXPECT_EQ(console.lines().size(), 4u) << "null values and keys are ignored silently";
}

TEST(AnalyticsAttributes, CutLongTextToOneHundredUnitsOnACharacterBoundary) {
  test::ConsoleLines console;
  ANAAttributeDictionary d;
  d.addAttribute(std::string(150, 'v'), std::string(150, 'k'));
  const Json& stored = d.dictionaryRepresentation();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored.begin().key(), std::string(100, 'k'));
  EXPECT_EQ(stored.begin().value(), std::string(100, 'v'));
  EXPECT_EQ(console.count("[Analytics] Maximum length for an Event attributes exceeded. Truncating to 100 characters."),
            2);

  // An emoji straddling the cut would leave half a surrogate pair: it goes whole.
  ANAAttributeDictionary e;
  e.addAttribute(std::string(99, 'a') + kEmoji, "emoji");
  e.addAttribute(std::string(98, 'a') + kEmoji + "b", "fits");
  e.addAttribute(std::string(99, 'a') + "e" + kAcute + "x", "combining");
  EXPECT_EQ(e.dictionaryRepresentation()["emoji"], std::string(99, 'a'));
  EXPECT_EQ(e.dictionaryRepresentation()["fits"], std::string(98, 'a') + kEmoji);
  EXPECT_EQ(e.dictionaryRepresentation()["combining"], std::string(99, 'a') + "e");
  for (const auto& [k, v] : e.dictionaryRepresentation().items()) {
    EXPECT_TRUE(anatext::isValidUTF8(v.get<std::string>())) << k;
    EXPECT_LE(anatext::utf16Length(v.get<std::string>()), 100u) << k;
  }
}

TEST(AnalyticsAttributes, InvalidUTF8BecomesReplacementCharactersInKeysValuesAndNames) {
  const std::string fffd = "\xEF\xBF\xBD";
  ANAAttributeDictionary d;
  d.addAttribute("ok\xFF", "k\xC3");
  d.addAttribute(std::string("\xED\xA0\x80", 3), "surrogate");  // an encoded lone surrogate
  EXPECT_EQ(d.dictionaryRepresentation()["k" + fffd], "ok" + fffd);
  EXPECT_EQ(d.dictionaryRepresentation()["surrogate"], fffd + fffd + fffd);

  auto event = ANACustomEvent::create(std::string("name\xE2\x82"), Json{{"v", "\xF0\x9F"}});
  ASSERT_TRUE(event);
  EXPECT_EQ(event->customEventName(), "name" + fffd);
  std::string text;
  EXPECT_NO_THROW(text = jsonText(event->dictionaryRepresentation()));
  EXPECT_TRUE(anatext::isValidUTF8(text));
  EXPECT_NE(text.find("\"custom_type\":\"name" + fffd + "\""), std::string::npos);
}

TEST(AnalyticsAttributes, PricesAreExactMillionths) {
  const auto priceOf = [](const char* text) {
    ANAAttributeDictionary d;
    d.addPriceAttribute(ANADecimal::fromString(text), "p");
    return d.dictionaryRepresentation().value("p", Json());
  };
  EXPECT_EQ(jsonText(priceOf("9.99")), "9990000");
  EXPECT_TRUE(priceOf("9.99").is_number_integer());
  EXPECT_EQ(jsonText(priceOf("0.000001")), "1");
  EXPECT_EQ(jsonText(priceOf("123456789.123456")), "123456789123456");
  EXPECT_EQ(jsonText(priceOf("-0.5")), "-500000");
  EXPECT_EQ(jsonText(priceOf("0.0000001")), "0.1") << "below a millionth stays a fraction";
  EXPECT_EQ(jsonText(priceOf("1e3")), "1000000000");
  EXPECT_TRUE(priceOf("nine").is_null());
  EXPECT_TRUE(priceOf("9.99 USD").is_null());
  EXPECT_TRUE(priceOf("1234567890123456789").is_null()) << "more digits than can stay exact";
  EXPECT_EQ(ANADecimal::fromString("000123.4500")->description(), "123.45");
  EXPECT_EQ(ANADecimal::fromString("1000000000000000000000000")->description(), "1000000000000000000000000")
      << "zeros behind the digits are no precision";
  EXPECT_EQ(ANADecimal::fromString("0.00012")->description(), "0.00012");
}

TEST(AnalyticsEvents, PredefinedFactoriesNameTheirTypeAndOrderTheirAttributes) {
  const ANADecimal price(999, -2);
  const Json custom = {{"campaign", "spring"}};
  struct Case {
    std::shared_ptr<ANAPredefinedEvent> event;
    const char* type;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {ANAPredefinedEvent::signUpEvent("mail", true, custom), "sign_up", {"method", "success"}},
      {ANAPredefinedEvent::loginEvent("mail", false, custom), "login", {"method", "success"}},
      {ANAPredefinedEvent::shareEvent("link", "n", "t", "i", custom),
       "share",
       {"method", "content_name", "content_type", "content_id"}},
      {ANAPredefinedEvent::inviteEvent("mail", custom), "invite", {"method"}},
      {ANAPredefinedEvent::purchaseEvent(price, "EUR", true, "n", "t", "i", custom),
       "purchase",
       {"item_price", "currency", "success", "item_name", "item_type", "item_id"}},
      {ANAPredefinedEvent::levelStartEvent("one", custom), "level_start", {"level_name"}},
      {ANAPredefinedEvent::levelEndEvent("one", 42, true, custom), "level_end", {"level_name", "score", "success"}},
      {ANAPredefinedEvent::addToCartEvent(price, "EUR", "n", "t", "i", custom),
       "add_to_cart",
       {"item_price", "currency", "item_name", "item_type", "item_id"}},
      {ANAPredefinedEvent::startCheckoutEvent(price, "EUR", 3, custom),
       "start_checkout",
       {"total_price", "currency", "item_count"}},
      {ANAPredefinedEvent::ratingEvent(4.5, "n", "t", "i", custom),
       "rating",
       {"rating", "content_name", "content_type", "content_id"}},
      {ANAPredefinedEvent::contentViewEvent("n", "t", "i", custom),
       "content_view",
       {"content_name", "content_type", "content_id"}},
      {ANAPredefinedEvent::searchEvent("query", custom), "search", {"query"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(c.event->name(), "predefined");
    EXPECT_FALSE(c.event->triggersFlush());
    Json d = c.event->dictionaryRepresentation();
    EXPECT_EQ(keysOf(d),
              (std::vector<std::string>{"eventId", "predefined_type", "custom_attributes", "predefined_attributes"}));
    EXPECT_EQ(d["eventId"], c.event->identifier());
    EXPECT_EQ(d["predefined_type"], c.type);
    EXPECT_EQ(d["custom_attributes"], custom);
    EXPECT_EQ(keysOf(d["predefined_attributes"]), c.keys);
  }
  Json purchase = cases[4].event->predefinedAttributes().dictionaryRepresentation();
  EXPECT_EQ(
      jsonText(purchase),
      R"({"item_price":9990000,"currency":"EUR","success":"true","item_name":"n","item_type":"t","item_id":"i"})");
  EXPECT_EQ(cases[6].event->predefinedAttributes().dictionaryRepresentation()["score"], 42)
      << "a number stays a number";
  EXPECT_NE(cases[0].event->identifier(), cases[1].event->identifier());
}

TEST(AnalyticsEvents, LeftOutArgumentsLeaveTheirAttributeOutSilently) {
  test::ConsoleLines console;
  auto e = ANAPredefinedEvent::purchaseEvent(std::nullopt, std::nullopt, std::nullopt, "n", std::nullopt, std::nullopt);
  EXPECT_EQ(jsonText(e->predefinedAttributes().dictionaryRepresentation()), R"({"item_name":"n"})");
  EXPECT_TRUE(e->customAttributes().dictionaryRepresentation().empty());
  EXPECT_TRUE(console.lines().empty());
}

TEST(AnalyticsEvents, CustomLifecycleAndCrashEventsHaveTheirNamesPayloadsAndTimes) {
  test::ConsoleLines console;
  EXPECT_EQ(ANACustomEvent::create(std::nullopt), nullptr);
  EXPECT_EQ(console.lines().size(), 1u) << "a nameless custom event is refused with a line";
  auto custom = ANACustomEvent::create("opened", Json{{"n", 1}});
  EXPECT_EQ(jsonText(custom->dictionaryRepresentation()),
            R"({"eventId":")" + custom->identifier() + R"(","custom_type":"opened","custom_attributes":{"n":1}})");
  EXPECT_EQ(custom->description(), "<ANACustomEvent: opened\n{\"n\":1}>");

  EXPECT_EQ(ANALifecycleEvent::installEvent()->name(), "app_installed");
  EXPECT_TRUE(ANALifecycleEvent::installEvent()->triggersFlush());
  EXPECT_FALSE(ANALifecycleEvent::appLaunchedEvent()->triggersFlush());
  const std::pair<const char*, const char*> table[] = {
      {kApplicationWillTerminateNotification, "app_terminated"},
      {kApplicationWillResignActiveNotification, "app_became_inactive"},
      {kApplicationDidBecomeActiveNotification, "app_became_active"},
      {"NSApplicationDidHideNotification", "unknown-notification"}};
  for (const auto& [notification, name] : table)
    EXPECT_EQ(ANALifecycleEvent::eventWithNotification(notification)->name(), name);
  EXPECT_TRUE(ANALifecycleEvent::eventWithNotification(kApplicationDidBecomeActiveNotification)->triggersFlush());
  EXPECT_FALSE(ANALifecycleEvent::eventWithNotification("other")->triggersFlush());
  EXPECT_FALSE(ANALifecycleEvent::eventWithNotification(kApplicationWillTerminateNotification)->triggersFlush());

  const auto crashTime = std::chrono::system_clock::time_point(std::chrono::seconds(1600000000));
  auto crash = ANACrashEvent::create(crashTime, 0);
  EXPECT_EQ(crash->name(), "app_crashed");
  EXPECT_EQ(crash->timestamp(), crashTime);
  EXPECT_EQ(crash->dictionaryRepresentation()["crash_state"], "unknown");
  EXPECT_EQ(ANACrashEvent::create(crashTime, 1)->dictionaryRepresentation()["crash_state"], "foreground");
  EXPECT_EQ(ANACrashEvent::create(crashTime, 2)->dictionaryRepresentation()["crash_state"], "background");
  EXPECT_EQ(ANAMillisecondsSince1970(crashTime), 1600000000000u);
  EXPECT_EQ(ANAMillisecondsSince1970(std::chrono::system_clock::time_point(std::chrono::seconds(-5))), 0u);
}

TEST(AnalyticsCrashMetadata, ReadsOnlyJSONObjectsBackFromItsFile) {
  test::ScratchFolder folder;
  const std::string path = folder / "crash_metadata";
  EXPECT_FALSE(ANACrashMetadata::readSerializedDictionaryFromURL(path)) << "missing";
  Json dictionary = {{"generator", "x"}, {"started_at", 12}, {"cores", 8}};
  ASSERT_TRUE(ANACrashMetadata::writeSerializedDictionary(dictionary, path));
  EXPECT_EQ(test::readText(path), R"({"generator":"x","started_at":12,"cores":8})");
  EXPECT_EQ(ANACrashMetadata::readSerializedDictionaryFromURL(path), dictionary);
  EXPECT_FALSE(ANACrashMetadata::writeSerializedDictionary(Json::array(), path));
  EXPECT_EQ(ANACrashMetadata::readSerializedDictionaryFromURL(path), dictionary) << "a refused write keeps the file";

  for (std::string garbage : {std::string("{\"a\":"), std::string("[1,2]"), std::string("7"), std::string("\xFF\xFE"),
                              std::string(10000, '[') + std::string(10000, ']'), std::string()}) {
    test::writeText(path, garbage);
    EXPECT_FALSE(ANACrashMetadata::readSerializedDictionaryFromURL(path)) << garbage.substr(0, 20);
  }
  EXPECT_FALSE(ANACrashMetadata::readSerializedDictionaryFromURL(folder.path())) << "a folder";
  ANACrashMetadata none(std::nullopt);
  EXPECT_EQ(none.eventName(), "metadata");
  EXPECT_FALSE(none.dictionaryRepresentationWithStartTime(5));
}
