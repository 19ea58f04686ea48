#include "platform/core/regular_file.h"

#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/types.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Whole texts, so that a signal handler's writer can hand them on without building one.
const char* refusalOfKind(mode_t mode) {
  if (S_ISFIFO(mode)) return "not a regular file (a FIFO)";
  if (S_ISDIR(mode)) return "not a regular file (a folder)";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "not a regular file (a device)";
  if (S_ISSOCK(mode)) return "not a regular file (a socket)";
  if (S_ISLNK(mode)) return "not a regular file (a link)";
  return "not a regular file (of an unknown kind)";
}

constexpr char kOtherNames[] = "not a file of its own (it has other names)";

// What is at `path` is refused unless it is a regular file within `maxBytes`: the reason, or
// an empty string.
std::string refusalOf(const struct stat& st, int64_t maxBytes) {
  if (!S_ISREG(st.st_mode)) return notRegularFileReason(st.st_mode);
  if (maxBytes >= 0 && st.st_size > maxBytes) return "too large (" + std::to_string(int64_t(st.st_size)) + " bytes)";
  return {};
}

int refuse(RegularFileRead result, const std::string& reason, RegularFileRead* answer, std::string* why) {
  if (answer) *answer = result;
  if (why) *why = reason;
  return -1;
}

int failWithErrno(RegularFileRead* answer, std::string* why) {
  const int error = errno;
  return refuse(error == ENOENT ? RegularFileRead::Missing : RegularFileRead::Failed, std::strerror(error), answer,
                why);
}

// openRegularFile, telling the file's size as it was once open.
int openSized(int folder, const std::string& path, int64_t maxBytes, RegularFileRead* answer, std::string* why,
              int64_t* size) {
  // Looked at before the open, so that a device is not even opened.
  struct stat st {};
  if (::fstatat(folder, path.c_str(), &st, 0) != 0) return failWithErrno(answer, why);
  if (const std::string refusal = refusalOf(st, maxBytes); !refusal.empty())
    return refuse(RegularFileRead::Refused, refusal, answer, why);
  // Without waiting, and looked at again once open: the entry may have been replaced meanwhile.
  const int fd = ::openat(folder, path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return failWithErrno(answer, why);
  RegularFileRead result = RegularFileRead::Failed;
  std::string reason;
  if (::fstat(fd, &st) != 0) {
    reason = std::strerror(errno);
  } else if (reason = refusalOf(st, maxBytes); !reason.empty()) {
    result = RegularFileRead::Refused;
  } else if (::fcntl(fd, F_SETFL, 0) == 0) {
    // A regular file it is: its reads may wait for the disk, as any file's do. O_NONBLOCK was
    // the one status flag the open set.
    if (answer) *answer = RegularFileRead::Read;
    if (size) *size = int64_t(st.st_size);
    return fd;
  } else {
    reason = std::strerror(errno);
  }
  ::close(fd);
  return refuse(result, reason, answer, why);
}

template <class Bytes>
class ContainerSink final : public ByteSink {
 public:
  void reserve(int64_t size) override { bytes.reserve(size_t(size)); }
  void append(const char* piece, size_t count) override { bytes.insert(bytes.end(), piece, piece + count); }
  Bytes bytes;
};

template <class Bytes>
RegularFileRead readWhole(const std::string& path, int64_t maxBytes, Bytes* bytes, std::string* why) {
  ContainerSink<Bytes> sink;
  const RegularFileRead answer = readRegularFile(path, maxBytes, sink, why);
  if (answer == RegularFileRead::Read) *bytes = std::move(sink.bytes);
  return answer;
}

}  // namespace

int openRegularFile(const std::string& path, int64_t maxBytes, RegularFileRead* answer, std::string* why) {
  return openSized(AT_FDCWD, path, maxBytes, answer, why, nullptr);
}

RegularFileRead readRegularFile(const std::string& path, int64_t maxBytes, ByteSink& sink, std::string* why,
                                int folder) {
  RegularFileRead answer = RegularFileRead::Read;
  int64_t size = 0;
  const int fd = openSized(folder, path, maxBytes, &answer, why, &size);
  if (fd < 0) return answer;
  int64_t total = 0;
  // Within its cap a file may still be more than the memory left: a failure to read, not an end.
  try {
    sink.reserve(size);
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        if (why) *why = std::strerror(errno);
        answer = RegularFileRead::Failed;
        break;
      }
      if (n == 0) break;
      if (maxBytes >= 0 && total + n > maxBytes) {
        if (why) *why = "grew beyond " + std::to_string(maxBytes) + " bytes while read";
        answer = RegularFileRead::Refused;
        break;
      }
      sink.append(buffer, size_t(n));
      total += n;
    }
  } catch (const std::bad_alloc&) {
    if (why) *why = "not enough memory to read " + std::to_string(size) + " bytes";
    answer = RegularFileRead::Failed;
  }
  ::close(fd);
  return answer;
}

RegularFileRead readRegularFile(const std::string& path, int64_t maxBytes, std::string* bytes, std::string* why) {
  return readWhole(path, maxBytes, bytes, why);
}

RegularFileRead readRegularFile(const std::string& path, int64_t maxBytes, std::vector<uint8_t>* bytes,
                                std::string* why) {
  return readWhole(path, maxBytes, bytes, why);
}

std::string notRegularFileReason(mode_t mode) { return S_ISREG(mode) ? std::string() : refusalOfKind(mode); }

int openRegularFileForWriting(const char* path, int flags, mode_t mode, const char** refusal) {
  if (refusal) *refusal = nullptr;
  // Not emptied yet, and without waiting: a FIFO without a reader would hold the open for good.
  const int fd = ::open(path, (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  struct stat st {};
  if (fd < 0) {
    // A link (ELOOP), a folder (EISDIR), a FIFO or socket nobody reads (ENXIO): said as such.
    const int error = errno;
    if (refusal && error != ENOENT && ::lstat(path, &st) == 0 && !S_ISREG(st.st_mode))
      *refusal = refusalOfKind(st.st_mode);
    errno = error;
    return -1;
  }
  const char* refused = nullptr;
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    refused = refusalOfKind(st.st_mode);
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else if (st.st_nlink > 1) {
    refused = kOtherNames;
    error = EMLINK;
  } else if ((flags & O_TRUNC) && ::ftruncate(fd, 0) != 0) {
    error = errno;
  } else if (const int status = ::fcntl(fd, F_GETFL); status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    error = errno;
  } else {
    return fd;
  }
  ::close(fd);
  if (refusal) *refusal = refused;
  errno = error;
  return -1;
}

int openRegularFileForWriting(const std::string& path, int flags, mode_t mode, std::string* why) {
  const char* refusal = nullptr;
  const int fd = openRegularFileForWriting(path.c_str(), flags, mode, &refusal);
  if (fd < 0 && why) *why = refusal ? refusal : std::strerror(errno);
  return fd;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace platform
