#include "platform/cloud/file_version.h"

#include "platform/cloud/conflict_copy_name.h"
#include "platform/core/atomic_file.h"
#include "platform/core/system_log.h"
#include "platform/services/file_coordinator.h"
#include "platform/services/process_lock.h"
#include "platform/services/qt_regular_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>

#include <sys/stat.h>

#include <string_view>

namespace platform {

namespace {

constexpr char kResolvedSuffix[] = ".resolved";
constexpr char kDocumentSuffix[] = ".orrx";

void warn(const QString& line) { logLine(line.toStdString(), LogLevel::Warning); }

struct stat lstatOf(const QString& path, bool* ok) {
  struct stat st {};
  *ok = ::lstat(QFile::encodeName(path).constData(), &st) == 0;
  return st;
}

bool isPlainFile(const QString& path) {
  bool ok;
  const struct stat st = lstatOf(path, &ok);
  return ok && S_ISREG(st.st_mode);
}

// A real folder (not a link to one) or nothing at all.
bool isRealFolderOrMissing(const QString& path, bool* exists) {
  bool ok;
  const struct stat st = lstatOf(path, &ok);
  *exists = ok;
  return !ok || S_ISDIR(st.st_mode);
}

// The document name a sync tool's conflict copy belongs to; empty for any other name.
QString documentOfConflictCopy(const QString& name) {
  const ConflictCopyName copy = parseConflictCopyName(name);
  return copy.original.endsWith(QLatin1String(kDocumentSuffix)) ? copy.original : QString();
}

// A free name for `name` in `folder`: itself, else "2-<name>", "3-<name>", ...
QString freeNameIn(const QString& folder, const QString& name) {
  QString target = folder + QLatin1Char('/') + name;
  for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
    target = folder + QStringLiteral("/%1-%2").arg(n).arg(name);
  return target;
}

bool moveFile(const QString& source, const QString& target) {
  if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0) return true;
  warn(QStringLiteral("FileVersion: cannot move %1 to %2").arg(source, target));
  return false;
}

// The versions folder of `name` made (never through a link); empty when it cannot be.
QString makeVersionsFolder(const QString& root, const QString& name) {
  const QString versions = root + QStringLiteral("/.versions");
  const QString folder = versions + QLatin1Char('/') + name;
  for (const QString& step : {versions, folder}) {
    bool exists;
    if (!isRealFolderOrMissing(step, &exists)) {
      warn(QStringLiteral("FileVersion: %1 is not a folder; conflict copies stay where they are").arg(step));
      return {};
    }
    if (!exists && !QDir().mkdir(step)) {
      warn(QStringLiteral("FileVersion: cannot make %1").arg(step));
      return {};
    }
  }
  return folder;
}

}  // namespace

FileVersion::FileVersion(QString path) : mPath(std::move(path)) {
  bool ok;
  const struct stat st = lstatOf(mPath, &ok);
  if (ok)
    mModificationDate =
        QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000, Qt::UTC);
}

QString FileVersion::versionsFolderOf(const QString& path) {
  const QFileInfo file(path);
  const QString root = QFileInfo(file.absolutePath()).absolutePath();
  return root + QStringLiteral("/.versions/") + file.fileName();
}

std::vector<FileVersionPtr> FileVersion::unresolvedConflictVersionsOfItemAtURL(const QString& path) {
  std::vector<FileVersionPtr> versions;
  const QString folder = versionsFolderOf(path);
  bool exists;
  if (!isRealFolderOrMissing(QFileInfo(folder).absolutePath(), &exists) || !isRealFolderOrMissing(folder, &exists)) {
    warn(QStringLiteral("FileVersion: %1 is not a folder; no versions read").arg(folder));
    return versions;
  }
  if (!exists) return versions;
  const QStringList names =
      QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& name : names) {
    const QString entry = folder + QLatin1Char('/') + name;
    if (!isPlainFile(entry)) {
      warn(QStringLiteral("FileVersion: %1 is not a plain file; ignored").arg(entry));
      continue;
    }
    if (name.endsWith(QLatin1String(kResolvedSuffix))) continue;
    versions.push_back(std::make_shared<FileVersion>(entry));
  }
  return versions;
}

bool FileVersion::removeOtherVersionsOfItemAtURL(const QString& path, QString* error) {
  const QString folder = versionsFolderOf(path);
  bool exists;
  if (!isRealFolderOrMissing(folder, &exists)) {
    if (error) *error = QStringLiteral("%1 is not a folder").arg(folder);
    return false;
  }
  if (!exists) return true;
  bool removedAll = true;
  for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    const QString entry = folder + QLatin1Char('/') + name;
    if (!isPlainFile(entry)) continue;
    QFile file(entry);
    if (!file.remove()) {
      removedAll = false;
      if (error) *error = QStringLiteral("%1: %2").arg(entry, file.errorString());
    }
  }
  QDir().rmdir(folder);  // only when nothing else is left in it
  return removedAll;
}

