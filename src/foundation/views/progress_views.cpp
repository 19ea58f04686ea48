#include "foundation/views/progress_views.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace orrery {

namespace {

float clampedProgress(float p) { return p > 0 ? std::min(p, 1.0f) : 0.0f; }

// An arc from twelve o'clock clockwise by `fraction` of a turn, in y-up coordinates (Qt's
// arc angles assume y-down, where -90° is twelve o'clock here and positive sweeps run
// clockwise).
QPainterPath clockwiseArc(const QPointF& centre, double radius, double fraction, bool fromCentre) {
  QPainterPath path;
  const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
  if (fromCentre) {
    path.moveTo(centre);
    path.arcTo(box, -90, 360 * fraction);
    path.closeSubpath();
  } else {
    path.arcMoveTo(box, -90);
    path.arcTo(box, -90, 360 * fraction);
  }
  return path;
}

}  // namespace

// Round.

RoundProgressView::RoundProgressView(const QRectF& frame) : View(frame) {}

void RoundProgressView::setProgress(float progress) {
  mProgress = progress;
  setNeedsDisplay();
}

void RoundProgressView::setProgressTintColor(const QColor& color) {
  mProgressTintColor = color;
  setNeedsDisplay();
}

void RoundProgressView::setBackgroundTintColor(const QColor& color) {
  mBackgroundTintColor = color;
  setNeedsDisplay();
}

void RoundProgressView::setAnnular(bool annular) {
  mAnnular = annular;
  setNeedsDisplay();
}

void RoundProgressView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  View::drawRect(painter, dirtyRect);
  const QRectF all = bounds().adjusted(2, 2, -2, -2);
  if (all.width() <= 0 || all.height() <= 0) return;
  const QPointF centre = all.center();
  const double progress = clampedProgress(mProgress);
  if (mAnnular) {
    const double radius = (bounds().width() - 5) / 2;
    if (radius <= 0) return;
    QPen pen(mBackgroundTintColor, 5);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, radius, radius);
    if (progress <= 0) return;
    pen.setColor(mProgressTintColor);
    painter.setPen(pen);
    painter.drawPath(clockwiseArc(centre, radius, progress, /*fromCentre=*/false));
    return;
  }
  painter.setPen(QPen(mProgressTintColor, 2));
  painter.setBrush(mBackgroundTintColor);
  painter.drawEllipse(all);
  if (progress <= 0) return;
  painter.fillPath(clockwiseArc(centre, (bounds().width() - 4) / 2, progress, /*fromCentre=*/true), Qt::white);
}

// Bar.

BarProgressView::BarProgressView(const QRectF& frame) : View(frame) {}

void BarProgressView::setProgress(float progress) {
  mProgress = progress;
  setNeedsDisplay();
}

void BarProgressView::setLineColor(const QColor& color) {
  mLineColor = color;
  setNeedsDisplay();
}

void BarProgressView::setProgressColor(const QColor& color) {
  mProgressColor = color;
  setNeedsDisplay();
}

void BarProgressView::setProgressRemainingColor(const QColor& color) {
  mProgressRemainingColor = color;
  setNeedsDisplay();
}

void BarProgressView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  View::drawRect(painter, dirtyRect);
  const QRectF outer = bounds().adjusted(2, 2, -2, -2);
  if (outer.width() <= 0 || outer.height() <= 0) return;
  const double radius = std::max(0.0, bounds().height() / 2 - 2);
  QPainterPath capsule;
  capsule.addRoundedRect(outer, radius, radius);
  painter.fillPath(capsule, mProgressRemainingColor);
  painter.strokePath(capsule, QPen(mLineColor, 2));

  const QRectF inner = bounds().adjusted(4, 4, -4, -4);
  const double progress = clampedProgress(mProgress);
  if (inner.width() <= 0 || inner.height() <= 0 || progress <= 0) return;
  // The filled part is the inner capsule cut at the progress: its ends follow the outline.
  const double innerRadius = std::max(0.0, inner.height() / 2);
  QPainterPath fill;
  fill.addRoundedRect(inner, innerRadius, innerRadius);
  painter.save();
  painter.setClipRect(QRectF(inner.x(), inner.y(), inner.width() * progress, inner.height()));
  painter.fillPath(fill, mProgressColor);
  painter.restore();
}

}  // namespace orrery
