#pragma once
// Start-up for fuzz targets that use Qt: a fresh home folder (no run touches the real one) and an
// offscreen application object, made once per process. Including this header defines the
// target's LLVMFuzzerInitialize.

#include "support/test_home.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdlib>

namespace fuzzsupport {

inline void startQt(int* argc, char*** argv) {
  static QTemporaryDir* home = new QTemporaryDir();
  if (!home->isValid() || !testsupport::redirectStandardFolders(home->path())) std::abort();
  static QGuiApplication* app = new QGuiApplication(*argc, *argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");
  (void)app;
}

// A folder of the fresh home for files a target writes.
inline const QTemporaryDir& scratchFolder() {
  static QTemporaryDir* folder = new QTemporaryDir();
  return *folder;
}

}  // namespace fuzzsupport

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzzsupport::startQt(argc, argv);
  return 0;
}
