#include "app/single_instance.h"

#include "platform/services/hand_off_message.h"
#include "support/process_home.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace orrery;

namespace {

// The libraries of the network stack and of Qt's local sockets cost every start milliseconds
// before its first window, which sends nothing: they are loaded when first needed, if ever.
TEST(StartLibraries, TheFirstWindowDrawsWithoutLibcurlOrQtNetworkMapped) {
  testsupport::ProcessHome home;
  home.env.insert("ORRERY_LOG_FIRST_FRAMES", "1");
  QProcess p;
  p.setProcessEnvironment(home.env);
  p.setStandardOutputFile(QProcess::nullDevice());
  p.setReadChannel(QProcess::StandardError);
  p.start(QStringLiteral(ORRERY_BINARY), {});
  ASSERT_TRUE(p.waitForStarted(10000));
  bool drawn = false;
  // The timeout only ends a broken run.
  QElapsedTimer timer;
  timer.start();
  while (!drawn && timer.elapsed() < 30000 && p.state() == QProcess::Running) {
    if (!p.canReadLine() && !p.waitForReadyRead(1000)) continue;
    while (p.canReadLine()) drawn = drawn || p.readLine().startsWith("orrery: first frame of ");
  }
  ASSERT_TRUE(drawn) << "no window drew";
  QFile maps(QStringLiteral("/proc/%1/maps").arg(p.processId()));
  ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
  const QByteArray mapped = maps.readAll();
  EXPECT_FALSE(mapped.contains("/libcurl")) << "libcurl is mapped";
  EXPECT_FALSE(mapped.contains("/libQt6Network")) << "Qt Network is mapped";
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  EXPECT_TRUE(p.waitForFinished(20000));
}

// The first instance's socket replaces a file left over by a killed one, only its own user may
// reach it, and other local-socket clients (Qt's here) get the answer.
TEST(StartLibraries, TheHandOffSocketReplacesALeftOverFileAndIsTheUsersAlone) {
  QTemporaryDir folder;
  SingleInstance first(folder.path());
  ASSERT_TRUE(first.tryToBecomeFirst());
  {
    QFile leftOver(first.socketPath());
    ASSERT_TRUE(leftOver.open(QIODevice::WriteOnly));
  }
  QStringList delivered;
  ASSERT_TRUE(first.listen([&](const QStringList& arguments) { delivered = arguments; }));
  const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                                    QFile::WriteOther | QFile::ExeOther;
  EXPECT_EQ(QFileInfo(first.socketPath()).permissions() & others, QFile::Permissions());

  QLocalSocket socket;
  socket.connectToServer(first.socketPath());
  ASSERT_TRUE(socket.waitForConnected(2000));
  socket.write(platform::handoff::encodeMessage({"/maps/a.orrery"}));
  socket.flush();
  QElapsedTimer timer;
  timer.start();
  while (socket.bytesAvailable() < 1 && timer.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    socket.waitForReadyRead(20);
  }
  EXPECT_EQ(socket.read(1), QByteArray("k"));
  EXPECT_EQ(delivered, QStringList{"/maps/a.orrery"});
}

}  // namespace
