#include "graph_test_support.h"

#include "editor/editor_test_support.h"
#include "foundation/views/spinning_progress_indicator.h"
#include "graph/graph_scroll_view.h"
#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_test_env.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

using namespace orrery;
using graphtest::idea;
using platform::Cursor;
using platform::Event;
using platform::EventType;

namespace {

struct Recorder : GraphScrollViewDelegate {
  std::vector<IdeaPtr> selected, newWindows;
  void onIdeaSelected(const IdeaPtr& i) override { selected.push_back(i); }
  void openIdeaInNewWindow(const IdeaPtr& i) override { newWindows.push_back(i); }
};

struct Scene {
  explicit Scene(QSizeF size = QSizeF(1000, 700)) : window(std::make_unique<platform::Window>(size)) {
    view->setFrame(QRectF(QPointF(0, 0), size));
    window->contentView()->addSubview(view);
    view->setDelegate(&delegate);
    window->displayIfNeeded();
  }
  ~Scene() {
    uitest::advance(1.0);
    window->close();
  }
  // Pumps the main queue until the tiles of the current graph are on screen.
  bool settle() {
    return uitest::loop().runUntil(
        [&] { return !view->isBuilding() && view->graphView() && view->graphView()->ready() && view->graphView()->superview(); });
  }
  void show(const IdeaPtr& root, GraphFilter filter = nullptr) {
    view->setCurrentIdea(root, filter);
    ASSERT_TRUE(settle());
  }
  // Where an idea appears in the window.
  QPointF at(const IdeaPtr& i) const {
    return (view->tileFactory()->ideaLocation(i) - view->dataCenter()) * view->zoomScale() + QPointF(view->bounds().width() / 2, view->bounds().height() / 2);
  }
  void send(EventType type, QPointF p, int clicks = 1, int button = 0) {
    Event e = Event::mouse(type, p, uitest::clock().now(), clicks);
    e.buttonNumber = button;
    window->sendEvent(e);
  }
  void click(QPointF p) {
    send(EventType::LeftMouseDown, p);
    send(EventType::LeftMouseUp, p);
  }
  void wheel(double dy, bool precise, uint32_t modifiers = 0) {
    Event e = Event::mouse(EventType::ScrollWheel, QPointF(500, 350), uitest::clock().now(), 0);
    e.scrollingDeltaY = dy;
    e.hasPreciseScrollingDeltas = precise;
    e.modifierFlags = modifiers;
    window->sendEvent(e);
  }
  Cursor moveTo(QPointF p) {
    send(EventType::MouseMoved, p, 0);
    return window->currentCursor();
  }

  uitest::PresenterScope presenter;
  std::unique_ptr<platform::Window> window;
  std::shared_ptr<GraphScrollView> view = std::make_shared<GraphScrollView>();
  Recorder delegate;
};

// A root, three children (the second with two leaves) and a link to the second child.
struct SmallMap {
  IdeaPtr root = idea(QStringLiteral("root")), a = idea(QStringLiteral("a")), b = idea(QStringLiteral("b")),
          c = idea(QStringLiteral("c")), link = Idea::createWithLinkToIdea(QStringLiteral("b"));
  SmallMap() {
    for (const IdeaPtr& i : {a, b, c, link}) root->addIdea(i);
    b->addIdea(idea(QStringLiteral("b1")));
    b->addIdea(idea(QStringLiteral("b2")));
    a->setNote(QStringLiteral("a's note"));
    root->traverseNaturally([](const IdeaPtr& i, qint64) { i->setColor(editortest::themeColor(false)); }, 0);
  }
};

platform::MenuItem actionItem(const char* action) { return platform::MenuItem(QString(), QString::fromLatin1(action)); }

}  // namespace

