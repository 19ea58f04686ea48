#include "app/early_environment.h"

#include "platform/services/runtime_folder.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace orrery {

namespace {

constexpr const char* kFolderVariables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                            "XDG_STATE_HOME",  "XDG_RUNTIME_DIR"};
constexpr const char* kFolderListVariables[] = {"XDG_DATA_DIRS", "XDG_CONFIG_DIRS"};

void dropRelativeFolder(const char* variable) {
  if (qEnvironmentVariableIsSet(variable) && !QDir::isAbsolutePath(qEnvironmentVariable(variable)))
    qunsetenv(variable);
}

void dropRelativeFoldersOfList(const char* variable) {
  if (!qEnvironmentVariableIsSet(variable)) return;
  const QStringList folders = qEnvironmentVariable(variable).split(QLatin1Char(':'));
  QStringList kept;
  for (const QString& folder : folders)
    if (QDir::isAbsolutePath(folder)) kept.append(folder);
  if (kept == folders) return;
  if (kept.isEmpty())
    qunsetenv(variable);
  else
    qputenv(variable, QFile::encodeName(kept.join(QLatin1Char(':'))));
}

}  // namespace

QString prepareEnvironmentBeforeApplication() {
  const QString home = qEnvironmentVariable("HOME");
  if (!home.isEmpty() && !QDir::isAbsolutePath(home))
    return QStringLiteral("HOME is \"%1\", not a full path: set it to the full path of your home folder").arg(home);
  for (const char* variable : kFolderVariables) dropRelativeFolder(variable);
  for (const char* variable : kFolderListVariables) dropRelativeFoldersOfList(variable);
  // Without a runtime folder of this user's own, Qt falls back to a folder of its own, or uses
  // one others may enter, with a warning; ours is the one the single-instance lock already uses.
  const QString runtime = platform::runtimeFolder();
  if (!runtime.isEmpty() && runtime != qEnvironmentVariable("XDG_RUNTIME_DIR"))
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
  return {};
}

}  // namespace orrery
