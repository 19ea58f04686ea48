#pragma once
// The temporary file a download streams into, beside its destination. Received bytes are
// handed over without copying and written on a queue of its own in pieces of at least
// kWriteBatchBytes, so the transfer thread goes on receiving while the disk works; it waits
// only when the disk falls more than kMaxPendingBytes behind, so a download never gathers
// in memory.

#include <QString>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class DownloadFile final : public std::enable_shared_from_this<DownloadFile> {
 public:
  static constexpr std::size_t kWriteBatchBytes = 256u << 10;
  static constexpr std::size_t kMaxPendingBytes = 8u << 20;

  // A new empty file ".download-XXXXXX" in the destination's folder; nullptr with `failure`
  // set when none can be made.
  static std::shared_ptr<DownloadFile> createBeside(const QString& destination, std::string& failure);
  ~DownloadFile();
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;

  const QString& path() const { return mPath; }

  // From one thread at a time, never after finish().
  void append(std::vector<std::uint8_t> bytes);

  // Writes what is left and syncs it; `done` runs on the file's queue with an empty failure
  // when the whole file is on disk. A file not kept, or not fully written, is removed.
  void finish(bool keep, std::function<void(const std::string& failure)> done);

 private:
  DownloadFile(int fd, QString path) : mFd(fd), mPath(std::move(path)) {}
  // On the file's queue: writes until nothing is pending.
  void writePending();

  int mFd;
  QString mPath;
  std::mutex mMutex;
  std::condition_variable mWritten;
  std::deque<std::vector<std::uint8_t>> mPending;
  std::size_t mPendingBytes = 0;
  bool mWriteScheduled = false;
  std::string mFailure;
};

}  // namespace platform
