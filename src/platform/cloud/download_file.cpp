#include "platform/cloud/download_file.h"

#include "platform/core/dispatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform {

namespace {

// One queue for every download of the process, never destroyed: a download outlives the
// routes that started it, and its file must still be finished or removed.
SerialQueue& fileQueue() {
  static auto* queue = new SerialQueue("orrery.dropbox.file");
  return *queue;
}

// Writes every byte of the pieces, however the kernel splits them; false with errno set.
bool writeAll(int fd, std::deque<std::vector<std::uint8_t>>& pieces) {
  std::vector<iovec> io;
  io.reserve(std::min<std::size_t>(pieces.size(), IOV_MAX));
  std::size_t next = 0;
  while (next < pieces.size()) {
    io.clear();
    for (std::size_t i = next; i < pieces.size() && io.size() < IOV_MAX; ++i)
      if (!pieces[i].empty()) io.push_back({pieces[i].data(), pieces[i].size()});
    next = std::min(pieces.size(), next + std::size_t(IOV_MAX));
    std::size_t first = 0;
    while (first < io.size()) {
      const ssize_t n = ::writev(fd, io.data() + first, int(io.size() - first));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        return false;
      }
      std::size_t left = std::size_t(n);
      while (left > 0 && left >= io[first].iov_len) left -= io[first++].iov_len;
      if (left > 0) {
        io[first].iov_base = static_cast<char*>(io[first].iov_base) + left;
        io[first].iov_len -= left;
      }
    }
  }
  return true;
}

}  // namespace

std::shared_ptr<DownloadFile> DownloadFile::createBeside(const QString& destination, std::string& failure) {
  QByteArray pattern = QFile::encodeName(QDir(QFileInfo(destination).path()).filePath(QStringLiteral(".download-XXXXXX")));
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    failure = std::string("cannot make a file beside ") + destination.toStdString() + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::shared_ptr<DownloadFile>(new DownloadFile(fd, QFile::decodeName(pattern)));
}

DownloadFile::~DownloadFile() {
  if (mFd < 0) return;
  ::close(mFd);
  QFile::remove(mPath);
}

void DownloadFile::append(std::vector<std::uint8_t> bytes) {
  if (bytes.empty()) return;
  std::unique_lock lock(mMutex);
  mWritten.wait(lock, [&] { return mPendingBytes < kMaxPendingBytes || !mFailure.empty(); });
  if (!mFailure.empty()) return;
  mPendingBytes += bytes.size();
  mPending.push_back(std::move(bytes));
  // Small pieces wait for more: each write costs the receiving thread a wake-up of the queue.
  if (mWriteScheduled || mPendingBytes < kWriteBatchBytes) return;
  mWriteScheduled = true;
  lock.unlock();
  fileQueue().async([self = shared_from_this()] { self->writePending(); });
}

void DownloadFile::writePending() {
  for (;;) {
    std::deque<std::vector<std::uint8_t>> batch;
    std::size_t bytes = 0;
    {
      std::lock_guard lock(mMutex);
      if (mPending.empty() || !mFailure.empty()) {
        mWriteScheduled = false;
        return;
      }
      batch.swap(mPending);
      bytes = mPendingBytes;
    }
    const bool written = writeAll(mFd, batch);
    const int error = errno;
    batch.clear();
    {
      std::lock_guard lock(mMutex);
      mPendingBytes -= bytes;
      if (!written) {
        mFailure = std::string("cannot write the download: ") + std::strerror(error);
        mPending.clear();
        mPendingBytes = 0;
      }
    }
    mWritten.notify_all();
  }
}

void DownloadFile::finish(bool keep, std::function<void(const std::string& failure)> done) {
  fileQueue().async([self = shared_from_this(), keep, done = std::move(done)] {
    if (keep) self->writePending();
    std::string failure;
    {
      std::lock_guard lock(self->mMutex);
      failure = self->mFailure;
      self->mPending.clear();
      self->mPendingBytes = 0;
    }
    if (keep && failure.empty() && ::fsync(self->mFd) != 0) failure = "cannot sync the download";
    ::close(self->mFd);
    self->mFd = -1;
    if (!keep || !failure.empty()) QFile::remove(self->mPath);
    done(failure);
  });
}

}  // namespace platform
