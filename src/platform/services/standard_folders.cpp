#include "platform/services/standard_folders.h"

#include "platform/services/program_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <array>
#include <cerrno>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::mutex gMutex;
std::array<QString, 4> gOverrides;

// The base-directory rules say a relative value is to be ignored; Qt's own paths take it as it
// stands, which would put the settings under whatever folder the program was started in.
QString absoluteFromEnvironment(const char* variable, const QString& fallback) {
  const QString value = qEnvironmentVariable(variable);
  return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : fallback;
}

// <base>/<organisation>/<application>, as Qt lays out an application's folders.
QString applicationFolder(const char* variable, const char* underHome) {
  QString path = absoluteFromEnvironment(variable, QDir::homePath() + QLatin1Char('/') + QLatin1String(underHome));
  for (const QString& part : {QCoreApplication::organizationName(), QCoreApplication::applicationName()})
    if (!part.isEmpty()) path += QLatin1Char('/') + part;
  return path;
}

QString defaultFolder(StandardFolder kind) {
  switch (kind) {
    case StandardFolder::Config:
      return applicationFolder("XDG_CONFIG_HOME", ".config");
    case StandardFolder::ApplicationSupport:
      return applicationFolder("XDG_DATA_HOME", ".local/share");
    case StandardFolder::Caches:
      return applicationFolder("XDG_CACHE_HOME", ".cache");
    case StandardFolder::Temporary:
      return absoluteFromEnvironment("TMPDIR", QStringLiteral("/tmp"));
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
    qCWarning(platform::programLog, "Cannot create private folder %s", native.constData());
    return false;
  }
  // O_NOFOLLOW: another user may have planted a link to a folder of theirs under this name.
  int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    qCWarning(platform::programLog, "Refusing private folder %s: not a plain folder", native.constData());
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
  if (ok && (st.st_mode & 077) != 0) ok = ::fchmod(fd, 0700) == 0;
  ::close(fd);
  if (!ok) qCWarning(platform::programLog, "Refusing private folder %s: wrong owner or mode", native.constData());
  return ok;
}

namespace {

QString privateTemporaryPath() {
  return QDir(standardFolder(StandardFolder::Temporary)).filePath(QStringLiteral("orrery-%1").arg(::geteuid()));
}

// Depth first; a folder that still holds something stays (rmdir refuses it), links are not followed.
void removeIfEmpty(const std::filesystem::path& folder, int depth) {
  std::error_code ec;
  if (depth > 0) {
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_directory(ec) && !it->is_symlink(ec)) removeIfEmpty(it->path(), depth - 1);
  }
  ::rmdir(folder.c_str());
}

}  // namespace

QString privateTemporaryFolder() {
  const QString path = privateTemporaryPath();
  return ensurePrivateFolder(path) ? path : QString();
}

QString existingPrivateTemporaryFolder() {
  const QString path = privateTemporaryPath();
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return ensurePrivateFolder(path) ? path : QString();
}

void removeEmptyPrivateTemporaryFolders() {
  const QString path = existingPrivateTemporaryFolder();
  if (!path.isEmpty()) removeIfEmpty(QFile::encodeName(path).toStdString(), 3);
}

}  // namespace platform
