#pragma once
// An X server of its own with a window manager (openbox) on it, for what only shows where a
// window manager decorates and places windows: late configure events, frame offsets. The
// server takes a free display number, so sessions of tests running side by side never meet.
// `missing()` says why there is none (no Xvfb, no openbox, or it did not start).

#include "private_x_server.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

namespace testsupport {

class WindowManagerSession {
 public:
  // Without `withManager`, a bare X server: windows stand where the program puts them.
  explicit WindowManagerSession(bool withManager = true) {
    if (mServer.display().isEmpty()) {
      mMissing = QStringLiteral("no X server (Xvfb) could be started");
      return;
    }
    if (!withManager) return;
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty()) {
      mMissing = QStringLiteral("openbox is not installed ('make deps' installs it)");
      return;
    }
    // Its own home: no user's configuration, and it tells when it manages the screen by
    // running its start-up command.
    const QString ready = mHome.filePath(QStringLiteral("ready"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), mServer.display());
    env.insert(QStringLiteral("HOME"), mHome.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), mHome.filePath(QStringLiteral("config")));
    mManager.setProcessEnvironment(env);
    mManager.setStandardOutputFile(QProcess::nullDevice());
    mManager.setStandardErrorFile(QProcess::nullDevice());
    mManager.start(openbox, {QStringLiteral("--sm-disable"), QStringLiteral("--startup"),
                             QStringLiteral("touch ") + ready});
    mManager.waitForStarted(10000);
    const QDeadlineTimer cap(20000);
    while (!QFile::exists(ready) && mManager.state() == QProcess::Running && !cap.hasExpired()) QThread::msleep(20);
    if (!QFile::exists(ready)) mMissing = QStringLiteral("openbox did not start");
  }
  ~WindowManagerSession() { endProcess(mManager); }
  WindowManagerSession(const WindowManagerSession&) = delete;
  WindowManagerSession& operator=(const WindowManagerSession&) = delete;

  // Empty while the window manager runs; else why there is none, for a skip's message.
  const QString& missing() const { return mMissing; }
  const QString& display() const { return mServer.display(); }

 private:
  PrivateXServer mServer;
  QTemporaryDir mHome;
  QProcess mManager;
  QString mMissing;
};

}  // namespace testsupport
