#include "foundation/views/base_view.h"
#include "foundation/views/blur_view.h"
#include "foundation/views/presentation_transitions.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

struct Panel : platform::ViewController, ScreenProtectorViewDelegate {
  int coverClicks = 0;
  void loadView() override {
    auto view = std::make_shared<BaseView>(QRectF(0, 0, 300, 200));
    view->layer()->setBackgroundColor(Qt::blue);
    setView(view);
  }
  void screenProtectorWasClicked() override { ++coverClicks; }
};

// A window whose container hosts the presenting controller's view, filling it.
struct TransitionStage {
  platform::Window window{QSizeF(800, 600)};
  std::shared_ptr<BaseView> container = std::make_shared<BaseView>();
  std::shared_ptr<platform::ViewController> screen = std::make_shared<platform::ViewController>();
  std::shared_ptr<Panel> panel = std::make_shared<Panel>();
  TransitionStage() {
    window.setContentView(container);
    auto view = std::make_shared<BaseView>();
    view->layer()->setBackgroundColor(Qt::white);
    screen->setView(view);
    container->addHostedView(view);
  }
  platform::View& presentingView() { return *screen->view(); }
  platform::View& panelView() { return *panel->view(); }
  double panelTopOnScreen() { return panel->view()->layer()->presentation().frame().top(); }
};

}  // namespace

TEST(SlideUpTransition, RisesFromBelowIntoTheExactFrameAndSinksAwayAgain) {
  TransitionStage stage;
  auto animator = std::make_shared<SlideUpViewTransitionAnimation>();
  stage.screen->presentViewController(stage.panel, animator);
  EXPECT_EQ(stage.panelView().superview(), stage.container.get());
  EXPECT_DOUBLE_EQ(stage.panelTopOnScreen(), 600) << "starts with its top at the presenting view's bottom";
  uitest::advance(0.15);
  EXPECT_GT(stage.panelTopOnScreen(), 0);
  EXPECT_LT(stage.panelTopOnScreen(), 600);
  EXPECT_FALSE(stage.presentingView().isHidden());
  uitest::advance(0.2);
  EXPECT_EQ(stage.panelView().frame(), QRectF(0, 0, 800, 600));
  EXPECT_DOUBLE_EQ(stage.panelTopOnScreen(), 0);
  EXPECT_TRUE(stage.presentingView().isHidden());

  stage.screen->dismissViewController(stage.panel);
  EXPECT_FALSE(stage.presentingView().isHidden()) << "shown again at the start of the dismissal";
  uitest::advance(0.15);
  EXPECT_GT(stage.panelTopOnScreen(), 0);
  uitest::advance(0.2);
  EXPECT_EQ(stage.panel->view()->superview(), nullptr);
  EXPECT_EQ(stage.panel->view()->alphaValue(), 0);
}

TEST(PartialTransition, BandDropsOverAFadingCoverAndFollowsTheWindowWidth) {
  TransitionStage stage;
  auto animator = std::make_shared<PartialViewTransitionAnimation>();
  stage.screen->presentViewController(stage.panel, animator);
  auto cover = animator->protector();
  ASSERT_NE(cover, nullptr);
  EXPECT_EQ(cover->superview(), stage.container.get());
  EXPECT_EQ(cover->frame(), QRectF(0, 0, 800, 600));
  EXPECT_EQ(cover->pictureSize(), QSizeF(800, 600));
  EXPECT_EQ(cover->layer()->opacity(), 0);
  EXPECT_EQ(stage.panelView().frame(), QRectF(0, -370, 800, 370));
  ASSERT_EQ(stage.container->subviews().back().get(), &stage.panelView()) << "the band lies over the cover";

  uitest::advance(0.205);  // the frame at half time has run
  EXPECT_NEAR(cover->layer()->opacity(), 0.5, 0.05) << "the eased progress at half time";
  EXPECT_NEAR(stage.panelView().frame().y(), -185, 20);

  // The window grows meanwhile: the band keeps 370 points and takes the new width.
  stage.window.setContentSize(QSizeF(1000, 700));
  ASSERT_EQ(stage.container->frame(), QRectF(0, 0, 1000, 700));
  EXPECT_EQ(stage.panelView().frame().width(), 1000);
  EXPECT_EQ(stage.panelView().frame().height(), 370);
  EXPECT_EQ(cover->frame(), QRectF(0, 0, 1000, 700));
  uitest::advance(0.2);
  EXPECT_EQ(stage.panelView().frame(), QRectF(0, 0, 1000, 370));
  EXPECT_DOUBLE_EQ(cover->layer()->opacity(), 1);
  EXPECT_FALSE(stage.presentingView().isHidden()) << "the screen stays under the cover";

  stage.window.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(500, 600)));
  stage.window.sendEvent(Event::mouse(EventType::LeftMouseUp, QPointF(500, 600)));
  EXPECT_EQ(stage.panel->coverClicks, 1);
  stage.window.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(500, 100)));
  EXPECT_EQ(stage.panel->coverClicks, 1) << "a click on the band is not the cover's";

  stage.screen->dismissViewController(stage.panel);
  uitest::advance(0.205);
  EXPECT_NEAR(cover->layer()->opacity(), 0.5, 0.05);
  EXPECT_NEAR(stage.panelView().frame().y(), -185, 20);
  uitest::advance(0.25);
  EXPECT_EQ(stage.panel->view()->superview(), nullptr);
  EXPECT_EQ(cover->superview(), nullptr);
  EXPECT_EQ(animator->protector(), nullptr);
}

TEST(PartialTransition, DismissalWhileSlidingInAndControllersWithoutContainersAreHarmless) {
  TransitionStage stage;
  auto animator = std::make_shared<PartialViewTransitionAnimation>();
  stage.screen->presentViewController(stage.panel, animator);
  uitest::advance(0.1);
  stage.screen->dismissViewController(stage.panel);
  uitest::advance(0.5);
  EXPECT_EQ(stage.panel->view()->superview(), nullptr);
  EXPECT_EQ(stage.container->subviews().size(), 1u) << "only the presenting view is left";

  auto lonely = std::make_shared<platform::ViewController>();
  auto other = std::make_shared<Panel>();
  lonely->presentViewController(other, std::make_shared<PartialViewTransitionAnimation>());
  lonely->dismissViewController(other);
  lonely->presentViewController(other, std::make_shared<SlideUpViewTransitionAnimation>());
  lonely->dismissViewController(other);
  uitest::advance(0.5);
  EXPECT_EQ(other->view()->superview(), nullptr);
}
