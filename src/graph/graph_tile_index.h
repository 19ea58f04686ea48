#pragma once
// Which drawn items meet a rectangle: a sparse grid over the content, made once per factory.
// An item registers the bounding boxes of its pieces (long lines and arcs are cut into pieces
// about a cell long), so a tile looks at the few cells it covers instead of the whole tree.
// Read-only once made; any thread may query it.

#include <QRectF>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace orrery {

class GraphTileIndex {
 public:
  GraphTileIndex() = default;
  // Cells sized for content of the given extent.
  explicit GraphTileIndex(const QSizeF& contentSize);

  double cellSize() const { return mCell; }
  void add(std::int32_t item, const QRectF& box);
  // Every item with a piece meeting the rectangle (closed bounds), ascending and once each.
  std::vector<std::int32_t> itemsMeeting(const QRectF& rect) const;

 private:
  std::int64_t key(std::int64_t col, std::int64_t row) const { return (row << 32) ^ (col & 0xffffffff); }
  std::int64_t cellOf(double v) const;

  double mCell = 512;
  std::unordered_map<std::int64_t, std::vector<std::int32_t>> mCells;
  std::vector<QRectF> mBoxes;    // per registration
  std::vector<std::int32_t> mItemOfBox;
};

}  // namespace orrery
