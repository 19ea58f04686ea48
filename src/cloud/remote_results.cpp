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

QString UploadResponse::description() const {
  return QStringLiteral("{UploadResponse: result=%1 rev=%2}").arg(mResult).arg(orNull(mRev));
}

QString DownloadResponse::description() const {
  return QStringLiteral("{DownloadResponse: result=%1 rev=%2}").arg(mResult).arg(orNull(mRev));
}

QString DeleteResponse::description() const { return QStringLiteral("{DeleteResponse: result=%1}").arg(mResult); }

QString PeekFileResponse::description() const {
  return QStringLiteral("{PeekFileResponse: success=%1 rev=%2}").arg(mSuccess ? "YES" : "NO", orNull(mRev));
}

}  // namespace orrery
