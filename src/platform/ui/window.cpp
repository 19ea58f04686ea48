#include "platform/ui/window.h"

#include "platform/core/dispatch.h"
#include "platform/ui/application.h"
#include "platform/ui/canvas.h"
#include "platform/ui/compositor.h"
#include "platform/ui/dragging.h"
#include "platform/ui/menu_bar.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/toolbar.h"
#include "platform/ui/transaction.h"
#include "platform/ui/view.h"

#include <QApplication>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QToolBar>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <utility>

namespace platform {

Window::Window(const QSizeF& contentSize, uint32_t styleMask) : mShowsMenuBar(styleMask != Borderless) {
  mFrame = new WindowFrame(this);
  Qt::WindowFlags flags = Qt::Window;
  if (styleMask == Borderless) flags |= Qt::FramelessWindowHint;
  mFrame->setWindowFlags(flags);
  mCanvas = new WindowCanvas(this, mFrame);
  mFrame->setCentralWidget(mCanvas);
  mResizable = styleMask & Resizable;
  if (!mResizable) mFrame->setFixedSize(contentSize.toSize());
  Application::shared().addWindow(this);
  if (Application::shared().mainMenu()) mainMenuChanged();
  setContentView(std::make_shared<View>());
  setContentSize(contentSize);
}

void Window::mainMenuChanged() {
  // A borderless window (a popover's) has no title bar to carry the menus; its keys still
  // reach the main menu's equivalents.
  if (!mShowsMenuBar) return;
  if (!mMenuBar) {
    if (!Application::shared().mainMenu()) return;
    mMenuBar = std::make_unique<MenuBarBridge>(*this, mFrame->menuBar());
  }
  mMenuBar->rebuild();
}

QMenuBar* Window::menuBar() const { return mMenuBar ? mMenuBar->bar() : nullptr; }

void Window::setShowsMenuBar(bool shows) {
  if (shows == mShowsMenuBar) return;
  mShowsMenuBar = shows;
  const QSizeF content = contentSize();
  if (!shows) {
    mMenuBar.reset();
    mFrame->setMenuBar(nullptr);  // the frame lets the old bar go
  } else {
    mainMenuChanged();
  }
  setContentSize(content);
}

void Window::setToolbar(std::shared_ptr<Toolbar> toolbar) {
  if (toolbar == mToolbar) return;
  const QSizeF content = contentSize();
  if (mToolbar) {
    if (QToolBar* old = mToolbar->widget()) {
      mFrame->removeToolBar(old);
      old->setParent(nullptr);
    }
    mToolbar->attach(nullptr);
  }
  mToolbar = std::move(toolbar);
  if (mToolbar) {
    if (Window* previous = mToolbar->window(); previous && previous != this) previous->setToolbar(nullptr);
    mFrame->addToolBar(Qt::TopToolBarArea, mToolbar->widget());
    mToolbar->widget()->show();
    mToolbar->attach(this);
  }
  setContentSize(content);
}

void Window::validateToolbar() {
  if (mToolbar) mToolbar->validateVisibleItems();
}

int Window::chromeHeight() const {
  int height = mMenuBar ? mMenuBar->bar()->sizeHint().height() : 0;
  if (mToolbar && mToolbar->widget()) height += mToolbar->widget()->sizeHint().height();
  return height;
}

Window::~Window() {
  DraggingSession::windowWillClose(*this);
  invalidateTracking();
  if (mToolbar) mToolbar->attach(nullptr);
  Application::shared().removeWindow(this);
  if (mContentView) {
    mContentView->layer()->setHost(nullptr);
    mContentView->setWindowRecursively(nullptr);
  }
  mCanvas->detach();
  mFrame->detach();
  delete mFrame;
}

QMainWindow* Window::widget() const { return mFrame; }
QWidget* Window::canvas() const { return mCanvas; }

void Window::setContentView(std::shared_ptr<View> view) {
  if (mContentView) {
    mContentView->willMoveToWindowRecursively(nullptr);
    viewWillLeave(mContentView.get());
    mContentView->layer()->setHost(nullptr);
    mContentView->setWindowRecursively(nullptr);
  }
  mContentView = std::move(view);
  if (!mContentView) return;
  if (mContentView->superview()) mContentView->removeFromSuperview();
  mContentView->willMoveToWindowRecursively(this);
  withoutActions([&] { mContentView->setFrame(QRectF(QPointF(0, 0), QSizeF(mCanvas->size()))); });
  mContentView->layer()->setHost(this);
  mContentView->setWindowRecursively(this);
  noteViewGeometryChanged();
}

QString Window::title() const { return mFrame->windowTitle(); }
void Window::setTitle(const QString& title) { mFrame->setWindowTitle(title); }
void Window::setRepresentedFilename(const QString& path) { mFrame->setWindowFilePath(path); }
QString Window::representedFilename() const { return mFrame->windowFilePath(); }

QSizeF Window::contentSize() const { return QSizeF(mCanvas->size()); }

void Window::setContentSize(const QSizeF& size) {
  if (!mFrame->isVisible()) {
    // Qt lays a hidden window out only when shown; size both now so the views are current.
    if (!mResizable) mFrame->setFixedSize(size.toSize() + QSize(0, chromeHeight()));
    mFrame->resize(size.toSize() + QSize(0, chromeHeight()));
    mCanvas->resize(size.toSize());
    canvasResized();
    return;
  }
  // The chrome, not the canvas's size now: a largest size set just before may already have
  // shrunk the canvas inside the unchanged frame.
  const QSize extra(0, chromeHeight());
  if (!mResizable) mFrame->setFixedSize(size.toSize() + extra);
  mFrame->resize(size.toSize() + extra);
  // A size asked for before the decorations came is the one that holds once they are there.
  if (mUndecoratedFrame) mUndecoratedFrame->setSize(mFrame->size());
}

QRectF Window::frame() const {
  // Until the window manager has put a window where it was asked to stand, its configure
  // events may still give the window the size it was shown with: the frame asked for holds,
  // with the decorations once they are there. Without any (no title bar above, no border at
  // the left), Qt's margins only say how far the size it knows lags behind the X server's.
  if (mUndecoratedFrame) {
    const QWindow* handle = mFrame->windowHandle();
    const QMargins margins = handle ? handle->frameMargins() : QMargins();
    const bool decorated = margins.left() > 0 || margins.top() > 0;
    return QRectF(mUndecoratedFrame->topLeft(),
                  decorated ? mUndecoratedFrame->size().grownBy(margins) : mUndecoratedFrame->size());
  }
  return QRectF(mFrame->frameGeometry());
}

void Window::setFrameOrigin(const QPointF& topLeft) {
  // A hidden window is placed by its frame's corner when shown. A shown one that the window
  // manager has not decorated yet is placed by its content's corner: its title bar would then
  // come above the place asked for (a window restored there would creep up by the title bar's
  // height at every start). The window manager's late configure events may also still give
  // it the size it was mapped with. So the place and size asked for are put again once the
  // decorations are there.
  QWindow* handle = mFrame->windowHandle();
  const bool undecorated = !(mFrame->windowFlags() & Qt::FramelessWindowHint) && mFrame->isVisible() && handle &&
                           handle->frameMargins().isNull();
  mFrame->move(topLeft.toPoint());
  mUndecoratedFrame.reset();
  if (!undecorated) return;
  mUndecoratedFrame = QRect(topLeft.toPoint(), mFrame->size());
  watchForDecorations(++mDecorationWatch, kDecorationChecks);
}

void Window::watchForDecorations(int watch, int checksLeft) {
  // The decorations come without an event of their own: they are looked for a few times a
  // second, for as long as a window manager takes to put them around a window.
  WeakRef<Window> self(this);
  mainQueue().after(Millis(kDecorationCheckMillis), [self, watch, checksLeft] {
    Window* w = self.get();
    if (!w || watch != w->mDecorationWatch || !w->mUndecoratedFrame) return;
    w->frameGeometryChanged();
    if (!w->mUndecoratedFrame) return;
    if (checksLeft > 1)
      w->watchForDecorations(watch, checksLeft - 1);
    else
      w->mUndecoratedFrame.reset();  // no window manager decorates it
  });
}

void Window::frameGeometryChanged() {
  if (!mUndecoratedFrame) return;
  QWindow* handle = mFrame->windowHandle();
  const QMargins decorations = handle ? handle->frameMargins() : QMargins();
  if (decorations.isNull()) return;
  const QRect asked = *std::exchange(mUndecoratedFrame, std::nullopt);
  const QRect content = asked.translated(decorations.left(), decorations.top());
  if (mFrame->geometry() != content) mFrame->setGeometry(content);
}

void Window::setFrame(const QRectF& frame) {
  const QSize decorations = mFrame->frameGeometry().size() - mFrame->size();
  setFrameOrigin(frame.topLeft());
  if (mFrame->isVisible()) {
    mFrame->resize(frame.size().toSize() - decorations);
    if (mUndecoratedFrame) mUndecoratedFrame->setSize(mFrame->size());
  } else {
    setContentSize(frame.size() - QSizeF(decorations) - QSizeF(0, chromeHeight()));
  }
}

// The content area's minimum: the menu bar and decorations come on top.
void Window::setMinSize(const QSizeF& size) {
  mCanvas->setMinimumSize(size.toSize());
  mFrame->layout()->activate();
}

void Window::setContentMaxSize(const QSizeF& size) {
  mContentMaxSize = size;
  const QSize most = size.isEmpty() ? QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX) : size.toSize();
  mCanvas->setMaximumSize(most);
  // The main window's layout does not pass a largest size on to the frame: set it there too.
  const QSize extra = mFrame->isVisible() ? mFrame->size() - mCanvas->size() : QSize(0, chromeHeight());
  if (mResizable)
    mFrame->setMaximumSize(most.width() >= QWIDGETSIZE_MAX ? QWIDGETSIZE_MAX : most.width() + extra.width(),
                           most.height() >= QWIDGETSIZE_MAX ? QWIDGETSIZE_MAX : most.height() + extra.height());
}

