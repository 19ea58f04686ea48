#include "cloud/async_future_runnable.h"

#include "foundation/logging.h"
#include "platform/core/dispatch.h"

namespace orrery {

std::shared_ptr<AsyncFutureRunnable> AsyncFutureRunnable::createWithBlock(RunBlock block) {
  return std::make_shared<AsyncFutureRunnable>(Tag{}, std::move(block));
}

AsyncFutureRunnable& AsyncFutureRunnable::execute() {
  bool again;
  {
    std::lock_guard lock(mMutex);
    again = mExecuteScheduledInThePast;
    mExecuteScheduledInThePast = true;
  }
  ORRERY_SOFT_ASSERT(!again, "-[AsyncFutureRunnable execute]");
  // The scheduled step holds the task: a queue that drops its task object must not drop the work.
  platform::mainQueue().async([self = shared_from_this()] {
    if (!self->isCanceled()) self->run();
  });
  return *this;
}

void AsyncFutureRunnable::run() {
  if (mRunBlock) mRunBlock(*this);
}

AsyncFutureRunnable& AsyncFutureRunnable::whenReady(ReadyBlock block) {
  std::lock_guard lock(mMutex);
  if (mWhenReady) softAssertionFailed(__LINE__, "-[AsyncFutureRunnable whenReady:]");
  mWhenReady = std::move(block);
  return *this;
}

void AsyncFutureRunnable::postResponse() {
  ReadyBlock completion;
  {
    std::lock_guard lock(mMutex);
    completion = mWhenReady;
  }
  // Called outside the lock: the completion may cancel this very task.
  if (completion) completion();
}

void AsyncFutureRunnable::cancel() {
  ReadyBlock dropped;
  std::lock_guard lock(mMutex);
  mCanceled = true;
  dropped = std::move(mWhenReady);
  mWhenReady = nullptr;
}

bool AsyncFutureRunnable::hasExecuteBeenRequested() const {
  std::lock_guard lock(mMutex);
  return mExecuteScheduledInThePast;
}

bool AsyncFutureRunnable::isCanceled() const {
  std::lock_guard lock(mMutex);
  return mCanceled;
}

}  // namespace orrery
