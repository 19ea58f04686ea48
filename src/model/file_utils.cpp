#include "model/file_utils.h"

#include "foundation/logging.h"
#include "platform/core/dispatch.h"
#include "platform/services/standard_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <chrono>
#include <filesystem>
#include <optional>
#include <vector>

#include <sys/stat.h>

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

namespace {

// Removes each entry with everything below it (a link, not what it points to), then runs `done`.
void removeEntries(const std::vector<fs::path>& entries, const std::function<void()>& done) {
  for (const fs::path& entry : entries) {
    try {
      std::error_code removeError;  // errors of the removal itself are ignored
      fs::remove_all(entry, removeError);
    } catch (const std::exception& e) {
      logLine(QString::fromLocal8Bit(e.what()));
    }
  }
  if (done) done();
}

// The path of a folder when it is a real folder, not a link standing in for one.
std::optional<fs::path> realFolder(const QString& folder) {
  std::error_code ec;
  const fs::path path(QFile::encodeName(folder).toStdString());
  if (folder.isEmpty() || !fs::is_directory(fs::symlink_status(path, ec))) return std::nullopt;
  return path;
}

}  // namespace

void FileUtil::cleanTemporaryFilesDuringStartup(std::function<void()> done) {
  std::vector<fs::path> entries;
  // Only looked in: a start that needs no scratch folder makes none.
  if (const auto root = realFolder(scratchFolderIn(platform::existingPrivateTemporaryFolder()))) {
    const std::string current = QFile::encodeName(uniqueOrrerySession()).toStdString();
    std::error_code ec;
    for (fs::directory_iterator it(*root, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.empty() || name[0] == '.' || name == current) continue;
      entries.push_back(it->path());
    }
  }
  platform::globalQueue(platform::QueuePriority::Default).async(
      [entries = std::move(entries), done = std::move(done)] { removeEntries(entries, done); });
}

QString FileUtil::handOffDirectory() {
  const QString caches = platform::cachesFolder();
  return caches.isEmpty() ? QString() : QDir(caches).filePath(QStringLiteral("mail"));
}

QString FileUtil::handOffDirectoryForFile() {
  const QString root = handOffDirectory();
  if (root.isEmpty() || !QDir().mkpath(QFileInfo(root).absolutePath()) || !platform::ensurePrivateFolder(root))
    return {};
  return createDirectory(newUuid(), root);
}

void FileUtil::cleanHandOffFilesDuringStartup(std::function<void()> done) {
  platform::globalQueue(platform::QueuePriority::Default).async([root = handOffDirectory(), done = std::move(done)] {
    std::vector<fs::path> entries;
    if (const auto folder = realFolder(root)) {
      const auto now = std::chrono::system_clock::now();
      std::error_code ec;
      for (fs::directory_iterator it(*folder, ec), end; !ec && it != end; it.increment(ec)) {
        // The entry's own time: a link's, not its target's.
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0) continue;
        const auto changed = std::chrono::system_clock::from_time_t(st.st_mtime);
        if (now - changed > kHandOffKeptFor) entries.push_back(it->path());
      }
    }
    removeEntries(entries, done);
  });
}

}  // namespace orrery
