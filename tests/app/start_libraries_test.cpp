#include "app/single_instance.h"

#include "platform/services/hand_off_message.h"
#include "support/private_x_server.h"
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
#include <vector>

using namespace orrery;

namespace {

// What a program started in `home` has mapped once its first window drew; empty when no
// window drew.
QByteArray mappedAtFirstFrame(testsupport::ProcessHome& home) {
  home.env.insert("ORRERY_LOG_FIRST_FRAMES", "1");
  QProcess p;
  p.setProcessEnvironment(home.env);
  p.setStandardOutputFile(QProcess::nullDevice());
  p.setReadChannel(QProcess::StandardError);
  p.start(QStringLiteral(ORRERY_BINARY), {});
  if (!p.waitForStarted(10000)) return {};
  bool drawn = false;
  // The timeout only ends a broken run.
  QElapsedTimer timer;
  timer.start();
  while (!drawn && timer.elapsed() < 30000 && p.state() == QProcess::Running) {
    if (!p.canReadLine() && !p.waitForReadyRead(1000)) continue;
    while (p.canReadLine()) drawn = drawn || p.readLine().startsWith("orrery: first frame of ");
  }
  QByteArray mapped;
  QFile maps(QStringLiteral("/proc/%1/maps").arg(p.processId()));
  if (drawn && maps.open(QIODevice::ReadOnly)) mapped = maps.readAll();
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  EXPECT_TRUE(p.waitForFinished(20000));
  return mapped;
}

// Libraries a start does not need cost every start milliseconds before its first window: the
// network stack and Qt's local sockets (nothing is sent before it), and OpenGL with its
// software rasteriser and compiler (only a web page needs it). They are loaded when first
// needed, if ever. OpenGL shows only on the platform users have, so the program runs on an X
// server of its own too.
TEST(StartLibraries, TheFirstWindowDrawsWithoutTheNetworkStackOrOpenGLMapped) {
  testsupport::PrivateXServer xServer;
  struct Platform {
    const char* name;
    QString display;
  };
  std::vector<Platform> platforms{{"offscreen", {}}};
  if (!xServer.display().isEmpty())
    platforms.push_back({"xcb", xServer.display()});
  else
    ADD_FAILURE() << "no X server (Xvfb) could be started: OpenGL's libraries are not checked";
  const struct {
    const char* library;
    const char* what;
  } unwanted[] = {{"/libcurl", "libcurl"},          {"/libQt6Network", "Qt Network"},
                  {"/libLLVM", "LLVM (OpenGL)"},    {"_dri.so", "a Mesa driver (OpenGL)"},
                  {"/libgallium", "Mesa (OpenGL)"}, {"/libGLX_mesa", "Mesa's GLX"}};
  for (const Platform& platform : platforms) {
    SCOPED_TRACE(platform.name);
    testsupport::ProcessHome home;
    home.env.insert("QT_QPA_PLATFORM", platform.name);
    if (!platform.display.isEmpty()) home.env.insert("DISPLAY", platform.display);
    const QByteArray mapped = mappedAtFirstFrame(home);
    ASSERT_FALSE(mapped.isEmpty()) << "no window drew";
    for (const auto& [library, what] : unwanted) EXPECT_FALSE(mapped.contains(library)) << what << " is mapped";
  }
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
