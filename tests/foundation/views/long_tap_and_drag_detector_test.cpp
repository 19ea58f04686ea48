#include "foundation/views/long_tap_and_drag_detector.h"

#include "ui_test_env.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

struct Recorder : LongTapAndDragGestureDetectorDelegate {
  LongTapAndDragDetector* detector = nullptr;
  std::vector<std::string> calls;
  std::vector<QPointF> points;
  std::optional<Event> eventDuringDrag;
  void startDragGestureIfPossible(const QPointF& p) override {
    calls.push_back("drag");
    points.push_back(p);
    if (detector) eventDuringDrag = detector->lastEvent();
  }
  void singleTap(const QPointF& p) override {
    calls.push_back("tap");
    points.push_back(p);
  }
  void doubleTap(const QPointF& p) override {
    calls.push_back("double");
    points.push_back(p);
  }
};

Event mouse(EventType type, double x, double y, int clicks = 1) {
  return Event::mouse(type, QPointF(x, y), uitest::clock().now(), clicks);
}

struct Fixture {
  Fixture() {
    recorder.detector = &detector;
    detector.setDelegate(&recorder);
  }
  ~Fixture() { uitest::advance(1.0); }
  LongTapAndDragDetector detector;
  Recorder recorder;
};

using Calls = std::vector<std::string>;

}  // namespace

TEST(LongTapAndDragDetector, AClickIsOneTapAtTheReleaseAndNoDrag) {
  Fixture f;
  f.detector.mouseDown(mouse(EventType::LeftMouseDown, 10, 10));
  uitest::advance(0.1);
  f.detector.mouseUp(mouse(EventType::LeftMouseUp, 10, 10));
  uitest::advance(0.5);
  EXPECT_EQ(f.recorder.calls, Calls{"tap"});
  EXPECT_EQ(f.recorder.points.front(), QPointF(10, 10));
  EXPECT_EQ(f.detector.detectorStatus(), 0) << "the tap timer ends the tap";
}

TEST(LongTapAndDragDetector, AHeldPressStartsOneDragAtThePressPointWithItsEvent) {
  Fixture f;
  f.detector.mouseDown(mouse(EventType::LeftMouseDown, 30, 40));
  uitest::advance(0.169);
  EXPECT_TRUE(f.recorder.calls.empty()) << "not before 0.17 s";
  uitest::advance(0.031);
  EXPECT_EQ(f.recorder.calls, Calls{"drag"});
  EXPECT_EQ(f.recorder.points.front(), QPointF(30, 40));
  ASSERT_TRUE(f.recorder.eventDuringDrag.has_value()) << "the delegate reads the press event during the call";
  EXPECT_EQ(f.recorder.eventDuringDrag->type, EventType::LeftMouseDown);
  EXPECT_FALSE(f.detector.lastEvent().has_value()) << "forgotten afterwards";
  f.detector.mouseUp(mouse(EventType::LeftMouseUp, 30, 40));
  uitest::advance(0.5);
  EXPECT_EQ(f.recorder.calls, Calls{"drag"}) << "the release that ends the drag reports nothing";
}

TEST(LongTapAndDragDetector, AnyMovementAbandonsThePress) {
  Fixture f;
  f.detector.mouseDown(mouse(EventType::LeftMouseDown, 10, 10));
  f.detector.mouseDragged(mouse(EventType::LeftMouseDragged, 11, 10));
  f.detector.mouseUp(mouse(EventType::LeftMouseUp, 11, 10));
  uitest::advance(0.5);
  EXPECT_TRUE(f.recorder.calls.empty());

  // A drag event without movement after 0.18 s starts the drag at once, there.
  f.detector.mouseDown(mouse(EventType::LeftMouseDown, 50, 50));
  uitest::clock().advance(0.19);  // time passes without the queue running
  f.detector.mouseDragged(mouse(EventType::LeftMouseDragged, 50, 50));
  EXPECT_EQ(f.recorder.calls, Calls{"drag"});
  uitest::advance(0.5);
  EXPECT_EQ(f.recorder.calls, Calls{"drag"}) << "the long-press step finds the press gone";
}

TEST(LongTapAndDragDetector, DoubleClicksAndQuickSecondReleasesAreDoubleTaps) {
  Fixture f;
  f.detector.mouseDown(mouse(EventType::LeftMouseDown, 10, 10));
  f.detector.mouseUp(mouse(EventType::LeftMouseUp, 10, 10));
  uitest::advance(0.05);
  f.detector.mouseDown(mouse(EventType::LeftMouseDown, 10, 10, 2));
  f.detector.mouseUp(mouse(EventType::LeftMouseUp, 10, 10, 2));
  EXPECT_EQ(f.recorder.calls, (Calls{"tap", "double"}));
  uitest::advance(0.5);

  f.recorder.calls.clear();
  f.detector.mouseDown(mouse(EventType::LeftMouseDown, 10, 10));
  f.detector.mouseUp(mouse(EventType::LeftMouseUp, 10, 10));
  uitest::advance(0.25);
  f.detector.mouseUp(mouse(EventType::LeftMouseUp, 20, 20));  // its press went elsewhere
  EXPECT_EQ(f.recorder.calls, (Calls{"tap", "double"}));
  EXPECT_EQ(f.recorder.points.back(), QPointF(20, 20));

  f.recorder.calls.clear();
  f.detector.mouseDown(mouse(EventType::LeftMouseDown, 10, 10));
  f.detector.mouseUp(mouse(EventType::LeftMouseUp, 10, 10));
  uitest::clock().advance(0.35);  // past the window, before the tap timer could run
  f.detector.mouseUp(mouse(EventType::LeftMouseUp, 20, 20));
  EXPECT_EQ(f.recorder.calls, Calls{"tap"});
}

TEST(LongTapAndDragDetector, WithoutDelegateOrDetectorTheDelayedStepsDoNothing) {
  {
    LongTapAndDragDetector detector;
    detector.mouseDown(mouse(EventType::LeftMouseDown, 10, 10));
    uitest::advance(0.3);
    EXPECT_EQ(detector.detectorStatus(), 1) << "no delegate: the press stays until the next event";
  }
  {
    Recorder recorder;
    auto detector = std::make_unique<LongTapAndDragDetector>();
    detector->setDelegate(&recorder);
    detector->mouseDown(mouse(EventType::LeftMouseDown, 10, 10));
    detector->mouseUp(mouse(EventType::LeftMouseUp, 10, 10));
    detector->mouseDown(mouse(EventType::LeftMouseDown, 10, 10));
    detector.reset();  // the owning view went away with steps pending
    uitest::advance(0.5);
    EXPECT_EQ(recorder.calls, Calls{"tap"});
  }
}
