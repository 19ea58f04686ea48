#pragma once
// A tile's row and column, the portion of the tile grid a rectangle covers, and the layer that
// shows one tile image (no implicit animations: tiles jump into place). Main thread, except
// that coordinates and portions are plain values any thread may copy.

#include "platform/ui/layer.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace orrery {

struct GridCoordinate {
  std::int32_t row = 0;
  std::int32_t col = 0;
  bool operator==(const GridCoordinate&) const = default;
};

struct GridCoordinateHash {
  std::size_t operator()(const GridCoordinate& c) const { return std::hash<std::int64_t>()((std::int64_t(c.row) << 32) ^ std::uint32_t(c.col)); }
};

// Inclusive rows and columns; empty when first > last.
struct GridPortion {
  std::int32_t firstRow = 0;
  std::int32_t lastRow = -1;
  std::int32_t firstColumn = 0;
  std::int32_t lastColumn = -1;

  bool isEmpty() const { return firstRow > lastRow || firstColumn > lastColumn; }
  bool contains(const GridCoordinate& c) const {
    return firstRow <= c.row && c.row <= lastRow && firstColumn <= c.col && c.col <= lastColumn;
  }
  bool operator==(const GridPortion&) const = default;
};

class GraphTileLayer : public platform::Layer {
 public:
  GraphTileLayer();
  const GridCoordinate& coord() const { return mCoord; }
  void setCoord(const GridCoordinate& coord) { mCoord = coord; }
  platform::LayerAction actionForKey(const QString& key) override;

 private:
  GridCoordinate mCoord;
};

}  // namespace orrery
