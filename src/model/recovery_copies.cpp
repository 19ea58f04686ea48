#include "model/recovery_copies.h"

#include "model/document_file_writer.h"
#include "platform/services/standard_folders.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace orrery {

namespace {

constexpr char kExtension[] = ".orrery";

}  // namespace

QString recoveryFolder() {
  const QString support = platform::applicationSupportFolder();
  return support.isEmpty() ? QString() : support + QStringLiteral("/Recovered Documents");
}

QString keepRecoveryCopy(const QString& originalPath, const QByteArray& bytes, QString* reason) {
  const QString folder = recoveryFolder();
  if (folder.isEmpty() || !QDir().mkpath(folder)) {
    if (reason) *reason = QStringLiteral("the folder for recovered documents could not be made: %1").arg(folder);
    return {};
  }
  QString name = QFileInfo(originalPath).completeBaseName();
  if (name.isEmpty()) name = QStringLiteral("Document");
  const QString stem =
      QStringLiteral("%1 %2").arg(name, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")));
  // Two windows of one name ended in the same second each keep a copy of their own.
  for (int n = 1; n < 1000; ++n) {
    const QString path = QDir(folder).filePath(stem + (n > 1 ? QStringLiteral(" %1").arg(n) : QString()) + kExtension);
    switch (writeFileExclusively(path, bytes, reason)) {
      case FileWriteResult::Written: return path;
      case FileWriteResult::AlreadyExists: continue;
      case FileWriteResult::Failed: return {};
    }
  }
  if (reason) *reason = QStringLiteral("too many recovered copies named %1").arg(stem);
  return {};
}

QStringList recoveryCopies() {
  const QString folder = recoveryFolder();
  if (folder.isEmpty()) return {};
  QStringList copies;
  const QFileInfoList found = QDir(folder).entryInfoList({QStringLiteral("*") + kExtension}, QDir::Files,
                                                         QDir::Time | QDir::Reversed);
  for (const QFileInfo& info : found) copies.append(info.absoluteFilePath());
  return copies;
}

}  // namespace orrery
