// A window's events: hit testing and sending, the mouse grab, drag destinations and keys, then
// tracking areas, cursor rectangles and the cursor.
#include "platform/ui/window.h"

#include "platform/core/dispatch.h"
#include "platform/ui/application.h"
#include "platform/ui/canvas.h"
#include "platform/ui/dragging.h"
#include "platform/ui/view.h"

#include <algorithm>
#include <functional>

namespace platform {
namespace {

void forEachView(View& view, const std::function<void(View&)>& fn) {
  fn(view);
  auto subs = view.subviews();
  for (auto& sub : subs) forEachView(*sub, fn);
}

// Scoped marker of the window that handles the current event.
struct EventScope {
  explicit EventScope(Window* w) : previous(Application::shared().eventWindow()) {
    Application::shared().setEventWindow(w);
  }
  ~EventScope() { Application::shared().setEventWindow(previous); }
  Window* previous;
};

}  // namespace

// Events.

View* Window::hitView(const QPointF& point) const {
  return mContentView ? mContentView->hitTest(point) : nullptr;
}

void Window::sendEvent(Event event) {
  event.window = this;
  if (Application::shared().runEventMonitors(event)) return;
  EventScope scope(this);
  mCurrentEvent = event;
  switch (event.type) {
    case EventType::LeftMouseDown:
    case EventType::RightMouseDown:
    case EventType::OtherMouseDown:
    case EventType::LeftMouseUp:
    case EventType::RightMouseUp:
    case EventType::OtherMouseUp:
    case EventType::LeftMouseDragged:
    case EventType::RightMouseDragged:
    case EventType::OtherMouseDragged:
      mLastMouseLocation = event.locationInWindow;
      dispatchMouse(event);
      break;
    case EventType::MouseMoved:
      mLastMouseLocation = event.locationInWindow;
      updateTracking(event);
      break;
    case EventType::ScrollWheel:
    case EventType::Magnify: {
      View* hit = hitView(event.locationInWindow);
      if (hit)
        hit->handleEvent(event);
      else
        handleEvent(event);
      break;
    }
    case EventType::KeyDown:
      if (Application::shared().performKeyEquivalent(event)) break;
      firstResponder()->handleEvent(event);
      break;
    case EventType::KeyUp:
    case EventType::FlagsChanged:
      firstResponder()->handleEvent(event);
      break;
    case EventType::MouseEntered:
    case EventType::MouseExited:
    case EventType::CursorUpdate:
      break;  // produced by tracking areas only
  }
  mCurrentEvent.reset();
}

void Window::dispatchMouse(const Event& event) {
  const int button = std::clamp(event.buttonNumber, 0, 2);
  if (event.isMouseDown()) {
    View* hit = hitView(event.locationInWindow);
    if (event.type == EventType::LeftMouseDown && hit && hit->acceptsFirstResponder())
      makeFirstResponder(hit);
    Responder* target = hit ? static_cast<Responder*>(hit) : this;
    mGrab[button].reset(target);
    target->handleEvent(event);
    return;
  }
  Responder* target = mGrab[button].get();
  if (!target) {
    View* hit = hitView(event.locationInWindow);
    target = hit ? static_cast<Responder*>(hit) : this;
  }
  if (event.isMouseUp()) mGrab[button].reset();
  target->handleEvent(event);
}

QString Window::toolTipAt(const QPointF& point) const {
  for (const View* v = hitView(point); v; v = v->superview())
    if (!v->toolTip().isEmpty()) return v->toolTip();
  return {};
}

void Window::cancelMouseGrab() {
  for (auto& grab : mGrab) grab.reset();
}

DraggingDestination* Window::draggingDestination() const { return mDraggingDestination.get(); }

void Window::setDraggingDestination(DraggingDestination* destination, const QStringList& types) {
  mDraggingDestination.reset(destination);
  mDraggedTypes = types;
  mCanvas->setAcceptDrops(destination != nullptr);
}

void Window::keyDown(const Event& event) {
  QString action;
  if (event.keyCode == KeyCode::Escape)
    action = Actions::cancelOperation;
  else if (event.keyCode == KeyCode::Return)
    action = Actions::insertNewline;
  else if (event.keyCode == KeyCode::Tab)
    action = (event.modifierFlags & ModifierFlag::Shift) ? Actions::insertBacktab : Actions::insertTab;
  if (!action.isEmpty() && firstResponder()->tryToPerform(action, {nullptr, this})) return;
  Responder::keyDown(event);
}

// Tracking areas and cursors.

void Window::updateTrackingAreasAndCursorRects() {
  mTrackingDirty = false;
  if (!mContentView) return;
  mUpdatingTracking = true;  // the views' own changes here need no further pass
  forEachView(*mContentView, [](View& v) {
    v.updateTrackingAreas();
    v.discardCursorRects();
    v.resetCursorRects();
  });
  mUpdatingTracking = false;
}

std::optional<Cursor> Window::cursorRectAt(const QPointF& point, const View** owner, QRectF* area) const {
  std::optional<Cursor> found;
  if (!mContentView) return found;
  // Later (upper) views win: walk all and keep the last match.
  std::function<void(const View&)> walk = [&](const View& v) {
    if (v.isHidden()) return;
    for (const auto& [rect, cursor] : v.cursorRects()) {
      const QRectF inWindow = v.convertRectToView(rect, nullptr);
      if (inWindow.contains(point)) {
        found = cursor;
        *owner = &v;
        *area = inWindow;
      }
    }
    for (const auto& sub : v.subviews()) walk(*sub);
  };
  walk(*mContentView);
  return found;
}

void Window::updateTracking(const Event& event) {
  if (mTrackingDirty) updateTrackingAreasAndCursorRects();
  if (!mContentView) return;
  const QPointF p = event.locationInWindow;

  // The cursor changes on entering another rect, also another rect of the same view; within one
  // rect a cursor a view set on its own stays.
  const View* rectOwner = nullptr;
  QRectF rectArea;
  const std::optional<Cursor> rectCursor = cursorRectAt(p, &rectOwner, &rectArea);
  const std::optional<QRectF> area = rectOwner ? std::optional<QRectF>(rectArea) : std::nullopt;
  if (rectOwner != mCursorRectOwner || area != mCursorRectArea) {
    mCursorRectOwner = rectOwner;
    mCursorRectArea = area;
    applyCursor(rectCursor.value_or(Cursor::Arrow));
  }

  struct Pending {
    std::shared_ptr<TrackingArea> area;
    EventType type;
  };
  std::vector<Pending> exits, enters, moves;
  forEachView(*mContentView, [&](View& v) {
    const bool visible = !v.isHiddenOrHasHiddenAncestor();
    for (const auto& area : v.trackingAreas()) {
      const QRectF local = (area->options() & TrackingArea::InVisibleRect) ? v.visibleRect() : area->rect();
      const bool inside = visible && v.convertRectToView(local, nullptr).contains(p);
      if (inside && !area->isMouseInside()) enters.push_back({area, EventType::MouseEntered});
      if (!inside && area->isMouseInside()) exits.push_back({area, EventType::MouseExited});
      if (inside && (area->options() & TrackingArea::MouseMoved)) moves.push_back({area, EventType::MouseMoved});
    }
  });
  auto send = [&](const Pending& pending) {
    Responder* owner = pending.area->owner();
    const uint32_t options = pending.area->options();
    Event e = event;
    e.trackingArea = pending.area.get();
    if (pending.type == EventType::MouseExited) {
      pending.area->setMouseInside(false);
      if (owner && (options & TrackingArea::MouseEnteredAndExited)) {
        e.type = EventType::MouseExited;
        owner->mouseExited(e);
      }
    } else if (pending.type == EventType::MouseEntered) {
      pending.area->setMouseInside(true);
      if (owner && (options & TrackingArea::MouseEnteredAndExited)) {
        e.type = EventType::MouseEntered;
        owner->mouseEntered(e);
      }
      if (owner && (options & TrackingArea::CursorUpdate)) {
        e.type = EventType::CursorUpdate;
        owner->cursorUpdate(e);
      }
    } else if (owner) {
      owner->mouseMoved(event);
    }
  };
  for (auto& x : exits) send(x);
  for (auto& x : enters) send(x);
  for (auto& x : moves) send(x);
}

void Window::mouseLeftCanvas() {
  if (!mContentView) return;
  Event e = Event::mouse(EventType::MouseExited, mLastMouseLocation);
  e.window = this;
  std::vector<std::shared_ptr<TrackingArea>> inside;
  forEachView(*mContentView, [&](View& v) {
    for (const auto& area : v.trackingAreas())
      if (area->isMouseInside()) inside.push_back(area);
  });
  for (auto& area : inside) {
    area->setMouseInside(false);
    Responder* owner = area->owner();
    if (owner && (area->options() & TrackingArea::MouseEnteredAndExited)) {
      e.trackingArea = area.get();
      owner->mouseExited(e);
    }
  }
  mCursorRectOwner = nullptr;
  mCursorRectArea.reset();
}

void Window::applyCursor(Cursor cursor) {
  mCursor = cursor;
  mCanvas->setCursor(qtCursorShape(cursor));
}

Qt::CursorShape qtCursorShape(Cursor cursor) {
  switch (cursor) {
    case Cursor::Arrow: return Qt::ArrowCursor;
    case Cursor::PointingHand: return Qt::PointingHandCursor;
    case Cursor::OpenHand: return Qt::OpenHandCursor;
    case Cursor::ClosedHand: return Qt::ClosedHandCursor;
    case Cursor::ContextualMenu: return Qt::WhatsThisCursor;
    case Cursor::IBeam: return Qt::IBeamCursor;
    case Cursor::Crosshair: return Qt::CrossCursor;
    case Cursor::OperationNotAllowed: return Qt::ForbiddenCursor;
    case Cursor::DragCopy: return Qt::DragCopyCursor;
    case Cursor::DragLink: return Qt::DragLinkCursor;
    case Cursor::ResizeLeftRight: return Qt::SizeHorCursor;
    case Cursor::ResizeUpDown: return Qt::SizeVerCursor;
  }
  return Qt::ArrowCursor;
}

void setCursor(Cursor cursor) {
  if (Window* w = Application::shared().eventWindow()) w->applyCursor(cursor);
}

}  // namespace platform
