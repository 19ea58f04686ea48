#include "foundation/logger.h"
#include "foundation/my_result.h"
#include "log_capture.h"
#include "qt_printers.h"

#include "platform/services/localization.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

using orrery::MyResult;

// A category of Qt's own, as its platform plugin logs under.
Q_LOGGING_CATEGORY(xcbLog, "qt.qpa.xcb")

TEST(MyResultTest, SharedValuesAreTellApartByIdentityNotText) {
  EXPECT_TRUE(MyResult::OK()->isOK());
  EXPECT_FALSE(MyResult::OK()->isError());
  EXPECT_FALSE(MyResult::USER_CANCEL()->isOK());
  EXPECT_FALSE(MyResult::USER_CANCEL()->isError());
  EXPECT_EQ(MyResult::OK()->description(), "No error");
  EXPECT_EQ(MyResult::USER_CANCEL()->description(), "User canceled");

  auto lookalike = MyResult::error("Some.Key", "No error");
  EXPECT_TRUE(lookalike->isError());
  EXPECT_FALSE(lookalike->isOK());
  EXPECT_EQ(MyResult::OK(), MyResult::OK());
}

TEST(MyResultTest, ErrorTextsComeFromTheTableThenTheDefaultThenTheKey) {
  LogCapture log;
  EXPECT_EQ(MyResult::error("mac:Error:FailedToOpenFile", "ignored default")->description(), "Failed to open file");
  EXPECT_EQ(MyResult::error("No.Such.Key", "Failed to do it")->description(), "Failed to do it");
  EXPECT_TRUE(log.lines().isEmpty());

  // A missing default text is a broken invariant: logged once, the error still made.
  auto noDefault = MyResult::error("No.Such.Key", QString());
  EXPECT_EQ(noDefault->description(), "No.Such.Key");
  ASSERT_EQ(log.lines().size(), 1);
  EXPECT_TRUE(log.lines()[0].startsWith("ERROR: Assertion failure, line: "));
  EXPECT_TRUE(log.lines()[0].endsWith(" +[MyResult error:desc:]"));

  EXPECT_TRUE(MyResult::todoError()->isError());
  EXPECT_FALSE(MyResult::todoError()->description().isEmpty());
  EXPECT_EQ(MyResult(QString(), QString()).description(), "Sorry, an error occurred during operation");
}

TEST(SoftAssertionTest, LogsTheLinePaddedToThreeDigitsAndEvaluatesToTheCondition) {
  LogCapture log;
  orrery::softAssertionFailed(63, "-[Idea addChild:]");
  orrery::softAssertionFailed(1234, "+[Globals fontAvenirMedium:]");
  EXPECT_TRUE(ORRERY_SOFT_ASSERT(1 + 1 == 2, "-[X y]"));
  const int failingLine = __LINE__ + 1;
  EXPECT_FALSE(ORRERY_SOFT_ASSERT(1 + 1 == 3, "-[X y]"));
  ASSERT_EQ(log.lines().size(), 3);
  EXPECT_EQ(log.lines()[0], "ERROR: Assertion failure, line: 063 -[Idea addChild:]");
  EXPECT_EQ(log.lines()[1], "ERROR: Assertion failure, line: 1234 +[Globals fontAvenirMedium:]");
  EXPECT_EQ(log.lines()[2], QString("ERROR: Assertion failure, line: %1 -[X y]").arg(failingLine, 3, 10, QChar('0')));
}

TEST(SoftAssertionTest, QtMessagesKeepTheirShapeAndLoseWhatAUserMayHaveTyped) {
  LogCapture log;
  orrery::logQtMessages();
  qWarning("Unable to detect a web browser to launch '%s'", "https://example.org/plan?title=Secret%20plan");
  qWarning("QDesktopServices::openUrl: Unable to open \"%s\"", "mailto:me@example.org?subject=Notes");
  qWarning() << "Opening" << QUrl("file:///home/u/diary.html") << "failed";
  qWarning("Could not open https://example.org/a?b nor 'Bob's plan', can't go on");
  qWarning("No end to 'a quote that runs on");
  qWarning("QLayout: Attempting to add QLayout \"\" to QWidget \"\", which already has a layout");
  qWarning("QFont::setPointSizeF: Point size <= 0 (0.000000), must be greater than 0");
  qCWarning(xcbLog, "Could not load the Qt platform plugin \"%s\" in \"%s\"", "xcb", "/home/u/My plugins");
  // The program's own line, as the localisation table writes it.
  platform::LocalizationTable::parse("Key = Text\nno sign in \"this\" line\n");
  qInstallMessageHandler(nullptr);
  EXPECT_EQ(log.lines().join('\n'), QStringList({"Unable to detect a web browser to launch '…'",
                                      "QDesktopServices::openUrl: Unable to open \"…\"",
                                      "Opening QUrl(\"…\") failed",
                                      "Could not open … nor '…', can't go on",
                                      "No end to '…",
                                      "QLayout: Attempting to add QLayout \"\" to QWidget \"\", which already has a layout",
                                      "QFont::setPointSizeF: Point size <= 0 (0.000000), must be greater than 0",
                                      "qt.qpa.xcb: Could not load the Qt platform plugin \"…\" in \"…\"",
                                      "Skipping localisation line without \"=\": no sign in \"this\" line"}).join('\n'));
}

TEST(LoggerTest, TracesOnlyRegisteredObjectsAndPrunesLostOnes) {
  LogCapture log;
  EXPECT_FALSE(orrery::loggerCanLog(nullptr));
  auto a = std::make_shared<int>(1);
  EXPECT_FALSE(orrery::Logger::canLog(a.get()));
  EXPECT_TRUE(orrery::Logger::addTraceableObject(a));
  EXPECT_FALSE(orrery::Logger::addTraceableObject(a));
  EXPECT_TRUE(orrery::loggerCanLog(a.get()));

  auto lostOne = std::make_shared<int>(2);
  const void* lostAddress = lostOne.get();
  EXPECT_TRUE(orrery::Logger::addTraceableObject(lostOne));
  lostOne.reset();
  // Growing past the largest earlier size removes holders of objects that are gone.
  auto b = std::make_shared<long double>(3);
  EXPECT_TRUE(orrery::Logger::addTraceableObject(b));
  EXPECT_TRUE(log.lines().filter("Removing holder").size() == 1);
  EXPECT_FALSE(orrery::Logger::canLog(lostAddress));
  EXPECT_TRUE(orrery::Logger::canLog(b.get()));

  EXPECT_EQ(orrery::CodeOptimizationTimer::create("tiles"), nullptr);
  EXPECT_EQ(orrery::CodeOptimizationTimer::total(nullptr, "tiles"), 0.0);
}

// The logger announces itself once, on its first use in a process: a fresh process is the only
// place where that use is the first, whatever ran before in this one.
TEST(LoggerTest, TheFirstUseInAProcessLogsInitializingLoggerOnce) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        LogCapture log;
        orrery::Logger::canLog(nullptr);
        auto object = std::make_shared<int>(1);
        orrery::Logger::addTraceableObject(object);
        orrery::Logger::canLog(object.get());
        std::fprintf(stderr, "logged: %s\n", qPrintable(log.lines().join(" | ")));
        std::_Exit(log.lines() == QStringList{"Initializing Logger"} ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "logged: Initializing Logger\n");
  GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
