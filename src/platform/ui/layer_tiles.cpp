// The tiles of a layer too tall (or wide) for one contents image.

#include "platform/ui/layer.h"
#include "platform/ui/transparent_image.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace platform {

QRectF Layer::tileRect(int column, int row) const {
  // Tiles cut the pixels of the whole contents, so neighbours meet on a pixel edge at any scale.
  const double side = kTileSide / mContentsScale;
  const QRectF& b = mModel.bounds;
  const QRectF tile(b.left() + column * side, b.top() + row * side, side, side);
  return tile.intersected(b);
}

void Layer::dropTiles() {
  if (!mExtras) return;
  mExtras->tiles.clear();
  mExtras->tileDrawCount = 0;
}

const QImage& Layer::tileImage(int column, int row) {
  auto& tiles = extras().tiles;
  auto found = tiles.find({column, row});
  if (found != tiles.end()) return found->second;
  const QRectF rect = tileRect(column, row);
  const QSize pixels(std::max(1, static_cast<int>(std::ceil(rect.width() * mContentsScale - 1e-6))),
                     std::max(1, static_cast<int>(std::ceil(rect.height() * mContentsScale - 1e-6))));
  QImage image = makeTransparentImage(pixels, mContentsScale);
  if (!image.isNull()) {
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    painter.translate(-rect.topLeft());
    // The clip tells the drawing code which part it is asked for.
    painter.setClipRect(rect);
    drawInContext(painter);
  }
  image.setDevicePixelRatio(1.0);
  ++mExtras->tileDrawCount;
  return tiles.emplace(std::make_pair(column, row), std::move(image)).first->second;
}

void Layer::dropTilesOutside(const QRectF& keep) {
  if (!mExtras) return;
  auto& tiles = mExtras->tiles;
  for (auto it = tiles.begin(); it != tiles.end();) {
    if (tileRect(it->first.first, it->first.second).intersects(keep))
      ++it;
    else
      it = tiles.erase(it);
  }
}

}  // namespace platform
