#include "sdk/analytics/ana_settings.h"

#include <gtest/gtest.h>

#include "analytics_test_support.h"
#include "sdk/analytics/ana_crash_event.h"
#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_event_filter.h"
#include "sdk/analytics/ana_lifecycle_event.h"
#include "sdk/analytics/ana_predefined_event.h"
#include "sdk/settings/tel_endpoints.h"

using namespace telemetry;
using nlohmann::json;

namespace {

ANASettings settingsWith(const json& dictionary) { return ANASettings(std::make_shared<const json>(dictionary)); }

// Searches identifiers for one whose hash has the wanted remainder.
std::string identifierWithHashRemainder(int64_t factor, bool divisible) {
  for (int i = 0;; ++i) {
    std::string id = "install-" + std::to_string(i);
    if ((ANAEventFilter::javaHashCodeForString(id) % factor == 0) == divisible) return id;
  }
}

}  // namespace

TEST(AnalyticsSettings, DefaultsWithoutSettingsOrSections) {
  for (const ANASettings& s : {ANASettings(), settingsWith(json::object()), settingsWith({{"analytics", 5}})}) {
    EXPECT_TRUE(s.shouldCollectAnalytics());
    // Only the build's own endpoint, and none when the build has none.
    const auto builtIn = TELEndpoints::builtInEndpoint();
    EXPECT_EQ(s.analyticsURL(), builtIn ? std::optional(*builtIn + "/spi/v2/events") : std::nullopt);
    EXPECT_TRUE(s.shouldCollectCustomEvents());
    EXPECT_TRUE(s.shouldCollectPredefinedEvents());
    EXPECT_EQ(s.maximumPayloadSize(), 8000);
    EXPECT_EQ(s.maxPendingSendFiles(), 100);
    EXPECT_EQ(s.flushInterval(), 0);
    EXPECT_EQ(s.samplingRate(), 1);
    EXPECT_EQ(s.defaultUploadTimeout(), 21600);
    EXPECT_EQ(s.lowPowerUploadTimeout(), 3600);
  }
  EXPECT_FALSE(ANASettings().valid());
  EXPECT_TRUE(settingsWith(json::object()).valid());
}

TEST(AnalyticsSettings, ReadNumbersNumericStringsAndGarbageAsThePlatformWould) {
  ANASettings numbers = settingsWith({{"features", {{"collect_analytics", 0}}},
                                      {"analytics",
                                       {{"max_byte_size_per_file", 16000},
                                        {"flush_interval_secs", 600.5},
                                        {"sampling_rate", 10.9},
                                        {"track_custom_events", false},
                                        {"upload_timeout_secs", 60}}}});
  EXPECT_FALSE(numbers.shouldCollectAnalytics());
  EXPECT_EQ(numbers.maximumPayloadSize(), 16000);
  EXPECT_EQ(numbers.flushInterval(), 600.5);
  EXPECT_EQ(numbers.samplingRate(), 10);
  EXPECT_FALSE(numbers.shouldCollectCustomEvents());
  EXPECT_EQ(numbers.defaultUploadTimeout(), 60);

  ANASettings strings = settingsWith({{"features", {{"collect_analytics", "NO"}}},
                                      {"analytics",
                                       {{"max_byte_size_per_file", "16000"},
                                        {"max_pending_send_file_count", " +42 files"},
                                        {"flush_interval_secs", "1.5e2"},
                                        {"sampling_rate", "-3"},
                                        {"track_predefined_events", "yes"},
                                        {"low_power_upload_timeout_secs", "  90"}}}});
  EXPECT_FALSE(strings.shouldCollectAnalytics());
  EXPECT_EQ(strings.maximumPayloadSize(), 16000);
  EXPECT_EQ(strings.maxPendingSendFiles(), 42);
  EXPECT_EQ(strings.flushInterval(), 150);
  EXPECT_EQ(strings.samplingRate(), -3);
  EXPECT_TRUE(strings.shouldCollectPredefinedEvents());
  EXPECT_EQ(strings.lowPowerUploadTimeout(), 90);

  ANASettings garbage = settingsWith({{"features", {{"collect_analytics", json::array()}}},
                                      {"analytics",
                                       {{"max_byte_size_per_file", "lots"},
                                        {"max_pending_send_file_count", "99999999999999999999999"},
                                        {"flush_interval_secs", "inf"},
                                        {"sampling_rate", json::object()},
                                        {"upload_timeout_secs", "nan"},
                                        {"low_power_upload_timeout_secs", 1e300}}}});
  EXPECT_FALSE(garbage.shouldCollectAnalytics());
  EXPECT_EQ(garbage.maximumPayloadSize(), 0);
  EXPECT_EQ(garbage.maxPendingSendFiles(), INT64_MAX) << "clamped, never wrapped";
  EXPECT_EQ(garbage.flushInterval(), 0);
  EXPECT_EQ(garbage.samplingRate(), 0);
  EXPECT_EQ(garbage.defaultUploadTimeout(), 0);
  EXPECT_EQ(garbage.lowPowerUploadTimeout(), 1e300);
  EXPECT_EQ(integerValueOf(-1e30), INT64_MIN);
  EXPECT_EQ(integerValueOf(std::numeric_limits<uint64_t>::max()), INT64_MAX);
  EXPECT_EQ(integerValueOf(true), 1);
}

