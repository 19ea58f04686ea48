#include "sdk/core/file_io.h"

#include "sdk/core/console.h"

#include "platform/core/atomic_file.h"
#include "platform/core/regular_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>

namespace telemetry::fileio {

namespace {
void setError(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
}
}  // namespace

std::optional<std::vector<uint8_t>> readFile(const std::string& path, size_t maxBytes) {
  std::vector<uint8_t> bytes;
  std::string why;
  const int64_t cap = maxBytes > size_t(INT64_MAX) ? -1 : int64_t(maxBytes);
  switch (platform::readRegularFile(path, cap, &bytes, &why)) {
    case platform::RegularFileRead::Read: return bytes;
    case platform::RegularFileRead::Refused:
      consoleLog("[Telemetry] Not reading " + path + ": " + why);
      return std::nullopt;
    case platform::RegularFileRead::Missing:
    case platform::RegularFileRead::Failed: return std::nullopt;
  }
  return std::nullopt;
}

bool writeFileAtomically(const std::string& path, const void* bytes, size_t length, std::string* error,
                         bool durable) {
  platform::AtomicWriteOptions options;
  options.mode = 0600;
  options.replaceLink = true;
  options.durable = durable;
  platform::AtomicWriteFailure failure;
  const std::string_view content(static_cast<const char*>(bytes), length);
  if (platform::writeFileAtomically(path, content, options, &failure) == platform::AtomicWriteResult::Written) return true;
  if (error) *error = path + ": " + failure.text();
  return false;
}

std::string lastPathComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const auto slash = trimmed.find_last_of('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

namespace {

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder first, its parents only when it has none: a start that makes a few folders deep in
// an existing tree asks the file system once per new folder, not once per level of the path.
bool makeFolder(const std::string& path, std::string* failed) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  if (errno == EEXIST) {
    if (isDirectory(path)) return true;
    errno = ENOTDIR;
  } else if (errno == ENOENT) {
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && makeFolder(path.substr(0, slash), failed) &&
        (::mkdir(path.c_str(), 0700) == 0 || (errno == EEXIST && isDirectory(path))))
      return true;
    if (!failed->empty()) return false;
  }
  *failed = path;
  return false;
}

}  // namespace

bool createDirectories(const std::string& path, std::string* error) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (isDirectory(folder)) return true;
  std::string failed;
  if (folder.empty() || !makeFolder(folder, &failed)) {
    const int saved = errno;
    setError(error, "cannot create " + (failed.empty() ? path : failed));
    errno = saved;
    return false;
  }
  return true;
}

FileKind kindOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return FileKind::Missing;
  if (S_ISREG(st.st_mode)) return FileKind::Regular;
  if (S_ISDIR(st.st_mode)) return FileKind::Directory;
  return FileKind::Other;
}

bool removeItem(const std::string& path, std::string* error) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  if (ec) {
    if (error) *error = ec.message();
    return false;
  }
  return true;
}

}  // namespace telemetry::fileio
