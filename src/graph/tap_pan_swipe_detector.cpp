#include "graph/tap_pan_swipe_detector.h"

#include "platform/core/dispatch.h"

#include <cmath>

namespace orrery {

void TapPanSwipeDetector::mouseDown(const platform::Event& event) {
  mLastEvent = event;
  mStartPoint = mLastPoint = event.locationInWindow;
  mLastTouchTimeSecs = event.timestamp;
  mLastUpdateVelocity = QPointF(0, 0);
  mDetectorStatus = TapPanSwipeDetectorPressed;
  ++mOperationCount;
}

void TapPanSwipeDetector::mouseDragged(const platform::Event& event) {
  mLastEvent = event;
  const QPointF p = event.locationInWindow;
  const double t = event.timestamp;
  if (mDetectorStatus == TapPanSwipeDetectorPressed) {
    const QPointF offset = p - mStartPoint;
    const float distance = std::sqrt(static_cast<float>(offset.x() * offset.x() + offset.y() * offset.y()));
    if (!(distance > static_cast<float>(mSensitivityInPixels))) return;
    mDetectorStatus = TapPanSwipeDetectorPanning;
    if (auto* d = delegate()) d->panGestureStarted(p);
    const QPointF translation = p - mLastPoint;
    mLastPoint = p;
    mLastTouchTimeSecs = t;
    if (auto* d = delegate()) d->panGestureUpdate(translation);
  } else if (mDetectorStatus == TapPanSwipeDetectorPanning) {
    const QPointF translation = p - mLastPoint;
    const double dt = t - mLastTouchTimeSecs;
    mLastUpdateVelocity = dt > 0 ? translation / dt : QPointF(0, 0);
    mLastPoint = p;
    mLastTouchTimeSecs = t;
    if (auto* d = delegate()) d->panGestureUpdate(translation);
  }
}

void TapPanSwipeDetector::mouseUp(const platform::Event& event) {
  mLastEvent = event;
  const QPointF p = event.locationInWindow;
  const double t = event.timestamp;
  switch (mDetectorStatus) {
    case TapPanSwipeDetectorPressed:
      mDetectorStatus = TapPanSwipeDetectorTapped;
      if (event.clickCount != 2) {
        mSingleTapTimeSecs = t;
        const std::int64_t operation = ++mOperationCount;
        platform::mainQueue().afterSeconds(kTapCleanUpSeconds, [self = shared_from_this(), operation] {
          if (self->mOperationCount == operation && self->mDetectorStatus == TapPanSwipeDetectorTapped) self->reset();
        });
        if (auto* d = delegate()) d->singleTap(p);
      } else {
        if (auto* d = delegate()) d->doubleTap(p);
        reset();
      }
      return;
    case TapPanSwipeDetectorTapped:
      if (t - mSingleTapTimeSecs < static_cast<double>(0.3f))
        if (auto* d = delegate()) d->doubleTap(p);
      reset();
      return;
    case TapPanSwipeDetectorPanning: {
      const QPointF translation = p - mLastPoint;
      const double dt = t - mLastTouchTimeSecs;
      mLastPoint = p;
      mLastTouchTimeSecs = t;
      // The pointer rested before the release: no swipe.
      if (dt > 0.1) mLastUpdateVelocity = QPointF(0, 0);
      const QPointF swipe = mLastUpdateVelocity;
      if (auto* d = delegate()) d->panGestureDone(translation, swipe);
      reset();
      return;
    }
    default:
      reset();
  }
}

void TapPanSwipeDetector::reset() {
  mLastEvent = platform::Event();
  mStartPoint = mLastPoint = mLastUpdateVelocity = QPointF(0, 0);
  mLastTouchTimeSecs = mSingleTapTimeSecs = 0;
  mDetectorStatus = TapPanSwipeDetectorIdle;
  ++mOperationCount;
}

}  // namespace orrery