QSizeF Window::contentMaxSize() const { return QSizeF(mCanvas->maximumSize()); }

void Window::setResizable(bool resizable) {
  if (resizable == mResizable) return;
  mResizable = resizable;
  if (resizable) {
    mFrame->setMinimumSize(0, 0);
    mFrame->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setContentMaxSize(mContentMaxSize);
  } else {
    mFrame->setFixedSize(mFrame->size());
  }
}

void Window::setBackgroundColor(const QColor& color) {
  mBackground = color;
  setNeedsDisplay();
}

void Window::makeKeyAndOrderFront() {
  mFrame->show();
  mFrame->raise();
  mFrame->activateWindow();
  // A question waiting for its answer stays in front with the keyboard: without a window
  // manager nothing would put it back over the window raised here, and it would take the keys
  // unseen.
  if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->window() != mFrame) {
    modal->raise();
    modal->activateWindow();
  }
  Application::shared().setKeyWindow(this);
  validateToolbar();
  displayIfNeeded();
}

void Window::orderOut() { mFrame->hide(); }
bool Window::isVisible() const { return mFrame->isVisible(); }
bool Window::isKeyWindow() const { return Application::shared().keyWindow() == this; }

void Window::performClose() {
  if (WindowDelegate* d = mDelegate.get(); d && !d->windowShouldClose(*this)) return;
  close();
}

