#include "model/document_file_writer.h"

#include "foundation/logging.h"
#include "platform/core/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>

#include <sys/types.h>

namespace orrery {

namespace {

QString stagingPrefix(const QString& fileName) {
  return QFile::decodeName(QByteArray::fromStdString(platform::defaultStagingPrefix(QFile::encodeName(fileName).toStdString())));
}

FileWriteResult writeFile(const QString& path, const QByteArray& bytes, bool exclusive, bool waitForDisk,
                          QString* reason) {
  platform::AtomicWriteOptions options;
  options.exclusive = exclusive;
  options.durable = waitForDisk;
  platform::AtomicWriteFailure failure;
  const auto result = platform::writeFileAtomically(QFile::encodeName(path).toStdString(),
                                                    std::string_view(bytes.constData(), size_t(bytes.size())), options,
                                                    &failure);
  if (result == platform::AtomicWriteResult::Written) return FileWriteResult::Written;
  if (result == platform::AtomicWriteResult::AlreadyExists) return FileWriteResult::AlreadyExists;
  const QString text = QString::fromLocal8Bit(failure.reason());
  logLine(QStringLiteral("Could not write %1: %2 (%3, errno %4)")
              .arg(path, text, QString::fromStdString(failure.step))
              .arg(failure.error));
  if (reason) *reason = text;
  return FileWriteResult::Failed;
}

}  // namespace

FileWriteResult writeFileReplacing(const QString& path, const QByteArray& bytes, QString* reason) {
  return writeFile(path, bytes, false, true, reason);
}

FileWriteResult writeFileExclusively(const QString& path, const QByteArray& bytes, QString* reason, bool waitForDisk) {
  return writeFile(path, bytes, true, waitForDisk, reason);
}

bool syncFileToDisk(const QString& path) { return platform::syncToDisk(QFile::encodeName(path).toStdString()); }

bool isSaveTemporaryName(const QString& fileName) {
  return fileName.startsWith(QLatin1Char('.')) && fileName.contains(stagingPrefix(QString()).mid(1));
}

int removeStaleSaveTemporaries(const QString& path) {
  const std::string resolved = platform::resolveWriteTarget(QFile::encodeName(path).toStdString());
  const QFileInfo target(resolved.empty() ? path : QFile::decodeName(QByteArray::fromStdString(resolved)));
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
