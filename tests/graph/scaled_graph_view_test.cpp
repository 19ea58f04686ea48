#include "graph_test_support.h"

#include "graph/graph_tile_factory.h"
#include "graph/scaled_graph_view.h"
#include "platform/core/quit_waiters.h"
#include "platform/ui/ui_test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace orrery;

namespace {

struct ReadyRecorder : ScaledGraphViewDelegate {
  int calls = 0;
  void handleScaledGraphViewReady(ScaledGraphView& /*view*/) override { ++calls; }
};

std::shared_ptr<const GraphTileFactory> mapFactory(int ideas = 300) {
  return std::make_shared<GraphTileFactory>(graphtest::randomTree(ideas, 7), nullptr, false);
}

struct TileViewTest : ::testing::Test {
  std::shared_ptr<const GraphTileFactory> factory = mapFactory();
  ReadyRecorder recorder;

  std::shared_ptr<ScaledGraphView> makeView(double scale) {
    auto view = std::make_shared<ScaledGraphView>(factory, scale);
    view->setDelegate(&recorder);
    return view;
  }
  bool pumpUntilReported(int calls) {
    return uitest::loop().runUntil([&] { return recorder.calls >= calls; });
  }
  // Every coordinate shown once, and every layer either shown or in the pool.
  static void expectOneLayerPerCoordinate(const ScaledGraphView& view) {
    std::size_t shown = 0;
    for (const auto& sub : view.layer()->sublayers()) {
      auto* tile = dynamic_cast<GraphTileLayer*>(sub.get());
      ASSERT_NE(tile, nullptr);
      if (tile->isHidden()) continue;
      ++shown;
      ASSERT_EQ(view.visibleLayers().at(tile->coord()).get(), tile);
    }
    EXPECT_EQ(shown, view.visibleLayers().size());
    EXPECT_EQ(view.layer()->sublayers().size(), view.visibleLayers().size() + view.reusableLayerCount());
  }
};

}  // namespace

TEST_F(TileViewTest, PortionsTruncateTowardsZeroAndFollowTheMode) {
  auto view = makeView(1);
  view->setActive(false);
  view->setDataRect(QRectF(0, 0, 400, 300), ScaledGraphViewModeIdle);
  EXPECT_EQ(view->requiredPortion(), (GridPortion{0, 0, 0, 0}));
  EXPECT_EQ(view->wantedPortion(), (GridPortion{0, 1, 0, 1})) << "-200 and -150 truncate to 0";
  EXPECT_EQ(view->dataCenter(), QPointF(200, 150));
  view->setDataRect(QRectF(-500, 0, 1000, 424), ScaledGraphViewModeZoom);
  EXPECT_EQ(view->requiredPortion(), (GridPortion{0, 0, -1, 1}));
  EXPECT_EQ(view->wantedPortion(), view->requiredPortion());
  EXPECT_EQ(view->allowedPortion(), view->requiredPortion());
  view->setDataRect(QRectF(0, 0, 1000, 848), ScaledGraphViewModeMove);
  EXPECT_EQ(view->wantedPortion(), (GridPortion{0, 1, 0, 2}));
  EXPECT_EQ(view->allowedPortion(), (GridPortion{-1, 2, -1, 3}));
  // At half scale a tile covers 848 content points.
  auto half = makeView(0.5);
  half->setActive(false);
  half->setDataRect(QRectF(0, 0, 1000, 848), ScaledGraphViewModeZoom);
  EXPECT_EQ(half->requiredPortion(), (GridPortion{0, 0, 0, 1}));
  EXPECT_EQ(ScaledGraphView::stringFromMode(2), QStringLiteral("Move"));
  EXPECT_EQ(ScaledGraphView::stringFromMode(7), QStringLiteral("UNKNOWN"));
  view->setDataRect(QRectF(0, 0, 0, 0), ScaledGraphViewModeIdle);
  EXPECT_EQ(view->requiredPortion(), (GridPortion{0, 0, 0, 0})) << "a 0 x 0 view: -1 / 424 truncates to 0";
}

TEST_F(TileViewTest, ReadyOnlyAfterQueuedWorkAndNotAgainForSmallMoves) {
  auto view = makeView(0.5);
  const QRectF screen(100, 100, 1440, 900);
  view->setDataRect(screen, ScaledGraphViewModeZoom);
  EXPECT_FALSE(view->ready());
  ASSERT_TRUE(pumpUntilReported(1));
  EXPECT_TRUE(view->ready());
  const GridPortion required = view->requiredPortion();
  for (int row = required.firstRow; row <= required.lastRow; ++row)
    for (int col = required.firstColumn; col <= required.lastColumn; ++col)
      EXPECT_TRUE(view->visibleLayers().count(GridCoordinate{row, col})) << row << "," << col;
  // Tiles sit where the data centre falls on the view's origin.
  const auto& first = view->visibleLayers().at(GridCoordinate{0, 0});
  EXPECT_EQ(first->position(), QPointF(std::floor(212 - screen.center().x() * 0.5), std::floor(212 - screen.center().y() * 0.5)));
  EXPECT_FALSE(first->contents().isNull());

  view->setDataRect(screen.translated(10, 10), ScaledGraphViewModeZoom);
  uitest::loop().runPending();
  EXPECT_EQ(recorder.calls, 1) << "less than a tile queues nothing and reports nothing";
  EXPECT_EQ(first->position(), QPointF(std::floor(212 - (screen.center().x() + 10) * 0.5), std::floor(212 - (screen.center().y() + 10) * 0.5)));
  expectOneLayerPerCoordinate(*view);
}

