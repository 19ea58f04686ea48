#include "sdk/analytics/ana_file_utils.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/core/atomic_file.h"
#include "sdk/analytics/ana_logger.h"

namespace telemetry {

std::set<std::string> ANAFileUtils::allFilesInDirectory(const std::string& directory) {
  std::set<std::string> files;
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) {
    ANALogger::sharedLogger().log("Unable to read contents of %s: %s", directory.c_str(), std::strerror(errno));
    return files;
  }
  while (dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    files.insert(directory + "/" + entry->d_name);
  }
  ::closedir(dir);
  return files;
}

std::set<std::string> ANAFileUtils::filesWithExtension(const std::string& extension, const std::string& directory) {
  std::set<std::string> matching;
  for (const auto& path : allFilesInDirectory(directory))
    if (pathExtension(path) == extension) matching.insert(path);
  return matching;
}

off_t ANAFileUtils::wholeLinesLength(int fd, off_t size) {
  char last = '\n';
  if (size == 0 || (::pread(fd, &last, 1, size - 1) == 1 && last == '\n')) return size;
  char buffer[4096];
  off_t end = size;
  while (end > 0) {
    const off_t start = end > static_cast<off_t>(sizeof buffer) ? end - static_cast<off_t>(sizeof buffer) : 0;
    const ssize_t n = ::pread(fd, buffer, static_cast<size_t>(end - start), start);
    if (n != end - start) return size;
    for (ssize_t i = n - 1; i >= 0; --i)
      if (buffer[i] == '\n') return start + i + 1;
    end = start;
  }
  return 0;
}

uint64_t ANAFileUtils::fileSizeAtURL(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

ANAFileUtils::Time ANAFileUtils::fileCreatedDateAtURL(const std::string& path, Time fallback) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return fallback;
  return Time(std::chrono::duration_cast<Time::duration>(std::chrono::seconds(st.st_mtim.tv_sec) +
                                                         std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
}

bool ANAFileUtils::writeStageFile(const std::string& path,
                                  const std::function<bool(const std::string& temporaryPath)>& write) {
  platform::AtomicWriteOptions options;
  options.stagingName = lastPathComponent(temporaryPathFor(path));
  options.replaceLink = true;
  return platform::writeFileAtomicallyAtPath(path, write, options) == platform::AtomicWriteResult::Written;
}

std::string ANAFileUtils::lastPathComponent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ANAFileUtils::deletingLastPathComponent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string ANAFileUtils::pathExtension(const std::string& path) {
  std::string name = lastPathComponent(path);
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return std::string();
  return name.substr(dot + 1);
}

std::string ANAFileUtils::baseName(const std::string& path) {
  std::string name = lastPathComponent(path);
  std::string extension = pathExtension(path);
  return extension.empty() && (name.empty() || name.back() != '.') ? name
                                                                   : name.substr(0, name.size() - extension.size() - 1);
}

std::string ANAFileUtils::replacingPathExtension(const std::string& path, const std::string& extension) {
  std::string folder = deletingLastPathComponent(path);
  std::string name = baseName(path) + "." + extension;
  if (folder.empty()) return name;
  return folder == "/" ? "/" + name : folder + "/" + name;
}

}  // namespace telemetry
