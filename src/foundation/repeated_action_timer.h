#pragma once
// A fixed-step clock on the media clock: `repetitions` steps of `delta` seconds from start.

#include <cstdint>

namespace orrery {

class RepeatedActionTimer {
 public:
  // At least one step; a step that is not a positive finite length becomes one 60th of
  // a second.
  RepeatedActionTimer(std::int64_t repetitions, float delta);
  // rate × duration steps of 1 / rate. A rate that is not positive and finite becomes 60;
  // a duration that is not positive becomes one frame.
  static RepeatedActionTimer withFrameRate(float frameRate, float totalDuration);

  void start();
  bool isStarted() const { return mStarted; }
  // 0 before start; else elapsed / total, at most 1.
  float progress() const;
  // Seconds until the next step on the grid start + n × delta; 0 once the total has passed.
  float timeToNextAction() const;

  std::int64_t repetitions() const { return mRepetitions; }
  float delta() const { return mDelta; }

 private:
  double elapsed() const;
  float total() const { return static_cast<float>(mRepetitions) * mDelta; }

  std::int64_t mRepetitions;
  float mDelta;
  double mStart = 0;
  bool mStarted = false;
};

}  // namespace orrery
