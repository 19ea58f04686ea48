#include "sdk/core/operation_queue.h"

#include "platform/core/dispatch.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

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
    uint64_t order = 0;
    bool claimed = false;  // handed to a worker for start()
  };

  mutable std::mutex mutex;
  std::condition_variable workCond;
  std::condition_variable emptyCond;
  // In the order added; `index` finds an operation's entry without a walk, so adding and
  // finishing cost the same however long the backlog is.
  std::list<Entry> entries;
  std::unordered_map<const Operation*, std::list<Entry>::iterator> index;
  // Unclaimed entries that may be ready, by the order they were added: every new entry, and
  // every entry that announced a change of readiness since it was last found not ready. The
  // pump asks only these, so a backlog of waiting operations is not walked again and again.
  std::map<uint64_t, const Operation*> candidates;
  uint64_t nextOrder = 0;
  std::deque<std::shared_ptr<Operation>> toStart;
  std::string name;  // the threads' name
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
    platform::nameCurrentThread(name);
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
  // is asked outside the lock, one candidate at a time; a candidate found not ready leaves
  // the candidates until it announces a change again (it is taken out before it is asked, so
  // an announcement meanwhile puts it back).
  void pump() {
    for (;;) {
      std::shared_ptr<Operation> candidate;
      uint64_t order = 0;
      {
        std::lock_guard lock(mutex);
        if (stopping || suspended || running >= limit() || candidates.empty()) return;
        auto first = candidates.begin();
        order = first->first;
        auto found = index.find(first->second);
        candidates.erase(first);
        if (found == index.end() || found->second->claimed) continue;
        candidate = found->second->operation;
      }
      if (!candidate->isReady()) continue;
      std::lock_guard lock(mutex);
      auto found = index.find(candidate.get());
      if (found == index.end() || found->second->claimed) continue;
      if (stopping || suspended || running >= limit()) {
        candidates.emplace(order, candidate.get());
        return;
      }
      found->second->claimed = true;
      ++running;
      toStart.push_back(std::move(candidate));
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
      auto found = index.find(&op);
      if (found == index.end() || found->second->claimed) return;
      candidates.emplace(found->second->order, &op);
      requestPump();
    }
  }

  void finished(Operation& op) {
    Operation::ObserverToken token = 0;
    std::shared_ptr<Operation> keep;
    {
      std::lock_guard lock(mutex);
      auto found = index.find(&op);
      if (found == index.end()) return;
      auto it = found->second;
      index.erase(found);
      candidates.erase(it->order);
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
  mState->name = mName;
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
  std::list<State::Entry> entries;
  {
    std::lock_guard lock(mState->mutex);
    entries.swap(mState->entries);
    mState->index.clear();
    mState->candidates.clear();
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
    if (!mState->stopping && !mState->index.count(operation.get())) {
      const uint64_t order = mState->nextOrder++;
      mState->entries.push_back({operation, token, order, false});
      mState->index.emplace(operation.get(), std::prev(mState->entries.end()));
      mState->candidates.emplace(order, operation.get());
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
