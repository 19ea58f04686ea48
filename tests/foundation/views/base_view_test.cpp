#include "foundation/image_extensions.h"
#include "foundation/views/base_layer.h"
#include "foundation/views/base_view.h"
#include "foundation/views/container_view.h"
#include "platform/ui/transaction.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

class CountingView : public BaseView {
 public:
  using BaseView::BaseView;
  int layouts = 0;
  void applyLayout() override {
    ++layouts;
    BaseView::applyLayout();
  }
};

struct RecordingLayouter : Layouter {
  std::vector<std::string>* log;
  explicit RecordingLayouter(std::vector<std::string>* l) : log(l) {}
  void applyLayout() override { log->push_back("layouter"); }
};

// Makes every layer made so far eligible for implicit animation, as being on screen does.
void commitLayers() {
  platform::Transaction::flush();
  uitest::loop().runPending();
}

}  // namespace

TEST(BaseViewLayout, NestedTransactionsLayOutOnceWhenTheOutermostCloses) {
  auto view = std::make_shared<CountingView>(QRectF(0, 0, 100, 100));
  view->beginLayout();
  view->beginLayout();
  view->beginLayout();
  view->setFrameSize(QSizeF(200, 200));
  view->forceDirtyLayout();
  view->endLayout();
  view->endLayout();
  EXPECT_EQ(view->layouts, 0);
  view->endLayout();
  EXPECT_EQ(view->layouts, 1);

  auto empty = std::make_shared<CountingView>(QRectF(0, 0, 0, 50));
  empty->forceDirtyLayout();
  EXPECT_EQ(empty->layouts, 0);
  empty->setFrameSize(QSizeF(10, 50));  // the first real size lays it out
  EXPECT_EQ(empty->layouts, 1);
}

TEST(BaseViewLayout, HostedViewsFollowTheHostInOrderAfterTheLayouter) {
  std::vector<std::string> log;
  RecordingLayouter layouter(&log);
  auto host = std::make_shared<BaseView>(&layouter);
  host->setFrame(QRectF(0, 0, 300, 200));
  auto filling = std::make_shared<platform::View>();
  auto first = std::make_shared<platform::View>();
  auto second = std::make_shared<platform::View>();
  host->addHostedView(filling);
  EXPECT_EQ(filling->frame(), QRectF(0, 0, 300, 200));
  host->addHostedView(first, [&](platform::View& v, const QRectF& b) {
    log.push_back("first");
    v.setFrame(QRectF(0, 0, b.width() / 2, 10));
  });
  host->addHostedView(second, [&](platform::View& v, const QRectF& b) {
    log.push_back("second");
    v.setFrame(QRectF(b.width() / 2, 0, b.width() / 2, 10));
  });
  log.clear();
  host->setFrameSize(QSizeF(400, 100));
  EXPECT_EQ(log, (std::vector<std::string>{"layouter", "first", "second"}));
  EXPECT_EQ(filling->frame(), QRectF(0, 0, 400, 100));
  EXPECT_EQ(second->frame(), QRectF(200, 0, 200, 10));

  second->removeFromSuperview();  // removed directly: its part is forgotten too
  second->setFrame(QRectF(1, 1, 1, 1));
  log.clear();
  host->forceDirtyLayout();
  EXPECT_EQ(log, (std::vector<std::string>{"layouter", "first"}));
  EXPECT_EQ(second->frame(), QRectF(1, 1, 1, 1));
  host->removeHostedView(first.get());
  EXPECT_EQ(first->superview(), nullptr);
  EXPECT_EQ(host->hostedParts().size(), 1u);
}

TEST(BaseViewLayout, ALayoutBlockThatDropsItsOwnViewEndsTheWalkSafely) {
  auto host = std::make_shared<BaseView>(QRectF(0, 0, 100, 100));
  auto leaving = std::make_shared<platform::View>();
  auto staying = std::make_shared<platform::View>();
  int calls = 0;
  host->addHostedView(leaving, [&, big = std::string(64, 'x')](platform::View& v, const QRectF&) {
    ++calls;
    v.removeFromSuperview();  // erases this very part while its block runs
    EXPECT_EQ(big.size(), 64u);  // the running block's captures are still alive
  });
  host->addHostedView(staying);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(leaving->superview(), nullptr);
  ASSERT_EQ(host->hostedParts().size(), 1u);
  EXPECT_EQ(host->hostedParts().front().view, staying);
  host->setFrameSize(QSizeF(50, 40));
  EXPECT_EQ(staying->frame(), QRectF(0, 0, 50, 40));
}

TEST(BaseViewAnimation, DisablingAnimationsReachesBaseViewsThroughBaseViewParentsOnly) {
  auto container = std::make_shared<BaseView>(QRectF(0, 0, 400, 400));
  auto middle = std::make_shared<BaseView>(QRectF(0, 0, 200, 200));
  auto deep = std::make_shared<BaseView>(QRectF(0, 0, 50, 50));
  container->addSubview(middle);
  middle->addSubview(deep);
  auto plain = std::make_shared<platform::View>(QRectF(200, 0, 200, 200));
  auto underPlain = std::make_shared<BaseView>(QRectF(0, 0, 50, 50));
  container->addSubview(plain);
  plain->addSubview(underPlain);
  container->setDisableAnimations(true);
  commitLayers();

  deep->setFrameOrigin(QPointF(20, 20));
  EXPECT_FALSE(deep->layer()->hasAnimations());
  EXPECT_EQ(deep->layer()->presentation().position, QPointF(20, 20));

  underPlain->setFrameOrigin(QPointF(30, 30));  // the chain breaks at the plain view
  EXPECT_TRUE(underPlain->layer()->hasAnimations());
  plain->setFrameOrigin(QPointF(210, 0));  // a plain view never animates
  EXPECT_FALSE(plain->layer()->hasAnimations());

  container->setDisableAnimations(false);
  deep->setAlphaValue(0.5);
  EXPECT_EQ(deep->layer()->animationKeys(), QStringList{"opacity"});
  uitest::advance(0.3);
  EXPECT_FALSE(deep->layer()->hasAnimations());
  EXPECT_DOUBLE_EQ(deep->layer()->presentation().opacity, 0.5);
}

