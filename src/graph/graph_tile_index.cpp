#include "graph/graph_tile_index.h"

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

bool meets(const QRectF& a, const QRectF& b) {
  return a.left() <= b.right() && b.left() <= a.right() && a.top() <= b.bottom() && b.top() <= a.bottom();
}

}  // namespace

GraphTileIndex::GraphTileIndex(const QSizeF& contentSize) {
  // Around a thousand cells a side at most, never below a couple of tiles' width.
  const double side = std::max(contentSize.width(), contentSize.height());
  mCell = std::isfinite(side) ? std::max(512.0, std::ceil(side / 1024.0)) : 512.0;
}

std::int64_t GraphTileIndex::cellOf(double v) const {
  const double c = std::floor(v / mCell);
  return static_cast<std::int64_t>(std::clamp(c, -2.0e9, 2.0e9));
}

void GraphTileIndex::add(std::int32_t item, const QRectF& box) {
  const auto boxIndex = static_cast<std::int32_t>(mBoxes.size());
  mBoxes.push_back(box);
  mItemOfBox.push_back(item);
  for (std::int64_t row = cellOf(box.top()); row <= cellOf(box.bottom()); ++row)
    for (std::int64_t col = cellOf(box.left()); col <= cellOf(box.right()); ++col) mCells[key(col, row)].push_back(boxIndex);
}

std::vector<std::int32_t> GraphTileIndex::itemsMeeting(const QRectF& rect) const {
  std::vector<std::int32_t> items;
  const std::int64_t rows = cellOf(rect.bottom()) - cellOf(rect.top()) + 1;
  const std::int64_t cols = cellOf(rect.right()) - cellOf(rect.left()) + 1;
  if (rows * cols > static_cast<std::int64_t>(mCells.size())) {
    // Far out a tile covers most of the map: one pass over the boxes is cheaper.
    for (std::size_t b = 0; b < mBoxes.size(); ++b)
      if (meets(mBoxes[b], rect)) items.push_back(mItemOfBox[b]);
  } else {
    for (std::int64_t row = cellOf(rect.top()); row <= cellOf(rect.bottom()); ++row)
      for (std::int64_t col = cellOf(rect.left()); col <= cellOf(rect.right()); ++col) {
        const auto cell = mCells.find(key(col, row));
        if (cell == mCells.end()) continue;
        for (std::int32_t b : cell->second)
          if (meets(mBoxes[static_cast<std::size_t>(b)], rect)) items.push_back(mItemOfBox[static_cast<std::size_t>(b)]);
      }
  }
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  return items;
}

}  // namespace orrery
