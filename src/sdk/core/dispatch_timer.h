#pragma once
// A timer whose handler runs on a queue: first after the interval, then every interval
// while it repeats, until it is cancelled or destroyed. Cancelling does not wait for a
// handler that is already running.

#include <functional>
#include <memory>

#include "platform/core/dispatch.h"

namespace telemetry {

class DispatchTimer {
 public:
  DispatchTimer(platform::Queue& queue, double intervalSeconds, bool repeats, std::function<void()> handler);
  ~DispatchTimer();
  DispatchTimer(const DispatchTimer&) = delete;
  DispatchTimer& operator=(const DispatchTimer&) = delete;

  void cancel();
  bool isValid() const;
  double interval() const { return mInterval; }
  bool repeats() const { return mRepeats; }

 private:
  struct State;
  static void schedule(const std::shared_ptr<State>& state);

  double mInterval;
  bool mRepeats;
  std::shared_ptr<State> mState;
};

}  // namespace telemetry
