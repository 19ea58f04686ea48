// Crashes while the first windows are being built are reported: the program's own telemetry
// start runs in a child process whose first window's screen crashes, and the crash reporter's
// record must be on disk afterwards.
#include "app/app_delegate.h"
#include "app/telemetry_start.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "platform/ui/application.h"
#include "sdk/analytics/ana_analytics_controller.h"
#include "shell/screen_factory.h"
#include "support/rerun_this_program.h"
#include "ui_test_env.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

using namespace orrery;

namespace {

constexpr char kChild[] = "ORRERY_EARLY_CRASH_CHILD";

// The child: a document handed over at launch whose window's screen crashes as it is made.
// What it prints tells the parent where its caches are.
[[noreturn]] void crashWhileTheFirstWindowIsBuilt() {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  std::printf("caches: %s\n", qgetenv("XDG_CACHE_HOME").constData());
  std::fflush(stdout);
  const QString path = QDir(qEnvironmentVariable("TMPDIR")).filePath(QStringLiteral("handed.orrery"));
  auto doc = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  doc->setIdea(Idea::createWithText(QStringLiteral("Handed over")));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(doc->exportAsOrreryData()) <= 0) std::_Exit(3);
  file.close();

  ScreenFactory factory;
  factory.makeEditor = [](const std::shared_ptr<IdeaDocument>&, DocumentToken, const QString&) {
    // What can wait for the first frame has not run: the analytics kit made no folders yet.
    const std::string events = telemetry::ANAAnalyticsController::eventDirectoryForRootDirectory(
        telemetry::ANAAnalyticsController::rootDirectory());
    std::printf("analytics set up: %d\n", QFileInfo::exists(QString::fromStdString(events)) ? 1 : 0);
    std::fflush(stdout);
    std::raise(SIGSEGV);
    return std::shared_ptr<BaseViewController>();
  };
  setScreenFactory(factory);
  AppServices services;
  services.startTelemetry = [] { startTelemetry(); };
  services.afterFirstFrame = [](std::function<void()> work) {
    platform::Application::shared().firstFrame().after(std::move(work));
  };
  AppDelegate delegate(services);
  delegate.applicationDidFinishLaunching({path});
  uitest::loop().runUntil([] { return false; }, std::chrono::milliseconds(20000));
  std::_Exit(4);  // the screen was never made
}

// The crash records the crash reporter left under the caches folder: "signal.crkrecord" files.
QStringList signalRecords(const QString& caches) {
  QStringList found;
  QDirIterator it(caches, {QStringLiteral("signal.crkrecord")}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) found << it.next();
  return found;
}

TEST(EarlyCrash, ACrashWhileTheFirstWindowIsBuiltLeavesACrashRecord) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  if (qEnvironmentVariableIsSet(kChild)) crashWhileTheFirstWindowIsBuilt();
  const testsupport::ChildRun run =
      testsupport::rerunThisProgram(QStringLiteral("EarlyCrash.*"), {{kChild, QStringLiteral("1")}});
  ASSERT_TRUE(run.finished) << run.output;
  EXPECT_FALSE(run.exitedNormally) << "the child did not crash: exit " << run.exitCode << "\n" << run.output;
  const QRegularExpressionMatch caches =
      QRegularExpression(QStringLiteral("^caches: (.+)$"), QRegularExpression::MultilineOption)
          .match(QString::fromStdString(run.output));
  ASSERT_TRUE(caches.hasMatch()) << run.output;
  const QStringList records = signalRecords(caches.captured(1));
  ASSERT_EQ(records.size(), 1) << "no crash record under " << caches.captured(1).toStdString() << "\n" << run.output;
  QFile record(records.front());
  ASSERT_TRUE(record.open(QIODevice::ReadOnly));
  EXPECT_TRUE(record.readAll().contains("\"signal\"")) << "the record names no signal";
  EXPECT_NE(run.output.find("analytics set up: 0"), std::string::npos) << run.output;
  // The crash listed the loaded images itself, the program under its own path among them.
  QFile images(QFileInfo(records.front()).dir().filePath(QStringLiteral("binary_images.crkrecord")));
  ASSERT_TRUE(images.open(QIODevice::ReadOnly)) << images.fileName().toStdString();
  const QByteArray listed = images.readAll();
  EXPECT_GT(listed.count("\"load\""), 10) << listed.toStdString();
  EXPECT_TRUE(listed.contains(QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath().toUtf8()))
      << listed.toStdString();
  // The child's home is its own; only its caches are left to remove.
  QDir(caches.captured(1)).removeRecursively();
}

}  // namespace
