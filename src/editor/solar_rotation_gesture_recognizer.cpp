#include "editor/solar_rotation_gesture_recognizer.h"

#include "editor/idea_view.h"
#include "editor/solar_system.h"
#include "foundation/geometry.h"

#include <algorithm>
#include <cmath>

namespace orrery {
namespace {

constexpr float kStartBandInner = 0.5f;  // × the sun's radius
constexpr float kStartBandOuter = 2.0f;  // × the orbit radius
constexpr float kMovingBandOuter = 2.5f;

float sunRadius() { return IdeaView::radiusForRole(1); }

}  // namespace

SolarRotationGestureRecognizer::SolarRotationGestureRecognizer(SolarSystem* solarSystem) : mSolarSystem(solarSystem) {}

void SolarRotationGestureRecognizer::reset() {
  mDetectorStatus = 0;
  mStartPoint = mPreviousTouchPoint = mCurrentTouchPoint = QPointF();
  mPreviousTouchAngle = mCurrentTouchAngle = 0;
  mPreviousTouchTimeSecs = mCurrentTouchTimeSecs = 0;
  mVelocityEstimation = QPointF();
  mPointsSeen = 0;
}

float SolarRotationGestureRecognizer::calculateDistanceFromVisualCenter(const QPointF& point) const {
  SolarSystem* view = mSolarSystem.get();
  return view ? Geometry::distanceFrom(view->orbitVisualCenter(), point) : 0.0f;
}

float SolarRotationGestureRecognizer::calculateFromVisualCenterAngleTo(const QPointF& point) const {
  SolarSystem* view = mSolarSystem.get();
  if (!view) return 0;
  const QPointF d = point - view->orbitVisualCenter();
  return static_cast<float>(std::atan2(d.y(), d.x()));
}

float SolarRotationGestureRecognizer::calculateAngleDelta(float from, float to) {
  return Geometry::minimumAngleFrom(from, to);
}

bool SolarRotationGestureRecognizer::inStartBand(float d) const {
  SolarSystem* view = mSolarSystem.get();
  return view && d >= kStartBandInner * sunRadius() && d <= kStartBandOuter * view->orbitVisualRadius();
}

bool SolarRotationGestureRecognizer::inMovingBand(float d) const {
  SolarSystem* view = mSolarSystem.get();
  return view && d >= kStartBandInner * sunRadius() && d <= kMovingBandOuter * view->orbitVisualRadius();
}

bool SolarRotationGestureRecognizer::mightRotateDueToEvent(const platform::Event& event) const {
  SolarSystem* view = mSolarSystem.get();
  if (!view) return false;
  return inStartBand(calculateDistanceFromVisualCenter(view->convertPoint(event.locationInWindow, nullptr)));
}

bool SolarRotationGestureRecognizer::detectSwipe() const { return Geometry::length(mVelocityEstimation) > 0; }

float SolarRotationGestureRecognizer::calculateSwipeAngularVelocity() const {
  SolarSystem* view = mSolarSystem.get();
  if (!view || view->orbitLogicalRadius() <= 0) return 0;
  const float s = signf(Geometry::minimumAngleFrom(calculateFromVisualCenterAngleTo(mCurrentTouchPoint),
                                                   calculateFromVisualCenterAngleTo(mCurrentTouchPoint + mVelocityEstimation)));
  return s * Geometry::length(mVelocityEstimation) / view->orbitLogicalRadius();
}

void SolarRotationGestureRecognizer::updateValuesFromEvent(const platform::Event& event) {
  SolarSystem* view = mSolarSystem.get();
  mPreviousTouchPoint = mCurrentTouchPoint;
  mPreviousTouchTimeSecs = mCurrentTouchTimeSecs;
  mPreviousTouchAngle = mCurrentTouchAngle;
  mCurrentTouchPoint = view ? view->convertPoint(event.locationInWindow, nullptr) : event.locationInWindow;
  mCurrentTouchTimeSecs = event.timestamp;
  mCurrentTouchAngle = calculateFromVisualCenterAngleTo(mCurrentTouchPoint);
  mPointsSeen = std::min(mPointsSeen + 1, 4);
  if (mPointsSeen < 2) return;
  const double dt = mCurrentTouchTimeSecs - mPreviousTouchTimeSecs;
  if (dt > kPauseForgetsMotion) {
    mVelocityEstimation = QPointF();
    mPointsSeen = 1;
    return;
  }
  const QPointF u = dt > 0 ? (mCurrentTouchPoint - mPreviousTouchPoint) / dt : QPointF();
  const double k = mPointsSeen;
  mVelocityEstimation = mVelocityEstimation * ((k - 2) / (k - 1)) + u;
}

void SolarRotationGestureRecognizer::mouseDown(const platform::Event& event) {
  reset();
  updateValuesFromEvent(event);
  if (inStartBand(calculateDistanceFromVisualCenter(mCurrentTouchPoint))) {
    mDetectorStatus = 1;
    mStartPoint = mCurrentTouchPoint;
  } else {
    reset();  // on the sun or far outside the ring
  }
}

void SolarRotationGestureRecognizer::rotatingStep() {
  SolarSystem* view = mSolarSystem.get();
  if (!view) return reset();
  if (inMovingBand(calculateDistanceFromVisualCenter(mCurrentTouchPoint)))
    view->handleChangeRotationGesture(*this, calculateAngleDelta(mPreviousTouchAngle, mCurrentTouchAngle));
  else
    reset();  // the ring stays where the last step takes it
}

void SolarRotationGestureRecognizer::mouseDragged(const platform::Event& event) {
  updateValuesFromEvent(event);
  SolarSystem* view = mSolarSystem.get();
  if (!view) return;
  if (mDetectorStatus == 1) {
    if (!inMovingBand(calculateDistanceFromVisualCenter(mCurrentTouchPoint))) {
      if (detectSwipe()) {
        mDetectorStatus = 2;
        view->handleBeginRotationGesture(*this, mPreviousTouchAngle);
        view->handleEndRotationGesture(*this, calculateSwipeAngularVelocity());
      }
      reset();
      return;
    }
    mDetectorStatus = 2;
    view->handleBeginRotationGesture(*this, mPreviousTouchAngle);
  }
  if (mDetectorStatus == 2) rotatingStep();
}

void SolarRotationGestureRecognizer::mouseUp(const platform::Event& event) {
  updateValuesFromEvent(event);
  SolarSystem* view = mSolarSystem.get();
  if (view && mDetectorStatus == 2) {
    if (detectSwipe()) {
      view->handleEndRotationGesture(*this, calculateSwipeAngularVelocity());
    } else {
      view->handleChangeRotationGesture(*this, calculateAngleDelta(mPreviousTouchAngle, mCurrentTouchAngle));
      view->handleEndRotationGesture(*this);
    }
  }
  reset();
}

}  // namespace orrery
