#include "platform/ui/native_host_view.h"

#include "platform/ui/window.h"

#include <QEvent>
#include <QMainWindow>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace platform {

// Makes the hosting view first responder when Qt gives its widget (or a child) focus.
class NativeHostView::FocusWatcher final : public QObject {
 public:
  explicit FocusWatcher(NativeHostView* view) : mView(view) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    (void)watched;
    if (event->type() == QEvent::FocusIn && mView && mView->window() &&
        mView->window()->firstResponder() != mView) {
      mBusy = true;
      mView->window()->makeFirstResponder(mView);
      mBusy = false;
    }
    return false;
  }
  bool busy() const { return mBusy; }
  NativeHostView* mView;
  bool mBusy = false;
};

NativeHostView::NativeHostView(QWidget* widget) : mWidget(widget) {
  if (mWidget) {
    mWidget->hide();
    mWatcher = new FocusWatcher(this);
    mWatcher->setParent(mWidget);
    mWidget->installEventFilter(mWatcher);
  }
}

NativeHostView::~NativeHostView() {
  if (mRegisteredWindow) mRegisteredWindow->unregisterNativeView(this);
  if (mWatcher) mWatcher->mView = nullptr;
  delete mWidget.data();
}

bool NativeHostView::takesKeys() const {
  if (mTakesKeys >= 0) return mTakesKeys == 1;
  if (!mWidget || mWidget->focusPolicy() == Qt::NoFocus) return false;
  return !mWidget->property("readOnly").toBool();
}

bool NativeHostView::acceptsFirstResponder() const {
  return mWidget && mWidget->focusPolicy() != Qt::NoFocus;
}

bool NativeHostView::becomeFirstResponder() {
  if (mWidget && !(mWatcher && mWatcher->busy())) mWidget->setFocus(Qt::OtherFocusReason);
  return true;
}

bool NativeHostView::resignFirstResponder() {
  if (mWidget && mWidget->hasFocus() && window()) window()->canvas()->setFocus(Qt::OtherFocusReason);
  return true;
}

void NativeHostView::viewDidMoveToWindow() {
  View::viewDidMoveToWindow();
  if (mRegisteredWindow && mRegisteredWindow != window()) mRegisteredWindow->unregisterNativeView(this);
  mRegisteredWindow = window();
  if (!mWidget) return;
  if (Window* w = window()) {
    mWidget->setParent(w->canvas());
    w->registerNativeView(this);
    syncNativeGeometry();
  } else {
    mWidget->hide();
    mWidget->setParent(nullptr);
  }
}

void NativeHostView::syncNativeGeometry() {
  if (!mWidget || !window()) return;
  // The on-screen frame: the layer tree's presentation geometry, so the widget rides along
  // with running animations.
  const QTransform toWindow = layer()->transformToAncestor(nullptr, true);
  const QRectF rect = toWindow.mapRect(QRectF(QPointF(0, 0), layer()->bounds().size()));
  const QRect pixels(QPoint(static_cast<int>(std::lround(rect.x())), static_cast<int>(std::lround(rect.y()))),
                     QSize(static_cast<int>(std::lround(rect.width())), static_cast<int>(std::lround(rect.height()))));
  if (mWidget->geometry() != pixels) mWidget->setGeometry(pixels);
  bool visible = !isHiddenOrHasHiddenAncestor() && !pixels.isEmpty();
  for (Layer* l = layer().get(); l && visible; l = l->superlayer())
    if (l->presentation().opacity <= 0.0005) visible = false;
  const bool covered = visible && isCoveredByLaterView();
  if (covered != mShowsPicture) {
    mShowsPicture = covered;
    setNeedsDisplay();
  }
  if (covered) visible = false;
  if (mWidget->isHidden() == visible) {
    mWidget->setVisible(visible);
    if (visible) reclaimKeyboardFocus();
  }
}

void NativeHostView::reclaimKeyboardFocus() {
  Window* w = window();
  if (!mWidget || !w || w->firstResponder() != this || !mWidget->isVisible() || mWidget->hasFocus()) return;
  if (!w->widget()->isActiveWindow()) return;  // Qt focuses it when the window activates
  mWidget->setFocus(Qt::ActiveWindowFocusReason);
}

namespace {

bool coversRect(const View& view, const QRectF& rectInWindow) {
  if (view.isHidden()) return false;
  const QRectF cover = view.nativeControlCoverRect();
  if (!cover.isEmpty() && view.convertRectToView(cover, nullptr).intersects(rectInWindow)) return true;
  for (const auto& sub : view.subviews())
    if (coversRect(*sub, rectInWindow)) return true;
  return false;
}

}  // namespace

bool NativeHostView::isCoveredByLaterView() const {
  const QRectF place = convertRectToView(bounds(), nullptr);
  if (place.isEmpty()) return false;
  for (const View* v = this; v->superview(); v = v->superview()) {
    const auto& siblings = v->superview()->subviews();
    auto it = std::find_if(siblings.begin(), siblings.end(), [v](const auto& s) { return s.get() == v; });
    if (it == siblings.end()) continue;
    for (++it; it != siblings.end(); ++it)
      if (coversRect(**it, place)) return true;
  }
  return false;
}

void NativeHostView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  if (!mShowsPicture || !mWidget) {
    View::drawRect(painter, dirtyRect);
    return;
  }
  const QSize size = bounds().size().toSize();
  if (size.isEmpty()) return;
  if (mWidget->size() != size) mWidget->resize(size);
  mWidget->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
}

void NativeHostView::paintNativeContent(QPainter& painter) {
  // Under a cover the layer holds the control's picture.
  if (!mWidget || isCoveredByLaterView()) return;
  const QSize size = bounds().size().toSize();
  if (size.isEmpty()) return;
  if (mWidget->size() != size) mWidget->resize(size);
  mWidget->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
}

}  // namespace platform
