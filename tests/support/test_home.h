#pragma once
// Points HOME, the XDG folders and the temporary folder at a fresh folder before Qt reads
// them, so no test touches the real home folder; resources come from the source tree
// (ORRERY_RESOURCES_DIR, from the test_resources library).

#include <QDir>
#include <QFile>
#include <QString>

#include <array>
#include <utility>

namespace testsupport {

// The variables that name the standard folders, each with its folder under `root`.
inline std::array<std::pair<const char*, QString>, 6> standardFolderVariables(const QString& root) {
  return {{{"HOME", root},
           {"XDG_CONFIG_HOME", root + "/config"},
           {"XDG_DATA_HOME", root + "/data"},
           {"XDG_CACHE_HOME", root + "/cache"},
           {"XDG_RUNTIME_DIR", root + "/runtime"},
           {"TMPDIR", root + "/tmp"}}};
}

inline bool redirectStandardFolders(const QString& root) {
  for (const auto& [name, path] : standardFolderVariables(root)) {
    if (!QDir().mkpath(path)) return false;
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv(name, path.toUtf8());
  }
#ifdef ORRERY_TEST_RESOURCES_DIR
  qputenv("ORRERY_RESOURCES_DIR", ORRERY_TEST_RESOURCES_DIR);
#endif
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  return true;
}

}  // namespace testsupport
