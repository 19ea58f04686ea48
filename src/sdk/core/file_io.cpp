#include "sdk/core/file_io.h"

#include "platform/core/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace telemetry::fileio {

namespace {
void setError(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
}
}  // namespace

std::optional<std::vector<uint8_t>> readFile(const std::string& path, size_t maxBytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > maxBytes) {  // grew while being read
      ::close(fd);
      return std::nullopt;
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  return bytes;
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

bool createDirectories(const std::string& path, std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return true;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      setError(error, "cannot create " + partial);
      return false;
    }
  }
  if (!std::filesystem::is_directory(path, ec)) {
    errno = ENOTDIR;
    setError(error, "cannot create " + path);
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
