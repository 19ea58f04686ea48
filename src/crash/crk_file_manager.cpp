#include "crash/crk_file_manager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "crash/crk_internal_report.h"
#include "crash/crk_user_logging.h"
#include "platform/core/regular_file.h"
#include "sdk/core/file_io.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/main_bundle.h"

namespace telemetry {

namespace {

constexpr const char* kLiveLockName = ".live.lock";

std::string extensionOf(const std::string& name) {
  auto dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

}  // namespace

CRKFileManager::CRKFileManager() : mRootPath(defaultRootPath()) {}

CRKFileManager::CRKFileManager(std::string rootPath) : mRootPath(std::move(rootPath)) {}

std::string CRKFileManager::defaultRootPath() {
  std::string root = paths::join(paths::cachesDirectory(), std::string(kSDKIdentifierPrefix) + ".data");
  std::string bundle = MainBundle::shared().bundleIdentifier().value_or("");
  std::replace(bundle.begin(), bundle.end(), '/', '_');
  return bundle.empty() ? root : paths::join(root, bundle);
}

std::string CRKFileManager::structurePath() const { return paths::join(mRootPath, "v3"); }
std::string CRKFileManager::launchMarkerPath() const { return paths::join(structurePath(), "launchmarker"); }
std::string CRKFileManager::activePath() const { return paths::join(structurePath(), "active"); }
std::string CRKFileManager::pendingPath() const { return paths::join(structurePath(), "pending"); }
std::string CRKFileManager::processingPath() const { return paths::join(structurePath(), "processing"); }
std::string CRKFileManager::preparedPath() const { return paths::join(structurePath(), "prepared"); }
std::string CRKFileManager::quarantinePath() const { return paths::join(structurePath(), "quarantine"); }

bool CRKFileManager::createDirectoryAtPath(const std::string& path) const {
  std::string error;
  if (fileio::createDirectories(path, &error)) return true;
  CRKLogToConsole("[FileManager] Unable to create directory %s: %s", path.c_str(), error.c_str());
  return false;
}

bool CRKFileManager::removeItemAtPath(const std::string& path) const {
  std::string error;
  if (fileio::removeItem(path, &error)) return true;
  CRKLogToConsole("[FileManager] Failed to remove file '%s' : %s", path.c_str(), error.c_str());
  return false;
}

bool CRKFileManager::removeContentsOfDirectoryAtPath(const std::string& path) const {
  bool all = true;
  for (const auto& entry : contentsOfDirectory(path)) all = removeItemAtPath(entry) && all;
  return all;
}

bool CRKFileManager::moveItemAtPath(const std::string& path, const std::string& directory) const {
  if (path.empty() || directory.empty() || fileio::kindOf(path) == fileio::FileKind::Missing ||
      fileio::kindOf(directory) != fileio::FileKind::Directory) {
    CRKLogToConsole("[FileManager] Failed to move file, inputs invalid");
    return false;
  }
  std::string target = paths::join(directory, fileio::lastPathComponent(path));
  if (::rename(path.c_str(), target.c_str()) == 0) return true;
  CRKLogToConsole("[FileManager] Failed to move file: %s", std::strerror(errno));
  return false;
}

bool CRKFileManager::moveItemsFromDirectory(const std::string& from, const std::string& to) const {
  for (const auto& entry : contentsOfDirectory(from))
    if (!moveItemAtPath(entry, to)) return false;
  return true;
}

void CRKFileManager::enumerateFilesInDirectory(const std::string& directory, const FileBlock& block) const {
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const auto& name : names) block(paths::join(directory, name), extensionOf(name));
}

std::vector<std::string> CRKFileManager::contentsOfDirectory(const std::string& directory) const {
  std::vector<std::string> result;
  enumerateFilesInDirectory(directory, [&](const std::string& path, const std::string&) { result.push_back(path); });
  return result;
}

std::optional<uint64_t> CRKFileManager::fileSizeAtPath(const std::string& path) const {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    CRKLogToConsole("[Client] Unable to read file size: %s", std::strerror(errno));
    return std::nullopt;
  }
  return static_cast<uint64_t>(info.st_size);
}