void Window::close() {
  if (mClosing) return;
  mClosing = true;
  if (WindowDelegate* d = mDelegate.get()) d->windowWillClose(*this);
  mFrame->closeForReal();
  if (Application::shared().keyWindow() == this) Application::shared().setKeyWindow(nullptr);
  mClosing = false;
}

void Window::closeRequested() { performClose(); }

void Window::activationChanged(bool active) {
  if (active == mKey) return;
  mKey = active;
  if (active) {
    Application::shared().setKeyWindow(this);
    validateToolbar();
    // Qt picks the focus widget after this notice; a hosted first responder that it passed
    // over (hidden at that moment) takes the focus back on the next turn.
    WeakRef<Window> self(this);
    mainQueue().async([self] {
      Window* w = self.get();
      if (auto* host = w ? dynamic_cast<NativeHostView*>(w->mFirstResponder.get()) : nullptr)
        host->reclaimKeyboardFocus();
    });
    if (WindowDelegate* d = mDelegate.get()) d->windowDidBecomeKey(*this);
  } else if (WindowDelegate* d = mDelegate.get()) {
    d->windowDidResignKey(*this);
  }
}

Responder* Window::firstResponder() const {
  Responder* r = mFirstResponder.get();
  return r ? r : const_cast<Window*>(this);
}

