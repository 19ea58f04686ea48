#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QPainter>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// Records the events that reach it, optionally handling (swallowing) mouse-downs.
class Recorder : public View {
 public:
  explicit Recorder(QRectF frame, std::vector<std::string>* log, std::string name, bool swallowDown = false)
      : View(frame), mLog(log), mName(std::move(name)), mSwallow(swallowDown) {}
  void mouseDown(const Event& e) override {
    mLog->push_back(mName + ":down");
    if (!mSwallow) View::mouseDown(e);
  }
  void mouseDragged(const Event& e) override {
    mLog->push_back(mName + ":drag");
    View::mouseDragged(e);
  }
  void mouseUp(const Event& e) override {
    mLog->push_back(mName + ":up");
    View::mouseUp(e);
  }
  void keyDown(const Event& e) override {
    mLog->push_back(mName + ":key");
    View::keyDown(e);
  }
  void mouseEntered(const Event&) override { mLog->push_back(mName + ":entered"); }
  void mouseExited(const Event&) override { mLog->push_back(mName + ":exited"); }
  void mouseMoved(const Event&) override { mLog->push_back(mName + ":moved"); }
  bool acceptsFirstResponder() const override { return mAccepts; }
  bool mAccepts = false;

 private:
  std::vector<std::string>* mLog;
  std::string mName;
  bool mSwallow;
};

class UnflippedView : public View {
 public:
  using View::View;
  bool isFlipped() const override { return false; }
};

Event at(EventType type, double x, double y) { return Event::mouse(type, QPointF(x, y)); }

}  // namespace

TEST(ViewHierarchy, HitTestingAndConversionsFollowFramesBoundsAndFlipping) {
  auto root = std::make_shared<View>(QRectF(0, 0, 400, 300));
  auto panel = std::make_shared<View>(QRectF(100, 50, 200, 200));
  auto child = std::make_shared<View>(QRectF(10, 20, 50, 50));
  root->addSubview(panel);
  panel->addSubview(child);

  EXPECT_EQ(root->hitTest(QPointF(115, 75)), child.get());
  EXPECT_EQ(root->hitTest(QPointF(105, 55)), panel.get());
  EXPECT_EQ(root->hitTest(QPointF(160, 75)), panel.get());  // right edge is outside the child
  child->setHidden(true);
  EXPECT_EQ(root->hitTest(QPointF(115, 75)), panel.get());
  child->setHidden(false);

  EXPECT_EQ(child->convertPointToView(QPointF(0, 0), nullptr), QPointF(110, 70));
  EXPECT_EQ(child->convertPoint(QPointF(110, 70), nullptr), QPointF(0, 0));
  panel->setBoundsOrigin(QPointF(10, 0));  // scrolled: the child moves left on screen
  EXPECT_EQ(child->convertPointToView(QPointF(0, 0), root.get()), QPointF(100, 70));
  EXPECT_EQ(child->layer()->transformToAncestor(nullptr).map(QPointF(0, 0)), QPointF(100, 70));

  // A y-up view: a subview at y = 0 sits at its bottom edge.
  auto up = std::make_shared<UnflippedView>(QRectF(0, 0, 100, 100));
  auto low = std::make_shared<View>(QRectF(10, 0, 20, 10));
  up->addSubview(low);
  EXPECT_EQ(low->convertPointToView(QPointF(0, 0), up.get()), QPointF(10, 10));
  EXPECT_EQ(low->layer()->frame(), QRectF(10, 90, 20, 10));
  up->setFrameSize(QSizeF(100, 200));
  EXPECT_EQ(low->layer()->frame(), QRectF(10, 190, 20, 10));

  // insert below / above keeps views and layers in the same order.
  auto back = std::make_shared<View>(QRectF(0, 0, 5, 5));
  panel->insertSubviewBelow(back, child.get());
  EXPECT_EQ(panel->subviews().front(), back);
  EXPECT_EQ(panel->layer()->sublayers().front(), back->layer());
}

// A reference notices its target going, whether it was the first made to it or not, and a
// target whose destruction has begun can no longer be reached, even by a reference made then.
TEST(ViewHierarchy, WeakReferencesNeverReachATargetThatIsGoing) {
  struct Target : Trackable {
    bool* reachedWhileGoing = nullptr;
    ~Target() override {
      invalidateTracking();
      if (reachedWhileGoing) *reachedWhileGoing = WeakRef<Target>(this).get() != nullptr;
    }
  };
  auto early = std::make_unique<Target>();
  WeakRef<Target> first(early.get()), second(early.get());
  EXPECT_EQ(first.get(), early.get());
  early.reset();
  EXPECT_FALSE(first || second);

  bool reached = true;
  auto never = std::make_unique<Target>();  // no reference before it goes
  never->reachedWhileGoing = &reached;
  never.reset();
  EXPECT_FALSE(reached);

  Target original;
  Target copy(original);  // a copy is a target of its own
  WeakRef<Target> toOriginal(&original), toCopy(&copy);
  EXPECT_EQ(toOriginal.get(), &original);
  EXPECT_EQ(toCopy.get(), &copy);
}

