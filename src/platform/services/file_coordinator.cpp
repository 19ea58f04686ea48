#include "platform/services/file_coordinator.h"

#include "platform/services/process_lock.h"

#include <QFileInfo>

#include <map>
#include <mutex>

namespace platform {

namespace {

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

bool FileCoordinator::coordinateWriting(const QString& path, const Accessor& writer) {
  const QString key = coordinationKey(path);
  if (key.isEmpty()) return false;
  FileLockGuard guard(key);
  ProcessLock folderLock(QFileInfo(key).absolutePath());
  writer(path);
  // Still under both locks, so the state recorded is this write's and nobody else's.
  FilePresenterRegistry::shared().fileWritten(key, mPresenter);
  return true;
}

}  // namespace platform