QWidget* Window::firstResponderWidget() const {
  auto* host = dynamic_cast<NativeHostView*>(mFirstResponder.get());
  return host ? host->widget() : nullptr;
}

bool Window::makeFirstResponder(Responder* responder) {
  if (responder == this) responder = nullptr;
  Responder* current = mFirstResponder.get();
  if (responder == current) return true;
  if (current && !current->resignFirstResponder()) return false;
  mFirstResponder.reset();
  if (responder && (!responder->acceptsFirstResponder() || !responder->becomeFirstResponder())) {
    validateToolbar();
    return false;
  }
  mFirstResponder.reset(responder);
  validateToolbar();
  return true;
}

double Window::backingScaleFactor() const { return mCanvas->devicePixelRatioF(); }

Responder* Window::nextResponder() const {
  if (Responder* r = Responder::nextResponder()) return r;
  return &Application::shared();
}

// Display.

void Window::setNeedsDisplay() {
  if (mDisplayScheduled) return;
  mDisplayScheduled = true;
  WeakRef<Window> self(this);
  mainQueue().async([self] {
    if (Window* w = self.get()) w->displayIfNeeded();
  });
}

void Window::displayIfNeeded() {
  mDisplayScheduled = false;
  if (!mContentView) return;
  mContentView->layoutSubtreeIfNeeded();
  if (mTrackingDirty) updateTrackingAreasAndCursorRects();
  mNativeViews.erase(std::remove_if(mNativeViews.begin(), mNativeViews.end(),
                                    [](const auto& ref) { return !ref.get(); }),
                     mNativeViews.end());
  auto natives = mNativeViews;
  for (auto& ref : natives)
    if (NativeHostView* v = ref.get()) v->syncNativeGeometry();
  mCanvas->update();
}

void Window::compose(QPainter& painter, const QRectF& dirty) {
  painter.fillRect(dirty, mBackground);
  if (!mContentView) return;
  // Clipping costs on every draw; only a partial repaint needs it.
  if (!dirty.contains(QRectF(QPointF(0, 0), contentSize()))) painter.setClipRect(dirty);
  compositor::renderLayer(painter, *mContentView->layer());
}

QImage Window::snapshot(double scale) {
  const QSizeF size = contentSize();
  QImage image((size * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(mBackground);
  if (mContentView) {
    mContentView->layoutSubtreeIfNeeded();
    QPainter painter(&image);
    const QImage content = mContentView->snapshot(scale);
    painter.drawImage(mContentView->frame().topLeft(), content);
  }
  return image;
}

void Window::canvasResized() {
  if (mContentView)
    withoutActions([&] { mContentView->setFrame(QRectF(QPointF(0, 0), QSizeF(mCanvas->size()))); });
  if (WindowDelegate* d = mDelegate.get()) d->windowDidResize(*this);
  noteViewGeometryChanged();
}

void Window::noteViewGeometryChanged() {
  if (mUpdatingTracking) return;
  mTrackingDirty = true;
  setNeedsDisplay();
}

void Window::viewWillLeave(View* view) {
  if (auto* v = dynamic_cast<View*>(mFirstResponder.get()); v && v->isDescendantOf(view))
    mFirstResponder.reset();
  if (mCursorRectOwner && mCursorRectOwner->isDescendantOf(view)) {
    mCursorRectOwner = nullptr;
    mCursorRectArea.reset();
  }
}

void Window::registerNativeView(NativeHostView* view) {
  for (auto& ref : mNativeViews)
    if (ref.get() == view) return;
  mNativeViews.emplace_back(view);
  setNeedsDisplay();
}

void Window::unregisterNativeView(NativeHostView* view) {
  mNativeViews.erase(std::remove_if(mNativeViews.begin(), mNativeViews.end(),
                                    [&](const auto& ref) { return ref.get() == view || !ref.get(); }),
                     mNativeViews.end());
}

}  // namespace platform
