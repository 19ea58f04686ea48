#include "platform/services/file_coordinator.h"

#include "platform/services/file_coordinator_testing.h"
#include "platform/services/process_lock.h"
#include "platform/services/program_log.h"

#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace platform {

namespace {

std::atomic<std::int64_t> gFolderLockPatienceMs{5000};

// One lock per file, kept while anyone uses or waits for it. Recursive, so that an accessor
// may coordinate the same file again on its own thread.
class FileLocks {
 public:
  struct Slot {
    std::recursive_mutex mutex;
    int users = 0;
  };

  static FileLocks& shared() {
    static auto* locks = new FileLocks();
    return *locks;
  }

  Slot* acquire(const QString& key) {
    Slot* slot;
    {
      std::lock_guard lock(mMutex);
      auto& entry = mSlots[key];
      if (!entry) entry = std::make_unique<Slot>();
      slot = entry.get();
      slot->users++;
    }
    slot->mutex.lock();
    return slot;
  }

  void release(const QString& key, Slot* slot) {
    slot->mutex.unlock();
    std::lock_guard lock(mMutex);
    if (--slot->users == 0) mSlots.erase(key);
  }

 private:
  std::mutex mMutex;
  std::map<QString, std::unique_ptr<Slot>> mSlots;
};

class FileLockGuard {
 public:
  explicit FileLockGuard(const QString& key) : mKey(key), mSlot(FileLocks::shared().acquire(key)) {}
  ~FileLockGuard() { FileLocks::shared().release(mKey, mSlot); }
  FileLockGuard(const FileLockGuard&) = delete;
  FileLockGuard& operator=(const FileLockGuard&) = delete;

 private:
  QString mKey;
  FileLocks::Slot* mSlot;
};

}  // namespace

void FileCoordinator::addFilePresenter(FilePresenter* presenter) {
  FilePresenterRegistry::shared().add(presenter);
}

void FileCoordinator::removeFilePresenter(FilePresenter* presenter) {
  FilePresenterRegistry::shared().remove(presenter);
}

bool FileCoordinator::coordinateReading(const QString& path, const Accessor& reader) {
  const QString key = coordinationKey(path);
  if (key.isEmpty()) return false;
  FileLockGuard guard(key);
  reader(path);
  return true;
}

std::chrono::milliseconds FileCoordinator::folderLockPatience() {
  return std::chrono::milliseconds(gFolderLockPatienceMs.load());
}

void setFolderLockPatienceForTesting(std::chrono::milliseconds patience) { gFolderLockPatienceMs = patience.count(); }

bool FileCoordinator::coordinateWriting(const QString& path, const Accessor& writer, QString* refusal) {
  const QString key = coordinationKey(path);
  if (key.isEmpty()) {
    if (refusal) *refusal = QStringLiteral("the path cannot be coordinated");
    return false;
  }
  FileLockGuard guard(key);
  const QString folder = QFileInfo(key).absolutePath();
  ProcessLock folderLock(folder, folderLockPatience());
  if (!folderLock.isLocked()) {
    // Writing unlocked could interleave with the other instance's save; the caller keeps the
    // edit and tries again later.
    const QString why = folderLock.failure() == EWOULDBLOCK
                            ? QStringLiteral("another instance kept the folder %1 locked").arg(folder)
                            : QStringLiteral("the folder %1 cannot be locked: %2")
                                  .arg(folder, QString::fromLocal8Bit(std::strerror(folderLock.failure())));
    qCWarning(platform::programLog, "Not writing %s: %s", qPrintable(key), qPrintable(why));
    if (refusal) *refusal = why;
    return false;
  }
  FilePresenterRegistry::shared().writeBegins(key);
  writer(path);
  // Still under both locks, so the state recorded is this write's and nobody else's.
  FilePresenterRegistry::shared().fileWritten(key, mPresenter);
  return true;
}

}  // namespace platform
