#include "foundation/views/view_extensions.h"
#include "home/idea_list_view.h"
#include "home_test_support.h"

#include <gtest/gtest.h>

using namespace orrery;
using hometest::proxy;

namespace {

QString listDocId(int i) { return QStringLiteral("file:///c/doc-%1.orrx").arg(i); }

// A grid of `count` documents, sized so that three cells fit a row and nothing scrolls when
// the height allows it.
std::shared_ptr<IdeaListView> grid(int count, QSizeF size = QSizeF(800, 1000)) {
  auto view = std::make_shared<IdeaListView>();
  view->setFrame(QRectF(QPointF(0, 0), size));
  for (int i = 0; i < count; ++i) view->appendProxy(proxy(listDocId(i), QStringLiteral("T%1").arg(i), i), true);
  view->updateView();
  return view;
}

QPointF centreOf(const IdeaListView& view, const QString& key) {
  platform::View* v = view.visibleItemForKey(key);
  return v ? viewext::center(*v) : QPointF(-1, -1);
}

std::vector<QString> order(const IdeaListView& view) {
  std::vector<QString> ids;
  for (const auto& p : view.proxies()) ids.push_back(p->docIdentifier());
  return ids;
}

}  // namespace

TEST(HomeGrid, CellsPerRowAndContentHeight) {
  for (auto [width, cells] : {std::pair{0.0, 1}, {300.0, 1}, {499.0, 1}, {500.0, 2}, {718.0, 3}, {936.0, 4}})
    EXPECT_EQ(IdeaListView::itemsPerRow(width), cells) << width;
  auto empty = grid(0);
  EXPECT_EQ(empty->countSlots(), 1);
  EXPECT_DOUBLE_EQ(empty->contentHeightForWidth(800), 282);
  empty->setReadOnlyMode(true);
  EXPECT_EQ(empty->countSlots(), 0);
  EXPECT_DOUBLE_EQ(empty->contentHeightForWidth(800), 282) << "an empty read-only grid still measures a row";
  auto four = grid(4);
  EXPECT_DOUBLE_EQ(four->contentHeightForWidth(800), 64 + 2 * 218);
}

TEST(HomeGrid, TilesAndMarkersSitAtTheirSlotCentres) {
  auto view = grid(3);
  ASSERT_EQ(view->itemsPerRow(), 3);
  EXPECT_EQ(centreOf(*view, IdeaListView::adderKey()), QPointF(141, 131));
  EXPECT_EQ(centreOf(*view, listDocId(0)), QPointF(359, 131));
  EXPECT_EQ(centreOf(*view, listDocId(1)), QPointF(577, 131));
  EXPECT_EQ(centreOf(*view, listDocId(2)), QPointF(141, 349));
  EXPECT_EQ(view->interpretedIndexFromVisualSlot(0), IdeaListView::kAdderSlot);
  EXPECT_EQ(view->interpretedIndexFromVisualSlot(3), 2);
  EXPECT_EQ(view->interpretedIndexFromVisualSlot(4), IdeaListView::kDockSlot);

  auto two = grid(2);
  two->doToggleDockMode();
  two->updateView();
  EXPECT_EQ(centreOf(*two, IdeaListView::dockKey()), QPointF(141, 294)) << "column 0: a quarter row higher";
  auto four = grid(4);
  four->doToggleDockMode();
  four->updateView();
  EXPECT_EQ(centreOf(*four, IdeaListView::dockKey()), QPointF(468, 349)) << "half a cell left, after the last tile";
  auto* item = dynamic_cast<NormalIdeaListItemForIPad*>(four->visibleItemForKey(listDocId(0)));
  ASSERT_TRUE(item);
  EXPECT_TRUE(item->dockingMode());
  EXPECT_TRUE(static_cast<BigAdderView*>(four->visibleItemForKey(IdeaListView::adderKey()))->dockMode());

  // Any list change ends docking mode: the markers go and no tile keeps the focus.
  four->insertProxy(proxy(listDocId(9), QStringLiteral("new"), 1), 1);
  EXPECT_FALSE(four->dockingMode());
  EXPECT_EQ(four->visibleItemForKey(IdeaListView::dockKey()), nullptr);
  EXPECT_FALSE(item->dockingMode());
  EXPECT_EQ(four->indexOfIdeaAtFocus(), IdeaListView::kNotFound);
  EXPECT_EQ(centreOf(*four, listDocId(9)), QPointF(577, 131));
  EXPECT_EQ(centreOf(*four, listDocId(1)), QPointF(141, 349));
}

