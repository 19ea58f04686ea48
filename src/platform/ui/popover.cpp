#include "platform/ui/popover.h"

#include "platform/core/dispatch.h"
#include "platform/ui/animation.h"
#include "platform/ui/application.h"
#include "platform/ui/event.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/shaped_window.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <memory>

namespace platform {
namespace {

constexpr double kFadeSeconds = 0.15;

bool vertical(RectEdge edge) { return edge == RectEdge::MinY || edge == RectEdge::MaxY; }

RectEdge opposite(RectEdge edge) {
  switch (edge) {
    case RectEdge::MinX: return RectEdge::MaxX;
    case RectEdge::MaxX: return RectEdge::MinX;
    case RectEdge::MinY: return RectEdge::MaxY;
    case RectEdge::MaxY: return RectEdge::MinY;
  }
  return RectEdge::MaxY;
}

// Where the edge of a rectangle lies, across the edge.
double side(const QRectF& rect, RectEdge edge) {
  switch (edge) {
    case RectEdge::MaxY: return rect.bottom();
    case RectEdge::MinY: return rect.top();
    case RectEdge::MaxX: return rect.right();
    case RectEdge::MinX: return rect.left();
  }
  return rect.bottom();
}

// The whole popover beside `edge` of the anchor, centred on it along the edge.
QRectF frameBeside(const QRectF& anchor, RectEdge edge, const QSizeF& content) {
  const double L = Popover::kArrowLength;
  const QPointF c = anchor.center();
  switch (edge) {
    case RectEdge::MaxY:
      return QRectF(c.x() - content.width() / 2, anchor.bottom(), content.width(), content.height() + L);
    case RectEdge::MinY:
      return QRectF(c.x() - content.width() / 2, anchor.top() - content.height() - L, content.width(),
                    content.height() + L);
    case RectEdge::MaxX:
      return QRectF(anchor.right(), c.y() - content.height() / 2, content.width() + L, content.height());
    case RectEdge::MinX:
      return QRectF(anchor.left() - content.width() - L, c.y() - content.height() / 2, content.width() + L,
                    content.height());
  }
  return {};
}

// Whether the frame stays inside the screen across the edge's axis.
bool fitsAcross(const QRectF& frame, RectEdge edge, const QRectF& screen) {
  if (vertical(edge)) return frame.top() >= screen.top() && frame.bottom() <= screen.bottom();
  return frame.left() >= screen.left() && frame.right() <= screen.right();
}

// How much of the frame lies on the screen across the edge's axis.
double roomAcross(const QRectF& frame, RectEdge edge, const QRectF& screen) {
  if (vertical(edge)) return std::min(frame.bottom(), screen.bottom()) - std::max(frame.top(), screen.top());
  return std::min(frame.right(), screen.right()) - std::max(frame.left(), screen.left());
}

// How far the arrow's tip keeps from the ends of a bubble side of `length`: clear of the
// rounded corners.
double arrowReach(double length) { return std::min(Popover::kCornerRadius + Popover::kArrowBase / 2, length / 2); }

double clampInto(double start, double length, double lo, double hi) {
  if (length >= hi - lo) return lo;
  return std::clamp(start, lo, hi - length);
}

// The bubble with its arrow: the popover window's content view.
class PopoverFrameView final : public View {
 public:
  PopoverFrameView(const QRectF& frame, RectEdge edge, const QPointF& tip) : View(frame), mEdge(edge), mTip(tip) {}

  void setShape(const QSizeF& size, RectEdge edge, const QPointF& tip) {
    mEdge = edge;
    mTip = tip;
    setFrame(QRectF(QPointF(0, 0), size));
    setNeedsDisplay();
  }

  QRectF bubbleRect() const {
    QRectF r = bounds();
    const double L = Popover::kArrowLength;
    switch (mEdge) {
      case RectEdge::MaxY: r.setTop(r.top() + L); break;  // below the anchor: arrow on top
      case RectEdge::MinY: r.setBottom(r.bottom() - L); break;
      case RectEdge::MaxX: r.setLeft(r.left() + L); break;
      case RectEdge::MinX: r.setRight(r.right() - L); break;
    }
    return r;
  }

