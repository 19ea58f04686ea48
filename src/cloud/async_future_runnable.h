#pragma once
// One piece of work started later on the main queue that says by itself when it is done: the
// Dropbox engine wraps every user operation in one. execute() only schedules the work for a
// later main-queue turn, so the completion attached with whenReady() is in place before the
// work runs; the work ends by calling postResponse(), which runs that completion. Cancelling
// skips a pending run and drops the completion, but never stops work already running.
// Main thread only, except cancel(), isCanceled() and hasExecuteBeenRequested(), which take
// the task's lock.

#include <functional>
#include <memory>
#include <mutex>

namespace orrery {

class AsyncFutureRunnable final : public std::enable_shared_from_this<AsyncFutureRunnable> {
 public:
  using RunBlock = std::function<void(AsyncFutureRunnable& task)>;
  using ReadyBlock = std::function<void()>;

  static std::shared_ptr<AsyncFutureRunnable> createWithBlock(RunBlock block);

  // Schedules run() for a later main-queue turn; returns the task for chaining.
  AsyncFutureRunnable& execute();
  void run();
  // Replaces the completion; returns the task for chaining.
  AsyncFutureRunnable& whenReady(ReadyBlock block);
  // Runs the completion when one is set; it stays set.
  void postResponse();
  void cancel();
  bool hasExecuteBeenRequested() const;
  bool isCanceled() const;

 private:
  struct Tag {};

 public:
  AsyncFutureRunnable(Tag, RunBlock block) : mRunBlock(std::move(block)) {}

 private:
  mutable std::mutex mMutex;  // guards the two flags and mWhenReady against a cancel from elsewhere
  bool mCanceled = false;
  bool mExecuteScheduledInThePast = false;
  ReadyBlock mWhenReady;
  RunBlock mRunBlock;
};

}  // namespace orrery
