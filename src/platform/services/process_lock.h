#pragma once
// An exclusive advisory lock (flock) that running instances of the application take before
// they replace a file, so that their writes of one folder follow each other instead of
// interleaving. The kernel releases it when the holder dies, so a killed writer never
// leaves the folder locked.

#include <QString>

#include <chrono>

namespace platform {

class ProcessLock {
 public:
  // Waits until the lock on `path` (a folder or a file that is never replaced) is held, at
  // most `patience`: a holder that hangs (stopped in a debugger, say) must not freeze us.
  // When the lock cannot be had in time, or the path cannot be opened or locked, nothing is
  // held and isLocked() answers false; writers then give up rather than write unlocked.
  explicit ProcessLock(const QString& path, std::chrono::milliseconds patience = std::chrono::seconds(5));
  ~ProcessLock();
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;

  bool isLocked() const { return mFd >= 0; }
  // Why the lock is not held: EWOULDBLOCK when another holder kept it past the patience,
  // else the errno of opening or locking the path; 0 while held.
  int failure() const { return mFailure; }
  void unlock();

 private:
  int mFd = -1;
  int mFailure = 0;
};

}  // namespace platform
