#include "foundation/repeated_action_timer.h"

#include "platform/core/clock.h"

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

constexpr float kDefaultFrameRate = 60.0f;
// Far beyond any animation; keeps the float-to-integer conversion defined.
constexpr float kMaxRepetitions = 1e12f;

bool positiveFinite(float v) { return std::isfinite(v) && v > 0; }

}  // namespace

RepeatedActionTimer::RepeatedActionTimer(std::int64_t repetitions, float delta)
    : mRepetitions(std::max<std::int64_t>(1, repetitions)),
      mDelta(positiveFinite(delta) ? delta : 1.0f / kDefaultFrameRate) {}

RepeatedActionTimer RepeatedActionTimer::withFrameRate(float frameRate, float totalDuration) {
  const float rate = positiveFinite(frameRate) ? frameRate : kDefaultFrameRate;
  float steps = totalDuration > 0 ? rate * totalDuration : 1.0f;  // NaN fails the test too
  steps = std::clamp(std::isfinite(steps) ? steps : kMaxRepetitions, 1.0f, kMaxRepetitions);
  return RepeatedActionTimer(static_cast<std::int64_t>(steps), 1.0f / rate);
}

void RepeatedActionTimer::start() {
  mStart = platform::mediaTime();
  mStarted = true;
}

double RepeatedActionTimer::elapsed() const { return mStarted ? platform::mediaTime() - mStart : 0.0; }

float RepeatedActionTimer::progress() const {
  if (!mStarted) return 0.0f;
  return static_cast<float>(std::min(1.0, elapsed() / static_cast<double>(total())));
}

float RepeatedActionTimer::timeToNextAction() const {
  const double e = elapsed();
  if (e >= total()) return 0.0f;
  const auto k = static_cast<std::int64_t>(e / mDelta);
  return static_cast<float>((k + 1) * static_cast<double>(mDelta) - e);
}

}  // namespace orrery
