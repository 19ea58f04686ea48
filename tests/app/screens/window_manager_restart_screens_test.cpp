// The real program restarted on an X server with a window manager (openbox), which puts its
// title bar around each window after the program placed it, and on a bare one: every kind of
// window comes back where it was, restart after restart.

#include "foundation/dictionary_extensions.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "platform/services/user_defaults.h"
#include "support/process_home.h"
#include "support/window_manager_session.h"
#include "ui_test_env.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace orrery;

namespace {

// Starts the program, waits until each of `titles` has drawn and the window manager has had
// its turn, and ends it as a session's end would (SIGTERM stores the windows).
::testing::AssertionResult runOnce(testsupport::ProcessHome& home, const QStringList& titles) {
  QProcess p;
  p.setProcessEnvironment(home.env);
  p.setStandardOutputFile(QProcess::nullDevice());
  p.setReadChannel(QProcess::StandardError);
  p.start(QStringLiteral(ORRERY_BINARY), {});
  if (!p.waitForStarted(10000)) return ::testing::AssertionFailure() << "the program did not start";
  QStringList waiting = titles;
  QElapsedTimer timer;
  timer.start();
  // The timeout only ends a broken run.
  while (!waiting.isEmpty() && timer.elapsed() < 30000 && p.state() == QProcess::Running) {
    if (!p.canReadLine() && !p.waitForReadyRead(500)) continue;
    while (p.canReadLine()) {
      const QString line = QString::fromUtf8(p.readLine()).trimmed();
      waiting.removeIf([&](const QString& title) { return line == "orrery: first frame of \"" + title + "\""; });
    }
  }
  if (!waiting.isEmpty()) {
    p.kill();
    p.waitForFinished(5000);
    return ::testing::AssertionFailure() << "never drawn: " << waiting.join(", ").toStdString();
  }
  // The window manager's frames and configure events come after the first frame.
  QThread::msleep(400);
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  if (!p.waitForFinished(20000)) return ::testing::AssertionFailure() << "still running after SIGTERM";
  return ::testing::AssertionSuccess();
}

std::string text(const QRectF& r) {
  return QStringLiteral("%1, %2 (%3 × %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

// Three restarts on `display`: a home window and a local file's map window, each stored where
// it stood, are stored at the same place again.
void restartsKeepThePlaces(const QString& display) {
  testsupport::ProcessHome home;
  home.env.insert("QT_QPA_PLATFORM", "xcb");
  home.env.insert("DISPLAY", display);
  home.env.insert("ORRERY_LOG_FIRST_FRAMES", "1");

  const QString file = QDir(home.root.path()).filePath("tmp/Places.orrery");
  {
    auto doc = IdeaDocument::createWithFileName(file, DocumentLocationLocalFile);
    doc->setIdea(Idea::createWithText("Places"));
    bool done = false;
    doc->writeToLocalFileAt(QUrl::fromLocalFile(file), [&](bool) { done = true; });
    ASSERT_TRUE(uitest::loop().runUntil([&] { return done; }));
    ASSERT_TRUE(QFileInfo::exists(file));
  }
  const QString path = QFileInfo(file).canonicalFilePath();
  // Where each window stood: a home window, and a local file's map window beside it.
  const QRectF homeFrame(120, 93, 900, 640), fileFrame(480, 180, 820, 600);
  {
    platform::UserDefaults stored(home.defaultsFile());
    stored.setString("1.6.0.160", "CurrentOrreryVersion");
    stored.setObject(QVariantMap{{"controllerStates",
                                  QVariantList{QVariantMap{{"controllerClass", "HomeViewController"},
                                                           {"controllerState", QVariantMap{{"location", 2}}},
                                                           {"windowFrame", dictext::stringFromRect(homeFrame)}}}}},
                     "CurrentState");
    stored.setObject(QStringList{path}, "LocalDocumentWindows");
    QVariantMap frames;
    dictext::setRect(frames, fileFrame, path);
    stored.setObject(frames, "LocalDocumentWindowFrames");
  }
  for (int run = 1; run <= 3; ++run) {
    ASSERT_TRUE(runOnce(home, {"iCloud Documents", "Places.orrery"})) << "run " << run;
    platform::UserDefaults stored(home.defaultsFile());
    const QVariantList windows = stored.dictionaryForKey("CurrentState").value("controllerStates").toList();
    ASSERT_EQ(windows.size(), 1) << "run " << run;
    const QRectF homeNow = dictext::rectForKey(windows[0].toMap(), "windowFrame");
    EXPECT_TRUE(homeNow == homeFrame) << "run " << run << ": the home window came back at " << text(homeNow);
    const QRectF fileNow = dictext::rectForKey(stored.dictionaryForKey("LocalDocumentWindowFrames"), path);
    EXPECT_TRUE(fileNow == fileFrame) << "run " << run << ": the map window came back at " << text(fileNow);
  }
}

}  // namespace

TEST(ScreensUnderAWindowManager, EveryKindOfWindowComesBackWhereItWasWithAndWithoutOne) {
  QStringList missing;
  for (const bool withManager : {true, false}) {
    SCOPED_TRACE(withManager ? "under openbox" : "on a bare X server");
    testsupport::WindowManagerSession session(withManager);
    if (!session.missing().isEmpty()) {
      missing << (withManager ? "under a window manager: " : "on an X server: ") + session.missing();
      continue;
    }
    restartsKeepThePlaces(session.display());
  }
  if (!missing.isEmpty()) GTEST_SKIP() << "not checked " << missing.join("; ").toStdString();
}
