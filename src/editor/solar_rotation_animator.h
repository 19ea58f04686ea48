#pragma once
// Animates the ring offset of the radial view for one rotation gesture: follow steps that
// trail the pointer, and a coast after a flick that brakes to rest in 1/1.75 s. Every new
// angle goes to the delegate (the view), which lays out again. Frames are Animator steps at
// 60 per second on the main queue. Main thread only.
//
// The angles are doubles: on a crowded orbit the ring's offset moves every planet by one place
// per 2π / count, finer than a float's step near 2π.

#include "foundation/animator.h"
#include "platform/ui/weak_ref.h"

#include <cmath>
#include <memory>

namespace orrery {

class SolarRotationAnimatorDelegate : public virtual platform::Trackable {
 public:
  virtual void angleUpdate(double /*angle*/) {}
  virtual void rotationEnded() {}
};

class SolarRotationAnimator : public virtual platform::Trackable {
 public:
  static constexpr float kMaxVelocity = 31.415926f;  // 10π radians per second
  static constexpr float kSpeedFactor = 1.0f;
  static constexpr float kInitialTime = 0.0f;
  static constexpr float kFrameRate = 60.0f;
  static constexpr float kDecelerationFactor = 1.75f;

  explicit SolarRotationAnimator(double angle);
  ~SolarRotationAnimator() override;

  SolarRotationAnimatorDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(SolarRotationAnimatorDelegate* delegate) { mDelegate.reset(delegate); }

  // Turns by δ more, trailing: the part of a running step not yet covered is carried over.
  void addAngle(double delta);
  // Coasts from the current angle with a signed velocity (radians per second), capped at
  // 10π; a zero or non-finite velocity does not coast and ends the rotation at once.
  void addAngularRotationWithVelocity(float velocity);
  double calculateCurrentAngleFromProgress(float progress) const;
  double calculateCurrentAngleUsingVelocityWithProgress(float progress, float duration) const;
  double targetAngle() const { return mAngleTarget; }
  double angleLeft() const { return mAngleTarget - mAngleCurrent; }
  double currentAngle() const { return mAngleCurrent; }
  float initialVelocity() const { return mInitialVelocity; }
  bool isAnimating() const { return mAnimator && mAnimator->isActive(); }
  // No further frame runs.
  void cancel();

 private:
  float deceleration() const { return kDecelerationFactor * std::abs(mInitialVelocity); }
  void report();

  double mStartTime = 0;
  double mAngleBefore;
  double mAngleTarget;
  double mAngleCurrent;
  std::shared_ptr<Animator> mAnimator;
  float mInitialVelocity = 0;
  platform::WeakRef<SolarRotationAnimatorDelegate> mDelegate;
};

}  // namespace orrery
