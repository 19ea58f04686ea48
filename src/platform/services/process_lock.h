#pragma once
// An exclusive advisory lock (flock) that running instances of the application take before
// they replace a file, so that their writes of one folder follow each other instead of
// interleaving. The kernel releases it when the holder dies, so a killed writer never
// leaves the folder locked.

#include <QString>

namespace platform {

class ProcessLock {
 public:
  // Blocks until the lock on `path` (a folder or a file that is never replaced) is held.
  // When the path cannot be opened or does not support locking, nothing is held and
  // isLocked() answers false; writers then go on unlocked rather than fail.
  explicit ProcessLock(const QString& path);
  ~ProcessLock();
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;

  bool isLocked() const { return mFd >= 0; }
  void unlock();

 private:
  int mFd = -1;
};

}  // namespace platform
