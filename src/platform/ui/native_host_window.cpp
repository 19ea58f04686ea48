#include "platform/ui/native_host_window.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <utility>

namespace platform {

// The hosted widget's top-level widget: keeps the widget at its size, and hands on the keys
// the widget passes over (which would otherwise end at this window's edge).
class NativeHostWindow::Host final : public QWidget {
 public:
  Host() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {}
  void adopt(QWidget* widget, std::function<void(QKeyEvent*)> passedOver) {
    mWidget = widget;
    mPassedOver = std::move(passedOver);
    widget->setParent(this);
    widget->setGeometry(rect());
    widget->show();  // shown and hidden with this window from now on
  }
  void letGo() {
    if (mWidget) mWidget->setParent(nullptr);
    mWidget = nullptr;
    mPassedOver = nullptr;
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    if (mWidget) mWidget->resize(size());
  }
  void keyPressEvent(QKeyEvent* event) override { passOn(event); }
  void keyReleaseEvent(QKeyEvent* event) override { passOn(event); }

 private:
  void passOn(QKeyEvent* event) {
    if (mPassedOver)
      mPassedOver(event);
    else
      event->ignore();
  }
  QPointer<QWidget> mWidget;
  std::function<void(QKeyEvent*)> mPassedOver;
};

namespace {

// A host window and its slot that a page no longer uses, kept for the next: a window drawn
// through OpenGL is dear to make and to draw first (a context, and in software its shaders).
struct Spare {
  QPointer<QWidget> host;
  QPointer<QWindow> slot;
};

Spare& spare() {
  static Spare kept;
  return kept;
}

}  // namespace

NativeHostWindow::NativeHostWindow(QWidget* widget, std::function<void(QKeyEvent*)> passedOver) {
  Spare& kept = spare();
  if (kept.host && kept.slot) {
    mHost = static_cast<Host*>(kept.host.data());
    mSlot = kept.slot;
  } else {
    delete kept.host.data();
    mHost = new Host();
  }
  kept = {};
  mHost->adopt(widget, std::move(passedOver));
}

NativeHostWindow::~NativeHostWindow() {
  detach();
  if (mHost) mHost->letGo();
  Spare& kept = spare();
  if (mHost && mSlot && !kept.host) {
    kept = {mHost.data(), mSlot.data()};
    return;
  }
  // The host's native window is a child of the slot: it goes first.
  delete mHost.data();
  delete mSlot.data();
}

void NativeHostWindow::place(QWindow* parent, const QRect& frame, bool visible) {
  if (!mHost) return;
  if (!visible || !parent) {
    hide();
    return;
  }
  if (!mSlot)
    mSlot = new QWindow(parent);
  else if (mSlot->parent() != parent)
    mSlot->setParent(parent);
  if (mSlot->geometry() != frame) mSlot->setGeometry(frame);
  if (mHost->geometry() != QRect(QPoint(), frame.size())) mHost->setGeometry(QRect(QPoint(), frame.size()));
  if (!mHost->windowHandle() || mHost->windowHandle()->parent() != mSlot) {
    mHost->winId();  // made now, for the drawing its contents need
    mHost->windowHandle()->setParent(mSlot);
  }
  mSlot->show();
  mHost->show();
}

void NativeHostWindow::hide() {
  // The keyboard goes back to the hosting window; left to the server, it would fall to the
  // slot and, as that hides too, to no window at all.
  if (holdsKeyboard() && mSlot && mSlot->parent()) mSlot->parent()->requestActivate();
  if (mSlot) mSlot->hide();
  if (mHost) mHost->hide();
}

void NativeHostWindow::detach() {
  hide();
  if (mSlot) mSlot->setParent(nullptr);
}

void NativeHostWindow::resize(const QSize& size) {
  if (mHost && mHost->size() != size) mHost->resize(size);
}

bool NativeHostWindow::holdsKeyboard() const {
  const QWindow* focus = QGuiApplication::focusWindow();
  return focus && (focus == mSlot || (mHost && focus == mHost->windowHandle()));
}

void NativeHostWindow::takeKeyboard() {
  if (mHost && mHost->isVisible() && mHost->windowHandle() && !holdsKeyboard())
    mHost->windowHandle()->requestActivate();
}

bool NativeHostWindow::isNativeWindow(const QObject* object) const {
  return object && mHost && object == mHost->windowHandle();
}

}  // namespace platform