  static QColor fill() { return QColor(252, 252, 252); }

  void drawRect(QPainter& painter, const QRectF& /*dirtyRect*/) override {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 1.0));
    painter.setBrush(fill());
    painter.drawPath(outline());
  }

  // The bubble with its arrow, in own coordinates: the window is cut to the pixels it touches.
  QPainterPath outline() const {
    const QRectF bubble = bubbleRect().adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(bubble, Popover::kCornerRadius, Popover::kCornerRadius);
    const double half = Popover::kArrowBase / 2;
    QPolygonF arrow;
    if (vertical(mEdge)) {
      const double base = mEdge == RectEdge::MaxY ? bubble.top() + 1 : bubble.bottom() - 1;
      arrow << QPointF(mTip.x() - half, base) << mTip << QPointF(mTip.x() + half, base);
    } else {
      const double base = mEdge == RectEdge::MaxX ? bubble.left() + 1 : bubble.right() - 1;
      arrow << QPointF(base, mTip.y() - half) << mTip << QPointF(base, mTip.y() + half);
    }
    QPainterPath arrowPath;
    arrowPath.addPolygon(arrow);
    arrowPath.closeSubpath();
    return path.united(arrowPath);
  }

 private:
  RectEdge mEdge;
  QPointF mTip;  // own coordinates
};

// Editable content is a hosted native control that takes typing somewhere in the tree; a
// read-only text (the note hover) leaves the keys with the owner window.
bool holdsEditableField(const View& view) {
  if (auto* host = dynamic_cast<const NativeHostView*>(&view); host && host->takesKeys()) return true;
  for (const auto& sub : view.subviews())
    if (sub && holdsEditableField(*sub)) return true;
  return false;
}

// A popover that takes no keys gives activation straight back to its owner when the window
// system activates it anyway (some ignore the window's no-focus hint), so typing keeps going
// to the window it points into.
class KeyReturner final : public QObject {
 public:
  KeyReturner(QWidget* popoverWindow, QWidget* owner) : QObject(popoverWindow), mOwner(owner) {
    popoverWindow->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::WindowActivate && mOwner && mOwner->isVisible()) mOwner->activateWindow();
    return false;
  }

 private:
  QPointer<QWidget> mOwner;
};

}  // namespace

