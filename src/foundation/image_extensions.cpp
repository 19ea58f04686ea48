#include "foundation/image_extensions.h"

#include "foundation/kit_image.h"
#include "platform/services/resources.h"

namespace orrery::imageext {

QImage deviceImageNamed(const QString& name) {
  // The double-size picture keeps its point size through the device pixel ratio, so that it
  // stays sharp on 2x screens and in 2x snapshots.
  const QString sharp = platform::pathForResource(name + QStringLiteral("@2x"), QStringLiteral("png"));
  if (!sharp.isEmpty()) {
    QImage image = KitImage::readFromURL(sharp).nsImage();
    if (!image.isNull()) {
      image.setDevicePixelRatio(2);
      return image;
    }
  }
  QString path = platform::pathForResource(name, QStringLiteral("png"));
  if (path.isEmpty()) path = platform::pathForResource(name);
  if (path.isEmpty()) return {};
  return KitImage::readFromURL(path).nsImage();
}

void drawInRect(const QImage& image, const QRectF& rect, QPainter& painter, bool flipped) {
  KitImage(image).drawInRect(rect, painter, flipped);
}

void drawInRect(const QImage& image, const QRectF& rect, QPainter& painter,
                QPainter::CompositionMode mode, double alpha, bool flipped) {
  painter.save();
  painter.setCompositionMode(mode);
  painter.setOpacity(painter.opacity() * alpha);
  KitImage(image).drawInRect(rect, painter, flipped);
  painter.restore();
}

QImage scaleToSize(const QImage& image, const QSizeF& size) {
  return KitImage(image).scaleToSize(size).nsImage();
}

}  // namespace orrery::imageext
