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
  return fittedFrame(frame, area, minimum);
}

QRectF fittedFrame(const QRectF& frame, const QRectF& area, const QSizeF& minimum) {
  QRectF fitted = frame;
  fitted.setWidth(std::max(minimum.width(), std::min(frame.width(), area.width())));
  fitted.setHeight(std::max(minimum.height(), std::min(frame.height(), area.height())));
  const double x = std::max(area.left(), std::min(frame.left(), area.right() - fitted.width()));
  const double y = std::max(area.top(), std::min(frame.top(), area.bottom() - fitted.height()));
  fitted.moveTopLeft(QPointF(x, y));
  return fitted;
}

QRectF uncoveredFrame(const QRectF& frame, const QList<QRectF>& others, const QRectF& area) {
  constexpr double kStep = 30;
  auto taken = [&](const QPointF& at) {
    return std::any_of(others.begin(), others.end(), [&](const QRectF& other) {
      return std::abs(other.left() - at.x()) < 2 && std::abs(other.top() - at.y()) < 2;
    });
  };
  // How far the frame can move right and down while staying inside the area.
  const double roomX = area.right() - frame.width() - area.left();
  const double roomY = area.bottom() - frame.height() - area.top();
  if (roomX < kStep && roomY < kStep) return frame;
  QPointF at = frame.topLeft();
  // Every place of the cycle is tried at most once.
  const int places = int((std::max(0.0, roomX) / kStep + 1) * (std::max(0.0, roomY) / kStep + 1)) + 1;
  for (int step = 0; step < places && taken(at); ++step) {
    if (roomX >= kStep) at.setX(at.x() + kStep > area.left() + roomX ? area.left() : at.x() + kStep);
    if (roomY >= kStep) at.setY(at.y() + kStep > area.top() + roomY ? area.top() : at.y() + kStep);
  }
  return QRectF(at, frame.size());
}

QPointF centredOrigin(const QSizeF& size, const QRectF& availableArea) {
  if (availableArea.isEmpty()) return QPointF();
  return availableArea.center() - QPointF(size.width() / 2, size.height() / 2);
}

}  // namespace orrery::placement
