#include "foundation/image_extensions.h"

#include "foundation/kit_image.h"
#include "platform/services/resources.h"

namespace orrery::imageext {

namespace {

QString sharpImagePath(const QString& name) { return platform::pathForResource(name + QStringLiteral("@2x"), QStringLiteral("png")); }

QString plainImagePath(const QString& name) {
  const QString path = platform::pathForResource(name, QStringLiteral("png"));
  return path.isEmpty() ? platform::pathForResource(name) : path;
}

}  // namespace

QImage deviceImageNamed(const QString& name) {
  // The double-size picture keeps its point size through the device pixel ratio, so that it
  // stays sharp on 2x screens and in 2x snapshots.
  if (const QString sharp = sharpImagePath(name); !sharp.isEmpty()) {
    QImage image = KitImage::readFromURL(sharp).nsImage();
    if (!image.isNull()) {
      image.setDevicePixelRatio(2);
      return image;
    }
  }
  const QString path = plainImagePath(name);
  return path.isEmpty() ? QImage() : KitImage::readFromURL(path).nsImage();
}

QSizeF deviceImageSizeNamed(const QString& name) {
  if (const QString sharp = sharpImagePath(name); !sharp.isEmpty()) {
    const QSize pixels = KitImage::pixelSizeAtURL(sharp);
    if (!pixels.isEmpty()) return QSizeF(pixels) / 2;
  }
  const QString path = plainImagePath(name);
  return path.isEmpty() ? QSizeF() : QSizeF(KitImage::pixelSizeAtURL(path));
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