TEST(ViewEvents, MouseGoesToHitViewWhichKeepsDragAndUpThenUnhandledEventsClimb) {
  Window window(QSizeF(400, 300));
  std::vector<std::string> log;
  auto outer = std::make_shared<Recorder>(QRectF(0, 0, 400, 300), &log, "outer");
  auto inner = std::make_shared<Recorder>(QRectF(50, 50, 100, 100), &log, "inner");
  auto eater = std::make_shared<Recorder>(QRectF(200, 50, 100, 100), &log, "eater", true);
  window.setContentView(outer);
  outer->addSubview(inner);
  outer->addSubview(eater);

  window.sendEvent(at(EventType::LeftMouseDown, 60, 60));
  window.sendEvent(at(EventType::LeftMouseDragged, 390, 290));  // outside: still the grabbing view
  window.sendEvent(at(EventType::LeftMouseUp, 390, 290));
  EXPECT_EQ(log, (std::vector<std::string>{"inner:down", "outer:down", "inner:drag", "outer:drag",
                                           "inner:up", "outer:up"}));
  log.clear();
  window.sendEvent(at(EventType::LeftMouseDown, 210, 60));
  window.sendEvent(at(EventType::LeftMouseDragged, 215, 60));
  EXPECT_EQ(log, (std::vector<std::string>{"eater:down", "eater:drag", "outer:drag"}));
}

TEST(ViewEvents, KeysGoToFirstResponderAndEscapeBecomesCancelAlongTheChain) {
  Window window(QSizeF(400, 300));
  std::vector<std::string> log;
  auto outer = std::make_shared<Recorder>(QRectF(0, 0, 400, 300), &log, "outer");
  auto field = std::make_shared<Recorder>(QRectF(10, 10, 100, 20), &log, "field");
  field->mAccepts = true;
  window.setContentView(outer);
  outer->addSubview(field);

  auto controller = std::make_shared<ViewController>();
  controller->setView(outer);
  int cancels = 0;
  controller->setActionHandler(Actions::cancelOperation, [&](const ActionSender&) { ++cancels; });

  window.sendEvent(at(EventType::LeftMouseDown, 20, 20));  // a click makes it first responder
  EXPECT_EQ(window.firstResponder(), field.get());
  window.sendEvent(Event::key(EventType::KeyDown, KeyCode::Escape, "\x1b"));
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(log.back(), "outer:key");  // the key climbed field → outer → controller → window

  // Menu validation asks the same chain.
  Menu menu;
  auto item = menu.addActionItem("Cancel", Actions::cancelOperation);
  auto orphan = menu.addActionItem("Nothing", "noSuchAction");
  menu.update(window.firstResponder());
  EXPECT_TRUE(item->isEnabled());
  EXPECT_FALSE(orphan->isEnabled());

  field->removeFromSuperview();  // leaving the window gives up first-responder status
  EXPECT_EQ(window.firstResponder(), &window);
}

TEST(ViewEvents, TrackingAreasReportEnterMoveAndExit) {
  Window window(QSizeF(400, 300));
  std::vector<std::string> log;
  auto root = std::make_shared<View>();
  auto spot = std::make_shared<Recorder>(QRectF(100, 100, 50, 50), &log, "spot");
  window.setContentView(root);
  root->addSubview(spot);
  spot->addTrackingArea(std::make_shared<TrackingArea>(
      QRectF(0, 0, 50, 50), TrackingArea::MouseEnteredAndExited | TrackingArea::MouseMoved, spot.get()));

  window.sendEvent(at(EventType::MouseMoved, 10, 10));
  window.sendEvent(at(EventType::MouseMoved, 110, 110));
  window.sendEvent(at(EventType::MouseMoved, 120, 110));
  window.sendEvent(at(EventType::MouseMoved, 10, 10));
  EXPECT_EQ(log, (std::vector<std::string>{"spot:entered", "spot:moved", "spot:moved", "spot:exited"}));
}

TEST(ViewDrawing, ViewsDrawOnceIntoTheirLayerAndSnapshotsShowTheTree) {
  struct Filled : View {
    using View::View;
    int draws = 0;
    void drawRect(QPainter& p, const QRectF&) override {
      ++draws;
      p.fillRect(bounds(), Qt::red);
    }
  };
  auto root = std::make_shared<View>(QRectF(0, 0, 100, 100));
  auto red = std::make_shared<Filled>(QRectF(20, 20, 30, 30));
  root->addSubview(red);
  QImage image = root->snapshot();
  EXPECT_EQ(image.pixelColor(25, 25), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(5, 5).alpha(), 0);  // the plain container keeps no image
  EXPECT_TRUE(root->layer()->contents().isNull());
  red->setFrameOrigin(QPointF(60, 60));
  image = root->snapshot();
  EXPECT_EQ(image.pixelColor(65, 65), QColor(Qt::red));
  EXPECT_EQ(red->draws, 1);  // moving reuses the drawing
  red->setFrameSize(QSizeF(10, 10));
  root->snapshot();
  EXPECT_EQ(red->draws, 2);  // resizing redraws
}
