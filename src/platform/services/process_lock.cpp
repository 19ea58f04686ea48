#include "platform/services/process_lock.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

ProcessLock::ProcessLock(const QString& path, std::chrono::milliseconds patience) {
  const QByteArray native = QFile::encodeName(path);
  // Opened without waiting: a FIFO put at the path must not hold the writer.
  int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    mFailure = errno;
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + patience;
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      mFd = fd;
      mFailure = 0;
      return;
    }
    mFailure = errno == EINTR ? EWOULDBLOCK : errno;
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
  ::close(fd);
}

ProcessLock::~ProcessLock() { unlock(); }

void ProcessLock::unlock() {
  if (mFd < 0) return;
  ::flock(mFd, LOCK_UN);
  ::close(mFd);
  mFd = -1;
}

}  // namespace platform
