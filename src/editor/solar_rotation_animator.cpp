#include "editor/solar_rotation_animator.h"

#include "platform/core/clock.h"

#include <cmath>
#include <numbers>

namespace orrery {

SolarRotationAnimator::SolarRotationAnimator(double angle)
    : mAngleBefore(angle), mAngleTarget(angle), mAngleCurrent(angle) {}

SolarRotationAnimator::~SolarRotationAnimator() { cancel(); }

void SolarRotationAnimator::cancel() {
  if (mAnimator) mAnimator->deactivate();
}

void SolarRotationAnimator::report() {
  if (SolarRotationAnimatorDelegate* d = mDelegate.get()) d->angleUpdate(mAngleCurrent);
}

double SolarRotationAnimator::calculateCurrentAngleFromProgress(float progress) const {
  return mAngleBefore + (mAngleTarget - mAngleBefore) * progress;
}

void SolarRotationAnimator::addAngle(double delta) {
  const double pi = std::numbers::pi;
  const double now = platform::mediaTime();
  double speed = pi;
  if (mStartTime > 0 && mStartTime < now) speed = std::abs(delta / (now - mStartTime)) + pi;
  mStartTime = now;
  if (mAnimator && mAnimator->isActive()) {
    const float progress = mAnimator->updateProgress();
    mAngleCurrent = calculateCurrentAngleFromProgress(progress);
    report();
    delta += mAngleTarget - mAngleCurrent;
    mAnimator->deactivate();
  }
  mAnimator.reset();
  if (!std::isfinite(delta)) delta = 0;
  mAngleBefore = mAngleCurrent;
  mAngleTarget = mAngleCurrent + delta;
  mAnimator = Animator::create(static_cast<float>(std::abs(delta / speed)), kFrameRate);
  platform::WeakRef<SolarRotationAnimator> self(this);
  mAnimator->play([self](Animator& animator) {
    SolarRotationAnimator* me = self.get();
    if (!me) return animator.deactivate();
    me->mAngleCurrent = me->calculateCurrentAngleFromProgress(animator.updateProgress());
    me->report();
  });
}

double SolarRotationAnimator::calculateCurrentAngleUsingVelocityWithProgress(float progress, float duration) const {
  const float t = progress * duration;
  const float brakingStart = duration - std::abs(mInitialVelocity) / deceleration();
  // The turn is worked out in float, as its parts are; the ring's offset it is added to is not.
  float turn = mInitialVelocity * t;
  if (t > brakingStart) {
    const float sign = mInitialVelocity >= 0 ? 1.0f : -1.0f;
    turn -= 0.5f * deceleration() * sign * (t - brakingStart) * (t - brakingStart);
  }
  return mAngleBefore + turn;
}

void SolarRotationAnimator::addAngularRotationWithVelocity(float velocity) {
  if (mAnimator) mAnimator->deactivate();
  mAnimator.reset();
  mAngleBefore = mAngleCurrent;
  velocity *= kSpeedFactor;
  if (!std::isfinite(velocity) || velocity == 0) {
    // Braking from rest would divide by zero: nothing to coast.
    mInitialVelocity = 0;
    mAngleTarget = mAngleCurrent;
    if (SolarRotationAnimatorDelegate* d = mDelegate.get()) d->rotationEnded();
    return;
  }
  mInitialVelocity = std::copysign(std::min(std::abs(velocity), kMaxVelocity), velocity);
  const float duration = std::abs(mInitialVelocity) / deceleration() + kInitialTime;
  mAngleTarget = calculateCurrentAngleUsingVelocityWithProgress(1.0f, duration);
  mAnimator = Animator::create(duration, kFrameRate);
  platform::WeakRef<SolarRotationAnimator> self(this);
  mAnimator->play([self, duration](Animator& animator) {
    SolarRotationAnimator* me = self.get();
    if (!me) return animator.deactivate();
    const float progress = animator.progress();
    me->mAngleCurrent = me->calculateCurrentAngleUsingVelocityWithProgress(progress, duration);
    me->report();
    if (progress >= 1.0f)
      if (SolarRotationAnimatorDelegate* d = me->mDelegate.get()) d->rotationEnded();
  });
}

}  // namespace orrery
