#include "platform/services/standard_folders.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtGlobal>

#include <array>
#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::mutex gMutex;
std::array<QString, 4> gOverrides;

QString defaultFolder(StandardFolder kind) {
  switch (kind) {
    case StandardFolder::Config:
      return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    case StandardFolder::ApplicationSupport:
      return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    case StandardFolder::Caches:
      return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    case StandardFolder::Temporary:
      return QDir::tempPath();
  }
  return {};
}

}  // namespace

QString standardFolder(StandardFolder kind) {
  {
    std::lock_guard lock(gMutex);
    const QString& path = gOverrides[static_cast<size_t>(kind)];
    if (!path.isEmpty()) return path;
  }
  return defaultFolder(kind);
}

void setStandardFolderOverride(StandardFolder kind, const QString& path) {
  std::lock_guard lock(gMutex);
  gOverrides[static_cast<size_t>(kind)] = path;
}

QString configFolder() { return standardFolder(StandardFolder::Config); }
QString applicationSupportFolder() { return standardFolder(StandardFolder::ApplicationSupport); }
QString cachesFolder() { return standardFolder(StandardFolder::Caches); }

bool ensurePrivateFolder(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
    qWarning("Cannot create private folder %s", native.constData());
    return false;
  }
  // O_NOFOLLOW: another user may have planted a link to a folder of theirs under this name.
  int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    qWarning("Refusing private folder %s: not a plain folder", native.constData());
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
  if (ok && (st.st_mode & 077) != 0) ok = ::fchmod(fd, 0700) == 0;
  ::close(fd);
  if (!ok) qWarning("Refusing private folder %s: wrong owner or mode", native.constData());
  return ok;
}

QString privateTemporaryFolder() {
  const QString path =
      QDir(standardFolder(StandardFolder::Temporary)).filePath(QStringLiteral("orrery-%1").arg(::geteuid()));
  return ensurePrivateFolder(path) ? path : QString();
}

}  // namespace platform
