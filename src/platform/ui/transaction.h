#pragma once
// Transactions group layer changes: the innermost open one sets the duration, timing and
// whether actions run for the changes made inside it, and its completion block runs once,
// on the main queue, when every animation begun inside it has ended (at once when none
// began). Changes made outside any explicit transaction belong to an implicit one that
// commits on the next turn of the main queue. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/timing_function.h"

namespace platform {

// Counts the animations of one transaction that have not ended yet.
class CompletionGroup {
 public:
  void setBlock(std::function<void()> block) { mBlock = std::move(block); }
  void animationBegan() { ++mPending; }
  void animationEnded();
  void commit();

 private:
  void fireIfDone();
  std::function<void()> mBlock;
  int mPending = 0;
  bool mCommitted = false;
  bool mFired = false;
};

class Transaction {
 public:
  static constexpr double kDefaultDuration = 0.25;

  static void begin();
  static void commit();
  // Commits the implicit transaction now (when no explicit one is open) and makes every
  // layer made so far eligible for implicit animation.
  static void flush();

  static double animationDuration();
  static void setAnimationDuration(double seconds);
  static std::optional<TimingFunction> animationTimingFunction();
  static void setAnimationTimingFunction(TimingFunction f);
  static bool disableActions();
  static void setDisableActions(bool disable);
  static void setCompletionBlock(std::function<void()> block);

  // The groups an animation added now belongs to (every open transaction).
  static std::vector<std::shared_ptr<CompletionGroup>> currentGroups();
  // How many explicit transactions are open.
  static int depth();

  // Layers made since the last flush do not animate implicitly yet: a layer notes the flushes
  // done when it is made (and a flush is due), and is committed once that count has moved on.
  static std::uint64_t layerMade();
  static std::uint64_t flushCount();
};

// Runs `body` inside one transaction with actions disabled.
void withoutActions(const std::function<void()>& body);

}  // namespace platform
