#pragma once
// A unit of work for an OperationQueue, with cancellation, dependencies, a completion block
// and observable state. Observers stand in for key-value observing: they hear "will" and
// "did" around every change of "isExecuting", "isFinished", "isReady" and "isCancelled".
//
// A plain operation runs main() inside start() and is finished when main() returns. An
// asynchronous operation overrides start(), isExecuting(), isFinished() and
// isAsynchronous(), and announces its own flag changes with willChangeValueForKey /
// didChangeValueForKey; the queue frees its slot when "isFinished" is announced true.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace telemetry {

inline constexpr std::string_view kKeyIsExecuting = "isExecuting";
inline constexpr std::string_view kKeyIsFinished = "isFinished";
inline constexpr std::string_view kKeyIsReady = "isReady";
inline constexpr std::string_view kKeyIsCancelled = "isCancelled";

class Operation : public std::enable_shared_from_this<Operation> {
 public:
  enum class Change { Will, Did };
  // Called synchronously on the thread that changes the state. Observers must not block on
  // work that needs the operation's own locks from another thread.
  using Observer = std::function<void(Operation& operation, std::string_view key, Change change)>;
  using ObserverToken = uint64_t;

  Operation();
  virtual ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  // Runs the operation once; later calls, and calls on a finished operation, do nothing.
  // A cancelled operation becomes finished without running main().
  virtual void start();
  virtual void main() {}
  virtual void cancel();

  bool isCancelled() const;
  virtual bool isExecuting() const;
  virtual bool isFinished() const;
  virtual bool isAsynchronous() const { return false; }
  bool isConcurrent() const { return isAsynchronous(); }
  // True when every dependency has finished, or when the operation was cancelled.
  bool isReady() const;

  void addDependency(const std::shared_ptr<Operation>& operation);
  void removeDependency(const std::shared_ptr<Operation>& operation);
  std::vector<std::shared_ptr<Operation>> dependencies() const;

  // Runs once, asynchronously on a global queue, after the operation has finished.
  void setCompletionBlock(std::function<void()> block);

  // Blocks until the operation has finished. Never call it from the operation itself.
  void waitUntilFinished();

  std::string name() const;
  void setName(std::string name);

  ObserverToken addObserver(Observer observer);
  void removeObserver(ObserverToken token);

 protected:
  void willChangeValueForKey(std::string_view key);
  void didChangeValueForKey(std::string_view key);

 private:
  void announce(std::string_view key, Change change);
  void deliverFinished();
  void dependencyFinished();

  mutable std::mutex mMutex;  // guards the fields below, never held while calling out
  std::condition_variable mFinishedCond;
  bool mCancelled = false;
  bool mStarted = false;
  bool mExecuting = false;
  bool mFinished = false;
  bool mFinishDelivered = false;
  std::string mName;
  std::function<void()> mCompletionBlock;
  std::vector<std::shared_ptr<Operation>> mDependencies;
  std::vector<std::weak_ptr<Operation>> mDependents;
  std::vector<std::pair<ObserverToken, std::shared_ptr<Observer>>> mObservers;
  ObserverToken mNextToken = 1;
};

// An operation that runs blocks one after another on the queue's thread.
class BlockOperation final : public Operation {
 public:
  static std::shared_ptr<BlockOperation> create(std::function<void()> block);
  void addExecutionBlock(std::function<void()> block);
  void main() override;

 private:
  std::mutex mBlocksMutex;
  std::vector<std::function<void()>> mBlocks;
};

}  // namespace telemetry
