#include "app/local_document_windows.h"

#include <QDir>
#include <QFileInfo>

namespace orrery::localwindows {
QString canonicalPath(const QString& path) {
  if (path.isEmpty()) return {};
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
}

QStringList filesOf(const std::vector<QUrl>& windowURLs) {
  QStringList files;
  for (const QUrl& url : windowURLs) {
    if (!url.isLocalFile()) continue;
    const QString path = canonicalPath(url.toLocalFile());
    if (!files.contains(path)) files.append(path);
  }
  return files;
}

QStringList reopenable(const QVariant& stored, const QStringList& skip) {
  if (stored.typeId() != QMetaType::QVariantList && stored.typeId() != QMetaType::QStringList) return {};
  QStringList skipped;
  for (const QString& path : skip) skipped.append(canonicalPath(path));
  QStringList files;
  for (const QVariant& entry : stored.toList()) {
    if (entry.typeId() != QMetaType::QString) continue;
    const QFileInfo info(entry.toString());
    if (entry.toString().isEmpty() || !info.isFile()) continue;
    const QString path = canonicalPath(info.filePath());
    if (!files.contains(path) && !skipped.contains(path)) files.append(path);
  }
  return files;
}

}  // namespace orrery::localwindows
