#include "app/window_placement.h"

#include <algorithm>
#include <cmath>

namespace orrery::placement {

QRectF newWindowFrame(const QRectF& availableArea) {
  if (availableArea.isEmpty()) return QRectF(0, 0, kMinimumWidth, kMinimumHeight);
  const double W = availableArea.width();
  const double H = availableArea.height();
  const double w = std::max(kMinimumWidth, std::min(1172.0, W));
  const double h = std::max(kMinimumHeight, std::min(760.0, H - 60));
  return QRectF(availableArea.left() + W / 2 - w / 2, availableArea.top() + H / 2 - h / 2 - 26, w, h);
}

std::optional<QRectF> cascadedFrame(const QRectF& screen, const QRectF& mainFrame, const QRectF& newFrame) {
  if (mainFrame.top() - screen.top() >= 300) return std::nullopt;
  // A window as wide as the screen would otherwise start past its left edge.
  const double x = std::max(screen.left(), std::min(mainFrame.left() + 30, screen.right() - newFrame.width() - 5));
  const double y = std::max(screen.top(), std::min(mainFrame.top() + 30, screen.bottom() - 5 - newFrame.height()));
  return QRectF(QPointF(x, y), newFrame.size());
}

QRectF fittedStoredFrame(const QRectF& stored, const QList<QRectF>& availableAreas, const QSizeF& minimum) {
  auto finite = [](double v) { return std::isfinite(v); };
  QRectF frame = stored;
  if (!finite(frame.left()) || !finite(frame.top())) frame.moveTopLeft(QPointF(0, 0));
  if (!finite(frame.width()) || frame.width() <= 0 || !finite(frame.height()) || frame.height() <= 0)
    frame.setSize(minimum);
  frame.setWidth(std::max(frame.width(), minimum.width()));
  frame.setHeight(std::max(frame.height(), minimum.height()));
  if (availableAreas.isEmpty()) return frame;
  QRectF area = availableAreas.front();
  for (const QRectF& a : availableAreas) {
    if (a.contains(frame.center())) {
      area = a;
      break;
    }
  }
  frame.setWidth(std::max(minimum.width(), std::min(frame.width(), area.width())));
  frame.setHeight(std::max(minimum.height(), std::min(frame.height(), area.height())));
  const double x = std::max(area.left(), std::min(frame.left(), area.right() - frame.width()));
  const double y = std::max(area.top(), std::min(frame.top(), area.bottom() - frame.height()));
  frame.moveTopLeft(QPointF(x, y));
  return frame;
}

QPointF centredOrigin(const QSizeF& size, const QRectF& availableArea) {
  if (availableArea.isEmpty()) return QPointF();
  return availableArea.center() - QPointF(size.width() / 2, size.height() / 2);
}

}  // namespace orrery::placement
