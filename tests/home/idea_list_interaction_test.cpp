#include "foundation/views/view_extensions.h"
#include "home/idea_list_view.h"
#include "home_test_support.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;
using hometest::proxy;

namespace {

QString docId(int i) { return QStringLiteral("file:///c/doc-%1.orrx").arg(i); }

struct RecordingDelegate : IdeaListViewDelegate {
  std::vector<std::pair<QString, bool>> opened;
  std::vector<QString> drags;
  int creates = 0;
  void onDrillDownTo(const QString& id, bool editing) override { opened.emplace_back(id, editing); }
  void pleaseCreateNewIdea() override { ++creates; }
  void startDragForIdea(const QString& /*idea*/, const QString& doc, const QRectF& /*rect*/,
                        const platform::Event& /*event*/) override {
    drags.push_back(doc);
  }
};

struct HomeGridInput : ::testing::Test {
  explicit HomeGridInput(int count = 30) : window(QSizeF(800, 600)) {
    grid = std::make_shared<IdeaListView>();
    grid->setFrame(QRectF(0, 0, 800, 600));
    window.setContentView(grid);
    for (int i = 0; i < count; ++i) grid->appendProxy(proxy(docId(i), QStringLiteral("T%1").arg(i), i), true);
    grid->setDelegate(&delegate);
    grid->updateView();
  }
  ~HomeGridInput() override {
    grid->stopTrackingMouse();
    uitest::advance(1.0);  // let pending steps run while the grid is alive
  }
  // The centre of a document's disc in window coordinates.
  QPointF discCentre(int i) {
    auto* disc = grid->visibleIdeaViewForDocument(docId(i));
    return disc ? disc->superview()->convertPointToView(viewext::center(*disc), nullptr) : QPointF(-1, -1);
  }
  void click(QPointF p) {
    const double t = uitest::clock().now();
    window.sendEvent(Event::mouse(EventType::LeftMouseDown, p, t, 1));
    window.sendEvent(Event::mouse(EventType::LeftMouseUp, p, t + 0.01, 1));
  }
  void doubleClick(QPointF p) {
    const double t = uitest::clock().now();
    window.sendEvent(Event::mouse(EventType::LeftMouseDown, p, t, 1));
    window.sendEvent(Event::mouse(EventType::LeftMouseUp, p, t + 0.01, 1));
    uitest::advance(0.02);
    window.sendEvent(Event::mouse(EventType::LeftMouseDown, p, t + 0.1, 2));
    window.sendEvent(Event::mouse(EventType::LeftMouseUp, p, t + 0.11, 2));
  }

  platform::Window window;
  std::shared_ptr<IdeaListView> grid;
  RecordingDelegate delegate;
};

}  // namespace

TEST_F(HomeGridInput, AClickOpensAfterTheDelayAndADoubleClickOpensOnceForEditing) {
  click(discCentre(1));
  uitest::advance(0.25);
  EXPECT_TRUE(delegate.opened.empty()) << "the open waits for a possible second click";
  uitest::advance(0.2);
  ASSERT_EQ(delegate.opened.size(), 1u);
  EXPECT_EQ(delegate.opened[0], std::make_pair(docId(1), false));

  delegate.opened.clear();
  doubleClick(discCentre(2));
  uitest::advance(1.0);
  ASSERT_EQ(delegate.opened.size(), 1u);
  EXPECT_EQ(delegate.opened[0], std::make_pair(docId(2), true));

  delegate.opened.clear();
  const QPointF between = (discCentre(0) + discCentre(1)) / 2;
  click(between);
  uitest::advance(1.0);
  EXPECT_TRUE(delegate.opened.empty()) << "between two discs";
}

TEST_F(HomeGridInput, AListChangeOrScrollWithinTheDelayStillOpensTheClickedDocument) {
  click(discCentre(0));
  grid->insertProxy(proxy(QStringLiteral("file:///c/new.orrx"), QStringLiteral("new"), 1), 0);
  grid->scrollToPoint(QPointF(0, 2000));  // the clicked disc's view goes back to the pool and is reused
  uitest::advance(0.5);
  ASSERT_EQ(delegate.opened.size(), 1u);
  EXPECT_EQ(delegate.opened[0].first, docId(0));
}

TEST_F(HomeGridInput, NothingHappensWhileInteractionIsOff) {
  grid->setUserInteractionEnabled(false);
  EXPECT_FALSE(static_cast<BigAdderView*>(grid->visibleItemForKey(IdeaListView::adderKey()))->userInteractionEnabled());
  click(discCentre(1));
  doubleClick(discCentre(2));
  const double t = uitest::clock().now();
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, discCentre(3), t, 1));
  uitest::advance(1.0);
  window.sendEvent(Event::mouse(EventType::LeftMouseUp, discCentre(3), t + 1.0, 1));
  uitest::advance(1.0);
  EXPECT_TRUE(delegate.opened.empty());
  EXPECT_TRUE(delegate.drags.empty());

  grid->setUserInteractionEnabled(true);
  const double t2 = uitest::clock().now();
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, discCentre(3), t2, 1));
  uitest::advance(1.0);
  window.sendEvent(Event::mouse(EventType::LeftMouseUp, discCentre(3), t2 + 1.0, 1));
  ASSERT_EQ(delegate.drags.size(), 1u) << "a long press starts a drag of the document";
  EXPECT_EQ(delegate.drags[0], docId(3));
  grid->setReadOnlyMode(true);
  const double t3 = uitest::clock().now();
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, discCentre(3), t3, 1));
  uitest::advance(1.0);
  window.sendEvent(Event::mouse(EventType::LeftMouseUp, discCentre(3), t3 + 1.0, 1));
  EXPECT_EQ(delegate.drags.size(), 1u) << "no drags from search results";
}

