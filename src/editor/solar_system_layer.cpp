#include "editor/solar_system_layer.h"

#include "foundation/globals.h"

#include <QPainter>

#include <cmath>

namespace orrery {

SolarSystemLayer::SolarSystemLayer() { setNeedsDisplay(); }

void SolarSystemLayer::setRadius(double radius) {
  if (radius == mRadius) return;
  mRadius = radius;
  setNeedsDisplay();
}

void SolarSystemLayer::setStrokedEachComposition(bool stroked) {
  if (stroked == mStrokedEachComposition) return;
  mStrokedEachComposition = stroked;
  setNeedsDisplay();
}

QRectF SolarSystemLayer::drawnArea(const QRectF& bounds) const {
  // The stroke's half width and a pixel of antialiasing, then whole device pixels from the
  // bounds' corner, so the picture is blitted without resampling.
  const double reach = std::abs(mRadius) + 1.5;
  const double k = contentsScale() > 0 ? contentsScale() : 1.0;
  const QPointF c = bounds.center() - bounds.topLeft();
  const double left = std::floor((c.x() - reach) * k) / k, right = std::ceil((c.x() + reach) * k) / k;
  const double top = std::floor((c.y() - reach) * k) / k, bottom = std::ceil((c.y() + reach) * k) / k;
  const QRectF area = QRectF(QPointF(left, top), QPointF(right, bottom)).translated(bounds.topLeft());
  return area.intersected(bounds);
}

void SolarSystemLayer::drawInContext(QPainter& painter) {
  BaseLayer::drawInContext(painter);
  painter.save();
  const QRectF b = bounds();
  painter.translate(b.x() + b.width() / 2, b.y() + b.height() / 2);
  painter.setPen(QPen(Globals::colorLightGray(), 0.6));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QRectF(-mRadius, -mRadius, 2 * mRadius, 2 * mRadius));
  painter.restore();
}

}  // namespace orrery