TEST(BaseViewEvents, EatingSwallowsClicksButNotDrags) {
  struct Parent : BaseView {
    using BaseView::BaseView;
    std::vector<std::string> seen;
    void mouseDown(const Event&) override { seen.push_back("down"); }
    void mouseUp(const Event&) override { seen.push_back("up"); }
    void mouseDragged(const Event&) override { seen.push_back("drag"); }
  };
  platform::Window window(QSizeF(300, 300));
  auto parent = std::make_shared<Parent>();
  window.setContentView(parent);
  auto eater = std::make_shared<BaseView>(QRectF(10, 10, 100, 100));
  eater->setEatMouseEvents(true);
  parent->addSubview(eater);
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(20, 20)));
  window.sendEvent(Event::mouse(EventType::LeftMouseDragged, QPointF(25, 20)));
  window.sendEvent(Event::mouse(EventType::LeftMouseUp, QPointF(25, 20)));
  EXPECT_EQ(parent->seen, std::vector<std::string>{"drag"});
  eater->setEatMouseEvents(false);
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(20, 20)));
  EXPECT_EQ(parent->seen.back(), "down");
}

TEST(BaseLayerAndContainer, CentreAnchorAndHiddenExampleFillingTheBounds) {
  BaseLayer layer;
  EXPECT_EQ(layer.anchorPoint(), QPointF(0.5, 0.5));
  layer.setFrame(QRectF(10, 10, 40, 20));
  EXPECT_EQ(layer.center(), QPointF(30, 20));
  EXPECT_EQ(layer.presentation().anchorPoint, QPointF(0.5, 0.5));

  auto container = ContainerView::create(QStringLiteral("example_welcome"));
  container->setFrame(QRectF(0, 0, 500, 400));
  ASSERT_TRUE(container->exampleView());
  EXPECT_TRUE(container->exampleView()->isHidden());
  EXPECT_EQ(container->exampleView()->frame(), QRectF(0, 0, 500, 400));
  // Never shown by the program, it still draws its picture when shown.
  auto fresh = ContainerView::create(QStringLiteral("example_welcome"));
  const QImage picture = imageext::deviceImageNamed(QStringLiteral("example_welcome"));
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(fresh->exampleView()->frame(), QRectF(QPointF(0, 0), picture.deviceIndependentSize()));
  fresh->exampleView()->setHidden(false);
  const QImage drawn = fresh->exampleView()->snapshot(1.0);
  int painted = 0;
  for (int y = 0; y < drawn.height(); ++y)
    for (int x = 0; x < drawn.width(); ++x) painted += qAlpha(drawn.pixel(x, y)) > 0;
  EXPECT_GT(painted, 0);
  EXPECT_FALSE(container->acceptsFirstResponder());
  auto screen = std::make_shared<platform::View>();
  container->addHostedView(screen);
  EXPECT_EQ(screen->frame(), QRectF(0, 0, 500, 400));
}

namespace {

// A screen's container: its own set-up runs once the whole object, example view included, exists.
class RecordingContainer : public ContainerView {
 public:
  RecordingContainer(ConstructionToken token, const QString& namedView, std::vector<std::string>* log)
      : ContainerView(token, namedView), mLog(log) {}
  int initializations = 0;
  bool sawExampleView = false;

 protected:
  void initializeContainerView() override {
    ++initializations;
    sawExampleView = exampleView() != nullptr;
    mLog->push_back("initialized");
    addHostedView(std::make_shared<BaseView>());
  }

 private:
  std::vector<std::string>* mLog;
};

}  // namespace

TEST(BaseLayerAndContainer, SubclassSetUpRunsOnceAfterConstruction) {
  std::vector<std::string> log;
  auto container = ContainerView::create<RecordingContainer>(QStringLiteral("example_welcome"), &log);
  EXPECT_EQ(container->initializations, 1);
  EXPECT_TRUE(container->sawExampleView);
  EXPECT_EQ(log, std::vector<std::string>{"initialized"});
  // The hosted view it added follows the container's size.
  container->setFrame(QRectF(0, 0, 300, 200));
  container->layoutSubtreeIfNeeded();
  ASSERT_EQ(container->subviews().size(), 2u);
  EXPECT_EQ(container->subviews().back()->frame(), QRectF(0, 0, 300, 200));
}

#include "foundation/views/container_window.h"

TEST(ContainerWindowTest, ShowsAContainerFillingTheWindowAndFollowsResizes) {
  ContainerWindow shown = showContainerWindow("Orrery", QSizeF(640, 480));
  ASSERT_TRUE(shown.window);
  EXPECT_TRUE(shown.window->isVisible());
  EXPECT_EQ(shown.window->contentView(), shown.containerView);
  EXPECT_EQ(shown.containerView->frame(), QRectF(0, 0, 640, 480));
  auto screen = std::make_shared<BaseView>();
  shown.containerView->addHostedView(screen);
  shown.window->setContentSize(QSizeF(800, 500));
  QApplication::processEvents();
  EXPECT_EQ(screen->frame(), QRectF(QPointF(0, 0), shown.window->contentSize()));
  shown.window->close();
}
