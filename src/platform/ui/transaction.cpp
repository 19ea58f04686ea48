#include "platform/ui/transaction.h"

#include "platform/core/dispatch.h"

namespace platform {
namespace {

struct Frame {
  std::optional<double> duration;
  std::optional<TimingFunction> timing;
  std::optional<bool> disableActions;
  std::shared_ptr<CompletionGroup> group = std::make_shared<CompletionGroup>();
  bool implicit = false;
};

std::vector<Frame>& stack() {
  static std::vector<Frame> frames;
  return frames;
}

std::uint64_t gFlushes = 0;

bool gFlushScheduled = false;

void scheduleFlush() {
  if (gFlushScheduled) return;
  gFlushScheduled = true;
  mainQueue().async([] {
    gFlushScheduled = false;
    Transaction::flush();
  });
}

Frame& top() {
  auto& s = stack();
  if (s.empty()) {
    Frame implicit;
    implicit.implicit = true;
    s.push_back(std::move(implicit));
    scheduleFlush();
  }
  return s.back();
}

}  // namespace

void CompletionGroup::animationEnded() {
  if (mPending > 0) --mPending;
  fireIfDone();
}

void CompletionGroup::commit() {
  mCommitted = true;
  fireIfDone();
}

void CompletionGroup::fireIfDone() {
  if (!mCommitted || mPending > 0 || mFired) return;
  mFired = true;
  if (mBlock) mainQueue().async(std::move(mBlock));
  mBlock = nullptr;
}

void Transaction::begin() { stack().push_back(Frame{}); }

void Transaction::commit() {
  auto& s = stack();
  if (s.empty() || s.back().implicit) return;  // unbalanced commit: nothing to close
  auto group = s.back().group;
  s.pop_back();
  group->commit();
}

void Transaction::flush() {
  auto& s = stack();
  if (s.size() == 1 && s.front().implicit) {
    auto group = s.front().group;
    s.clear();
    group->commit();
  } else if (!s.empty()) {
    scheduleFlush();  // explicit transactions are still open
  }
  ++gFlushes;
}

double Transaction::animationDuration() {
  const auto& s = stack();
  for (auto it = s.rbegin(); it != s.rend(); ++it)
    if (it->duration) return *it->duration;
  return kDefaultDuration;
}

void Transaction::setAnimationDuration(double seconds) { top().duration = seconds; }

std::optional<TimingFunction> Transaction::animationTimingFunction() {
  const auto& s = stack();
  for (auto it = s.rbegin(); it != s.rend(); ++it)
    if (it->timing) return it->timing;
  return std::nullopt;
}

void Transaction::setAnimationTimingFunction(TimingFunction f) { top().timing = f; }

bool Transaction::disableActions() {
  const auto& s = stack();
  for (auto it = s.rbegin(); it != s.rend(); ++it)
    if (it->disableActions) return *it->disableActions;
  return false;
}

void Transaction::setDisableActions(bool disable) { top().disableActions = disable; }

void Transaction::setCompletionBlock(std::function<void()> block) { top().group->setBlock(std::move(block)); }

std::vector<std::shared_ptr<CompletionGroup>> Transaction::currentGroups() {
  top();  // an animation outside explicit transactions belongs to the implicit one
  std::vector<std::shared_ptr<CompletionGroup>> groups;
  for (const auto& f : stack()) groups.push_back(f.group);
  return groups;
}

int Transaction::depth() {
  int n = 0;
  for (const auto& f : stack())
    if (!f.implicit) ++n;
  return n;
}

std::uint64_t Transaction::layerMade() {
  scheduleFlush();
  return gFlushes;
}

std::uint64_t Transaction::flushCount() { return gFlushes; }

void withoutActions(const std::function<void()>& body) {
  Transaction::begin();
  Transaction::setDisableActions(true);
  body();
  Transaction::commit();
}

}  // namespace platform
