#pragma once
// A fresh home for programs a test or benchmark starts: their standard folders (private, as
// the runtime folder must be) under one temporary folder, the offscreen platform, the source
// tree's resources when the starter was built with them. Nothing here touches the starter's
// own environment.

#include "test_home.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <memory>

namespace testsupport {

struct ProcessHome {
  QTemporaryDir root;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  // Quiet programs write nowhere (benchmarks); others pass their error output on (tests).
  bool quiet = false;

  ProcessHome() {
    for (const auto& [name, path] : standardFolderVariables(root.path())) {
      QDir().mkpath(path);
      QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      env.insert(QString::fromLatin1(name), path);
    }
    env.insert("QT_QPA_PLATFORM", "offscreen");
  }

  QString runtime() const { return root.filePath("runtime"); }
  // The program's user defaults file.
  QString defaultsFile() const { return root.filePath("config/Orrery/Orrery/defaults.dat"); }

  // Starts `program` in this home; `workingFolder` empty keeps the starter's.
  std::unique_ptr<QProcess> start(const QString& program, const QStringList& arguments,
                                  const QString& workingFolder = {}) const {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(env);
    if (quiet) {
      p->setStandardOutputFile(QProcess::nullDevice());
      p->setStandardErrorFile(QProcess::nullDevice());
    } else {
      p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    if (!workingFolder.isEmpty()) p->setWorkingDirectory(workingFolder);
    p->start(program, arguments);
    p->waitForStarted(10000);
    return p;
  }
};

}  // namespace testsupport