TEST(GraphScrollView, FitsTheWholeMapAndClampsTheZoom) {
  Scene s;
  SmallMap map;
  s.show(map.root);
  const QSizeF content = s.view->tileFactory()->contentSize();
  EXPECT_FLOAT_EQ(s.view->minZoomScale(), static_cast<float>(std::min(1000 / content.width(), 700 / content.height())));
  EXPECT_EQ(s.view->zoomScale(), s.view->minZoomScale());
  EXPECT_TRUE(s.view->hasFocusAtCenter());
  EXPECT_FALSE(s.view->validateUserInterfaceItem(actionItem("cmdActualSize"))) << "already fitting and centred";
  EXPECT_FALSE(s.view->validateUserInterfaceItem(actionItem("cmdZoomOut")));
  EXPECT_TRUE(s.view->validateUserInterfaceItem(actionItem("cmdZoomIn")));
  // The tiles show the root where the view's geometry puts it, and nothing far from all planets.
  const QImage shot = s.view->snapshot(1.0);
  const QPoint root = (s.at(map.root) + QPointF(0, 20)).toPoint();
  EXPECT_EQ(shot.pixelColor(root).rgb(), editortest::themeColor(false)->uiColor().rgb());
  EXPECT_EQ(shot.pixelColor(root + QPoint(-30, 15)).rgb(), editortest::themeColor(false)->uiColor().rgb());
  EXPECT_EQ(shot.pixelColor(20, 20).rgb(), shot.pixelColor(980, 680).rgb());
  for (int i = 0; i < 12; ++i) s.view->cmdZoomIn();
  EXPECT_EQ(s.view->zoomScale(), GraphScrollView::kMaxZoomScale);
  EXPECT_FALSE(s.view->canZoomIn());
  // Panned away at the fitting zoom, "Zoom to Fit" is enabled.
  s.view->cmdActualSize();
  EXPECT_TRUE(s.view->hasFocusAtCenter());
  s.send(EventType::LeftMouseDown, QPointF(900, 650));
  s.send(EventType::LeftMouseDragged, QPointF(880, 650));
  s.send(EventType::LeftMouseUp, QPointF(880, 650));
  EXPECT_TRUE(s.view->validateUserInterfaceItem(actionItem("cmdActualSize")));
  EXPECT_TRUE(s.view->validateUserInterfaceItem(actionItem("somethingElse")));

  // A view smaller than nothing and a content larger than anything stay finite.
  Scene big(QSizeF(3000, 3000));
  big.show(idea(QStringLiteral("lone")));
  EXPECT_EQ(big.view->zoomScale(), GraphScrollView::kMaxZoomScale) << "a small map fits only up to 1.75";
  EXPECT_FALSE(big.view->canZoomIn());
  Scene none(QSizeF(0, 0));
  none.view->setFrame(QRectF(0, 0, 0, 0));
  none.view->setCurrentIdea(map.root, nullptr);
  ASSERT_TRUE(uitest::loop().runUntil([&] { return !none.view->isBuilding(); }));
  EXPECT_EQ(none.view->minZoomScale(), GraphScrollView::kLeastZoomScale);
}

TEST(GraphScrollView, PansClampToTheContentAndGlideAThirdOfASecond) {
  Scene s;
  SmallMap map;
  s.show(map.root);
  const float z = s.view->zoomScale();
  const QPointF start = s.view->dataCenter();
  // Press, a drag of 20 points in 10 ms, release at once: 2000 points per second.
  s.send(EventType::LeftMouseDown, QPointF(500, 350));
  uitest::clock().advance(0.01);
  s.send(EventType::LeftMouseDragged, QPointF(520, 350));
  uitest::clock().advance(0.01);
  s.send(EventType::LeftMouseDragged, QPointF(540, 350));
  const QPointF afterDrag = s.view->dataCenter();
  EXPECT_NEAR(afterDrag.x(), start.x() - 40 / z, 1e-3) << "content follows the pointer";
  s.send(EventType::LeftMouseUp, QPointF(540, 350));
  uitest::advance(0.5);
  const double speed = std::min(2000.0 / z, 1800.0 / z);  // content points per second, capped
  EXPECT_NEAR(s.view->dataCenter().x(), std::max(0.0, afterDrag.x() - speed / 6), 1.0) << "L / 6 in one third of a second";
  EXPECT_EQ(s.view->dataCenter().y(), start.y());

  // A release after resting: no glide. Panning far: stops on the edge.
  const QPointF rested = s.view->dataCenter();
  s.send(EventType::LeftMouseDown, QPointF(500, 350));
  uitest::clock().advance(0.01);
  s.send(EventType::LeftMouseDragged, QPointF(499, 350));
  uitest::clock().advance(0.2);
  s.send(EventType::LeftMouseUp, QPointF(499, 350));
  uitest::advance(0.5);
  EXPECT_NEAR(s.view->dataCenter().x(), rested.x() + 1 / z, 1e-3);
  s.send(EventType::LeftMouseDown, QPointF(500, 350));
  s.send(EventType::LeftMouseDragged, QPointF(500, -100000));
  s.send(EventType::LeftMouseUp, QPointF(500, -100000));
  uitest::advance(0.5);
  EXPECT_EQ(s.view->dataCenter().y(), s.view->tileFactory()->contentSize().height());
}

