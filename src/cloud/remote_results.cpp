#include "cloud/remote_results.h"

namespace orrery {

namespace {
QString orNull(const QString& text) { return text.isNull() ? QStringLiteral("(null)") : text; }
}  // namespace

QString Metadata::description() const { return QStringLiteral("{Metadata: %1}").arg(orNull(mPath)); }

QString FileMetadata::description() const {
  return QStringLiteral("{FileMetadata: %1 rev=%2}").arg(orNull(path()), orNull(mRev));
}

QString ListFolderResponse::description() const {
  return QStringLiteral("{ListFolderResponse: result=%1 entries=%2}")
      .arg(mResult)
      .arg(mEntries ? QString::number(mEntries->size()) : QStringLiteral("(null)"));
}

QString RevisionResponse::describe(const char* className) const {
  return QStringLiteral("{%1: result=%2 rev=%3}").arg(QLatin1String(className)).arg(mResult).arg(orNull(mRev));
}

QString DeleteResponse::description() const { return QStringLiteral("{DeleteResponse: result=%1}").arg(mResult); }

QString PeekFileResponse::description() const {
  return QStringLiteral("{PeekFileResponse: success=%1 rev=%2}").arg(mSuccess ? "YES" : "NO", orNull(mRev));
}

}  // namespace orrery
