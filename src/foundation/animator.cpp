#include "foundation/animator.h"

#include "platform/core/dispatch.h"

#include <cmath>

namespace orrery {

namespace {

double clampUnit(double t) { return t <= 0 ? 0.0 : (t >= 1 ? 1.0 : t); }

}  // namespace

std::shared_ptr<Animator> Animator::create(float duration, float frameRate) {
  return std::shared_ptr<Animator>(new Animator(RepeatedActionTimer::withFrameRate(frameRate, duration)));
}

void Animator::play(FrameCallback frame) {
  if (!mAnimationTimer || mAnimationTimer->isStarted()) return;
  mAnimationTimer->start();
  scheduleFrame(mAnimationTimer->timeToNextAction(), std::move(frame));
}

void Animator::scheduleFrame(float delay, FrameCallback frame) {
  // Round up: a frame that ran a little before its grid point would only find a tiny
  // delay and run again at once. A frame is due at once only when the time is up.
  long long ms = 0;
  if (mAnimationTimer->progress() < 1.0f) ms = std::max(1LL, static_cast<long long>(std::ceil(delay * 1000.0)));
  platform::mainQueue().after(platform::Millis(ms), [self = shared_from_this(), frame = std::move(frame)] {
    self->frameStep(frame);
  });
}

void Animator::frameStep(const FrameCallback& frame) {
  if (!mAnimationTimer) return;
  mProgress = mAnimationTimer->progress();
  const float stored = mProgress;
  frame(*this);
  if (!mAnimationTimer) return;
  if (stored < 1.0f)
    scheduleFrame(mAnimationTimer->timeToNextAction(), frame);
  else
    mAnimationTimer.reset();
}

float Animator::updateProgress() {
  if (!mAnimationTimer) return 1.0f;
  mProgress = mAnimationTimer->progress();
  return mProgress;
}

double Animator::cubicEaseIn(double t) {
  t = clampUnit(t);
  return t * t * t;
}

double Animator::cubicEaseOut(double t) {
  t = clampUnit(t);
  const double u = 1 - t;
  return 1 - u * u * u;
}

double Animator::cubicEaseInOut(double t) {
  t = clampUnit(t);
  if (t < 0.5) return 4 * t * t * t;
  const double u = 2 * t - 2;
  return (t - 1) * u * u + 1;
}

}  // namespace orrery
