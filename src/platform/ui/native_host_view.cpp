#include "platform/ui/native_host_view.h"

#include "platform/ui/native_host_window.h"
#include "platform/ui/window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace platform {

// Makes the hosting view first responder when Qt gives its widget (or a child) focus, or the
// keyboard to its window of its own (a click there).
class NativeHostView::FocusWatcher final : public QObject {
 public:
  explicit FocusWatcher(NativeHostView* view) : mView(view) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    (void)watched;
    if (event->type() == QEvent::FocusIn) takeFirstResponder();
    return false;
  }
  void watchKeyboardWindow() {
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this] {
      if (mView && mView->mOwnWindow && mView->mOwnWindow->holdsKeyboard()) takeFirstResponder();
    });
  }
  bool busy() const { return mBusy; }
  NativeHostView* mView;
  bool mBusy = false;

 private:
  void takeFirstResponder() {
    if (!mView || !mView->window() || mView->window()->firstResponder() == mView) return;
    mBusy = true;
    mView->window()->makeFirstResponder(mView);
    mBusy = false;
  }
};

NativeHostView::NativeHostView(QWidget* widget, Placement placement) : mWidget(widget) {
  if (!mWidget) return;
  mWidget->hide();
  mWatcher = new FocusWatcher(this);
  mWatcher->setParent(mWidget);
  mWidget->installEventFilter(mWatcher);
  if (placement != Placement::InWindowOfItsOwn) return;
  // Keys the widget passes over take the canvas's way, as those of a widget in the canvas do.
  mOwnWindow = std::make_unique<NativeHostWindow>(mWidget, [this](QKeyEvent* key) {
    if (Window* w = window())
      QCoreApplication::sendEvent(w->canvas(), key);
    else
      key->ignore();
  });
  mWatcher->watchKeyboardWindow();
}

NativeHostView::~NativeHostView() {
  if (mRegisteredWindow) mRegisteredWindow->unregisterNativeView(this);
  if (mWatcher) mWatcher->mView = nullptr;
  delete mWidget.data();
}

namespace {

// Whether the widget takes the keyboard: itself, or the widget it hands its focus to (a page
// hands it to the engine's drawing widget).
bool takesFocus(const QWidget* widget) {
  while (widget->focusPolicy() == Qt::NoFocus && widget->focusProxy()) widget = widget->focusProxy();
  return widget->focusPolicy() != Qt::NoFocus;
}

}  // namespace

bool NativeHostView::takesKeys() const {
  if (mTakesKeys >= 0) return mTakesKeys == 1;
  if (!mWidget || !takesFocus(mWidget)) return false;
  return !mWidget->property("readOnly").toBool();
}

bool NativeHostView::acceptsFirstResponder() const { return mWidget && takesFocus(mWidget); }

bool NativeHostView::becomeFirstResponder() {
  if (!mWidget || (mWatcher && mWatcher->busy())) return true;
  mWidget->setFocus(Qt::OtherFocusReason);
  if (mOwnWindow && window() && window()->widget()->isActiveWindow()) mOwnWindow->takeKeyboard();
  return true;
}

bool NativeHostView::resignFirstResponder() {
  Window* w = window();
  if (!w) return true;
  if (mOwnWindow && mOwnWindow->holdsKeyboard()) {
    // The keyboard goes back to the window.
    if (QWindow* frame = w->widget()->windowHandle()) frame->requestActivate();
    w->canvas()->setFocus(Qt::OtherFocusReason);
  } else if (mWidget && mWidget->hasFocus()) {
    w->canvas()->setFocus(Qt::OtherFocusReason);
  }
  return true;
}

bool NativeHostView::isHostedObject(const QObject* object) const {
  if (!mWidget || !object) return false;
  if (mOwnWindow && mOwnWindow->isNativeWindow(object)) return true;
  if (!object->isWidgetType()) return false;
  const auto* widget = static_cast<const QWidget*>(object);
  return widget == mWidget || mWidget->isAncestorOf(widget);
}

NativeHostView* NativeHostView::inNativeWindow(const QWindow* window) {
  if (!window) return nullptr;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->windowHandle() != window) continue;
    for (QObject* object : top->findChildren<QObject*>()) {
      auto* watcher = dynamic_cast<FocusWatcher*>(object);
      if (watcher && watcher->mView && watcher->mView->isHostedObject(window)) return watcher->mView;
    }
  }
  return nullptr;
}