// Closes the popover when its owner window hides or goes away, and when the user presses a
// hosted control of that window (the canvas's own presses reach the event monitor). While a
// popover that takes the keys is shown, the keys belong to it: an activation of the owner (a
// window manager that activates a new window late, after its popover, or a late answer to an
// earlier request) hands them back to the popover, and what is typed into the owner's canvas
// before the popover's window is active goes to the popover's first responder (chords stay
// with the owner's menus). It watches the whole application: a press reaches the window it
// falls in before any widget of it.
class Popover::OwnerWatch final : public QObject {
 public:
  OwnerWatch(Popover* popover, Window& owner) : mPopover(popover), mOwner(owner.widget()), mCanvas(owner.canvas()) {
    QCoreApplication::instance()->installEventFilter(this);
    connect(mOwner, &QObject::destroyed, this, [this] { closeSoon(); });
  }
  ~OwnerWatch() override {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == mOwner && (event->type() == QEvent::Hide || event->type() == QEvent::Close)) closeSoon();
    if (watched == mOwner && event->type() == QEvent::WindowActivate) keysBackSoon();
    if (watched == mCanvas && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease))
      return typeAhead(static_cast<QKeyEvent*>(event));
    if (event->type() == QEvent::MouseButtonPress && watched->isWindowType() && mPopover->isShown() &&
        mPopover->behavior() != ApplicationDefined) {
      // Before Qt focuses the pressed control: what the close does with the first responder
      // comes first, and the focus the press gives stays. The press still goes on.
      const Press press = pressed(static_cast<QWindow*>(watched), static_cast<QMouseEvent*>(event)->position());
      if (press != Press::Elsewhere) {
        QWindow* window = static_cast<QWindow*>(watched);
        // Ends this watch: nothing of it is touched after.
        mPopover->closeOnPress(press == Press::InWindowWithin ? NativeHostView::inNativeWindow(window) : nullptr);
        return false;
      }
    }
    return false;
  }

 private:
  enum class Press { Elsewhere, InOwnerWindow, InWindowWithin };
  // Whether a press at `at` in `window` falls on a hosted control of the owner window: a widget
  // in its canvas, or a page in a native window of its own inside the owner's.
  Press pressed(QWindow* window, QPointF at) const {
    if (!mOwner || !mCanvas) return Press::Elsewhere;
    QWindow* owner = mOwner->windowHandle();
    if (!owner) return Press::Elsewhere;
    if (window != owner) {
      for (QWindow* w = window->parent(); w; w = w->parent())
        if (w == owner) return Press::InWindowWithin;
      return Press::Elsewhere;
    }
    QWidget* hit = mOwner->childAt(at.toPoint());
    return hit && hit != mCanvas && mCanvas->isAncestorOf(hit) ? Press::InOwnerWindow : Press::Elsewhere;
  }

  void closeSoon() {
    WeakRef<Popover> popover(mPopover);
    // Not inside the owner's own hide: the popover's window goes after it.
    mainQueue().async([popover] {
      if (Popover* p = popover.get(); p && p->isShown()) p->close();
    });
  }

  bool typeAhead(QKeyEvent* key) {
    Popover* p = mPopover;
    if (!p->isShown() || !p->takesKeyboardFocus() || !p->window()) return false;
    if (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
    Window& own = *p->window();
    QWidget* target = own.firstResponderWidget();
    if (!target) target = own.canvas();
    const std::unique_ptr<QKeyEvent> copy(key->clone());
    QCoreApplication::sendEvent(target, copy.get());
    return true;
  }

  void keysBackSoon() {
    WeakRef<Popover> popover(mPopover);
    // After Qt has finished activating the owner.
    mainQueue().async([popover] {
      Popover* p = popover.get();
      if (!p || !p->isShown() || !p->takesKeyboardFocus() || !p->window()) return;
      QWidget* own = p->window()->widget();
      if (own->isVisible() && !own->isActiveWindow()) own->activateWindow();
    });
  }

  Popover* mPopover;
  QPointer<QWidget> mOwner;
  QPointer<QWidget> mCanvas;
};

Popover::Popover(Private) {}

std::shared_ptr<Popover> Popover::create() { return std::make_shared<Popover>(Private{}); }

Popover::~Popover() {
  if (mMonitor) Application::shared().removeEventMonitor(mMonitor);
}

void Popover::setContentViewController(std::shared_ptr<ViewController> controller) {
  mContent = std::move(controller);
}

void Popover::setContentSize(const QSizeF& size) {
  if (size == mContentSize) return;
  mContentSize = size;
  // A shown popover takes its new size where it stands, at once.
  if (View* view = mPositioningView.get(); mShown && view) {
    mResizingInPlace = true;
    showRelativeToRect(mPositioningRect, view, mPreferredEdge);
    mResizingInPlace = false;
  }
}

void Popover::placeResized(const QRectF& anchor, const QRectF& screen, const QSizeF& size) {
  // A new size that no longer fits beside its edge is placed afresh.
  if (!screen.isEmpty() && !fitsAcross(frameBeside(anchor, mEdge, size), mEdge, screen))
    return place(anchor, mPreferredEdge, screen, size);
  standBeside(anchor, screen, size, vertical(mEdge) ? mFrame.left() : mFrame.top());
}

