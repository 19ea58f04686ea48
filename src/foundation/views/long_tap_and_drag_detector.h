#pragma once
// Turns the left-button events a view passes in into a single tap, a double tap, or the
// start of a drag after the button was held still for 0.17 s. It moves nothing itself: on a
// long press it asks the delegate to start a drag and forgets the press. Positions are
// window points, times the events' media-clock timestamps.
//
// The delayed steps (long press, tap timer) are main-queue steps that capture an operation
// counter and do nothing once it has moved on; they refer to the detector weakly and are
// skipped when it is gone. Main thread only.

#include "platform/ui/event.h"
#include "platform/ui/weak_ref.h"

#include <QPointF>

#include <cstdint>
#include <optional>

namespace orrery {

class LongTapAndDragGestureDetectorDelegate : public virtual platform::Trackable {
 public:
  // Answers an object the detector does not use; nothing here.
  virtual void startDragGestureIfPossible(const QPointF& /*point*/) {}
  // Part of the protocol; the detector itself never sends these three.
  virtual void dragGestureUpdate(const QPointF& /*point*/) {}
  virtual void dragGestureDone(const QPointF& /*point*/) {}
  virtual void dragGestureCancel(const QPointF& /*point*/) {}
  virtual void singleTap(const QPointF& /*point*/) {}
  virtual void doubleTap(const QPointF& /*point*/) {}
};

class LongTapAndDragDetector : public virtual platform::Trackable {
 public:
  // 0.1 s then a further 0.07 s, in two chained steps.
  static constexpr int kLongPressFirstStepMs = 100;
  static constexpr int kLongPressSecondStepMs = 70;
  static constexpr float kHeldDragDelay = 0.18f;
  static constexpr float kDoubleTapWindow = 0.3f;
  static constexpr int kTapTimerMs = 300;

  LongTapAndDragDetector() = default;

  void mouseDown(const platform::Event& event);
  void mouseDragged(const platform::Event& event);
  void mouseUp(const platform::Event& event);

  // The latest event passed in; none after a reset.
  const std::optional<platform::Event>& lastEvent() const { return mLastEvent; }
  void startDrag(const QPointF& point);
  void reset();

  LongTapAndDragGestureDetectorDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(LongTapAndDragGestureDetectorDelegate* delegate) { mDelegate.reset(delegate); }

  // 0 idle, 1 pressed, 2 released after a single tap.
  std::int64_t detectorStatus() const { return mDetectorStatus; }

 private:
  void longPressStep(std::int64_t operation);

  std::int64_t mOperationCount = 0;
  QPointF mStartPoint;
  std::int64_t mDetectorStatus = 0;
  double mStartTouchTimeSecs = 0;
  double mSingleTapTimeSecs = 0;
  std::int64_t mSensitivityInPixels = 0;  // stays 0: any movement abandons the press
  std::optional<platform::Event> mLastEvent;
  platform::WeakRef<LongTapAndDragGestureDetectorDelegate> mDelegate;
};

}  // namespace orrery
