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

RegularFileRead readRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* why, int folder) {
  // Read straight into the array: a QFile would cost more than a small file's read.
  class Sink final : public ByteSink {
   public:
    void reserve(int64_t size) override { bytes.reserve(qsizetype(size)); }
    void append(const char* piece, size_t count) override { bytes.append(piece, qsizetype(count)); }
    QByteArray bytes;
  } sink;
  std::string reason;
  const RegularFileRead result =
      readRegularFile(QFile::encodeName(path).toStdString(), maxBytes, sink, &reason, folder);
  if (result != RegularFileRead::Read) return answer(result, path, QString::fromLocal8Bit(reason), why);
  *bytes = std::move(sink.bytes);
  return RegularFileRead::Read;
}

bool isRegularFile(const QString& path) { return isRegularFile(QFile::encodeName(path).toStdString()); }

}  // namespace platform
