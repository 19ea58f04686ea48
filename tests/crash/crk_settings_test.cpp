// The crash kit's settings over downloaded dictionaries of every shape, its configuration
// with environment overrides, and the prompt string table.
#include <gtest/gtest.h>

#include <cstdlib>

#include "crash/crk_settings.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/net/captured_console.h"
#include "sdk/settings/tel_endpoints.h"

namespace {

using telemetry::CRKSettings;

CRKSettings over(const char* json) {
  return CRKSettings(std::make_shared<const nlohmann::json>(nlohmann::json::parse(json)));
}

// Sets an environment variable for one test.
struct EnvScope {
  std::string name;
  std::optional<std::string> saved;
  EnvScope(const std::string& n, const char* value) : name(n) {
    if (const char* v = std::getenv(n.c_str())) saved = v;
    value ? setenv(n.c_str(), value, 1) : unsetenv(n.c_str());
  }
  ~EnvScope() { saved ? setenv(name.c_str(), saved->c_str(), 1) : unsetenv(name.c_str()); }
};

struct InfoScope {
  explicit InfoScope(const nlohmann::json& info) { telemetry::MainBundle::shared().setInfoDictionary(info); }
  ~InfoScope() { telemetry::MainBundle::shared().setInfoDictionary(std::nullopt); }
};

}  // namespace

TEST(CRKSettingsTest, NoSettingsOrSettingsOfAnyShapeGiveTheDefaults) {
  for (const CRKSettings& s : {CRKSettings(nullptr), over("null"), over("[1,2]"), over("{}"), over("\"text\""),
                               over(R"({"features":[true],"session":7,"beta":"x","prompt":null})")}) {
    EXPECT_TRUE(s.crashReportingEnabled());
    EXPECT_TRUE(s.errorReportingEnabled());
    EXPECT_TRUE(s.customExceptionsEnabled());
    EXPECT_FALSE(s.userPromptEnabled());
    EXPECT_EQ(s.logBufferSize(), 65536u);
    EXPECT_EQ(s.errorLogBufferSize(), 65536u);
    EXPECT_EQ(s.maxCustomExceptions(), 16u);
    EXPECT_EQ(s.maxCustomKeys(), 16u);
    EXPECT_EQ(s.betaSuspendDuration(), 3600);
    EXPECT_EQ(s.interactivePromptTitle(), "Send Crash Report?");
    EXPECT_EQ(s.interactivePromptAlwaysSendTitle(), "Always Send");
  }
}

TEST(CRKSettingsTest, ValuesOfTheWrongKindReadAsThePlatformReadsThem) {
  const CRKSettings s = over(R"({
    "features": {"collect_reports": "NO", "collect_logged_exceptions": 0, "prompt_enabled": "yes"},
    "session": {"log_buffer_size": "32768 bytes", "max_custom_exception_events": -1,
                "max_custom_key_value_pairs": 20.9},
    "beta": {"update_suspend_duration": 60.5},
    "prompt": {"title": "Oops", "message": 7}})");
  EXPECT_FALSE(s.crashReportingEnabled());
  EXPECT_FALSE(s.errorReportingEnabled());
  EXPECT_FALSE(s.customExceptionsEnabled());
  EXPECT_TRUE(s.userPromptEnabled());
  EXPECT_EQ(s.logBufferSize(), 32768u);
  EXPECT_EQ(s.maxCustomExceptions(), 0xFFFFFFFFu);
  EXPECT_EQ(s.maxCustomKeys(), 20u);
  EXPECT_EQ(s.betaSuspendDuration(), 60.5);
  EXPECT_EQ(s.interactivePromptTitle(), "Oops");
  EXPECT_EQ(s.interactivePromptMessage(),
            "Looks like we crashed! Please help us fix the problem by sending a crash report.");
}

TEST(CRKSettingsTest, ConfigurationComesFromTheEnvironmentThenTheBundleThenTheDefaults) {
  nlohmann::json dictionary = nlohmann::json::object();
  dictionary["CrashKit"] = {{"SubmitReports", false}, {"ReportsEndpoint", "https://bundle.example"}};
  InfoScope info(dictionary);
  EnvScope urgent("CrashKitUrgentReports", "NO");
  EnvScope package("CrashKitPackageReports", nullptr);
  EnvScope reports("CrashKitReportsEndpoint", nullptr);
  const CRKSettings s(nullptr);
  {
    telemetry::test::CapturedConsole console;
    EXPECT_FALSE(s.canProcessUrgentReports());
    EXPECT_FALSE(s.canProcessUrgentReports());
    // A console line each time the value is read.
    const std::string line = "[CrashKit:Crash] override: 'UrgentReports' => 'NO'";
    EXPECT_EQ(console.lines(), (std::vector<std::string>{line, line}));
  }
  EXPECT_FALSE(s.shouldSubmitReports());
  EXPECT_TRUE(s.shouldPackageReports());
  EXPECT_EQ(s.reportsEndpoint(), "https://bundle.example");
  // Without an endpoint in the bundle or the environment, only the build's own is used.
  EXPECT_EQ(s.betaEndpoint(), telemetry::TELEndpoints::builtInEndpoint().value_or(""));
  {
    EnvScope on("CrashKitPackageReports", "1");
    const telemetry::test::CapturedConsole quiet;
    EXPECT_TRUE(s.shouldPackageReports());
  }
}

TEST(CRKSettingsTest, StringTablesKeepKeyAndTextAndSkipTheRest) {
  const auto table = CRKSettings::parseStringTable(
      "CrashKitCrashSubmissionPromptTitle = Send it? = yes\n# comment\nno equals\n = empty key\n\r\n  Key=Value  \r\n");
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table.at("CrashKitCrashSubmissionPromptTitle"), "Send it? = yes");
  EXPECT_EQ(table.at("Key"), "Value");
}
