#include "platform/services/resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace platform {

QStringList resourceFolders() {
  QStringList candidates;
  const QString named = qEnvironmentVariable("ORRERY_RESOURCES_DIR");
  if (!named.isEmpty()) candidates << named;
  if (QCoreApplication::instance()) {
    const QString appDir = QCoreApplication::applicationDirPath();
    candidates << appDir + QStringLiteral("/resources") << appDir + QStringLiteral("/../share/orrery");
  }
#ifdef ORRERY_INSTALL_RESOURCES_DIR
  candidates << QStringLiteral(ORRERY_INSTALL_RESOURCES_DIR);
#endif
  QStringList folders;
  for (const QString& c : candidates) {
    const QString clean = QDir::cleanPath(c);
    if (QFileInfo(clean).isDir() && !folders.contains(clean)) folders << clean;
  }
  return folders;
}

QString pathForResource(const QString& name, const QString& type) {
  if (name.isEmpty()) return {};
  const QString fileName = type.isEmpty() ? name : name + QLatin1Char('.') + type;
  for (const QString& folder : resourceFolders()) {
    QFileInfo info(QDir(folder).filePath(fileName));
    if (info.isFile()) return info.absoluteFilePath();
  }
  return {};
}

}  // namespace platform