TEST_F(TileViewTest, LateTilesAreDroppedAndCoordinatesNeverDoubled) {
  auto view = makeView(1);
  const QRectF home(0, 0, 1440, 900), away(20000, 20000, 1440, 900);
  for (int pass = 0; pass < 3; ++pass) {
    view->setDataRect(home, ScaledGraphViewModeZoom);
    view->setDataRect(away, ScaledGraphViewModeZoom);
  }
  view->setDataRect(home, ScaledGraphViewModeZoom);
  ASSERT_TRUE(uitest::loop().runUntil([&] { return recorder.calls > 0 && view->ready(); }));
  uitest::loop().runUntil([&] { return view->imagesInFlight() == 0; });
  uitest::loop().runPending();
  for (const auto& [coord, tile] : view->visibleLayers())
    EXPECT_TRUE(view->allowedPortion().contains(coord)) << "no tile of the place left behind";
  expectOneLayerPerCoordinate(*view);
}

TEST_F(TileViewTest, InactiveViewRendersNothingAndNeverReports) {
  auto idle = makeView(1);
  idle->setActive(false);
  idle->setDataRect(QRectF(0, 0, 1440, 900), ScaledGraphViewModeIdle);
  ReadyRecorder other;
  auto active = std::make_shared<ScaledGraphView>(factory, 1);
  active->setDelegate(&other);
  active->setDataRect(QRectF(0, 0, 1440, 900), ScaledGraphViewModeIdle);
  ASSERT_TRUE(uitest::loop().runUntil([&] { return other.calls > 0; }));
  uitest::loop().runPending();
  EXPECT_EQ(recorder.calls, 0);
  EXPECT_TRUE(idle->visibleLayers().empty());
  EXPECT_FALSE(idle->ready());
}

TEST_F(TileViewTest, LayerPoolStaysBoundedOverALongPan) {
  auto view = makeView(1);
  QRectF screen(0, 0, 1440, 900);
  std::size_t most = 0;
  for (int step = 0; step < 40; ++step) {
    screen.translate(300, 170);
    view->setDataRect(screen, step % 5 == 4 ? ScaledGraphViewModeIdle : ScaledGraphViewModeMove);
    uitest::loop().runUntil([&] { return view->ready(); });
    most = std::max(most, view->layer()->sublayers().size());
  }
  uitest::loop().runUntil([&] { return view->imagesInFlight() == 0; });
  // The idle portion is at most 9 x 7 tiles; layers are reused, not piled up.
  EXPECT_LE(most, 9u * 7u + ScaledGraphView::kImagesInFlight);
  expectOneLayerPerCoordinate(*view);
}

TEST_F(TileViewTest, TenImagesWaitForTheMainQueueAndDeactivationWakesTheQueue) {
  auto view = makeView(4);  // small tiles of content: many of them
  view->setDataRect(QRectF(0, 0, 1440, 900), ScaledGraphViewModeIdle);
  const GridPortion wanted = view->wantedPortion();
  ASSERT_GT((wanted.lastRow - wanted.firstRow + 1) * (wanted.lastColumn - wanted.firstColumn + 1), 11);
  // The main queue does not run: the tile queue fills the ten places and then waits.
  while (view->imagesInFlight() < ScaledGraphView::kImagesInFlight) std::this_thread::yield();
  EXPECT_EQ(view->imagesInFlight(), ScaledGraphView::kImagesInFlight);
  view->setActive(false);
  // Dropping the view returns: the blocked render woke and gave its image up.
  view.reset();
  // The ten images reach a main queue whose view is gone, and are let go.
  uitest::loop().runPending();
  EXPECT_EQ(recorder.calls, 0);
}

TEST_F(TileViewTest, TheMainQueueTakesTheWaitingImagesAndTheRestFollow) {
  auto view = makeView(4);
  view->setDataRect(QRectF(0, 0, 1440, 900), ScaledGraphViewModeIdle);
  while (view->imagesInFlight() < ScaledGraphView::kImagesInFlight) std::this_thread::yield();
  ASSERT_TRUE(pumpUntilReported(1));
  uitest::loop().runUntil([&] { return view->imagesInFlight() == 0; });
  uitest::loop().runPending();
  const GridPortion wanted = view->wantedPortion();
  EXPECT_EQ(view->visibleLayers().size(),
            static_cast<std::size_t>((wanted.lastRow - wanted.firstRow + 1) * (wanted.lastColumn - wanted.firstColumn + 1)));
}

TEST_F(TileViewTest, QuittingWaitsForDroppedViewsAndLaterViewsStillRender) {
  {
    auto dropped = makeView(4);  // many small tiles, dropped while its queue renders
    dropped->setDataRect(QRectF(0, 0, 1440, 900), ScaledGraphViewModeIdle);
  }
  const auto ran = platform::runQuitWaiters();
  EXPECT_NE(std::find(ran.begin(), ran.end(), "graph tiles"), ran.end());
  uitest::loop().runPending();
  // Quitting cancels only the work queued before it.
  auto view = makeView(1);
  view->setDataRect(QRectF(0, 0, 1440, 900), ScaledGraphViewModeZoom);
  ASSERT_TRUE(pumpUntilReported(1));
  EXPECT_EQ(view->visibleLayers().size(), 4u * 3u);
}
