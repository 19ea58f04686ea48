#include "platform/core/atomic_file.h"
#include "platform/core/writes_under_way.h"

#include "platform/core/regular_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

namespace platform {

namespace {

constexpr int kMaxLinkHops = 40;  // the kernel's own limit for a path walk

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : mFd(fd) {}
  ~Descriptor() {
    if (mFd >= 0) ::close(mFd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return mFd; }
  // Closes now; false (errno set) when the close reports a deferred write error.
  bool close() {
    const int fd = mFd;
    mFd = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int mFd;
};

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string randomSuffix() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  uint64_t value = generator();
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % 36]);
    value /= 36;
  } while (value != 0);
  return text;
}

std::string defaultStagingPath(const std::string& folder, const std::string& name) {
  return folder + "/" + defaultStagingPrefix(name) + std::to_string(::getpid()) + "-" + randomSuffix();
}

// Moves `from` to `to` unless `to` exists; errno is EEXIST when it did.
bool renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the flag: a hard link is just as exclusive.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

void syncFolder(const std::string& folder) {
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

// The mode to set explicitly, if any: the caller's, else the replaced file's. A new file
// without either keeps what creation under the umask gave it.
std::optional<mode_t> modeFor(const std::string& target, const AtomicWriteOptions& options) {
  if (options.mode) return options.mode;
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) return existing.st_mode & 07777;
  return std::nullopt;
}

class Writer {
 public:
  Writer(const std::string& path, const AtomicWriteOptions& options, AtomicWriteFailure* failure)
      : mPath(path), mOptions(options), mFailure(failure) {}

  AtomicWriteResult write(const AtomicFill* fill, const AtomicFillAtPath* fillAtPath) {
    const WriteUnderWay underWay;  // a quit that cannot wait for the main loop waits for this
    struct stat named {};
    if (mOptions.exclusive && ::lstat(mPath.c_str(), &named) == 0) return AtomicWriteResult::AlreadyExists;
    mTarget = mOptions.replaceLink ? mPath : resolveWriteTarget(mPath);
    if (mTarget.empty()) return failAt("following the link", ELOOP);
    // The rename would put the file in place of a device or a FIFO the link leads to (as root,
    // /dev/null itself).
    if (struct stat st {}; mTarget != mPath && ::lstat(mTarget.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
      return failAt("following the link", S_ISDIR(st.st_mode) ? EISDIR : EINVAL, notRegularFileReason(st.st_mode));
    mFolder = folderOf(mTarget);
    mMode = modeFor(mTarget, mOptions);

    const bool staged = fillAtPath ? stageAtPath(*fillAtPath) : stageThrough(*fill);
    if (!staged) {
      const int error = errno;
      if (!mStaging.empty()) ::unlink(mStaging.c_str());
      return failAt("writing the new content", error);
    }
    const bool moved = mOptions.exclusive ? renameNoReplace(mStaging, mTarget)
                                          : ::rename(mStaging.c_str(), mTarget.c_str()) == 0;
    if (!moved) {
      const int error = errno;
      ::unlink(mStaging.c_str());
      if (mOptions.exclusive && error == EEXIST) return AtomicWriteResult::AlreadyExists;
      return failAt("replacing the old file", error);
    }
    if (mOptions.durable) syncFolder(mFolder);
    return AtomicWriteResult::Written;
  }

 private:
  AtomicWriteResult failAt(const char* step, int error, std::string refusal = {}) {
    if (mFailure) *mFailure = AtomicWriteFailure{step, error, std::move(refusal)};
    errno = error;
    return AtomicWriteResult::Failed;
  }

  bool applyMode(int fd) const { return !mMode || ::fchmod(fd, *mMode) == 0; }
  bool sync(int fd) const { return !mOptions.durable || ::fsync(fd) == 0; }

  // Creates the named staging file exclusively; its descriptor, or -1 with errno set.
  int createNamed() {
    if (!mOptions.stagingName.empty()) {
      mStaging = mFolder + "/" + mOptions.stagingName;
      ::unlink(mStaging.c_str());  // a killed writer's leftover
    } else {
      mStaging = defaultStagingPath(mFolder, nameOf(mTarget));
    }
    const int fd = ::open(mStaging.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) mStaging.clear();  // not ours: never remove it
    return fd;
  }

  bool stageThrough(const AtomicFill& fill) {
    if (mOptions.stagingName.empty()) {
      // Unnamed while written, so that a writer killed meanwhile leaves nothing behind.
      Descriptor file(::open(mFolder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
      if (file.get() >= 0) {
        if (!applyMode(file.get()) || !fill(file.get()) || !sync(file.get())) return false;
        const std::string staging = defaultStagingPath(mFolder, nameOf(mTarget));
        const std::string procPath = "/proc/self/fd/" + std::to_string(file.get());
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, staging.c_str(), AT_SYMLINK_FOLLOW) != 0) return false;
        mStaging = staging;
        return file.close();
      }
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    }
    Descriptor file(createNamed());
    if (file.get() < 0) return false;
    return applyMode(file.get()) && fill(file.get()) && sync(file.get()) && file.close();
  }

  bool stageAtPath(const AtomicFillAtPath& fill) {
    {
      Descriptor file(createNamed());
      if (file.get() < 0 || !applyMode(file.get()) || !file.close()) return false;
    }
    errno = EIO;  // a filler that fails without saying why
    if (!fill(mStaging)) return false;
    Descriptor written(::open(mStaging.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return written.get() >= 0 && sync(written.get()) && written.close();
  }

  const std::string& mPath;
  const AtomicWriteOptions& mOptions;
  AtomicWriteFailure* mFailure;
  std::string mTarget;
  std::string mFolder;
  std::string mStaging;
  std::optional<mode_t> mMode;
};

}  // namespace

std::string AtomicWriteFailure::reason() const { return refusal.empty() ? std::strerror(error) : refusal; }

std::string AtomicWriteFailure::text() const { return step + ": " + reason(); }

std::string defaultStagingPrefix(const std::string& fileName) { return "." + fileName + ".orrery-save-"; }

bool writeAllBytes(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    left -= size_t(n);
  }
  return true;
}

std::string resolveWriteTarget(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
    if (length <= 0) return current;
    const std::string link(buffer, size_t(length));
    current = link.front() == '/' ? link : folderOf(current) + "/" + link;
  }
  return {};  // a loop of links
}

bool syncToDisk(const std::string& path) {
  const std::string target = resolveWriteTarget(path);
  if (target.empty()) {
    errno = ELOOP;
    return false;
  }
  // Without waiting: a FIFO in the file's place would hold the open until a writer comes.
  Descriptor file(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0 || ::fsync(file.get()) != 0) return false;
  syncFolder(folderOf(target));
  return file.close();
}

AtomicWriteResult writeFileAtomically(const std::string& path, std::string_view bytes,
                                      const AtomicWriteOptions& options, AtomicWriteFailure* failure) {
  return writeFileAtomically(path, [bytes](int fd) { return writeAllBytes(fd, bytes); }, options, failure);
}

AtomicWriteResult writeFileAtomically(const std::string& path, const AtomicFill& fill,
                                      const AtomicWriteOptions& options, AtomicWriteFailure* failure) {
  return Writer(path, options, failure).write(&fill, nullptr);
}

AtomicWriteResult writeFileAtomicallyAtPath(const std::string& path, const AtomicFillAtPath& fill,
                                            const AtomicWriteOptions& options, AtomicWriteFailure* failure) {
  return Writer(path, options, failure).write(nullptr, &fill);
}

}  // namespace platform