void Popover::standBeside(const QRectF& anchor, const QRectF& screen, const QSizeF& size, double start) {
  QRectF frame = frameBeside(anchor, mEdge, size);
  // Along the edge the popover stays as near `start` as lets its arrow reach the anchor's
  // middle, and slides on the screen from there.
  const auto along = [&](double length, double middle, double lo, double hi) {
    const double near = std::clamp(start, middle + arrowReach(length) - length, middle - arrowReach(length));
    return screen.isEmpty() ? near : clampInto(near, length, lo, hi);
  };
  if (vertical(mEdge))
    frame.moveLeft(along(frame.width(), anchor.center().x(), screen.left(), screen.right()));
  else
    frame.moveTop(along(frame.height(), anchor.center().y(), screen.top(), screen.bottom()));
  // Where no edge had room, it is pushed on the screen across the edge too: the arrow may
  // then cover the anchor, but every part of the content can be reached.
  if (!screen.isEmpty() && !fitsAcross(frame, mEdge, screen)) {
    if (vertical(mEdge))
      frame.moveTop(clampInto(frame.top(), frame.height(), screen.top(), screen.bottom()));
    else
      frame.moveLeft(clampInto(frame.left(), frame.width(), screen.left(), screen.right()));
  }
  mFrame = frame;
  pointArrow(anchor, side(frame, opposite(mEdge)));
}

void Popover::pointArrow(const QRectF& anchor, double across) {
  // Along the edge the arrow points at the anchor's middle, as near as the rounded corners
  // allow; `across` is where its tip stands across the edge.
  const QRectF& frame = mFrame;
  if (vertical(mEdge))
    mArrowTip = QPointF(std::clamp(anchor.center().x(), frame.left() + arrowReach(frame.width()),
                                   frame.right() - arrowReach(frame.width())),
                        across);
  else
    mArrowTip = QPointF(across, std::clamp(anchor.center().y(), frame.top() + arrowReach(frame.height()),
                                           frame.bottom() - arrowReach(frame.height())));
}

void Popover::place(const QRectF& anchor, RectEdge preferredEdge, const QRectF& screen, const QSizeF& size) {
  // The edge is chosen with room for the largest size, so that growing keeps it; a popover
  // that will grow stands beside its anchor before above it, where growing moves the tabs at
  // its top furthest.
  const bool grows = !mLargestContentSize.isEmpty();
  const QSizeF room = size.expandedTo(mLargestContentSize);
  RectEdge edge = preferredEdge;
  if (!screen.isEmpty() && !fitsAcross(frameBeside(anchor, edge, room), edge, screen)) {
    // The opposite edge first, then the two edges across: a tall popover beside an anchor in
    // the middle of a short screen fits neither above nor below, but does on a side.
    const RectEdge across = vertical(edge) ? RectEdge::MaxX : RectEdge::MaxY;
    const RectEdge usual[] = {opposite(edge), across, opposite(across)};
    const RectEdge growing[] = {across, opposite(across), opposite(edge)};
    RectEdge roomiest = edge;
    double most = roomAcross(frameBeside(anchor, edge, room), edge, screen);
    bool found = false;
    for (RectEdge candidate : grows ? growing : usual) {
      const QRectF other = frameBeside(anchor, candidate, room);
      if (fitsAcross(other, candidate, screen)) {
        edge = candidate;
        found = true;
        break;
      }
      if (roomAcross(other, candidate, screen) > most) {
        most = roomAcross(other, candidate, screen);
        roomiest = candidate;
      }
    }
    if (!found) edge = roomiest;
  }
  // The frame of the size shown now stands beside the anchor, centred on it along the edge.
  mEdge = edge;
  const QRectF centred = frameBeside(anchor, edge, size);
  standBeside(anchor, screen, size, vertical(edge) ? centred.left() : centred.top());
}

