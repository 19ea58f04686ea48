#include "sdk/core/operation_queue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace telemetry {

namespace {
int workerCap(int maxConcurrent) {
  if (maxConcurrent > 0) return maxConcurrent;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 2u, 8u));
}
}  // namespace

// Lock order: an operation's own locks may be held while the queue mutex is taken (its
// observers run inside its announcements), so nothing calls into an operation while the
// queue mutex is held. Readiness is evaluated by the workers, outside every lock.
struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
  struct Entry {
    std::shared_ptr<Operation> operation;
    Operation::ObserverToken token = 0;
    bool claimed = false;  // handed to a worker for start()
  };

  mutable std::mutex mutex;
  std::condition_variable workCond;
  std::condition_variable emptyCond;
  std::vector<Entry> entries;
  std::deque<std::shared_ptr<Operation>> toStart;
  std::vector<std::thread> workers;
  int idleWorkers = 0;
  int running = 0;  // claimed and not yet finished
  int maxConcurrent = kDefaultMaxConcurrentOperationCount;
  bool suspended = false;
  bool stopping = false;
  bool needsPump = false;
  bool pumping = false;

  int limit() const { return maxConcurrent > 0 ? maxConcurrent : 1 << 30; }

  // Caller holds the mutex.
  void requestPump() {
    needsPump = true;
    ensureWorker();
    workCond.notify_one();
  }

  // Caller holds the mutex.
  void ensureWorker() {
    if (stopping || idleWorkers > 0) return;
    if (static_cast<int>(workers.size()) >= workerCap(maxConcurrent)) return;
    workers.emplace_back([self = shared_from_this()] { self->workerLoop(); });
  }

  void workerLoop() {
    std::unique_lock lock(mutex);
    for (;;) {
      if (stopping) return;
      if (!toStart.empty()) {
        auto op = std::move(toStart.front());
        toStart.pop_front();
        if (!toStart.empty() || needsPump) ensureWorker(), workCond.notify_one();
        lock.unlock();
        op->start();
        op.reset();
        lock.lock();
        continue;
      }
      if (needsPump && !pumping) {
        needsPump = false;
        pumping = true;
        lock.unlock();
        pump();
        lock.lock();
        pumping = false;
        continue;
      }
      ++idleWorkers;
      workCond.wait(lock);
      --idleWorkers;
    }
  }

  // Claims ready operations, in the order they were added, while slots are free. Readiness
  // is asked outside the lock, a few candidates at a time.
  void pump() {
    constexpr size_t kBatch = 16;
    size_t skip = 0;
    for (;;) {
      std::vector<std::shared_ptr<Operation>> batch;
      {
        std::lock_guard lock(mutex);
        if (stopping || suspended || running >= limit()) return;
        size_t seen = 0;
        for (const auto& e : entries) {
          if (e.claimed || seen++ < skip) continue;
          batch.push_back(e.operation);
          if (batch.size() == kBatch) break;
        }
      }
      if (batch.empty()) return;
      std::shared_ptr<Operation> pick;
      for (const auto& op : batch)
        if (op->isReady()) {
          pick = op;
          break;
        }
      if (!pick) {
        skip += batch.size();
        continue;
      }
      skip = 0;
      std::lock_guard lock(mutex);
      if (stopping || suspended || running >= limit()) return;
      auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.operation == pick; });
      if (it == entries.end() || it->claimed) continue;
      it->claimed = true;
      ++running;
      toStart.push_back(pick);
      ensureWorker();
      workCond.notify_one();
    }
  }

  void observe(Operation& op, std::string_view key, Operation::Change change) {
    if (change != Operation::Change::Did) return;
    if (key == kKeyIsFinished) {
      if (!op.isFinished()) return;
      finished(op);
    } else if (key == kKeyIsReady) {
      std::lock_guard lock(mutex);
      requestPump();
    }
  }

  void finished(Operation& op) {
    Operation::ObserverToken token = 0;
    std::shared_ptr<Operation> keep;
    {
      std::lock_guard lock(mutex);
      auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.operation.get() == &op; });
      if (it == entries.end()) return;
      if (it->claimed) --running;
      token = it->token;
      keep = std::move(it->operation);
      entries.erase(it);
      if (entries.empty()) emptyCond.notify_all();
      requestPump();
    }
    keep->removeObserver(token);
  }
};

OperationQueue::OperationQueue(std::string name, int maxConcurrentOperationCount)
    : mName(std::move(name)), mState(std::make_shared<State>()) {
  mState->maxConcurrent = maxConcurrentOperationCount == 0 ? 1 : maxConcurrentOperationCount;
}

OperationQueue::~OperationQueue() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mState->mutex);
    mState->stopping = true;
    workers.swap(mState->workers);
    mState->workCond.notify_all();
  }
  for (auto& t : workers) {
    if (t.get_id() == std::this_thread::get_id())
      t.detach();  // destroyed from one of its own operations
    else
      t.join();
  }
  std::vector<State::Entry> entries;
  {
    std::lock_guard lock(mState->mutex);
    entries.swap(mState->entries);
    mState->toStart.clear();
  }
  for (auto& e : entries) {
    e.operation->removeObserver(e.token);
    if (!e.claimed || !e.operation->isExecuting()) {
      e.operation->cancel();
      e.operation->start();
    }
  }
}

bool OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
  if (!operation || operation->isExecuting() || operation->isFinished()) return false;
  std::weak_ptr<State> weak = mState;
  auto token = operation->addObserver([weak](Operation& op, std::string_view key, Operation::Change change) {
    if (auto state = weak.lock()) state->observe(op, key, change);
  });
  bool added = false;
  {
    std::lock_guard lock(mState->mutex);
    bool queued = false;
    for (const auto& e : mState->entries) queued = queued || e.operation == operation;
    if (!mState->stopping && !queued) {
      mState->entries.push_back({operation, token, false});
      mState->requestPump();
      added = true;
    }
  }
  if (!added) {
    operation->removeObserver(token);
    return false;
  }
  // Finished by someone else while it was being added: its announcement found no entry.
  if (operation->isFinished()) mState->finished(*operation);
  return true;
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished) {
  for (const auto& op : operations) addOperation(op);
  if (waitUntilFinished)
    for (const auto& op : operations)
      if (op) op->waitUntilFinished();
}

std::shared_ptr<BlockOperation> OperationQueue::addOperationWithBlock(std::function<void()> block) {
  auto op = BlockOperation::create(std::move(block));
  addOperation(op);
  return op;
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(mState->mutex);
  std::vector<std::shared_ptr<Operation>> out;
  for (const auto& e : mState->entries) out.push_back(e.operation);
  return out;
}

size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mState->mutex);
  return mState->entries.size();
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(mState->mutex);
  return mState->maxConcurrent;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  std::lock_guard lock(mState->mutex);
  mState->maxConcurrent = count == 0 ? 1 : count;
  mState->requestPump();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(mState->mutex);
  return mState->suspended;
}

void OperationQueue::setSuspended(bool suspended) {
  std::lock_guard lock(mState->mutex);
  mState->suspended = suspended;
  if (!suspended) mState->requestPump();
}

void OperationQueue::cancelAllOperations() {
  for (const auto& op : operations()) op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock lock(mState->mutex);
  mState->emptyCond.wait(lock, [&] { return mState->entries.empty(); });
}

}  // namespace telemetry