TEST(GraphScrollView, ClicksFollowLinksOrReportTheIdeaAfterTheFocus) {
  Scene s;
  SmallMap map;
  s.show(map.root);
  s.click(s.at(map.link));
  uitest::advance(0.5);
  EXPECT_EQ(s.view->dataCenter(), s.view->tileFactory()->ideaLocation(map.b)) << "a link jumps to its target";
  EXPECT_TRUE(s.delegate.selected.empty());
  EXPECT_FALSE(s.view->dismissed());
  s.click(QPointF(2, 2));  // nothing there
  uitest::advance(0.5);
  EXPECT_TRUE(s.delegate.selected.empty());
  s.click(s.at(map.c));
  uitest::advance(0.05);
  EXPECT_TRUE(s.delegate.selected.empty()) << "the focus moves for 0.1 s first";
  uitest::advance(0.1);
  ASSERT_EQ(s.delegate.selected.size(), 1u);
  EXPECT_EQ(s.delegate.selected[0], map.c);
  EXPECT_EQ(s.view->dataCenter(), s.view->tileFactory()->ideaLocation(map.c));
  EXPECT_TRUE(s.view->dismissed());
  uitest::advance(1.0);
  EXPECT_EQ(s.delegate.selected.size(), 1u);
}

TEST(GraphScrollView, ContextMenusByIdeaKind) {
  Scene s;
  SmallMap map;
  s.show(map.root);
  auto titles = [&](QPointF p) {
    Event e = Event::mouse(EventType::RightMouseDown, p, uitest::clock().now());
    QStringList list;
    const auto menu = s.view->menuForEvent(e);
    for (const auto& item : menu->items()) list << item->title() + "|" + item->keyEquivalent();
    return list;
  };
  const QStringList zoom{"|", "Zoom In|+", "Zoom Out|-", "Zoom to Fit|9"};
  EXPECT_EQ(titles(s.at(map.link)), QStringList{"Follow link|"} + zoom);
  EXPECT_EQ(titles(s.at(map.a)), (QStringList{"Open|", "Open in New Window|"} + zoom));
  EXPECT_EQ(titles(QPointF(2, 2)), (QStringList{"Open|", "Open in New Window|"} + zoom));
  // Choosing "Open in New Window" on a planet, and on nothing.
  s.presenter->menuAnswers = {1, 1};
  s.send(EventType::RightMouseDown, s.at(map.a), 1, 1);
  s.send(EventType::RightMouseDown, QPointF(2, 2), 1, 1);
  ASSERT_EQ(s.delegate.newWindows.size(), 1u);
  EXPECT_EQ(s.delegate.newWindows[0], map.a);
  // "Zoom In" from the menu.
  const float before = s.view->zoomScale();
  s.presenter->menuAnswers = {3};
  s.send(EventType::RightMouseDown, QPointF(2, 2), 1, 1);
  EXPECT_FLOAT_EQ(s.view->zoomScale(), before * 1.5f);
}

TEST(GraphScrollView, WheelPansByNotchesAndCtrlWheelZooms) {
  Scene s;
  SmallMap map;
  s.show(map.root);
  const float z = s.view->zoomScale();
  const QPointF start = s.view->dataCenter();
  s.wheel(-1, /*precise=*/false);
  EXPECT_NEAR(s.view->dataCenter().y(), start.y() + 40 / z, 1e-3) << "a notch is 40 points";
  s.wheel(10, /*precise=*/true);
  EXPECT_NEAR(s.view->dataCenter().y(), start.y() + 30 / z, 1e-3);
  s.wheel(1, false, platform::ModifierFlag::Command);
  EXPECT_FLOAT_EQ(s.view->zoomScale(), z * 1.4f);
  s.wheel(-1, false, platform::ModifierFlag::Command);
  EXPECT_FLOAT_EQ(s.view->zoomScale(), std::max(z * 1.4f * 0.6f, s.view->minZoomScale()));
  Event pinch = Event::mouse(EventType::Magnify, QPointF(500, 350), uitest::clock().now(), 0);
  pinch.magnification = 5;
  s.window->sendEvent(pinch);
  EXPECT_FLOAT_EQ(s.view->zoomScale(), std::min(s.view->minZoomScale() * 2, GraphScrollView::kMaxZoomScale)) << "at most doubled";
}

