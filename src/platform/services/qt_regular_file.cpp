#include "platform/services/qt_regular_file.h"

#include "platform/services/program_log.h"

#include <QFile>

#include <unistd.h>

namespace platform {

namespace {

RegularFileRead answer(RegularFileRead result, const QString& path, const QString& reason, QString* why) {
  if (why)
    *why = reason;
  else if (result == RegularFileRead::Refused)
    qCWarning(programLog, "Not reading %s: %s", qPrintable(path), qPrintable(reason));
  return result;
}

}  // namespace

RegularFileRead openRegularFile(QFile& file, const QString& path, qint64 maxBytes, QString* why) {
  RegularFileRead result = RegularFileRead::Read;
  std::string reason;
  const int fd = openRegularFile(QFile::encodeName(path).toStdString(), maxBytes, &result, &reason);
  if (fd < 0) return answer(result, path, QString::fromLocal8Bit(reason), why);
  if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return RegularFileRead::Read;
  ::close(fd);
  return answer(RegularFileRead::Failed, path, file.errorString(), why);
}

RegularFileRead readRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* why) {
  QFile file;
  if (const RegularFileRead opened = openRegularFile(file, path, maxBytes, why); opened != RegularFileRead::Read)
    return opened;
  QByteArray read = file.readAll();
  if (file.error() != QFileDevice::NoError) return answer(RegularFileRead::Failed, path, file.errorString(), why);
  if (maxBytes >= 0 && read.size() > maxBytes)
    return answer(RegularFileRead::Refused, path, QStringLiteral("grew beyond %1 bytes while read").arg(maxBytes), why);
  *bytes = std::move(read);
  return RegularFileRead::Read;
}

bool isRegularFile(const QString& path) { return isRegularFile(QFile::encodeName(path).toStdString()); }

}  // namespace platform
