#pragma once
// Runs operations on threads of its own, at most maxConcurrentOperationCount at a time
// (1 makes a serial queue that starts its ready operations in the order they were added).
// An operation occupies its slot from start() until it announces that it has finished.
//
// Destroying the queue waits for the operations' start() calls that are running, then
// starts every operation that never ran as cancelled, so each one still finishes once.

#include <memory>
#include <string>
#include <vector>

#include "sdk/core/operation.h"

namespace telemetry {

class OperationQueue {
 public:
  static constexpr int kDefaultMaxConcurrentOperationCount = -1;

  explicit OperationQueue(std::string name = {}, int maxConcurrentOperationCount = kDefaultMaxConcurrentOperationCount);
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  // An operation that is already queued, running or finished is refused (false).
  bool addOperation(const std::shared_ptr<Operation>& operation);
  void addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished);
  std::shared_ptr<BlockOperation> addOperationWithBlock(std::function<void()> block);

  std::vector<std::shared_ptr<Operation>> operations() const;
  size_t operationCount() const;

  int maxConcurrentOperationCount() const;
  void setMaxConcurrentOperationCount(int count);
  bool isSuspended() const;
  void setSuspended(bool suspended);
  const std::string& name() const { return mName; }

  void cancelAllOperations();
  // Blocks until the queue holds no operation. Never call it from one of its operations.
  void waitUntilAllOperationsAreFinished();

 private:
  struct State;
  std::string mName;
  std::shared_ptr<State> mState;
};

}  // namespace telemetry