bool CRKFileManager::prepareForNewLaunch() const {
  return createDirectoryAtPath(activePath()) && createDirectoryAtPath(processingPath()) &&
         createDirectoryAtPath(preparedPath());
}

std::optional<std::string> CRKFileManager::setupNewPathForExecutionIdentifier(const std::string& identifier) const {
  if (identifier.empty()) return std::nullopt;
  std::string path = paths::join(activePath(), identifier);
  if (!createDirectoryAtPath(path)) return std::nullopt;
  return path;
}

void CRKFileManager::removeLegacyDirectories() const {
  if (fileio::kindOf(paths::join(mRootPath, "sendable")) == fileio::FileKind::Missing) return;
  std::string error;
  if (!fileio::removeItem(mRootPath, &error)) {
    CRKLogToConsole("[CrashKit:FileManager] Unable to remove legacy directory structure %s", error.c_str());
    return;
  }
  CRKLogToConsole("[CrashKit:FileManager] Removed legacy structure at %s", mRootPath.c_str());
}

void CRKFileManager::enumerateReportsInProcessingDirectory(const ReportBlock& block) const {
  enumerateFilesInDirectory(processingPath(), [&](const std::string& path, const std::string&) {
    block(CRKInternalReport::reportWithPath(path), path);
  });
}

void CRKFileManager::enumerateFilesInActiveDirectory(const FileBlock& block) const {
  enumerateFilesInDirectory(activePath(), block);
}

void CRKFileManager::enumerateFilesInPreparedDirectory(const FileBlock& block) const {
  enumerateFilesInDirectory(preparedPath(), block);
}

bool CRKFileManager::movePendingToProcessing() const { return moveItemsFromDirectory(pendingPath(), processingPath()); }

bool CRKFileManager::moveProcessingContentsToPrepared() const {
  return moveItemsFromDirectory(processingPath(), preparedPath());
}

bool CRKFileManager::removeContentsOfProcessingPath() const { return removeContentsOfDirectoryAtPath(processingPath()); }

bool CRKFileManager::removeContentsOfPendingPath() const { return removeContentsOfDirectoryAtPath(pendingPath()); }

bool CRKFileManager::removeContentsOfAllPaths() const {
  bool all = removeContentsOfDirectoryAtPath(processingPath());
  all = removeContentsOfDirectoryAtPath(pendingPath()) && all;
  all = removeContentsOfDirectoryAtPath(preparedPath()) && all;
  // Hidden retry counters beside the packages go with them.
  for (const auto& folder : {preparedPath(), quarantinePath()}) {
    if (DIR* dir = ::opendir(folder.c_str())) {
      while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] == '.' && std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
          ::unlink(paths::join(folder, entry->d_name).c_str());
      ::closedir(dir);
    }
  }
  all = removeContentsOfDirectoryAtPath(activePath()) && all;
  all = removeContentsOfDirectoryAtPath(quarantinePath()) && all;
  return all;
}

int CRKFileManager::lockReportFolder(const std::string& folder) {
  // Only a lock file of its own: a link there is never written through.
  const std::string path = paths::join(folder, kLiveLockName);
  const char* refusal = nullptr;
  const int fd = platform::openRegularFileForWriting(path.c_str(), O_RDWR | O_CREAT, 0600, &refusal);
  if (fd < 0) {
    CRKLogToConsole("[FileManager] Unable to lock %s: %s", path.c_str(), refusal ? refusal : std::strerror(errno));
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool CRKFileManager::isReportFolderLive(const std::string& folder) {
  // Only the lock file a live run made: anything else at its name is no sign of life.
  const int fd = platform::openRegularFile(paths::join(folder, kLiveLockName), /*maxBytes=*/-1);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace telemetry
