#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

// Points every standard folder at a fresh temporary folder before Qt reads them, so no
// test touches the real home folder.
int main(int argc, char** argv) {
  static QTemporaryDir home;
  if (!home.isValid()) return 2;
  const QByteArray root = home.path().toUtf8();
  setenv("HOME", root.constData(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
  setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/runtime").constData(), 1);
  setenv("TMPDIR", (root + "/tmp").constData(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  for (const char* sub : {"/config", "/data", "/cache", "/runtime", "/tmp"}) {
    std::string path = std::string(root.constData()) + sub;
    std::string cmd = "mkdir -p -m 700 '" + path + "'";
    if (std::system(cmd.c_str()) != 0) return 2;
  }
  QGuiApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