void NativeHostView::viewDidMoveToWindow() {
  View::viewDidMoveToWindow();
  if (mRegisteredWindow && mRegisteredWindow != window()) mRegisteredWindow->unregisterNativeView(this);
  mRegisteredWindow = window();
  if (!mWidget) return;
  if (Window* w = window()) {
    if (!mOwnWindow) mWidget->setParent(w->canvas());
    w->registerNativeView(this);
    syncNativeGeometry();
  } else if (mOwnWindow) {
    mOwnWindow->detach();
  } else {
    mWidget->hide();
    mWidget->setParent(nullptr);
  }
}

QRect NativeHostView::framePixels(bool presentation) const {
  const QTransform toWindow = layer()->transformToAncestor(nullptr, presentation);
  const QRectF rect = toWindow.mapRect(QRectF(QPointF(0, 0), layer()->bounds().size()));
  return QRect(QPoint(static_cast<int>(std::lround(rect.x())), static_cast<int>(std::lround(rect.y()))),
               QSize(static_cast<int>(std::lround(rect.width())), static_cast<int>(std::lround(rect.height()))));
}

void NativeHostView::syncNativeGeometry() {
  if (!mWidget || !window()) return;
  // The on-screen frame: the layer tree's presentation geometry, so the widget rides along
  // with running animations.
  const QRect pixels = framePixels(/*presentation=*/true);
  if (!mOwnWindow && mWidget->geometry() != pixels) mWidget->setGeometry(pixels);
  bool visible = !isHiddenOrHasHiddenAncestor() && !pixels.isEmpty();
  for (Layer* l = layer().get(); l && visible; l = l->superlayer())
    if (l->presentation().opacity <= 0.0005) visible = false;
  bool covered = visible && isCoveredByLaterView();
  // A widget in a window of its own moves as its picture while an animation moves it (its
  // panel sliding): its window, drawn through OpenGL, would be drawn again at every step.
  if (mOwnWindow && visible && !covered) covered = framePixels(/*presentation=*/false) != pixels;
  if (covered != mShowsPicture) {
    mShowsPicture = covered;
    setNeedsDisplay();
  }
  if (covered) visible = false;
  if (mOwnWindow) {
    QWidget* frame = window()->canvas()->window();
    const bool wasShown = mWidget->isVisible();
    visible = visible && isReadyForWindowOfItsOwn();
    mOwnWindow->place(frame->windowHandle(), QRect(window()->canvas()->mapTo(frame, pixels.topLeft()), pixels.size()),
                      visible);
    if (visible && !wasShown) reclaimKeyboardFocus();
    return;
  }
  if (mWidget->isHidden() == visible) {
    mWidget->setVisible(visible);
    if (visible) reclaimKeyboardFocus();
  }
}

void NativeHostView::reclaimKeyboardFocus() {
  Window* w = window();
  if (!mWidget || !w || w->firstResponder() != this || !mWidget->isVisible()) return;
  if (!w->widget()->isActiveWindow()) return;  // Qt focuses it when the window activates
  if (mOwnWindow)
    mOwnWindow->takeKeyboard();
  else if (!mWidget->hasFocus())
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
  // A widget not yet ready for a window of its own has nothing to show.
  if (!mShowsPicture || !mWidget || (mOwnWindow && !isReadyForWindowOfItsOwn())) {
    View::drawRect(painter, dirtyRect);
    return;
  }
  const QSize size = bounds().size().toSize();
  if (size.isEmpty()) return;
  fitWidget(size);
  mWidget->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
}

void NativeHostView::fitWidget(const QSize& size) {
  if (mOwnWindow)
    mOwnWindow->resize(size);  // its window keeps it at its size
  else if (mWidget->size() != size)
    mWidget->resize(size);
}

void NativeHostView::paintNativeContent(QPainter& painter) {
  // Under a cover the layer holds the control's picture.
  if (!mWidget || isCoveredByLaterView()) return;
  const QSize size = bounds().size().toSize();
  if (size.isEmpty()) return;
  fitWidget(size);
  mWidget->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
}

}  // namespace platform
