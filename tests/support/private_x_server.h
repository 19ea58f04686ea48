#pragma once
// An X server of its own (Xvfb, one 1440 × 900 screen of 24 bits) for programs that must run
// on the platform users have (xcb) rather than offscreen: started on a display number the
// server picks, ended with the object. Its display is empty when Xvfb is missing or does not
// start.

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace testsupport {

// Ends a program a test started: asked first, killed when it does not end.
inline void endProcess(QProcess& process) {
  if (process.state() == QProcess::NotRunning) return;
  process.terminate();
  if (!process.waitForFinished(5000)) {
    process.kill();
    process.waitForFinished(5000);
  }
}

class PrivateXServer {
 public:
  PrivateXServer() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) return;
    // The server writes the display number it took to standard output once it accepts clients.
    mServer.setStandardErrorFile(QProcess::nullDevice());
    mServer.start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("1440x900x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!mServer.waitForStarted(10000)) return;
    const QDeadlineTimer cap(20000);
    while (!mServer.canReadLine() && mServer.state() == QProcess::Running && !cap.hasExpired())
      mServer.waitForReadyRead(static_cast<int>(std::max<qint64>(cap.remainingTime(), 1)));
    if (mServer.canReadLine()) mDisplay = QStringLiteral(":") + QString::fromLatin1(mServer.readLine().trimmed());
  }
  ~PrivateXServer() { endProcess(mServer); }
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // ":N", or empty when there is no server.
  const QString& display() const { return mDisplay; }

 private:
  QProcess mServer;
  QString mDisplay;
};

}  // namespace testsupport
