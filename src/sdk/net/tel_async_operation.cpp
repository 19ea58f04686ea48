#include "sdk/net/tel_async_operation.h"

#include "sdk/core/sdk_constants.h"

namespace telemetry {

TELAsyncOperation::TELAsyncOperation(std::string_view className)
    : mLock(std::make_shared<NamedRecursiveLock>(std::string(kKitIdentifierPrefix) + "." +
                                                 std::string(className) + "-lock")) {}

std::shared_ptr<NamedRecursiveLock> TELAsyncOperation::currentLock() const {
  std::lock_guard guard(mFieldsMutex);
  return mLock;
}

bool TELAsyncOperation::isExecuting() const {
  auto l = currentLock();
  std::lock_guard guard(*l);
  return internalExecuting;
}

bool TELAsyncOperation::isFinished() const {
  auto l = currentLock();
  std::lock_guard guard(*l);
  return internalFinished;
}

void TELAsyncOperation::start() {
  {
    auto l = currentLock();
    std::lock_guard guard(*l);
    if (mStartClaimed || internalFinished) return;
    mStartClaimed = true;
  }
  if (checkForCancellation()) return;
  markStarted();
  main();
}

void TELAsyncOperation::main() { finishWithError(std::nullopt); }

void TELAsyncOperation::finishWithError(const OptionalError& error) {
  AsyncCompletion completion;
  {
    auto l = currentLock();
    std::lock_guard guard(*l);
    if (mFinishClaimed) return;
    mFinishClaimed = true;
    completion = asyncCompletion();
  }
  // The completion runs while the operation still counts as executing.
  if (completion) completion(error);
  markDone();
}

bool TELAsyncOperation::checkForCancellation() {
  if (!isCancelled()) return false;
  {
    auto l = currentLock();
    std::lock_guard guard(*l);
    mFinishClaimed = true;
  }
  markDone();
  return true;
}

void TELAsyncOperation::markStarted() {
  auto l = currentLock();
  std::lock_guard guard(*l);
  if (internalExecuting || internalFinished) return;
  changeValueForKey(kKeyIsExecuting, [&] { internalExecuting = true; });
}

void TELAsyncOperation::markDone() {
  auto l = currentLock();
  std::lock_guard guard(*l);
  if (internalFinished) return;  // finishing twice would free the queue slot twice
  changeValueForKey(kKeyIsExecuting, [&] { internalExecuting = false; });
  changeValueForKey(kKeyIsFinished, [&] { internalFinished = true; });
}

void TELAsyncOperation::lock(const std::function<void()>& block) {
  auto l = currentLock();
  std::lock_guard guard(*l);
  if (block) block();
}

void TELAsyncOperation::changeValueForKey(std::string_view key, const std::function<void()>& block) {
  willChangeValueForKey(key);
  if (block) block();
  didChangeValueForKey(key);
}

TELAsyncOperation::AsyncCompletion TELAsyncOperation::asyncCompletion() const {
  std::lock_guard guard(mFieldsMutex);
  return mAsyncCompletion;
}

void TELAsyncOperation::setAsyncCompletion(AsyncCompletion completion) {
  std::lock_guard guard(mFieldsMutex);
  mAsyncCompletion = std::move(completion);
}

std::shared_ptr<NamedRecursiveLock> TELAsyncOperation::lock() const { return currentLock(); }

void TELAsyncOperation::setLock(std::shared_ptr<NamedRecursiveLock> lock) {
  if (!lock) return;
  std::lock_guard guard(mFieldsMutex);
  mLock = std::move(lock);
}

}  // namespace telemetry