TEST_F(HomeGridInput, DropFocusFollowsTheStrongestPull) {
  const QPointF c = discCentre(1);  // slot 2: column 2 of row 0
  const QPointF onDisc = grid->convertPoint(c, nullptr);
  grid->startTrackingFocusAt(c, nullptr);
  EXPECT_TRUE(grid->dockingMode());
  EXPECT_EQ(grid->indexOfIdeaAtFocus(), 1u);
  EXPECT_FLOAT_EQ(grid->focusStrength(), 1.0f);
  EXPECT_EQ(grid->viewAtFocus(), grid->visibleIdeaViewForDocument(docId(1)));

  const QPointF left = discCentre(0);  // slot 1
  grid->trackFocusAt(left + QPointF(21.8, 0), nullptr);
  EXPECT_EQ(grid->indexOfIdeaAtFocus(), 0u);
  EXPECT_NEAR(grid->focusStrength(), 0.5f, 1e-3);
  grid->trackFocusAt(left + QPointF(50, 0), nullptr);
  EXPECT_EQ(grid->indexOfIdeaAtFocus(), IdeaListView::kNotFound);
  EXPECT_EQ(grid->indexOfIdeaAdderAtFocus(), 1u) << "an insertion before the next tile";
  EXPECT_NEAR(grid->focusStrength(), 1 - 59 / 65.4f, 2e-2);
  auto* next = static_cast<NormalIdeaListItemForIPad*>(grid->visibleItemForKey(docId(1)));
  EXPECT_TRUE(next->smallDock().isHighlighted());

  grid->trackFocusAt(QPointF(onDisc.x(), 600 - 2), grid.get());
  grid->trackFocusAt(QPointF(-500, -500), nullptr);
  EXPECT_EQ(grid->indexOfIdeaAtFocus(), IdeaListView::kNotFound);
  EXPECT_EQ(grid->indexOfIdeaAdderAtFocus(), IdeaListView::kNotFound);
  EXPECT_FLOAT_EQ(grid->focusStrength(), 0.0f);
  EXPECT_FALSE(next->smallDock().isHighlighted());

  grid->stopTrackingFocus();
  EXPECT_FALSE(grid->dockingMode());
  EXPECT_TRUE(next->smallDock().isHidden());
}

TEST_F(HomeGridInput, AutoScrollSpeedsAndEdges) {
  const double h = grid->bounds().height();
  grid->trackMouseAt(QPointF(300, 10), grid.get());
  EXPECT_EQ(grid->autoScrollPixelSpeed(), -30);
  grid->trackMouseAt(QPointF(300, h - 5), grid.get());
  EXPECT_EQ(grid->autoScrollPixelSpeed(), 37);
  grid->trackMouseAt(QPointF(grid->contentWidth() - 50, h - 5), grid.get());
  EXPECT_EQ(grid->autoScrollPixelSpeed(), 0) << "the drop areas' strip";

  grid->trackMouseAt(QPointF(300, h - 5), grid.get());
  uitest::advance(0.2);
  const double after = grid->scrollPosition().y();
  EXPECT_GT(after, 0) << "it scrolls down by itself";
  grid->stopTrackingMouse();
  EXPECT_FALSE(grid->autoScrollTimerRunning());
  uitest::advance(0.2);
  EXPECT_EQ(grid->scrollPosition().y(), after);

  grid->scrollToPoint(QPointF(0, 20));
  grid->trackMouseAt(QPointF(300, 10), grid.get());
  uitest::advance(0.2);
  EXPECT_EQ(grid->scrollPosition().y(), 20) << "a step past the top is not taken";
}

// Every step of a drag over the grid places its items again: what a step does not change (the
// markers, the add button) keeps its picture.
TEST_F(HomeGridInput, FocusStepsRedrawOnlyWhatTheyChange) {
  std::function<int(platform::Layer&)> draws = [&](platform::Layer& layer) {
    layer.displayIfNeeded();
    int n = layer.displayCount();
    for (const auto& sub : layer.sublayers()) n += draws(*sub);
    return n;
  };
  const QPointF c = discCentre(1);
  grid->startTrackingFocusAt(c, nullptr);
  uitest::advance(1.0);
  const int settled = draws(*grid->layer());
  for (int step = 0; step < 5; ++step) {
    grid->trackFocusAt(c + QPointF(step * 0.1, 0), nullptr);
    uitest::advance(1.0 / 60);
  }
  EXPECT_EQ(draws(*grid->layer()), settled) << "steps over the same tile";
  grid->trackFocusAt(discCentre(0) + QPointF(50, 0), nullptr);  // an insertion before tile 1
  uitest::advance(1.0);
  EXPECT_LE(draws(*grid->layer()), settled + 1) << "only the highlighted marker";
  grid->stopTrackingFocus();
}
