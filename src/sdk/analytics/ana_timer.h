#pragma once
// The analytics kit's repeating timer (the log flush): a dispatch timer on the given queue,
// else on the default-priority global queue. It runs from creation to destruction; the block
// must hand its work to the engine's own queue.

#include <functional>
#include <memory>
#include <string>

#include "platform/core/dispatch.h"
#include "sdk/core/dispatch_timer.h"

namespace telemetry {

class ANATimer {
 public:
  // Schedules at once: first after `timeInterval`, then every `timeInterval` while repeating.
  // `queue` is not owned and must outlive the timer; none means the global queue.
  ANATimer(double timeInterval, platform::Queue* queue, std::string timerIdentifier, bool repeats,
           std::function<void()> timerBlock);
  ANATimer(double timeInterval, std::string timerIdentifier, bool repeats, std::function<void()> timerBlock)
      : ANATimer(timeInterval, nullptr, std::move(timerIdentifier), repeats, std::move(timerBlock)) {}
  ANATimer(const ANATimer&) = delete;
  ANATimer& operator=(const ANATimer&) = delete;

  double timeInterval() const { return mTimeInterval; }
  const std::string& timerIdentifier() const { return mTimerIdentifier; }
  bool repeats() const { return mRepeats; }
  platform::Queue& queue() const { return *mQueue; }

 private:
  double mTimeInterval;
  platform::Queue* mQueue;  // not owned
  std::string mTimerIdentifier;
  bool mRepeats;
  std::unique_ptr<DispatchTimer> mTimerSource;  // cancelled when destroyed
};

}  // namespace telemetry
