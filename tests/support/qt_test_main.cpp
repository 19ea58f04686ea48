#include "test_home.h"

#include "platform/core/quit_waiters.h"

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
  const int result = RUN_ALL_TESTS();
  // As the application's quit does: background drawing ends before the process does, so no
  // worker is mid-task while the process (and the leak check) tears down.
  platform::runQuitWaiters();
  return result;
}
