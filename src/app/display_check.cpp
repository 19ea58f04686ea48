#include "app/display_check.h"

#include "app/command_line.h"
#include "app/qt_platform_plugins.h"

#include <QDir>
#include <QFile>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstring>

namespace orrery {

namespace {

// A compositor listens on a socket in the runtime folder ("wayland-0" unless named otherwise),
// or hands its client a connected one.
QString whyNoWaylandDisplay() {
  if (qEnvironmentVariableIsSet("WAYLAND_SOCKET")) return {};
  const QString name = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? QStringLiteral("wayland-0")
                                                                     : qEnvironmentVariable("WAYLAND_DISPLAY");
  const QString path = QDir::isAbsolutePath(name) ? name : QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath(name);
  const QByteArray encoded = QFile::encodeName(path);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const bool fits = encoded.size() < qsizetype(sizeof address.sun_path);
  const int fd = fits ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
  bool connected = false;
  if (fd >= 0) {
    std::memcpy(address.sun_path, encoded.constData(), encoded.size());
    connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
  }
  return connected ? QString() : QStringLiteral("no Wayland compositor at \"%1\"").arg(path);
}

}  // namespace

DisplayCheck::DisplayCheck(const QStringList& arguments) {
  QString named = qtOptionValue(arguments, QStringLiteral("-platform"));
  if (named.isEmpty()) named = qEnvironmentVariable("QT_QPA_PLATFORM");
  QStringList platforms = named.split(QLatin1Char(';'), Qt::SkipEmptyParts);
  // The program names X11 itself when nothing else does; this is Qt's own choice then too.
  if (platforms.isEmpty()) platforms.append(QStringLiteral("xcb"));
  QtPlatformPlugins plugins(arguments);
  QStringList reasons;
  QStringList missing;
  for (const QString& platform : platforms) {
    const QString name = platform.section(QLatin1Char(':'), 0, 0);
    // Without any folder of plugins Qt may still have them (built in, or named by a qt.conf
    // only the application object reads): then it decides.
    if (!plugins.folders().isEmpty() && !plugins.has(name)) {
      missing.append(QStringLiteral("\"%1\"").arg(name));
      reasons.append(QStringLiteral("no plugin for the Qt platform \"%1\"").arg(name));
      continue;
    }
    // Qt matches the name to its plugins' keys whatever its case: "XCB" is X11 too.
    QString why;
    if (name.compare(QLatin1String("xcb"), Qt::CaseInsensitive) == 0)
      why = whyNoX11Display(qtOptionValue(arguments, QStringLiteral("-display")));
    else if (name.startsWith(QLatin1String("wayland"), Qt::CaseInsensitive))
      why = whyNoWaylandDisplay();
    if (why.isEmpty()) return;
    reasons.append(why);
  }
  if (missing.size() == platforms.size()) {
    QString where = QStringLiteral("no plugin for it in %1").arg(plugins.folders().join(QLatin1String(", ")));
    if (!plugins.platforms().isEmpty())
      where += QStringLiteral(", only for %1").arg(plugins.platforms().join(QLatin1String(", ")));
    mWhyNot = QStringLiteral("cannot load the Qt platform %1 (%2)").arg(missing.join(QLatin1String(" or ")), where);
    return;
  }
  mWhyNot = QStringLiteral("cannot connect to a display (%1)").arg(reasons.join(QLatin1String("; ")));
}

DisplayCheck::~DisplayCheck() { release(); }

void DisplayCheck::release() {
  if (mConnection) xcb_disconnect(mConnection);
  mConnection = nullptr;
}

// Connecting is the one sure test: a display can be named and still be gone (a closed session,
// a forwarding that ended), and the server may refuse this user.
QString DisplayCheck::whyNoX11Display(const QString& named) {
  const QByteArray name = named.isEmpty() ? qgetenv("DISPLAY") : QFile::encodeName(named);
  if (name.isEmpty()) return QStringLiteral("DISPLAY is not set");
  xcb_connection_t* connection = xcb_connect(name.constData(), nullptr);
  if (xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);
    return QStringLiteral("none answers at \"%1\"").arg(QString::fromLocal8Bit(name));
  }
  mConnection = connection;
  return {};
}

}  // namespace orrery