TEST(GraphScrollView, CursorsAndNoteHoverFollowThePointer) {
  Scene s;
  SmallMap map;
  s.show(map.root);
  EXPECT_EQ(s.moveTo(s.at(map.c)), Cursor::PointingHand);
  EXPECT_EQ(s.moveTo(QPointF(2, 2)), Cursor::OpenHand);
  for (int i = 0; i < 6; ++i) s.view->cmdZoomIn();
  PlanetDrawer badge(5);
  badge.setNoteNumber(-1);
  badge.setScale(1);
  const QPointF noteOffset = badge.noteRect().center() - QPointF(badge.scaledSize().width() / 2, badge.scaledSize().height() / 2);
  const QPointF onNote = s.at(map.a) + noteOffset * s.view->zoomScale();
  ASSERT_TRUE(s.view->noteAtPoint(onNote));
  EXPECT_EQ(s.moveTo(onNote), Cursor::ContextualMenu) << "above zoom 0.1 the badge shows the note";
  EXPECT_EQ(s.moveTo(s.at(map.c)), Cursor::PointingHand);
}

TEST(GraphScrollView, NoHoverNoteBelowATenthOfZoom) {
  Scene s(QSizeF(100, 70));
  IdeaPtr root = graphtest::randomTree(200, 3);
  IdeaPtr noted = root->ideas().front();
  noted->setNote(QStringLiteral("note"));
  s.show(root);
  ASSERT_LE(s.view->zoomScale(), 0.1f);
  PlanetDrawer badge(5);
  badge.setNoteNumber(-1);
  const QPointF noteOffset = badge.noteRect().center() - QPointF(70, 70);
  const QPointF onNote = s.at(noted) + noteOffset * s.view->zoomScale();
  EXPECT_EQ(s.moveTo(onNote), Cursor::PointingHand);
}

TEST(GraphScrollView, AppearanceChangeRendersAgainFromTheFittingZoom) {
  editortest::AppearanceScope restore;
  Scene s;
  SmallMap map;
  s.show(map.root);
  s.view->cmdZoomIn();
  ASSERT_TRUE(s.settle());
  const ScaledGraphView* before = s.view->graphView().get();
  Globals::changeFontSizeFactor(Globals::fontSizeFactor() == 7 ? 3 : 7);
  ASSERT_TRUE(uitest::loop().runUntil([&] { return s.view->graphView().get() != before && s.view->graphView()->ready(); }));
  EXPECT_FLOAT_EQ(s.view->graphView()->zoomScale(), s.view->minZoomScale());
}

// Holds the graph builds until the test runs them, in the order it chooses.
struct HeldQueue : platform::Queue {
  std::vector<platform::Task> tasks;
  void async(platform::Task task) override { tasks.push_back(std::move(task)); }
  void after(platform::Millis, platform::Task task) override { async(std::move(task)); }
  bool isCurrent() const override { return false; }
  const std::string& label() const override { return name; }
  std::string name = "held";
};

