#include "cloud/regular_file.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orrery {

namespace {

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// What is at `path` is refused unless it is a regular file within `maxBytes`: the reason, or
// an empty string.
QString refusalOf(const struct stat& st, qint64 maxBytes) {
  if (!S_ISREG(st.st_mode)) return QStringLiteral("not a regular file");
  if (maxBytes >= 0 && st.st_size > maxBytes) return QStringLiteral("too large (%1 bytes)").arg(qint64(st.st_size));
  return {};
}

}  // namespace

RegularFileRead readRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* why) {
  auto answer = [why](RegularFileRead result, const QString& reason) {
    if (why) *why = reason;
    return result;
  };
  const QByteArray native = QFile::encodeName(path);
  // Looked at before the open, so that a device is not even opened.
  struct stat st {};
  if (::stat(native.constData(), &st) != 0)
    return answer(errno == ENOENT ? RegularFileRead::Missing : RegularFileRead::Failed, systemReason(errno));
  if (const QString refusal = refusalOf(st, maxBytes); !refusal.isEmpty()) return answer(RegularFileRead::Refused, refusal);
  // Without waiting, and looked at again once open: the entry may have been replaced meanwhile.
  const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return answer(errno == ENOENT ? RegularFileRead::Missing : RegularFileRead::Failed, systemReason(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::fstat(fd, &st) != 0) return answer(RegularFileRead::Failed, systemReason(errno));
  if (const QString refusal = refusalOf(st, maxBytes); !refusal.isEmpty()) return answer(RegularFileRead::Refused, refusal);
  QByteArray read;
  read.reserve(qsizetype(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return answer(RegularFileRead::Failed, systemReason(errno));
    if (n == 0) break;
    if (maxBytes >= 0 && read.size() + n > maxBytes)
      return answer(RegularFileRead::Refused, QStringLiteral("grew beyond %1 bytes while read").arg(maxBytes));
    read.append(buffer, qsizetype(n));
  }
  *bytes = std::move(read);
  return RegularFileRead::Read;
}

bool isRegularFile(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace orrery
