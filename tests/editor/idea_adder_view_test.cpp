#include "editor/idea_adder_view.h"
#include "foundation/image_extensions.h"
#include "foundation/views/base_view.h"
#include "foundation/views/view_extensions.h"
#include "platform/ui/event.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

struct CountingDelegate : IdeaAdderViewDelegate {
  int taps = 0;
  IdeaAdderView* last = nullptr;
  void handleTapOnIdeaAdderView(IdeaAdderView& adder) override {
    ++taps;
    last = &adder;
  }
};

// The radial view's place: records the clicks that reach it.
struct Host : BaseView {
  using BaseView::BaseView;
  int downs = 0, ups = 0;
  void mouseDown(const Event&) override { ++downs; }
  void mouseUp(const Event&) override { ++ups; }
};

Event at(EventType type, double x, double y) {
  Event e;
  e.type = type;
  e.locationInWindow = QPointF(x, y);
  e.clickCount = 1;
  return e;
}

bool sameImage(const QImage& a, const QString& name) {
  return a.cacheKey() == imageext::deviceImageNamed(name).cacheKey() || a == imageext::deviceImageNamed(name);
}

}  // namespace

TEST(IdeaAdder, LooksByStateAndFocus) {
  IdeaAdderView adder;
  EXPECT_EQ(adder.frame(), QRectF(0, 0, 40, 40));
  EXPECT_EQ(adder.adderState(), 1u);
  EXPECT_EQ(adder.imageView().frame(), QRectF(5, 5, 30, 30)) << "the plus picture's size, centred";
  EXPECT_TRUE(sameImage(adder.imageView().image(), "plus_on_circle"));
  EXPECT_FALSE(adder.isHidden());

  adder.setAdderState(2);
  EXPECT_TRUE(sameImage(adder.imageView().image(), "plus_on_circle_hover"));
  adder.setInFocus(true);
  EXPECT_TRUE(sameImage(adder.imageView().image(), "plus_on_circle_hover")) << "focus shows only on a dock well";
  adder.setAdderState(3);
  EXPECT_TRUE(sameImage(adder.imageView().image(), "small_dock_active"));
  adder.setInFocus(false);
  EXPECT_TRUE(sameImage(adder.imageView().image(), "small_dock"));
  adder.setAdderState(0);
  EXPECT_TRUE(adder.isHidden());
  adder.setAdderState(7);
  EXPECT_TRUE(adder.isHidden());
  adder.setAdderState(1);
  EXPECT_FALSE(adder.isHidden());

  const int looks = adder.lookChanges();
  adder.setAdderState(1);
  adder.setInFocus(false);
  EXPECT_EQ(adder.lookChanges(), looks) << "the same state or focus twice applies nothing";
}

TEST(IdeaAdder, GrowsUnderThePointerOnlyInStateOne) {
  platform::Window window(QSizeF(300, 300));
  auto root = std::make_shared<BaseView>(QRectF(0, 0, 300, 300));
  window.setContentView(root);
  auto adder = std::make_shared<IdeaAdderView>();
  root->addSubview(adder);
  viewext::setCenter(*adder, QPointF(100, 100));

  window.sendEvent(at(EventType::MouseMoved, 10, 10));
  window.sendEvent(at(EventType::MouseMoved, 100, 100));
  EXPECT_NEAR(adder->imageView().layer()->transform().m11(), 1.25, 1e-6);
  window.sendEvent(at(EventType::MouseMoved, 250, 250));
  EXPECT_TRUE(adder->imageView().layer()->transform().isIdentity());

  adder->setAdderState(3);
  window.sendEvent(at(EventType::MouseMoved, 100, 100));
  EXPECT_TRUE(adder->imageView().layer()->transform().isIdentity()) << "no growth as a dock well";
  window.sendEvent(at(EventType::MouseMoved, 250, 250));
  EXPECT_TRUE(sameImage(adder->imageView().image(), "small_dock"));

  adder->setAdderState(2);
  window.sendEvent(at(EventType::MouseMoved, 100, 100));
  EXPECT_TRUE(adder->imageView().layer()->transform().isIdentity()) << "nor when highlighted";
}

TEST(IdeaAdder, AClickReachesTheSuperviewAndAsksNothingItself) {
  platform::Window window(QSizeF(300, 300));
  auto host = std::make_shared<Host>(QRectF(0, 0, 300, 300));
  window.setContentView(host);
  auto adder = std::make_shared<IdeaAdderView>();
  CountingDelegate delegate;
  adder->setDelegate(&delegate);
  host->addSubview(adder);
  viewext::setCenter(*adder, QPointF(100, 100));

  window.sendEvent(at(EventType::LeftMouseDown, 100, 100));
  window.sendEvent(at(EventType::LeftMouseUp, 100, 100));
  window.sendEvent(at(EventType::LeftMouseDown, 82, 82));
  window.sendEvent(at(EventType::LeftMouseUp, 82, 82));
  EXPECT_EQ(host->downs, 2);
  EXPECT_EQ(host->ups, 2);
  EXPECT_EQ(delegate.taps, 0) << "the radial view's tap detector reports adder taps";

  adder->performClick();
  EXPECT_EQ(delegate.taps, 1);
  EXPECT_EQ(delegate.last, adder.get());
}

TEST(IdeaAdder, AGoneDelegateIsNotCalledAndTheTagIsKept) {
  IdeaAdderView adder;
  {
    CountingDelegate delegate;
    adder.setDelegate(&delegate);
  }
  adder.performClick();
  auto idea = Idea::createWithText(QStringLiteral("before"));
  adder.setObjectTag(idea);
  EXPECT_EQ(adder.objectTag(), idea);
  adder.setFrame(QRectF(10, 20, 40, 40));
  EXPECT_EQ(adder.center(), QPointF(30, 40));
}
