#include "app/qt_platform_plugins.h"

#include "app/command_line.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPluginLoader>

namespace orrery {

namespace {

// Where Qt looks for a platform plugin: the folder -platformpluginpath or
// QT_QPA_PLATFORM_PLUGIN_PATH names, then "platforms" under QT_PLUGIN_PATH's folders, Qt's own
// plugin folder and the program's folder.
QStringList platformPluginFolders(const QStringList& arguments) {
  QStringList folders;
  QString named = qtOptionValue(arguments, QStringLiteral("-platformpluginpath"));
  if (named.isEmpty()) named = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
  if (!named.isEmpty()) folders.append(named);
  QStringList libraryFolders = qEnvironmentVariable("QT_PLUGIN_PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts);
  libraryFolders.append(QLibraryInfo::path(QLibraryInfo::PluginsPath));
  libraryFolders.append(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath());
  for (const QString& folder : libraryFolders) folders.append(QDir(folder).filePath(QStringLiteral("platforms")));
  folders.removeDuplicates();
  return folders;
}

}  // namespace

QtPlatformPlugins::QtPlatformPlugins(const QStringList& arguments) {
  for (const QString& folder : platformPluginFolders(arguments))
    if (QFileInfo(folder).isDir()) mFolders.append(folder);
}

bool QtPlatformPlugins::has(const QString& platform) {
  const QString name = platform.toLower();
  const QString usualFile = QStringLiteral("libq%1.so").arg(name);
  for (const QString& folder : mFolders)
    if (QFileInfo::exists(QDir(folder).filePath(usualFile))) return true;
  return platforms().contains(name);
}

const QStringList& QtPlatformPlugins::platforms() {
  if (mRead) return mPlatforms;
  mRead = true;
  for (const QString& folder : mFolders) {
    for (const QFileInfo& file : QDir(folder).entryInfoList({QStringLiteral("*.so")}, QDir::Files)) {
      const QJsonObject metaData = QPluginLoader(file.filePath()).metaData();
      const QString interfaceId = metaData.value(QLatin1String("IID")).toString();
      if (!interfaceId.contains(QLatin1String("QPlatformIntegrationFactoryInterface"))) continue;
      const QJsonObject own = metaData.value(QLatin1String("MetaData")).toObject();
      for (const QJsonValue key : own.value(QLatin1String("Keys")).toArray())
        mPlatforms.append(key.toString().toLower());
    }
  }
  mPlatforms.removeDuplicates();
  mPlatforms.sort();
  return mPlatforms;
}

}  // namespace orrery