void Popover::showRelativeToRect(const QRectF& rect, View* positioningView, RectEdge preferredEdge) {
  Window* owner = positioningView ? positioningView->window() : nullptr;
  if (!owner || !mContent) return;  // nothing to point at, or nothing to show
  const bool wasShown = mShown;
  if (!wasShown) {
    if (PopoverDelegate* d = mDelegate.get()) d->popoverWillShow(*this);
    if (!mContent) return;  // the delegate gave up the content
  }
  const std::shared_ptr<View>& content = mContent->view();
  QSizeF size = mContentSize.isEmpty() ? content->frame().size() : mContentSize;
  size = size.expandedTo(QSizeF(1, 1));

  const QRectF inWindow = positioningView->convertRectToView(rect, nullptr);
  QWidget* canvas = owner->canvas();
  const QPointF origin = canvas->mapToGlobal(QPointF(0, 0));
  const QRectF anchor = inWindow.translated(origin);
  QScreen* screen = canvas->screen() ? canvas->screen() : QGuiApplication::primaryScreen();
  const QRectF area = screen ? QRectF(screen->availableGeometry()) : QRectF();
  if (mResizingInPlace && wasShown)
    placeResized(anchor, area, size);
  else
    place(anchor, preferredEdge, area, size);

  mPreferredEdge = preferredEdge;
  // A shown popover keeps the keys it took; it needs a new window only to start taking them.
  const bool takesKeys = holdsEditableField(*content);
  if (mWindow && wasShown && (mTakesKeys || !takesKeys) && reshapeShownWindow(*content)) {
    finishShowing(rect, positioningView, owner, wasShown);
    return;
  }
  if (mWindow) {
    content->removeFromSuperview();
    // The old window may be dispatching the event that got here: it goes on a later turn.
    std::shared_ptr<Window> old(std::move(mWindow));
    old->orderOut();
    mainQueue().async([old] {});
  }
  mTakesKeys = takesKeys;
  mWindow = std::make_unique<Window>(mFrame.size(), Window::Borderless);
  QMainWindow* widget = mWindow->widget();
  if (mTakesKeys) {
    widget->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
  } else {
    widget->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    widget->setAttribute(Qt::WA_ShowWithoutActivating);
    mWindow->canvas()->setFocusPolicy(Qt::NoFocus);
    new KeyReturner(widget, owner->widget());
  }
  // Without a blending compositing manager the window is opaque, the bubble's edge drawn on its fill.
  prepareShapedWindow(*mWindow, owner->widget(), PopoverFrameView::fill());
  widget->setFixedSize(mFrame.size().toSize());
  auto frameView =
      std::make_shared<PopoverFrameView>(QRectF(QPointF(0, 0), mFrame.size()), mEdge, mArrowTip - mFrame.topLeft());
  mWindow->setContentView(frameView);
  const QRectF bubble = frameView->bubbleRect();
  content->removeFromSuperview();
  content->setFrame(bubble);
  frameView->addSubview(content);
  setWindowShape(*mWindow, frameView->outline());
  widget->winId();
  if (QWindow* handle = widget->windowHandle()) handle->setTransientParent(owner->widget()->windowHandle());
  mWindow->setFrameOrigin(mFrame.topLeft());
  widget->show();
  if (mTakesKeys) widget->activateWindow();
  mWindow->displayIfNeeded();
  if (mAnimates && !wasShown) {
    auto fade = BasicAnimation::withKeyPath(QStringLiteral("opacity"));
    fade->setFromValue(0.0);
    fade->setToValue(1.0);
    fade->setDuration(kFadeSeconds);
    frameView->layer()->addAnimation(fade, QStringLiteral("fadeIn"));
  }
  finishShowing(rect, positioningView, owner, wasShown);
}