TEST(HomeGrid, ReadOnlyDropsTheAdderAndShowsThePlaceholderWhenEmpty) {
  auto view = grid(0);
  view->setReadOnlyMode(true);
  EXPECT_EQ(view->visibleItemForKey(IdeaListView::adderKey()), nullptr);
  ASSERT_TRUE(view->placeHolderView());
  EXPECT_FALSE(view->placeHolderView()->text().isEmpty());
  const QRectF f = view->placeHolderView()->frame();
  EXPECT_NEAR(f.center().x(), 400, 1);
  EXPECT_NEAR(f.top(), 10, 0.5);
  view->appendProxy(proxy(listDocId(0), QStringLiteral("a"), 1), false);
  EXPECT_EQ(view->placeHolderView(), nullptr);
  EXPECT_EQ(centreOf(*view, listDocId(0)), QPointF(141, 131)) << "results start in slot 0";
  view->setReadOnlyMode(false);
  EXPECT_EQ(centreOf(*view, listDocId(0)), QPointF(359, 131));
  EXPECT_EQ(view->placeHolderView(), nullptr) << "an editable empty grid has no placeholder";
}

TEST(HomeGrid, MovesRemovesAndUnknownIdentifiers) {
  auto view = grid(5);
  view->moveProxyAtIndex(0, 3);
  EXPECT_EQ(order(*view)[2], listDocId(0));
  view->moveProxyAtIndex(3, 0);
  EXPECT_EQ(order(*view)[0], listDocId(3));
  const auto before = order(*view);
  view->moveProxyAtIndex(7, 0);
  view->moveProxyAtIndex(0, 9);
  view->removeProxyAtIndex(5);
  view->removeProxyAtIndex(IdeaListView::kNotFound);
  view->removeProxyWithDocIdentifer(QStringLiteral("file:///c/none.orrx"));
  view->updateProxy(proxy(QStringLiteral("file:///c/none.orrx"), QStringLiteral("x"), 1));
  EXPECT_EQ(order(*view), before) << "bad indices and unknown identifiers change nothing";

  auto renamed = proxy(listDocId(4), QStringLiteral("Renamed"), 40);
  view->updateProxy(renamed);
  ASSERT_TRUE(view->visibleIdeaViewForDocument(listDocId(4)));
  EXPECT_EQ(view->visibleIdeaViewForDocument(listDocId(4))->proxy(), renamed);
  EXPECT_EQ(view->findProxy(listDocId(4)), renamed);

  view->removeProxyWithDocIdentifer(listDocId(4));
  EXPECT_EQ(view->proxies().size(), 4u);
  EXPECT_EQ(view->visibleIdeaViewForDocument(listDocId(4)), nullptr);
  EXPECT_EQ(centreOf(*view, order(*view)[3]), QPointF(359, 349)) << "the others close the gap";
  view->insertProxy(proxy(listDocId(8), QStringLiteral("late"), 1), 99);
  EXPECT_EQ(order(*view).back(), listDocId(8)) << "an index past the end appends";
}

TEST(HomeGrid, ScrollingAThousandTilesRecyclesAFewViews) {
  auto view = grid(1000, QSizeF(800, 600));
  const std::int64_t perRow = view->itemsPerRow();
  const double height = view->contentHeightForWidth(view->contentWidth());
  ASSERT_GT(height, 60000);
  std::size_t most = 0;
  for (double y = 0; y < height; y += 97) {
    view->scrollToPoint(QPointF(0, y));
    const QRectF visible = view->documentVisibleRect();
    most = std::max(most, view->visibleItemCount() + view->pooledItemCount());
    ASSERT_LE(view->visibleItemCount(), static_cast<std::size_t>(perRow * 5 + 1));
    // Every live tile shows the document of its slot, whatever view it was before.
    for (const auto& p : view->proxies()) {
      auto* disc = view->visibleIdeaViewForDocument(p->docIdentifier());
      if (!disc) continue;
      ASSERT_EQ(disc->proxy(), p);
      auto* item = static_cast<NormalIdeaListItemForIPad*>(view->visibleItemForKey(p->docIdentifier()));
      ASSERT_EQ(item->superview(), &view->hugeView());
      EXPECT_LT(std::abs(viewext::center(*item).y() - visible.center().y()), visible.height() / 2 + 2 * 218);
    }
  }
  EXPECT_LE(most, static_cast<std::size_t>(perRow * 6 + 2)) << "live views follow the visible rows";
  view->scrollToPoint(QPointF(0, 0));
  EXPECT_NE(view->visibleItemForKey(IdeaListView::adderKey()), nullptr);
  EXPECT_NE(view->visibleIdeaViewForDocument(listDocId(0)), nullptr);
}