int FileVersion::collectConflictCopies(const QString& documentsFolder, const QSet<QString>& listed) {
  QStringList copies;
  for (const QString& name : conflictCopiesIn(documentsFolder))
    if (!documentOfConflictCopy(name).isEmpty() && !listed.contains(name)) copies << name;
  const QString root = QFileInfo(documentsFolder).absolutePath();
  const QStringList orphaned = versionsOfMissingDocuments(root, documentsFolder);
  if (copies.isEmpty() && orphaned.isEmpty()) return 0;
  // Another instance's scan may move the same copies: take turns on the folder.
  ProcessLock lock(documentsFolder);
  // Versions whose document is gone are documents again: nothing else would ever show them.
  for (const QString& name : orphaned) restoreVersionsAsDocuments(documentsFolder + QLatin1Char('/') + name);
  int moved = 0;
  for (const QString& name : copies) {
    const QString source = documentsFolder + QLatin1Char('/') + name;
    if (!isPlainFile(source)) continue;  // gone meanwhile, or a link
    // A copy of no document is a document of its own, listed as any other.
    const QString document = documentOfConflictCopy(name);
    if (!isPlainFile(documentsFolder + QLatin1Char('/') + document)) continue;
    const QString folder = makeVersionsFolder(root, document);
    if (!folder.isEmpty() && moveFile(source, freeNameIn(folder, name))) ++moved;
  }
  return moved;
}

QStringList FileVersion::versionsOfMissingDocuments(const QString& root, const QString& documentsFolder) {
  QStringList missing;
  const QString versions = root + QStringLiteral("/.versions");
  bool exists;
  if (!isRealFolderOrMissing(versions, &exists) || !exists) return missing;
  for (const QString& name :
       QDir(versions).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
    if (!name.endsWith(QLatin1String(kDocumentSuffix))) continue;
    const QString document = documentsFolder + QLatin1Char('/') + name;
    if (!QFileInfo::exists(document) && !QFileInfo(document).isSymLink()) missing << name;
  }
  return missing;
}

QStringList FileVersion::restoreVersionsAsDocuments(const QString& path) {
  QStringList restored;
  const QString documents = QFileInfo(path).absolutePath();
  for (const FileVersionPtr& version : unresolvedConflictVersionsOfItemAtURL(path)) {
    const QString name = QFileInfo(version->path()).fileName();
    if (!name.endsWith(QLatin1String(kDocumentSuffix)) || name.startsWith(QLatin1Char('.'))) continue;
    const QString target = freeNameIn(documents, name);
    if (moveFile(version->path(), target)) restored << QFileInfo(target).fileName();
  }
  // What is left did not read when the conflict was settled (an earlier release marked such
  // versions resolved), or is no document: kept beside the documents, never deleted unseen.
  const QString folder = versionsFolderOf(path);
  for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    const QString entry = folder + QLatin1Char('/') + name;
    if (!isPlainFile(entry)) continue;
    QString kept = name.endsWith(QLatin1String(kResolvedSuffix)) ? name.chopped(int(qstrlen(kResolvedSuffix))) : name;
    if (kept.startsWith(QLatin1Char('.'))) kept.remove(0, 1);
    moveFile(entry, freeNameIn(documents, kept + QStringLiteral(".unreadable")));
  }
  QDir().rmdir(folder);  // only when nothing else is left in it
  return restored;
}

bool FileVersion::replaceItemAtURL(const QString& target, QString* error) const {
  QFile version;
  if (!isPlainFile(mPath) || openRegularFile(version, mPath) != RegularFileRead::Read) {
    if (error) *error = QStringLiteral("the version %1 cannot be read").arg(mPath);
    return false;
  }
  if (version.size() > kMaxVersionBytes) {
    if (error) *error = QStringLiteral("the version %1 is too large (%2 bytes)").arg(mPath).arg(version.size());
    return false;
  }
  const QByteArray content = version.readAll();
  if (version.error() != QFileDevice::NoError) {
    if (error) *error = QStringLiteral("%1: %2").arg(mPath, version.errorString());
    return false;
  }
  bool written = false;
  QString reason;
  FileCoordinator coordinator;
  const bool granted = coordinator.coordinateWriting(target, [&](const QString& path) {
    AtomicWriteFailure failure;
    written = writeFileAtomically(QFile::encodeName(path).toStdString(),
                                  std::string_view(content.constData(), size_t(content.size())), {},
                                  &failure) == AtomicWriteResult::Written;
    if (!written) reason = QStringLiteral("%1: %2").arg(path, QString::fromStdString(failure.text()));
  });
  if (!granted) reason = QStringLiteral("%1 cannot be coordinated").arg(target);
  if (!written && error) *error = reason;
  return granted && written;
}

bool FileVersion::remove(QString* error) const {
  QFile file(mPath);
  if (file.remove() || !QFileInfo::exists(mPath)) return true;
  if (error) *error = QStringLiteral("%1: %2").arg(mPath, file.errorString());
  return false;
}

bool FileVersion::setResolved(bool resolved) {
  if (resolved == isResolved()) return true;
  const QString renamed =
      resolved ? mPath + QLatin1String(kResolvedSuffix) : mPath.chopped(int(qstrlen(kResolvedSuffix)));
  if (::rename(QFile::encodeName(mPath).constData(), QFile::encodeName(renamed).constData()) != 0) return false;
  mPath = renamed;
  return true;
}

}  // namespace platform
