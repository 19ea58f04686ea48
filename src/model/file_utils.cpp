#include "model/file_utils.h"

#include "foundation/logging.h"
#include "platform/core/dispatch.h"
#include "platform/services/standard_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <filesystem>
#include <vector>

namespace orrery {

namespace fs = std::filesystem;

namespace {

QString newUuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

QString scratchFolderIn(const QString& base) {
  return base.isEmpty() ? QString() : QDir(base).filePath(QStringLiteral("orrery_temp"));
}

}  // namespace

QString FileUtil::uniqueOrrerySession() {
  static const QString session = newUuid();
  return session;
}

QString FileUtil::temporaryDirectoryForOrrery() { return scratchFolderIn(platform::privateTemporaryFolder()); }

QString FileUtil::temporaryDirectoryForFile() {
  const QString scratch = temporaryDirectoryForOrrery();
  if (scratch.isEmpty()) return {};
  return createDirectory(uniqueOrrerySession() + QLatin1Char('/') + newUuid(), scratch);
}

QString FileUtil::createDirectory(const QString& name, const QString& folder) {
  if (folder.isEmpty()) return {};
  const QString path = QDir(folder).filePath(name);
  if (!QDir().mkpath(path) || !QFileInfo(path).isDir()) return {};
  return path;
}

void FileUtil::cleanTemporaryFilesDuringStartup(std::function<void()> done) {
  std::vector<fs::path> entries;
  // Only looked in: a start that needs no scratch folder makes none.
  const QString scratch = scratchFolderIn(platform::existingPrivateTemporaryFolder());
  std::error_code ec;
  const fs::path root(QFile::encodeName(scratch).toStdString());
  // A link standing in for the scratch folder itself is not entered either.
  if (!scratch.isEmpty() && fs::is_directory(fs::symlink_status(root, ec))) {
    const std::string current = QFile::encodeName(uniqueOrrerySession()).toStdString();
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.empty() || name[0] == '.' || name == current) continue;
      entries.push_back(it->path());
    }
  }
  platform::globalQueue(platform::QueuePriority::Default).async([entries = std::move(entries), done = std::move(done)] {
    for (const fs::path& entry : entries) {
      try {
        std::error_code removeError;  // errors of the removal itself are ignored
        fs::remove_all(entry, removeError);
      } catch (const std::exception& e) {
        logLine(QString::fromLocal8Bit(e.what()));
      }
    }
    if (done) done();
  });
}

}  // namespace orrery
