// The line that says web pages are not available takes the program's one log route: there, the
// system log, not the terminal.
#include "platform/core/system_log.h"
#include "platform/ui/web_view.h"
#include "support/files.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <syslog.h>
#include <unistd.h>

TEST(WebViewLog, AModuleThatDoesNotLoadIsLoggedWhereTheProgramSendsItsLog) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: the module is tried once
  EXPECT_EXIT(
      {
        QTemporaryDir dir;
        const QString module = dir.filePath(QStringLiteral("orrery_web.so"));
        if (!testsupport::writeFile(module, "not a library")) _exit(2);
        qputenv("ORRERY_WEB_MODULE", module.toLocal8Bit());
        platform::sendLogToSystemLog("orrery");
        // The system log's lines are copied to standard error, marked with the name and the id.
        ::openlog("orrery", LOG_PID | LOG_PERROR, LOG_USER);
        _exit(platform::WebView::create() ? 3 : 0);
      },
      ::testing::ExitedWithCode(0), "orrery\\[[0-9]+\\]: Web pages are not available: [^\n]*orrery_web\\.so");
  GTEST_FLAG_SET(death_test_style, style);
}
