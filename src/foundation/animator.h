#pragma once
// Plays a frame callback on the main queue for a duration at a frame rate. Frames fall on
// the grid start + n / rate (rounded up to the next millisecond, the main queue's
// resolution); a late frame skips the grid points it missed. The last frame is the first
// whose progress is 1, and its callback always runs. Main thread only.

#include "foundation/repeated_action_timer.h"

#include <functional>
#include <memory>
#include <optional>

namespace orrery {

class Animator : public std::enable_shared_from_this<Animator> {
 public:
  using FrameCallback = std::function<void(Animator&)>;

  // The animator keeps itself alive while frames are scheduled.
  static std::shared_ptr<Animator> create(float duration, float frameRate);

  // Starts the clock and schedules the first frame one interval later. Does nothing once
  // the animation has been played, has ended or was deactivated: make a new one.
  void play(FrameCallback frame);
  // The progress now, stored; 1 without an active timer.
  float updateProgress();
  // The progress stored at the last frame or the last updateProgress.
  float progress() const { return mProgress; }
  bool isActive() const { return mAnimationTimer.has_value(); }
  // No further frame runs.
  void deactivate() { mAnimationTimer.reset(); }

  static double cubicEaseIn(double t);
  static double cubicEaseOut(double t);
  static double cubicEaseInOut(double t);

 private:
  explicit Animator(RepeatedActionTimer timer) : mAnimationTimer(timer) {}
  void scheduleFrame(float delay, FrameCallback frame);
  void frameStep(const FrameCallback& frame);

  std::optional<RepeatedActionTimer> mAnimationTimer;
  float mProgress = 0.0f;
};

}  // namespace orrery
