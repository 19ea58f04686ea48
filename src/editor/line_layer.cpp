#include "editor/line_layer.h"

#include "foundation/geometry.h"
#include "foundation/globals.h"
#include "platform/ui/transaction.h"

#include <QPainter>

namespace orrery {

namespace {

constexpr double kLineHeight = 4;
constexpr double kInset = 10;

}  // namespace

LineLayer::LineLayer(const QPointF& from, const QPointF& to, bool dashed) : mUsesDash(dashed) {
  setBounds(QRectF(0, 0, mLineLen, kLineHeight));
  setAnchorPoint(QPointF(0, 0.5));
  setPosition(QPointF(0, 0));
  transformToLine(from, to);
  setContentsScale(Globals::screenScale());
  setNeedsDisplay();
}

QTransform LineLayer::transformForLine(const QPointF& from, const QPointF& to) const {
  const double angle = Geometry::angleFrom(from, to);
  const double k = Geometry::distanceFrom(from, to) / mLineLen;
  // Applied to the line's points in this order: scale, rotate, then move to A.
  QTransform t;
  t.translate(from.x(), from.y());
  t.rotateRadians(angle);
  t.scale(k, k);
  return t;
}

void LineLayer::transformToLine(const QPointF& from, const QPointF& to) { setTransform(transformForLine(from, to)); }

void LineLayer::animateToLine(const QPointF& from, const QPointF& to, bool /*immediate*/) {
  platform::withoutActions([&] { setTransform(transformForLine(from, to)); });
}

void LineLayer::drawInContext(QPainter& painter) {
  Layer::drawInContext(painter);
  painter.save();
  QPen pen(Globals::colorLightGray(), 1.0);
  if (mUsesDash) {
    pen.setDashPattern({2, 2});
    pen.setDashOffset(0);
  }
  pen.setCapStyle(Qt::FlatCap);
  painter.setPen(pen);
  painter.drawLine(QPointF(kInset, kLineHeight / 2), QPointF(mLineLen - kInset, kLineHeight / 2));
  painter.restore();
}

}  // namespace orrery
