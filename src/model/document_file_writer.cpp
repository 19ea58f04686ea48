#include "model/document_file_writer.h"

#include "foundation/logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orrery {

namespace {

constexpr char kSaveMarker[] = ".orrery-save-";

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString stagingPrefix(const QString& fileName) { return QLatin1Char('.') + fileName + QLatin1String(kSaveMarker); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : mFd(fd) {}
  ~FileDescriptor() {
    if (mFd >= 0) ::close(mFd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return mFd; }
  // Closes now; false (with errno) when the close reports an error.
  bool close() {
    const int fd = mFd;
    mFd = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int mFd;
};

bool writeAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, size_t(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    left -= n;
  }
  return true;
}

// Moves `from` to `to` unless `to` exists; errno is EEXIST when it did.
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // Filesystems without the flag: a hard link is just as exclusive.
  if (::link(from.constData(), to.constData()) != 0) return false;
  ::unlink(from.constData());
  return true;
}

// Writes the bytes into a new staging file of `target` and gives it its name; the staging
// path on success, empty with errno set on failure.
QByteArray stage(const QFileInfo& target, const QByteArray& bytes, mode_t mode) {
  const QByteArray folder = QFile::encodeName(target.absolutePath());
  const QByteArray staging =
      QFile::encodeName(target.absolutePath() + QLatin1Char('/') + stagingPrefix(target.fileName()) +
                        QString::number(::getpid()) + QLatin1Char('-') +
                        QString::number(QRandomGenerator::global()->generate64(), 36));
  // Unnamed while written, so that a writer killed meanwhile leaves nothing behind.
  FileDescriptor file(::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  const bool unnamed = file.get() >= 0;
  if (!unnamed) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return {};
    FileDescriptor named(::open(staging.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode));
    if (named.get() < 0) return {};
    const bool ok = writeAll(named.get(), bytes) && ::fsync(named.get()) == 0 && named.close();
    if (!ok) {
      const int error = errno;
      ::unlink(staging.constData());
      errno = error;
      return {};
    }
    return staging;
  }
  // The umask applies to the mode on creation; an explicit mode keeps the old file's.
  if (::fchmod(file.get(), mode) != 0) return {};
  if (!writeAll(file.get(), bytes) || ::fsync(file.get()) != 0) return {};
  const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(file.get());
  if (::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, staging.constData(), AT_SYMLINK_FOLLOW) != 0) return {};
  if (!file.close()) {
    const int error = errno;
    ::unlink(staging.constData());
    errno = error;
    return {};
  }
  return staging;
}

void syncFolder(const QString& folder) {
  FileDescriptor dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

FileWriteResult failed(const QString& path, const QString& what, int error, QString* reason) {
  const QString text = systemReason(error);
  logLine(QStringLiteral("Could not write %1: %2 (%3, errno %4)").arg(path, text, what).arg(error));
  if (reason) *reason = text;
  return FileWriteResult::Failed;
}

FileWriteResult writeFile(const QString& path, const QByteArray& bytes, bool exclusive, QString* reason) {
  const QFileInfo target(path);
  if (exclusive && (target.exists() || target.isSymLink())) return FileWriteResult::AlreadyExists;
  mode_t mode = 0666 & ~[] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
  }();
  struct stat existing {};
  if (::stat(QFile::encodeName(path).constData(), &existing) == 0) mode = existing.st_mode & 07777;

  const QByteArray staging = stage(target, bytes, mode);
  if (staging.isEmpty()) {
    const int error = errno;
    return failed(path, QStringLiteral("writing the new content"), error, reason);
  }
  const QByteArray destination = QFile::encodeName(path);
  const bool moved = exclusive ? renameNoReplace(staging, destination)
                               : ::rename(staging.constData(), destination.constData()) == 0;
  if (!moved) {
    const int error = errno;
    ::unlink(staging.constData());
    if (exclusive && error == EEXIST) return FileWriteResult::AlreadyExists;
    return failed(path, QStringLiteral("replacing the old file"), error, reason);
  }
  syncFolder(target.absolutePath());
  return FileWriteResult::Written;
}

}  // namespace

FileWriteResult writeFileReplacing(const QString& path, const QByteArray& bytes, QString* reason) {
  return writeFile(path, bytes, false, reason);
}

FileWriteResult writeFileExclusively(const QString& path, const QByteArray& bytes, QString* reason) {
  return writeFile(path, bytes, true, reason);
}

bool isSaveTemporaryName(const QString& fileName) {
  return fileName.startsWith(QLatin1Char('.')) && fileName.contains(QLatin1String(kSaveMarker));
}

int removeStaleSaveTemporaries(const QString& path) {
  const QFileInfo target(path);
  const QString prefix = stagingPrefix(target.fileName());
  const QDir folder = target.absoluteDir();
  int removed = 0;
  // No name filter: a file name may hold the filter's own wildcard characters.
  const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& name : names) {
    if (!name.startsWith(prefix)) continue;
    const QString rest = name.mid(prefix.size());
    bool numeric = false;
    const qint64 pid = rest.section(QLatin1Char('-'), 0, 0).toLongLong(&numeric);
    if (!numeric || pid <= 0) continue;
    // A live writer (this process included) may be about to rename it.
    if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    if (QFile::remove(folder.filePath(name))) ++removed;
  }
  return removed;
}

}  // namespace orrery
