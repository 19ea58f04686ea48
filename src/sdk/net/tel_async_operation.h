#pragma once
// An operation whose work ends after main() returns (a network exchange). It keeps its own
// executing and finished flags under a recursive lock and announces their changes while
// holding it; subclasses put their work in main() and end it with finishWithError().

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "sdk/core/error.h"
#include "sdk/core/operation.h"

namespace telemetry {

// A recursive lock with a diagnostic name.
class NamedRecursiveLock {
 public:
  explicit NamedRecursiveLock(std::string name) : mName(std::move(name)) {}
  void lock() { mMutex.lock(); }
  void unlock() { mMutex.unlock(); }
  const std::string& name() const { return mName; }

 private:
  std::recursive_mutex mMutex;
  std::string mName;
};

class TELAsyncOperation : public Operation {
 public:
  using AsyncCompletion = std::function<void(const OptionalError& error)>;

  // `className` is the concrete class's name; it names the lock
  // ("<kit identifier prefix>.<class name>-lock").
  explicit TELAsyncOperation(std::string_view className = "TELAsyncOperation");

  bool isAsynchronous() const override { return true; }
  bool isExecuting() const override;
  bool isFinished() const override;

  // Runs main() unless the operation was cancelled, in which case it is marked done at once
  // and neither main() nor the completion runs. Only the first call does anything.
  void start() override;
  // Subclasses override it and end with finishWithError(); this one finishes at once so a
  // bare operation never holds a queue slot for ever.
  void main() override;

  // Calls the completion (when set) with the error, then marks the operation done. Only the
  // first finish counts: later calls neither call the completion again nor announce again.
  void finishWithError(const OptionalError& error);
  // Marks a cancelled operation done and answers true; false otherwise.
  bool checkForCancellation();
  void markStarted();
  void markDone();

  void lock(const std::function<void()>& block);
  void changeValueForKey(std::string_view key, const std::function<void()>& block);

  AsyncCompletion asyncCompletion() const;
  void setAsyncCompletion(AsyncCompletion completion);
  std::shared_ptr<NamedRecursiveLock> lock() const;
  void setLock(std::shared_ptr<NamedRecursiveLock> lock);

 private:
  std::shared_ptr<NamedRecursiveLock> currentLock() const;

  mutable std::mutex mFieldsMutex;  // guards mLock and mAsyncCompletion themselves
  std::shared_ptr<NamedRecursiveLock> mLock;
  AsyncCompletion mAsyncCompletion;
  bool internalExecuting = false;
  bool internalFinished = false;
  bool mStartClaimed = false;
  bool mFinishClaimed = false;
};

}  // namespace telemetry
