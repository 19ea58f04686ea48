#include "sdk/core/operation.h"

#include <algorithm>

#include "platform/core/dispatch.h"

namespace telemetry {

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::start() {
  {
    std::lock_guard lock(mMutex);
    if (mStarted || mFinished) return;
    mStarted = true;
  }
  if (isCancelled()) {
    willChangeValueForKey(kKeyIsFinished);
    {
      std::lock_guard lock(mMutex);
      mFinished = true;
    }
    didChangeValueForKey(kKeyIsFinished);
    return;
  }
  willChangeValueForKey(kKeyIsExecuting);
  {
    std::lock_guard lock(mMutex);
    mExecuting = true;
  }
  didChangeValueForKey(kKeyIsExecuting);
  main();
  willChangeValueForKey(kKeyIsExecuting);
  willChangeValueForKey(kKeyIsFinished);
  {
    std::lock_guard lock(mMutex);
    mExecuting = false;
    mFinished = true;
  }
  didChangeValueForKey(kKeyIsExecuting);
  didChangeValueForKey(kKeyIsFinished);
}

void Operation::cancel() {
  {
    std::lock_guard lock(mMutex);
    if (mCancelled) return;
  }
  willChangeValueForKey(kKeyIsCancelled);
  willChangeValueForKey(kKeyIsReady);
  {
    std::lock_guard lock(mMutex);
    mCancelled = true;
  }
  didChangeValueForKey(kKeyIsCancelled);
  didChangeValueForKey(kKeyIsReady);
}

bool Operation::isCancelled() const {
  std::lock_guard lock(mMutex);
  return mCancelled;
}

bool Operation::isExecuting() const {
  std::lock_guard lock(mMutex);
  return mExecuting;
}

bool Operation::isFinished() const {
  std::lock_guard lock(mMutex);
  return mFinished;
}

bool Operation::isReady() const {
  std::vector<std::shared_ptr<Operation>> deps;
  {
    std::lock_guard lock(mMutex);
    if (mCancelled) return true;
    deps = mDependencies;
  }
  return std::all_of(deps.begin(), deps.end(), [](const auto& d) { return d->isFinished(); });
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
  if (!operation || operation.get() == this) return;
  bool wasReady = isReady();
  {
    std::lock_guard lock(mMutex);
    if (std::find(mDependencies.begin(), mDependencies.end(), operation) != mDependencies.end()) return;
    mDependencies.push_back(operation);
  }
  {
    std::lock_guard lock(operation->mMutex);
    operation->mDependents.push_back(weak_from_this());
  }
  if (wasReady != isReady()) {
    willChangeValueForKey(kKeyIsReady);
    didChangeValueForKey(kKeyIsReady);
  }
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
  if (!operation) return;
  bool wasReady = isReady();
  {
    std::lock_guard lock(mMutex);
    auto it = std::find(mDependencies.begin(), mDependencies.end(), operation);
    if (it == mDependencies.end()) return;
    mDependencies.erase(it);
  }
  if (!wasReady && isReady()) {
    willChangeValueForKey(kKeyIsReady);
    didChangeValueForKey(kKeyIsReady);
  }
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
  std::lock_guard lock(mMutex);
  return mDependencies;
}

void Operation::setCompletionBlock(std::function<void()> block) {
  std::lock_guard lock(mMutex);
  mCompletionBlock = std::move(block);
}

void Operation::waitUntilFinished() {
  std::unique_lock lock(mMutex);
  mFinishedCond.wait(lock, [&] { return mFinishDelivered; });
}

std::string Operation::name() const {
  std::lock_guard lock(mMutex);
  return mName;
}

void Operation::setName(std::string name) {
  std::lock_guard lock(mMutex);
  mName = std::move(name);
}

Operation::ObserverToken Operation::addObserver(Observer observer) {
  std::lock_guard lock(mMutex);
  ObserverToken token = mNextToken++;
  mObservers.emplace_back(token, std::make_shared<Observer>(std::move(observer)));
  return token;
}

void Operation::removeObserver(ObserverToken token) {
  std::lock_guard lock(mMutex);
  std::erase_if(mObservers, [&](const auto& entry) { return entry.first == token; });
}

void Operation::willChangeValueForKey(std::string_view key) { announce(key, Change::Will); }

void Operation::didChangeValueForKey(std::string_view key) {
  announce(key, Change::Did);
  if (key == kKeyIsFinished && isFinished()) deliverFinished();
}

void Operation::announce(std::string_view key, Change change) {
  std::vector<std::shared_ptr<Observer>> observers;
  {
    std::lock_guard lock(mMutex);
    observers.reserve(mObservers.size());
    for (const auto& entry : mObservers) observers.push_back(entry.second);
  }
  for (const auto& observer : observers) (*observer)(*this, key, change);
}

// Everything that hangs on the end of an operation happens exactly once, however many
// times a subclass announces "isFinished".
void Operation::deliverFinished() {
  std::function<void()> completion;
  std::vector<std::weak_ptr<Operation>> dependents;
  {
    std::lock_guard lock(mMutex);
    if (mFinishDelivered) return;
    mFinishDelivered = true;
    completion = std::move(mCompletionBlock);
    mCompletionBlock = nullptr;
    dependents.swap(mDependents);
    mFinishedCond.notify_all();
  }
  for (const auto& weak : dependents)
    if (auto dependent = weak.lock()) dependent->dependencyFinished();
  if (completion) platform::globalQueue().async(std::move(completion));
}

void Operation::dependencyFinished() {
  if (!isReady()) return;
  willChangeValueForKey(kKeyIsReady);
  didChangeValueForKey(kKeyIsReady);
}

std::shared_ptr<BlockOperation> BlockOperation::create(std::function<void()> block) {
  auto op = std::make_shared<BlockOperation>();
  if (block) op->addExecutionBlock(std::move(block));
  return op;
}

void BlockOperation::addExecutionBlock(std::function<void()> block) {
  std::lock_guard lock(mBlocksMutex);
  mBlocks.push_back(std::move(block));
}

void BlockOperation::main() {
  std::vector<std::function<void()>> blocks;
  {
    std::lock_guard lock(mBlocksMutex);
    blocks = mBlocks;
  }
  for (auto& block : blocks)
    if (block) block();
}

}  // namespace telemetry
