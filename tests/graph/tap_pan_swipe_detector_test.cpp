#include "graph/tap_pan_swipe_detector.h"
#include "platform/ui/ui_test_env.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

QString text(const QPointF& p) { return QStringLiteral("%1,%2").arg(p.x()).arg(p.y()); }

struct DetectorRecorder : TapPanSwipeDetectorDelegate {
  QStringList calls;
  void panGestureStarted(const QPointF& p) override { calls << "start " + text(p); }
  void panGestureUpdate(const QPointF& t) override { calls << "update " + text(t); }
  void panGestureDone(const QPointF& t, const QPointF& v) override { calls << "done " + text(t) + " " + text(v); }
  void singleTap(const QPointF& p) override { calls << "tap " + text(p); }
  void doubleTap(const QPointF& p) override { calls << "double " + text(p); }
};

struct DetectorTest : ::testing::Test {
  std::shared_ptr<TapPanSwipeDetector> detector = std::make_shared<TapPanSwipeDetector>();
  DetectorRecorder recorder;
  void SetUp() override { detector->setDelegate(&recorder); }
  void down(QPointF p, double t, int clicks = 1) { detector->mouseDown(Event::mouse(EventType::LeftMouseDown, p, t, clicks)); }
  void drag(QPointF p, double t) { detector->mouseDragged(Event::mouse(EventType::LeftMouseDragged, p, t)); }
  void up(QPointF p, double t, int clicks = 1) { detector->mouseUp(Event::mouse(EventType::LeftMouseUp, p, t, clicks)); }
};

}  // namespace

TEST_F(DetectorTest, PressAndReleaseIsOneTapAndADoubleClickAddsADoubleTap) {
  down({10, 10}, 1.0);
  up({10, 10}, 1.05);
  EXPECT_EQ(recorder.calls, QStringList{"tap 10,10"});
  EXPECT_EQ(detector->status(), TapPanSwipeDetectorTapped);
  down({11, 10}, 1.1, 2);
  up({12, 10}, 1.15, 2);
  EXPECT_EQ(recorder.calls, (QStringList{"tap 10,10", "double 12,10"}));
  EXPECT_EQ(detector->status(), TapPanSwipeDetectorIdle);
}

TEST_F(DetectorTest, TheTapCleanUpResetsOnlyWhenNothingHappenedSince) {
  down({0, 0}, 0);
  up({0, 0}, 0.01);
  uitest::advance(0.31);
  EXPECT_EQ(detector->status(), TapPanSwipeDetectorIdle) << "300 ms after a tap the detector is idle";
  down({0, 0}, 1);
  up({0, 0}, 1.01);
  uitest::advance(0.1);
  down({5, 5}, 1.2);  // a new press within 300 ms moves the operation count on
  uitest::advance(0.3);
  EXPECT_EQ(detector->status(), TapPanSwipeDetectorPressed) << "the old clean-up left the new press alone";
}

TEST_F(DetectorTest, TheFirstMoveStartsThePanWithItsOwnTranslation) {
  down({100, 100}, 2.0);
  drag({100.5, 100}, 2.01);
  EXPECT_EQ(recorder.calls, (QStringList{"start 100.5,100", "update 0.5,0"}));
  EXPECT_TRUE(detector->panning());
  drag({110.5, 100}, 2.02);
  drag({120.5, 100}, 2.02);  // same timestamp: no velocity from this step
  up({120.5, 100}, 2.03);
  EXPECT_EQ(recorder.calls.last(), "done 0,0 0,0");
  EXPECT_FALSE(detector->panning());
}

TEST_F(DetectorTest, ARestBeforeTheReleaseEndsThePanWithoutSwipe) {
  down({0, 0}, 0);
  drag({0, 5}, 0.01);
  drag({0, 15}, 0.02);
  up({0, 16}, 0.07);
  EXPECT_EQ(recorder.calls.last(), "done 0,1 0,1000") << "0.05 s later the last step's velocity stands";
  recorder.calls.clear();
  down({0, 0}, 1);
  drag({0, 5}, 1.01);
  drag({0, 15}, 1.02);
  up({0, 15}, 1.17);
  EXPECT_EQ(recorder.calls.last(), "done 0,0 0,0") << "0.15 s later the swipe is zero";
  EXPECT_EQ(detector->status(), TapPanSwipeDetectorIdle);
}

TEST_F(DetectorTest, DragsWithoutPressAndAReleaseWhenIdleDoNothing) {
  drag({1, 1}, 0);
  up({1, 1}, 0.1);
  EXPECT_TRUE(recorder.calls.isEmpty());
  // A second click after 0.3 s of a tap is no double tap.
  down({0, 0}, 5);
  up({0, 0}, 5.01);
  down({0, 0}, 5.5);
  up({0, 0}, 5.51);
  EXPECT_EQ(recorder.calls, (QStringList{"tap 0,0", "tap 0,0"}));
}
