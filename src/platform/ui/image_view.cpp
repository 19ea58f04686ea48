#include "platform/ui/image_view.h"

#include <QPainter>

#include <algorithm>

namespace platform {

void ImageView::setImage(const QImage& image, const QSizeF& pointSize) {
  const QSizeF size = pointSize.isEmpty() ? image.deviceIndependentSize() : pointSize;
  // The same picture at the same size shows nothing new (the home grid sets its markers'
  // pictures on every step of a drag over it).
  if (image.cacheKey() == mImage.cacheKey() && size == mImageSize && !image.isNull()) return;
  mImage = image;
  mImageSize = size;
  setNeedsDisplay();
}

void ImageView::setImageSize(const QSizeF& size) {
  mImageSize = size;
  setNeedsDisplay();
}

void ImageView::setImageScaling(ImageScaling scaling) {
  mScaling = scaling;
  setNeedsDisplay();
}

void ImageView::setImageAlignment(ImageAlignment alignment) {
  mAlignment = alignment;
  setNeedsDisplay();
}

QRectF ImageView::imageRect() const {
  const QRectF b = bounds();
  QSizeF size = mImageSize;
  if (size.isEmpty()) return {};
  switch (mScaling) {
    case ImageScaling::AxesIndependently: return b;
    case ImageScaling::None: break;
    case ImageScaling::ProportionallyDown:
    case ImageScaling::ProportionallyUpOrDown: {
      double f = std::min(b.width() / size.width(), b.height() / size.height());
      if (mScaling == ImageScaling::ProportionallyDown) f = std::min(f, 1.0);
      size *= f;
      break;
    }
  }
  double x = b.x() + (b.width() - size.width()) / 2, y = b.y() + (b.height() - size.height()) / 2;
  switch (mAlignment) {
    case ImageAlignment::Top: y = b.y(); break;
    case ImageAlignment::TopLeft: x = b.x(); y = b.y(); break;
    case ImageAlignment::TopRight: x = b.right() - size.width(); y = b.y(); break;
    case ImageAlignment::Left: x = b.x(); break;
    case ImageAlignment::Bottom: y = b.bottom() - size.height(); break;
    case ImageAlignment::BottomLeft: x = b.x(); y = b.bottom() - size.height(); break;
    case ImageAlignment::BottomRight: x = b.right() - size.width(); y = b.bottom() - size.height(); break;
    case ImageAlignment::Right: x = b.right() - size.width(); break;
    case ImageAlignment::Center: break;
  }
  return QRectF(QPointF(x, y), size);
}

void ImageView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  (void)dirtyRect;
  if (mImage.isNull()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(imageRect(), mImage);
}

}  // namespace platform
