#include "foundation/views/long_tap_and_drag_detector.h"

#include "foundation/geometry.h"
#include "platform/core/dispatch.h"

namespace orrery {

void LongTapAndDragDetector::mouseDown(const platform::Event& event) {
  mLastEvent = event;
  mStartPoint = event.locationInWindow;
  mDetectorStatus = 1;
  mStartTouchTimeSecs = event.timestamp;
  const std::int64_t operation = ++mOperationCount;
  platform::WeakRef<LongTapAndDragDetector> self(this);
  platform::mainQueue().after(platform::Millis(kLongPressFirstStepMs), [self, operation] {
    platform::mainQueue().after(platform::Millis(kLongPressSecondStepMs), [self, operation] {
      if (LongTapAndDragDetector* d = self.get()) d->longPressStep(operation);
    });
  });
}

void LongTapAndDragDetector::longPressStep(std::int64_t operation) {
  if (!mDelegate || mOperationCount != operation || mDetectorStatus != 1) return;
  startDrag(mStartPoint);
}

void LongTapAndDragDetector::mouseDragged(const platform::Event& event) {
  mLastEvent = event;
  const QPointF location = event.locationInWindow;
  if (mDetectorStatus != 1) return;
  if (Geometry::distanceFrom(mStartPoint, location) > static_cast<float>(mSensitivityInPixels)) {
    reset();
  } else if (event.timestamp - mStartTouchTimeSecs > static_cast<double>(kHeldDragDelay)) {
    startDrag(location);
  }
}

void LongTapAndDragDetector::mouseUp(const platform::Event& event) {
  mLastEvent = event;
  const QPointF p = event.locationInWindow;
  if (mDetectorStatus == 2) {
    // A release without a press in between (the owner passed the press elsewhere).
    const bool quick = event.timestamp < mSingleTapTimeSecs + static_cast<double>(kDoubleTapWindow);
    if (quick)
      if (auto* d = mDelegate.get()) d->doubleTap(p);
    reset();
    return;
  }
  if (mDetectorStatus != 1) {
    reset();
    return;
  }
  mDetectorStatus = 2;
  if (event.clickCount == 2) {
    if (auto* d = mDelegate.get()) d->doubleTap(p);
    reset();
    return;
  }
  mSingleTapTimeSecs = event.timestamp;
  const std::int64_t operation = ++mOperationCount;
  platform::WeakRef<LongTapAndDragDetector> self(this);
  platform::mainQueue().after(platform::Millis(kTapTimerMs), [self, operation] {
    LongTapAndDragDetector* d = self.get();
    if (d && d->mOperationCount == operation && d->mDetectorStatus == 2) d->reset();
  });
  if (auto* d = mDelegate.get()) d->singleTap(p);
}

void LongTapAndDragDetector::startDrag(const QPointF& point) {
  // Before the reset, so the delegate can still read the gesture's event.
  if (auto* d = mDelegate.get()) d->startDragGestureIfPossible(point);
  reset();
}

void LongTapAndDragDetector::reset() {
  mLastEvent.reset();
  mStartPoint = QPointF(0, 0);
  mStartTouchTimeSecs = 0;
  mSingleTapTimeSecs = 0;
  mDetectorStatus = 0;
  ++mOperationCount;
}

}  // namespace orrery
