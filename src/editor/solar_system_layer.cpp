#include "editor/solar_system_layer.h"

#include "foundation/globals.h"

#include <QPainter>

namespace orrery {

SolarSystemLayer::SolarSystemLayer() { setNeedsDisplay(); }

void SolarSystemLayer::setRadius(double radius) {
  if (radius == mRadius) return;
  mRadius = radius;
  setNeedsDisplay();
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