bool Popover::reshapeShownWindow(View& content) {
  auto* frameView = dynamic_cast<PopoverFrameView*>(mWindow->contentView().get());
  if (!frameView || content.superview() != frameView) return false;
  QMainWindow* widget = mWindow->widget();
  // The window system's own record of where the window stands can lag behind the widget's:
  // a window manager's late configure events leave it where the window was before being
  // placed. A resize asks for the size at that recorded place, and the new size limits carry
  // it to the window manager, which moves the window there: it is set to the placed corner first.
  if (QWindow* handle = widget->windowHandle()) handle->setPosition(mFrame.topLeft().toPoint());
  widget->setFixedSize(mFrame.size().toSize());
  mWindow->setContentSize(mFrame.size());
  frameView->setShape(mFrame.size(), mEdge, mArrowTip - mFrame.topLeft());
  setWindowShape(*mWindow, frameView->outline());
  content.setFrame(frameView->bubbleRect());
  mWindow->setFrameOrigin(mFrame.topLeft());
  mWindow->displayIfNeeded();
  return true;
}

void Popover::finishShowing(const QRectF& rect, View* positioningView, Window* owner, bool wasShown) {
  mPositioningView.reset(positioningView);
  mPositioningRect = rect;
  if (mOwner.get() != owner || !mOwnerWatch) {
    mOwner.reset(owner);
    mOwnerWatch = std::make_unique<OwnerWatch>(this, *owner);
  }
  if (!mMonitor) {
    WeakRef<Popover> self(this);
    mMonitor = Application::shared().addEventMonitor([self](const Event& event) {
      Popover* p = self.get();
      return p ? p->handleMonitoredEvent(event) : false;
    });
  }
  mShown = true;
  mKeepAlive = shared_from_this();
  if (!wasShown)
    if (PopoverDelegate* d = mDelegate.get()) d->popoverDidShow(*this);
}

bool Popover::handleMonitoredEvent(const Event& event) {
  if (!mShown || mBehavior == ApplicationDefined) return false;
  Window* own = mWindow.get();
  // A semi-transient one ends only with work in the window it points into: a press in another
  // window (of this program or, unseen here, of another) leaves it open, so a text can be
  // dragged from there onto it.
  const bool ends = mBehavior == Transient ? event.window != own : event.window && event.window == mOwner.get();
  if (event.isMouseDown() && ends) {
    close();
    return false;  // the click still reaches what it was meant for
  }
  if (event.type == EventType::KeyDown && event.keyCode == KeyCode::Escape &&
      (event.window == own || event.window == mOwner.get())) {
    close();
    return true;
  }
  return false;
}

void Popover::performClose() { close(); }

void Popover::closeOnPress(NativeHostView* pressed) {
  // A pressed view in a native window of its own asks for the keys itself: activating the
  // owner too would race it.
  WeakRef<NativeHostView> host(pressed);
  mKeysToOwnerOnClose = !pressed;
  close();
  mKeysToOwnerOnClose = true;
  // After what the delegate made first responder: the pressed view keeps the keys also when
  // the owner window is activated next (a window manager gives it the keys of the popover's
  // window as that window goes).
  Window* owner = mOwner.get();
  if (NativeHostView* view = host.get(); view && owner && view->window() == owner) owner->makeFirstResponder(view);
}

void Popover::close() {
  if (!mShown) return;
  mShown = false;
  if (mMonitor) {
    Application::shared().removeEventMonitor(mMonitor);
    mMonitor = 0;
  }
  mOwnerWatch.reset();
  if (mWindow) {
    mWindow->orderOut();
    // Keys go back to the window the popover points into.
    if (Window* owner = mOwner.get(); mTakesKeys && mKeysToOwnerOnClose && owner && owner->widget()->isVisible())
      owner->widget()->activateWindow();
    if (mContent && mContent->isViewLoaded()) mContent->view()->removeFromSuperview();
    // The close may come from an event the window itself is handling: it goes on a later turn.
    std::shared_ptr<Window> window(std::move(mWindow));
    mainQueue().async([window] {});
  }
  auto keep = std::move(mKeepAlive);  // alive until the delegate has heard
  if (PopoverDelegate* d = mDelegate.get()) d->popoverDidClose(*this);
}

void preferPlatformThatPlacesWindows() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
}

}  // namespace platform
