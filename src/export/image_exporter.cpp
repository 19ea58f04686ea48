#include "export/image_exporter.h"

#include "export/png_encoder.h"
#include "foundation/globals.h"
#include "graph/graph_tile_factory.h"
#include "model/idea_snapshot.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orrery {

QImage ImageExporter::renderImage(const GraphTileFactory& factory, bool transparency, QString* error) {
  const QSizeF content = factory.contentSize();
  if (content.width() <= 0 || content.height() <= 0) {
    if (error) *error = QStringLiteral("the map has nothing to draw");
    return {};
  }
  // Both sides are capped: a tall map must not ask for gigabytes.
  const double zoom = std::min({1.0, kMaxSide / content.width(), kMaxSide / content.height()});
  const int width = std::max(1, static_cast<int>(std::floor(content.width() * zoom)));
  const int height = std::max(1, static_cast<int>(std::floor(content.height() * zoom)));
  // Opaque pictures carry no alpha channel: the PNG gets three bytes a pixel, not four, and
  // no pass undoing premultiplied alpha.
  QImage image(width, height, transparency ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  if (image.isNull()) {
    if (error) *error = QStringLiteral("a picture of %1 × %2 pixels cannot be made").arg(width).arg(height);
    return {};
  }
  image.fill(transparency ? QColor(Qt::transparent) : Globals::colorWhite());
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  factory.drawTile(QRectF(QPointF(0, 0), content), zoom, painter);
  painter.end();
  return image;
}

QByteArray ImageExporter::generatePNGImageWithFactory(const GraphTileFactory& factory, bool transparency,
                                                      QString* error) {
  const QImage image = renderImage(factory, transparency, error);
  if (image.isNull()) return {};
  const QByteArray png = encodePNG(image);
  if (png.isEmpty()) {
    if (error) *error = QStringLiteral("the picture cannot be encoded as PNG");
    return {};
  }
  return png;
}

QByteArray ImageExporter::generatePNGImageFromIdea(const IdeaPtr& frozen, bool transparency, QString* error) {
  if (!frozen) {
    if (error) *error = QStringLiteral("no map to draw");
    return {};
  }
  const GraphTileFactory factory(IdeaSnapshot::createFromFrozen(frozen), GraphFilter(), /*centerToRoot=*/false);
  return generatePNGImageWithFactory(factory, transparency, error);
}

}  // namespace orrery
