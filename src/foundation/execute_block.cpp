#include "foundation/execute_block.h"

#include "platform/core/dispatch.h"

#include <algorithm>
#include <cmath>

namespace orrery {

void ExecuteBlock::executeBlock(Block block) {
  if (mDone) return;
  mBlock = std::move(block);
  if (mBlock) {
    Block run = mBlock;  // the block may replace or drop the kept one while it runs
    run();
  }
}

void ExecuteBlock::repeatAsync() {
  if (checkRepeatState()) platform::mainQueue().async(mBlock);
}

void ExecuteBlock::repeatAsyncAfterDelay(double seconds) {
  if (!checkRepeatState()) return;
  const double ms = seconds > 0 ? std::ceil(seconds * 1000.0) : 0.0;
  platform::mainQueue().after(platform::Millis(static_cast<long long>(std::min(ms, 1e12))), mBlock);
}

void ExecuteBlock::markDone() {
  mDone = true;
  mBlock = nullptr;
}

}  // namespace orrery
