#pragma once
// Holds one callback that runs now and can then resubmit itself to the main queue until it
// is marked done. The callback usually captures its own holder: the two keep each other
// alive until markDone breaks the cycle.

#include <functional>

namespace orrery {

class ExecuteBlock {
 public:
  using Block = std::function<void()>;

  // Unless done, keeps the block (replacing a kept one) and runs it at once on this thread.
  void executeBlock(Block block);
  // When checkRepeatState holds, submits the kept block to the main queue.
  void repeatAsync();
  void repeatAsyncAfterDelay(double seconds);
  // Done for good; drops the kept block.
  void markDone();
  // Not done and holding a block.
  bool checkRepeatState() const { return !mDone && static_cast<bool>(mBlock); }

 private:
  Block mBlock;
  bool mDone = false;
};

}  // namespace orrery
