#include "sdk/analytics/ana_timer.h"

namespace telemetry {

ANATimer::ANATimer(double timeInterval, platform::Queue* queue, std::string timerIdentifier, bool repeats,
                   std::function<void()> timerBlock)
    : mTimeInterval(timeInterval),
      mQueue(queue ? queue : &platform::globalQueue(platform::QueuePriority::Default)),
      mTimerIdentifier(std::move(timerIdentifier)),
      mRepeats(repeats),
      mTimerSource(std::make_unique<DispatchTimer>(*mQueue, timeInterval, repeats, std::move(timerBlock))) {}

}  // namespace telemetry
