#include "test_home.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  static QTemporaryDir home;
  if (!home.isValid() || !testsupport::redirectStandardFolders(home.path())) return 2;
  QGuiApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
