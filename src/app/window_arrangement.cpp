#include "app/window_arrangement.h"

#include "app/window_placement.h"
#include "platform/ui/window.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

namespace orrery::arrangement {
namespace {

const QSizeF kMinimum(placement::kMinimumWidth, placement::kMinimumHeight);

void applyIfMoved(platform::Window& window, const QRectF& frame) {
  if (frame != window.frame()) window.setFrame(frame);
}

// Watches the decorations' size: a change of it (not a move or resize by the user) refits.
class DecorationWatcher final : public QObject {
 public:
  DecorationWatcher(QWidget* widget, platform::Window& window) : QObject(widget), mWidget(widget), mWindow(window) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == mWidget &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
      const QSize decorations = mWidget->frameGeometry().size() - mWidget->size();
      // A maximised or full-screen window is the window manager's to place.
      const bool managed = mWidget->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
      if (decorations != mDecorations && !managed) {
        mDecorations = decorations;
        const QRectF frame = mWindow.frame();
        applyIfMoved(mWindow, placement::fittedFrame(frame, availableAreaFor(frame), kMinimum));
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget* mWidget;
  platform::Window& mWindow;
  QSize mDecorations;
};

}  // namespace

QList<QRectF> availableAreas() {
  QList<QRectF> areas;
  if (QScreen* primary = QGuiApplication::primaryScreen()) areas.append(QRectF(primary->availableGeometry()));
  for (QScreen* screen : QGuiApplication::screens())
    if (screen != QGuiApplication::primaryScreen()) areas.append(QRectF(screen->availableGeometry()));
  return areas;
}

QRectF availableAreaFor(const QRectF& frame) {
  const QList<QRectF> areas = availableAreas();
  for (const QRectF& area : areas)
    if (area.contains(frame.center())) return area;
  return areas.isEmpty() ? QRectF() : areas.front();
}

void keepInsideAndUncovered(platform::Window& window, const QList<QRectF>& others) {
  const QRectF frame = window.frame();
  const QRectF area = availableAreaFor(frame);
  if (area.isEmpty()) return;
  applyIfMoved(window, placement::uncoveredFrame(placement::fittedFrame(frame, area, kMinimum), others, area));
}

QRectF storableFrame(const platform::Window& window) {
  const QWidget* widget = window.widget();
  if (!widget) return window.frame();
  return QRectF(QPointF(widget->frameGeometry().topLeft()), QSizeF(widget->size()));
}

void applyStorableFrame(platform::Window& window, const QRectF& frame) {
  const QWidget* widget = window.widget();
  const QSizeF decorations = widget ? QSizeF(widget->frameGeometry().size() - widget->size()) : QSizeF();
  window.setFrame(QRectF(frame.topLeft(), frame.size() + decorations));
}

void refitWhenDecorated(platform::Window& window) {
  QWidget* widget = window.widget();
  if (!widget) return;
  widget->installEventFilter(new DecorationWatcher(widget, window));
}

}  // namespace orrery::arrangement
