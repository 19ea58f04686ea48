#include "cloud/unreadable_conflict_version.h"

#include "foundation/globals.h"
#include "foundation/logging.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace orrery {

namespace {

QString localized(const char* key, const char* text) {
  return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromUtf8(text));
}

// Slashes and line breaks a sync tool's mark may hold have no place in a file name.
QString fileNamePart(QString text) {
  for (QChar& c : text)
    if (c == QLatin1Char('/') || c == QChar(0) || c.category() == QChar::Other_Control) c = QLatin1Char('_');
  return text.trimmed();
}

}  // namespace

QString unreadableVersionProblem(bool newerFormat) {
  return newerFormat ? localized("ConflictVersion:NeedsNewerVersion", "it needs a newer version of Orrery")
                     : localized("ConflictVersion:Damaged", "it is damaged or incomplete");
}

QString setUnreadableVersionAside(const QString& versionPath, const QString& documentsFolder,
                                  const QString& documentName, const QString& source, bool newerFormat) {
  const QString from = source.isEmpty() ? localized("ConflictVersion:ThisDevice", "this device") : source;
  const QString what = newerFormat ? localized("ConflictVersion:NewerFileTag", "needs a newer Orrery")
                                   : localized("ConflictVersion:DamagedFileTag", "damaged");
  // Not ".orrx": no scan takes it for a document or for a conflict copy of one.
  const QString stem = fileNamePart(QStringLiteral("%1 (%2) - %3").arg(QFileInfo(documentName).completeBaseName(), from, what));
  QString target = documentsFolder + QLatin1Char('/') + stem + QStringLiteral(".unreadable");
  for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
    target = documentsFolder + QStringLiteral("/%1 %2.unreadable").arg(stem).arg(n);
  if (std::rename(QFile::encodeName(versionPath).constData(), QFile::encodeName(target).constData()) != 0) {
    logLine(QStringLiteral("CloudMode: the unreadable version %1 cannot be moved to %2; it stays").arg(versionPath, target));
    return {};
  }
  return QFileInfo(target).fileName();
}

}  // namespace orrery
