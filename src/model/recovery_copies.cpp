#include "model/recovery_copies.h"

#include "model/document_file_writer.h"
#include "model/idea_document.h"
#include "foundation/logging.h"
#include "platform/services/qt_regular_file.h"
#include "platform/services/standard_folders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace orrery {

namespace {

constexpr char kExtension[] = ".orrery";

// The document `bytes` hold as a document file; none, with why, when they do not open.
std::shared_ptr<IdeaDocument> documentOf(const QByteArray& bytes, QString* why) {
  if (bytes.isEmpty()) {
    *why = QStringLiteral("it is empty");
    return nullptr;
  }
  DocumentError error;
  auto doc = IdeaDocument::fromFileBytes(bytes, /*compressed=*/true, &error);
  if (!doc) *why = QStringLiteral("it does not open: %1").arg(error.description);
  return doc;
}

QString whyUnreadable(const QByteArray& bytes) {
  QString why;
  documentOf(bytes, &why);
  return why;
}

}  // namespace

QString recoveryFolder() {
  const QString support = platform::applicationSupportFolder();
  return support.isEmpty() ? QString() : support + QStringLiteral("/Recovered Documents");
}

QString keepRecoveryCopy(const QString& originalPath, const QByteArray& bytes, QString* reason) {
  // A copy that does not open would be offered as a kept edit and open nothing.
  if (const QString unreadable = whyUnreadable(bytes); !unreadable.isEmpty()) {
    if (reason) *reason = bytes.isEmpty() ? QStringLiteral("the document could not be encoded") : unreadable;
    return {};
  }
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

QString keepRecoveryCopy(const QString& originalPath, const EncodedDocument& file, QString* reason) {
  if (file.bytes.isEmpty() && !file.refusal.isEmpty()) {
    if (reason) *reason = file.refusal;
    return {};
  }
  return keepRecoveryCopy(originalPath, file.bytes, reason);
}

namespace {

QFileInfoList recoveryFiles() {
  const QString folder = recoveryFolder();
  if (folder.isEmpty()) return {};
  return QDir(folder).entryInfoList({QStringLiteral("*") + kExtension}, QDir::Files, QDir::Time | QDir::Reversed);
}

}  // namespace

bool mayHaveRecoveryCopies() {
  const QFileInfoList found = recoveryFiles();
  return std::any_of(found.begin(), found.end(), [](const QFileInfo& info) { return info.size() > 0; });
}

std::vector<RecoveryCopy> recoveryCopiesToOffer() {
  std::vector<RecoveryCopy> copies;
  for (const QFileInfo& info : recoveryFiles()) {
    QByteArray bytes;
    QString unreadable;
    const bool read = platform::readRegularFile(info.absoluteFilePath(), DocumentLimits::kMaxJSONBytes, &bytes,
                                                &unreadable) == platform::RegularFileRead::Read;
    const auto doc = read ? documentOf(bytes, &unreadable) : nullptr;
    if (!doc) {
      logLine(QStringLiteral("Recovered copy %1 is not offered: %2").arg(info.absoluteFilePath(), unreadable));
      continue;
    }
    // The file is named after the document's file, which for a cloud map says nothing the
    // user knows: the map goes by its title, as the home screen shows it.
    copies.push_back({info.absoluteFilePath(), doc->documentWindowName().simplified(), info.lastModified()});
  }
  return copies;
}

QStringList recoveryCopies() {
  QStringList paths;
  for (const RecoveryCopy& copy : recoveryCopiesToOffer()) paths.append(copy.path);
  return paths;
}

}  // namespace orrery