TEST(AnalyticsSettings, AnEndpointThatIsNotHTTPSGivesNoEndpoint) {
  EXPECT_EQ(settingsWith({{"analytics", {{"url", "https://example.org/e"}}}}).analyticsURL(),
            std::string("https://example.org/e"));
  EXPECT_EQ(settingsWith({{"analytics", {{"url", "HTTPS://example.org/e"}}}}).analyticsURL(),
            std::string("HTTPS://example.org/e"));
  for (const json& bad : {json("http://example.org/e"), json("example.org"), json("https://"), json("https:///path"),
                          json("https://exa mple.org"), json(42), json("")})
    EXPECT_EQ(settingsWith({{"analytics", {{"url", bad}}}}).analyticsURL(), std::nullopt) << bad;
}

TEST(AnalyticsSampling, JavaHashMatchesJavasFormulaComputedApart) {
  const std::vector<std::string> texts = {"",
                                          "abc",
                                          "3F2504E0-4F89-11D3-9A0C-0305E82C3301",
                                          std::string(40, 'z') + "\xF0\x9F\x98\x80" + "\xC3\xA9",
                                          "polygenelubricants",
                                          "\xE2\x82\xAC"
                                          "100"};
  std::string args;
  std::vector<std::string> hexArgs;
  for (const auto& t : texts) {
    std::string hex;
    for (unsigned char c : t) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
    hexArgs.push_back(hex.empty() ? "-" : hex);
  }
  std::string out = test::runPython(R"(import sys
for a in sys.argv[1:]:
    s = bytes.fromhex('' if a == '-' else a).decode('utf-8')
    u = s.encode('utf-16-be')
    h = 0
    for i in range(0, len(u), 2):
        h = (31 * h + int.from_bytes(u[i:i+2], 'big')) & 0xFFFFFFFF
    print(h - (1 << 32) if h >= (1 << 31) else h)
)",
                                    hexArgs);
  std::istringstream lines(out);
  for (const auto& t : texts) {
    int64_t expected = 0;
    ASSERT_TRUE(lines >> expected) << "python3 answered: " << out;
    EXPECT_EQ(ANAEventFilter::javaHashCodeForString(t), expected) << t;
  }
  EXPECT_EQ(ANAEventFilter::javaHashCodeForString("abc"), 96354);
  EXPECT_EQ(ANAEventFilter::javaHashCodeForString(""), 0);
  EXPECT_LT(ANAEventFilter::javaHashCodeForString("polygenelubricants"), 0) << "wraps to a negative value";
}

TEST(AnalyticsSampling, FactorsKeepDivisibleHashesAndBetaTokensKeepAll) {
  // "polygenelubricants" hashes to INT32_MIN, which every power of two up to 2^31 divides.
  EXPECT_FALSE(ANAEventFilter::shouldDiscardEventWithInstallationID("polygenelubricants", 8));
  EXPECT_TRUE(ANAEventFilter::shouldDiscardEventWithInstallationID("abc", 10)) << "96354 % 10 = 4";
  EXPECT_FALSE(ANAEventFilter::shouldDiscardEventWithInstallationID("abc", 2)) << "96354 is even";
  for (int64_t factor : {0, 1, -5}) EXPECT_FALSE(ANAEventFilter::shouldDiscardEventWithInstallationID("abc", factor));
  EXPECT_FALSE(ANAEventFilter::shouldDiscardEventWithInstallationID(std::nullopt, 10));

  ANAEventFilter filter;
  const std::string out = identifierWithHashRemainder(5, /*divisible=*/false);
  const std::string in = identifierWithHashRemainder(5, /*divisible=*/true);
  const auto crashTime = std::chrono::system_clock::now();
  std::vector<std::shared_ptr<ANAEvent>> sampled = {
      ANALifecycleEvent::appLaunchedEvent(), ANACrashEvent::create(crashTime, 1),
      ANALifecycleEvent::eventWithNotification(kApplicationDidBecomeActiveNotification),
      ANALifecycleEvent::eventWithNotification(kApplicationWillResignActiveNotification),
      ANALifecycleEvent::eventWithNotification(kApplicationWillTerminateNotification)};
  std::vector<std::shared_ptr<ANAEvent>> never = {ANACustomEvent::create("c"), ANAPredefinedEvent::searchEvent("q"),
                                                  ANALifecycleEvent::installEvent()};
  for (const auto& e : sampled) {
    EXPECT_TRUE(filter.shouldDiscardEvent(e.get(), std::nullopt, out, 5)) << e->name();
    EXPECT_FALSE(filter.shouldDiscardEvent(e.get(), std::nullopt, in, 5)) << e->name();
    EXPECT_FALSE(filter.shouldDiscardEvent(e.get(), std::string("token"), out, 5)) << e->name();
  }
  for (const auto& e : never) EXPECT_FALSE(filter.shouldDiscardEvent(e.get(), std::nullopt, out, 5)) << e->name();
  EXPECT_TRUE(filter.shouldDiscardEvent(nullptr, std::nullopt, in, 1));
  EXPECT_TRUE(ANAEventFilter::samplingEnabledForEventType("app_memory_warning"));
  EXPECT_FALSE(ANAEventFilter::samplingEnabledForEventType("app_installed"));
}
