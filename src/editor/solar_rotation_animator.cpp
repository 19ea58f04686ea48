#include "editor/solar_rotation_animator.h"

#include "platform/core/clock.h"

#include <cmath>
#include <numbers>

namespace orrery {

SolarRotationAnimator::SolarRotationAnimator(float angle)
    : mAngleBefore(angle), mAngleTarget(angle), mAngleCurrent(angle) {}

SolarRotationAnimator::~SolarRotationAnimator() { cancel(); }

void SolarRotationAnimator::cancel() {
  if (mAnimator) mAnimator->deactivate();
}

void SolarRotationAnimator::report() {
  if (SolarRotationAnimatorDelegate* d = mDelegate.get()) d->angleUpdate(mAngleCurrent);
}

float SolarRotationAnimator::calculateCurrentAngleFromProgress(float progress) const {
  return mAngleBefore + (mAngleTarget - mAngleBefore) * progress;
}

void SolarRotationAnimator::addAngle(float delta) {
  const float pi = std::numbers::pi_v<float>;
  const double now = platform::mediaTime();
  float speed = pi;
  if (mStartTime > 0 && mStartTime < now) speed = std::abs(delta / static_cast<float>(now - mStartTime)) + pi;
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
  mAnimator = Animator::create(std::abs(delta / speed), kFrameRate);
  platform::WeakRef<SolarRotationAnimator> self(this);
  mAnimator->play([self](Animator& animator) {
    SolarRotationAnimator* me = self.get();
    if (!me) return animator.deactivate();
    me->mAngleCurrent = me->calculateCurrentAngleFromProgress(animator.updateProgress());
    me->report();
  });
}

float SolarRotationAnimator::calculateCurrentAngleUsingVelocityWithProgress(float progress, float duration) const {
  const float t = progress * duration;
  const float brakingStart = duration - std::abs(mInitialVelocity) / deceleration();
  float angle = mAngleBefore + mInitialVelocity * t;
  if (t > brakingStart) {
    const float sign = mInitialVelocity >= 0 ? 1.0f : -1.0f;
    angle -= 0.5f * deceleration() * sign * (t - brakingStart) * (t - brakingStart);
  }
  return angle;
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
