#pragma once
// Turns the mouse events the radial view forwards into begin, change and end calls of a
// ring rotation. A press between half the sun's radius and twice the orbit radius from the
// sun's centre may rotate; dragging inside the moving band (out to 2.5 × the orbit radius)
// turns the ring by the angle the pointer swept; a release or a flick out of the band with
// pointer speed coasts. Positions are the view's, angles radians from the sun's centre.
// Main thread only.

#include "platform/ui/event.h"
#include "platform/ui/weak_ref.h"

#include <QPointF>

#include <cstdint>

namespace orrery {

class SolarSystem;

class SolarRotationGestureRecognizer {
 public:
  static constexpr double kPauseForgetsMotion = 0.1;

  explicit SolarRotationGestureRecognizer(SolarSystem* solarSystem);

  void mouseDown(const platform::Event& event);
  void mouseDragged(const platform::Event& event);
  void mouseUp(const platform::Event& event);
  void reset();

  float calculateDistanceFromVisualCenter(const QPointF& point) const;
  float calculateFromVisualCenterAngleTo(const QPointF& point) const;
  static float calculateAngleDelta(float from, float to);
  // Whether a press at the event's point would start a rotation (the open-hand cursor).
  bool mightRotateDueToEvent(const platform::Event& event) const;
  QPointF velocityInView() const { return mVelocityEstimation; }
  QPointF locationInView() const { return mCurrentTouchPoint; }
  bool detectSwipe() const;
  static float signf(float value) { return value >= 0 ? 1.0f : -1.0f; }
  float calculateSwipeAngularVelocity() const;
  // 0 idle, 1 possible rotation, 2 rotating.
  std::int64_t detectorStatus() const { return mDetectorStatus; }

 private:
  void updateValuesFromEvent(const platform::Event& event);
  bool inStartBand(float distance) const;
  bool inMovingBand(float distance) const;
  void rotatingStep();

  platform::WeakRef<SolarSystem> mSolarSystem;
  std::int64_t mDetectorStatus = 0;
  QPointF mStartPoint;
  QPointF mPreviousTouchPoint;
  float mPreviousTouchAngle = 0;
  double mPreviousTouchTimeSecs = 0;
  QPointF mCurrentTouchPoint;
  float mCurrentTouchAngle = 0;
  double mCurrentTouchTimeSecs = 0;
  QPointF mVelocityEstimation;
  std::int32_t mPointsSeen = 0;
};

}  // namespace orrery
