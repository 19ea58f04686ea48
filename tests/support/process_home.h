#pragma once
// A home of its own for a program a test or benchmark starts: fresh configuration, data, cache,
// runtime and temporary folders (owner-only) in one temporary folder, and the environment
// that points the child at them on the offscreen platform. Qt Core only.

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace testsupport {

struct ProcessHome {
  QTemporaryDir root;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

  ProcessHome() {
    for (const char* sub : {"config", "data", "cache", "runtime", "tmp"}) {
      QDir().mkpath(root.filePath(sub));
      QFile::setPermissions(root.filePath(sub), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    env.insert("HOME", root.path());
    env.insert("XDG_CONFIG_HOME", root.filePath("config"));
    env.insert("XDG_DATA_HOME", root.filePath("data"));
    env.insert("XDG_CACHE_HOME", root.filePath("cache"));
    env.insert("XDG_RUNTIME_DIR", root.filePath("runtime"));
    env.insert("TMPDIR", root.filePath("tmp"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
  }
};

}  // namespace testsupport
