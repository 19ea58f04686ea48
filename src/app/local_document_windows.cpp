#include "app/local_document_windows.h"

#include "foundation/dictionary_extensions.h"

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

QVariantMap framesOf(const std::vector<std::pair<QUrl, QRectF>>& windows, const QVariantMap& kept) {
  QVariantMap frames = kept;
  for (const auto& [url, frame] : windows) {
    if (!url.isLocalFile() || frame.isEmpty()) continue;
    dictext::setRect(frames, frame, canonicalPath(url.toLocalFile()));
  }
  return frames;
}

std::optional<QRectF> storedFrame(const QVariant& stored, const QString& path) {
  if (stored.typeId() != QMetaType::QVariantMap) return std::nullopt;
  const QVariant entry = stored.toMap().value(canonicalPath(path));
  if (entry.typeId() != QMetaType::QString) return std::nullopt;
  const QRectF frame = dictext::rectFromString(entry.toString());
  if (frame.isEmpty()) return std::nullopt;
  return frame;
}

}  // namespace orrery::localwindows
