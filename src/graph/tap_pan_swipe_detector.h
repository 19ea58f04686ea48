#pragma once
// Turns the mouse-down, -dragged and -up events a view forwards into five gestures: pan start,
// pan update, pan end with a swipe velocity, single tap and double tap. Window coordinates
// (y down) and event timestamps; the one timer is the clean-up 300 ms after a single tap,
// which keeps the detector alive until it has run. Main thread only.

#include "platform/ui/event.h"
#include "platform/ui/weak_ref.h"

#include <QPointF>

#include <cstdint>
#include <memory>

namespace orrery {

class TapPanSwipeDetectorDelegate : public virtual platform::Trackable {
 public:
  virtual void panGestureStarted(const QPointF& /*point*/) {}
  // The translation since the previous update.
  virtual void panGestureUpdate(const QPointF& /*translation*/) {}
  // The last translation and the velocity of the last drag step, points per second.
  virtual void panGestureDone(const QPointF& /*translation*/, const QPointF& /*swipe*/) {}
  virtual void singleTap(const QPointF& /*point*/) {}
  virtual void doubleTap(const QPointF& /*point*/) {}
};

enum TapPanSwipeDetectorStatus : std::int64_t {
  TapPanSwipeDetectorIdle = 0,
  TapPanSwipeDetectorPressed = 1,
  TapPanSwipeDetectorTapped = 2,
  TapPanSwipeDetectorPanning = 3,
};

class TapPanSwipeDetector : public std::enable_shared_from_this<TapPanSwipeDetector> {
 public:
  static constexpr double kTapCleanUpSeconds = 0.3;

  void mouseDown(const platform::Event& event);
  void mouseDragged(const platform::Event& event);
  void mouseUp(const platform::Event& event);
  void reset();

  const platform::Event& lastEvent() const { return mLastEvent; }
  bool panning() const { return mDetectorStatus == TapPanSwipeDetectorPanning; }
  std::int64_t status() const { return mDetectorStatus; }
  TapPanSwipeDetectorDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(TapPanSwipeDetectorDelegate* delegate) { mDelegate.reset(delegate); }

 private:
  std::int64_t mOperationCount = 0;
  QPointF mStartPoint;
  QPointF mLastPoint;
  QPointF mLastUpdateVelocity;
  std::int64_t mDetectorStatus = TapPanSwipeDetectorIdle;
  double mLastTouchTimeSecs = 0;
  double mSingleTapTimeSecs = 0;
  std::int64_t mSensitivityInPixels = 0;
  platform::Event mLastEvent;
  platform::WeakRef<TapPanSwipeDetectorDelegate> mDelegate;
};

}  // namespace orrery
