// Where the SDK's console lines go: standard error until the program sends them to the system
// log, then the system log only, under the name the program opened it with, each line once.
#include "sdk/core/console.h"
#include "sdk/startup/telemetry.h"

#include <gtest/gtest.h>

#include <syslog.h>
#include <unistd.h>

namespace {

using namespace telemetry;

TEST(ConsoleTest, OnceAskedEveryLineGoesToTheSystemLogUnderTheProgramsNameOnly) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: the switch is for good
  // The system log copies each message to standard error (LOG_PERROR) as "<name>[<pid>]: ",
  // which is how its lines are told from the console's own there.
  EXPECT_EXIT(
      {
        ::openlog("orrery", LOG_PID | LOG_PERROR, LOG_USER);
        consoleLog("[Telemetry] before");
        Telemetry::logToSystemLog();
        consoleLog("[Telemetry] failed to download settings");
        debugLog("[Telemetry] settings downloaded successfully");
        systemLog("[CrashKit] Version 3.8.2 (118)");
        setDebugEnabled(true);
        debugLog("[Telemetry] Settings are available for consumption");
        systemLog("should set always submit here");
        _exit(0);
      },
      ::testing::ExitedWithCode(0),
      "^\\[Telemetry\\] before\n"
      "orrery\\[[0-9]+\\]: \\[Telemetry\\] failed to download settings\n"
      "orrery\\[[0-9]+\\]: \\[CrashKit\\] Version 3\\.8\\.2 \\(118\\)\n"
      "orrery\\[[0-9]+\\]: \\[Telemetry\\] Settings are available for consumption\n"
      "orrery\\[[0-9]+\\]: should set always submit here\n$");
  GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