TEST(GraphScrollView, BuildsElsewhereWithASpinnerAndShowsOnlyTheLatestRequest) {
  Scene s;
  SmallMap map;
  s.show(map.root);
  const auto first = s.view->tileFactory();
  EXPECT_TRUE(!s.view->progressIndicator() || s.view->progressIndicator()->isHidden());
  HeldQueue held;
  s.view->setBuildQueue(&held);
  // The tree as it is at each request: an outside change after the first one requests again.
  s.view->setCurrentIdea(map.root, nullptr);
  IdeaPtr added = idea(QStringLiteral("added"));
  map.root->addIdea(added);
  s.view->setCurrentIdea(map.root, nullptr);
  ASSERT_EQ(held.tasks.size(), 2u) << "nothing is built on the calling thread";
  EXPECT_EQ(s.view->tileFactory(), first) << "the shown graph stays until the new one is ready";
  EXPECT_TRUE(s.view->isBuilding());
  ASSERT_TRUE(s.view->progressIndicator());
  EXPECT_FALSE(s.view->progressIndicator()->isHidden());
  EXPECT_TRUE(s.view->progressIndicator()->isAnimating());
  EXPECT_EQ(s.view->progressIndicator()->superview(), s.view.get());
  // The newer build finishes first; the older one, arriving late, must not replace it.
  held.tasks[1]();
  held.tasks[0]();
  held.tasks.clear();
  ASSERT_TRUE(s.settle());
  uitest::advance(0);
  EXPECT_FALSE(s.view->isBuilding());
  EXPECT_GE(s.view->tileFactory()->snapshot()->indexOfIdentifier(added->identifier()), 0);
  EXPECT_EQ(s.view->tileFactory()->ideaAtPoint(s.view->tileFactory()->ideaLocation(added)), added);
  EXPECT_TRUE(s.view->progressIndicator()->isHidden());
  EXPECT_TRUE(s.view->progressIndicator()->isFadingOut());
  // A request right after spins again.
  s.view->setCurrentIdea(map.root, nullptr);
  EXPECT_FALSE(s.view->progressIndicator()->isHidden());
  EXPECT_FALSE(s.view->progressIndicator()->isFadingOut());
  held.tasks[0]();
  held.tasks.clear();
  ASSERT_TRUE(s.settle());
  // A view closed before its graph is ready just drops the result.
  s.view->setCurrentIdea(map.root, nullptr);
  std::weak_ptr<GraphScrollView> weak = s.view;
  s.view->removeFromSuperview();
  s.view.reset();
  ASSERT_TRUE(weak.expired());
  for (auto& task : held.tasks) task();
  uitest::advance(0);
}

TEST(GraphScrollView, TwoViewRules) {
  // nextZoomScale(g, z, min, max)
  EXPECT_FLOAT_EQ(GraphScrollView::nextZoomScale(1, 1, 0.1f, 1.75f), 0.75f) << "at rest a coarser view waits";
  EXPECT_FLOAT_EQ(GraphScrollView::nextZoomScale(0.2f, 0.3f, 0.1f, 1.75f), 0.3f);
  EXPECT_FLOAT_EQ(GraphScrollView::nextZoomScale(0.2f, 0.46f, 0.1f, 1.75f), 0.45f);
  EXPECT_FLOAT_EQ(GraphScrollView::nextZoomScale(1, 0.5f, 0.1f, 1.75f), 0.421875f);
  EXPECT_FLOAT_EQ(GraphScrollView::nextZoomScale(0.12f, 0.1f, 0.1f, 1.75f), 0.1f) << "clamped to the fitting zoom";
  EXPECT_FLOAT_EQ(GraphScrollView::nextZoomScale(1.5f, 1.75f, 0.1f, 1.75f), 1.75f);
  struct Row { double g, n, z; bool keep, swap; };
  for (const Row& r : {Row{1, 1, 1, false, true},        // the same scale is never kept
                       Row{1, 0.75, 1.2, false, false},  // zooming in past a coarser one
                       Row{1, 1.5, 1.2, true, false},    // on the way in, not reached yet
                       Row{1, 1.5, 1.5, true, true},     // reached
                       Row{1, 0.75, 1, true, false},     // idle: the coarser stands by
                       Row{1, 0.75, 0.9, true, true},    // on the way out: at once
                       Row{1, 0.75, 0.7, false, false}}) {
    EXPECT_EQ(GraphScrollView::worthKeeping(r.g, r.n, r.z), r.keep) << r.g << " " << r.n << " " << r.z;
    EXPECT_EQ(GraphScrollView::switchesTo(r.g, r.n, r.z), r.swap) << r.g << " " << r.n << " " << r.z;
  }
}

TEST(GraphScrollView, ZoomingInReplacesTheTilesWithSharperOnes) {
  Scene s;
  SmallMap map;
  s.show(map.root);
  const double first = s.view->currentZoomScale();
  s.view->cmdZoomIn();
  ASSERT_TRUE(uitest::loop().runUntil([&] { return s.view->currentZoomScale() > first && s.view->graphView()->ready(); }));
  EXPECT_FLOAT_EQ(static_cast<float>(s.view->currentZoomScale()), static_cast<float>(first) * 1.5f);
  EXPECT_EQ(s.view->graphView()->superview(), s.view.get());
  std::size_t tileViews = 0;
  for (const auto& sub : s.view->subviews()) tileViews += dynamic_cast<ScaledGraphView*>(sub.get()) != nullptr;
  EXPECT_EQ(tileViews, 1u) << "one tile view on screen";
}
