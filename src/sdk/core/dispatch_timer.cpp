#include "sdk/core/dispatch_timer.h"

#include <atomic>

namespace telemetry {

struct DispatchTimer::State {
  platform::Queue* queue;
  double interval;
  bool repeats;
  std::function<void()> handler;
  std::atomic<bool> cancelled{false};
};

DispatchTimer::DispatchTimer(platform::Queue& queue, double intervalSeconds, bool repeats, std::function<void()> handler)
    : mInterval(intervalSeconds), mRepeats(repeats), mState(std::make_shared<State>()) {
  mState->queue = &queue;
  mState->interval = intervalSeconds > 0 ? intervalSeconds : 0;
  mState->repeats = repeats;
  mState->handler = std::move(handler);
  schedule(mState);
}

DispatchTimer::~DispatchTimer() { cancel(); }

void DispatchTimer::cancel() { mState->cancelled = true; }

bool DispatchTimer::isValid() const { return !mState->cancelled; }

void DispatchTimer::schedule(const std::shared_ptr<State>& state) {
  // The pending task holds the state, not the timer, so a destroyed timer's task only
  // finds the cancelled flag.
  state->queue->afterSeconds(state->interval, [state] {
    if (state->cancelled) return;
    if (state->handler) state->handler();
    if (state->cancelled) return;
    if (state->repeats)
      schedule(state);
    else
      state->cancelled = true;
  });
}

}  // namespace telemetry
