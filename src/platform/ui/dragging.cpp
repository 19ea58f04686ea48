#include "platform/ui/dragging.h"

#include "platform/ui/application.h"
#include "platform/ui/event.h"
#include "platform/ui/view.h"
#include "platform/ui/window.h"

#include <QDrag>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QWindow>

#include <map>

namespace platform {
namespace {

std::shared_ptr<DraggingSession>& currentSession() {
  static std::shared_ptr<DraggingSession> session;
  return session;
}

DraggingSession::WindowLocator& locator() {
  static DraggingSession::WindowLocator fn;
  return fn;
}

DraggingSession::DragRunner& runner() {
  static DraggingSession::DragRunner fn;
  return fn;
}

Window* defaultWindowAt(const QPointF& screenPoint) {
  QWindow* top = QGuiApplication::topLevelAt(screenPoint.toPoint());
  if (!top) return nullptr;
  for (Window* window : Application::shared().windows())
    if (window->isVisible() && window->widget()->windowHandle() == top) return window;
  return nullptr;
}

Window* windowAt(const QPointF& screenPoint) {
  return locator() ? locator()(screenPoint) : defaultWindowAt(screenPoint);
}

QPointF toScreen(const Window& window, const QPointF& point) { return window.canvas()->mapToGlobal(point); }
QPointF fromScreen(const Window& window, const QPointF& point) { return window.canvas()->mapFromGlobal(point); }

// The one operation a drop performs: copy when offered, else the lowest bit both allow.
DragOperation chosenOperation(DragOperation allowed) {
  if (allowed & DragOperationBits::Copy) return DragOperationBits::Copy;
  for (DragOperation bit = 1; bit; bit <<= 1)
    if (allowed & bit) return bit;
  return DragOperationBits::None;
}

// Qt's drag over one window: the pasteboard over its data and its number there.
struct QtDragState {
  std::int64_t sequenceNumber = 0;
  std::unique_ptr<Pasteboard> pasteboard;
};

}  // namespace

DragOperation dragOperationFromQt(Qt::DropActions actions) {
  DragOperation op = DragOperationBits::None;
  if (actions & Qt::CopyAction) op |= DragOperationBits::Copy;
  if (actions & Qt::LinkAction) op |= DragOperationBits::Link;
  if (actions & Qt::MoveAction) op |= DragOperationBits::Move;
  return op;
}

Qt::DropActions qtActionsFromDragOperation(DragOperation operation) {
  Qt::DropActions actions;
  if (operation & DragOperationBits::Copy) actions |= Qt::CopyAction;
  if (operation & DragOperationBits::Link) actions |= Qt::LinkAction;
  if (operation & DragOperationBits::Move) actions |= Qt::MoveAction;
  return actions;
}

DraggingInfo::DraggingInfo(Window* destination, const QPointF& location, std::int64_t sequenceNumber,
                           DraggingSource* source, Pasteboard* pasteboard, DragOperation sourceMask,
                           DraggingSession* session)
    : mDestination(destination),
      mLocation(location),
      mSequenceNumber(sequenceNumber),
      mSource(source),
      mPasteboard(pasteboard),
      mSourceMask(sourceMask),
      mSession(session) {}

void DraggingInfo::setDraggingImage(const QImage& image) const {
  if (mSession) mSession->setDraggingImage(image);
}

// The session.

DraggingSession* DraggingSession::current() { return currentSession().get(); }
void DraggingSession::setWindowLocator(WindowLocator fn) { locator() = std::move(fn); }
void DraggingSession::setDragRunner(DragRunner fn) { runner() = std::move(fn); }

std::int64_t DraggingSession::nextSequenceNumber() {
  static std::int64_t counter = 0;
  return ++counter;
}

std::shared_ptr<DraggingSession> DraggingSession::begin(std::shared_ptr<Pasteboard> pasteboard, const Event& event,
                                                        Window& sourceWindow, DraggingSource* source,
                                                        const QImage& image) {
  if (currentSession() || !pasteboard) return nullptr;
  std::shared_ptr<DraggingSession> session(new DraggingSession);
  session->mSequenceNumber = nextSequenceNumber();
  session->mPasteboard = std::move(pasteboard);
  session->mSource.reset(source);
  session->mSourceWindow.reset(&sourceWindow);
  session->mImage = image;
  currentSession() = session;
  DraggingSession* raw = session.get();
  session->mMonitor = Application::shared().addEventMonitor([raw](const Event& e) { return raw->monitor(e); });
  const QPointF screenPoint = toScreen(sourceWindow, event.locationInWindow);
  session->mLastScreenPoint = screenPoint;
  if (DraggingSource* s = session->source()) s->draggingSessionWillBegin(*session, screenPoint);
  if (currentSession() == session) session->moveTo(screenPoint);
  return session;
}

DraggingSession::~DraggingSession() {
  if (mMonitor) Application::shared().removeEventMonitor(mMonitor);
}

Window* DraggingSession::sourceWindow() const { return mSourceWindow.get(); }

void DraggingSession::setDraggingImage(const QImage& image) {
  if (!mHandedOver) mImage = image;
}

DragOperation DraggingSession::sourceMask(DraggingContext context) {
  DraggingSource* s = source();
  return s ? s->sourceOperationMaskForDraggingContext(*this, context) : DragOperationBits::None;
}

DraggingInfo DraggingSession::infoFor(Window& window, const QPointF& screenPoint) {
  return DraggingInfo(&window, fromScreen(window, screenPoint), mSequenceNumber, source(), mPasteboard.get(),
                      sourceMask(DraggingContext::WithinApplication), this);
}

bool DraggingSession::monitor(const Event& event) {
  if (mHandedOver) return false;
  if (event.type == EventType::KeyDown && event.keyCode == KeyCode::Escape) {
    cancel();
    return true;
  }
  if (event.window != mSourceWindow.get() || event.buttonNumber != 0) return false;
  if (event.type == EventType::LeftMouseDragged) {
    moveTo(toScreen(*event.window, event.locationInWindow));
    return true;
  }
  if (event.type == EventType::LeftMouseUp) {
    release(toScreen(*event.window, event.locationInWindow));
    return true;
  }
  return false;
}

void DraggingSession::moveTo(const QPointF& screenPoint) {
  auto keep = currentSession();  // callbacks may end the session
  mLastScreenPoint = screenPoint;
  if (DraggingSource* s = source()) s->draggingSessionMoved(*this, screenPoint);
  Window* over = windowAt(screenPoint);
  if (!over) {
    handOver(screenPoint);
    return;
  }
  Window* previous = mTarget.get();
  if (over != previous) {
    if (previous)
      if (DraggingDestination* d = previous->draggingDestination()) {
        const DraggingInfo info = infoFor(*previous, screenPoint);
        d->draggingExited(&info);
      }
    mTarget.reset(over);
    DraggingDestination* d = over->draggingDestination();
    mTargetOperation = d ? d->draggingEntered(infoFor(*over, screenPoint)) : DragOperationBits::None;
    return;
  }
  DraggingDestination* d = over->draggingDestination();
  mTargetOperation = d ? d->draggingUpdated(infoFor(*over, screenPoint)) : DragOperationBits::None;
}

void DraggingSession::release(const QPointF& screenPoint) {
  auto keep = currentSession();
  // The drop happens where the button went up, even when no drag event reached that point.
  Window* over = windowAt(screenPoint);
  if (over && over != mTarget.get()) {
    moveTo(screenPoint);
    if (currentSession().get() != this) return;
  } else if (!over) {
    if (Window* target = mTarget.get())
      if (DraggingDestination* d = target->draggingDestination()) {
        const DraggingInfo info = infoFor(*target, screenPoint);
        d->draggingExited(&info);
      }
    mTarget.reset();
  }
  mLastScreenPoint = screenPoint;
  DragOperation result = DragOperationBits::None;
  Window* target = mTarget.get();
  DraggingDestination* d = target ? target->draggingDestination() : nullptr;
  const DragOperation allowed = mTargetOperation & sourceMask(DraggingContext::WithinApplication);
  if (d && allowed) {
    const DraggingInfo info = infoFor(*target, screenPoint);
    const bool performed = d->performDragOperation(info);
    d->draggingEnded(info);
    if (performed) result = chosenOperation(allowed);
  } else if (d) {
    const DraggingInfo info = infoFor(*target, screenPoint);
    d->draggingExited(&info);
  }
  finish(screenPoint, result);
}

void DraggingSession::cancel() {
  auto keep = currentSession();
  if (Window* target = mTarget.get())
    if (DraggingDestination* d = target->draggingDestination()) {
      const DraggingInfo info = infoFor(*target, mLastScreenPoint);
      d->draggingExited(&info);
    }
  finish(mLastScreenPoint, DragOperationBits::None);
}

void DraggingSession::handOver(const QPointF& screenPoint) {
  if (Window* target = mTarget.get())
    if (DraggingDestination* d = target->draggingDestination()) {
      const DraggingInfo info = infoFor(*target, screenPoint);
      d->draggingExited(&info);
    }
  mTarget.reset();
  if (DraggingSource* s = source()) s->draggingSessionWillHandOver(*this);
  mHandedOver = true;
  Window* sourceWindow = mSourceWindow.get();
  if (!sourceWindow) {
    finish(screenPoint, DragOperationBits::None);
    return;
  }
  const DragOperation mask = sourceMask(DraggingContext::OutsideApplication);
  QPointer<QDrag> drag = new QDrag(sourceWindow->canvas());
  QMimeData* data = mPasteboard->releaseMimeDataForDrag();
  mQtData = data;
  drag->setMimeData(data);
  if (!mImage.isNull()) {
    drag->setPixmap(QPixmap::fromImage(mImage));
    drag->setHotSpot(QPoint(mImage.width() / 2, mImage.height() / 2) / mImage.devicePixelRatio());
  }
  Qt::DropActions actions = qtActionsFromDragOperation(mask);
  if (!actions) actions = Qt::CopyAction;
  Qt::DropAction action = Qt::IgnoreAction;
  if (runner()) {
    action = runner()(*drag, actions);
    // A stand-in never gave the drag to Qt: it goes as on a platform that does not keep it.
    if (drag) drag->deleteLater();
  } else {
    // From here Qt deletes the drag. A platform that keeps it (xcb) does so only once the
    // receiver has read its data, which it asks for after the drop, when exec has returned.
    action = drag->exec(actions, Qt::CopyAction);
  }
  finish(mLastScreenPoint, action == Qt::IgnoreAction ? DragOperationBits::None : dragOperationFromQt(action));
}

void DraggingSession::finish(const QPointF& screenPoint, DragOperation operation) {
  auto self = currentSession();
  if (self.get() != this) return;
  Application::shared().removeEventMonitor(mMonitor);
  mMonitor = 0;
  if (Window* w = mSourceWindow.get()) w->cancelMouseGrab();
  currentSession().reset();
  if (DraggingSource* s = source()) s->draggingSessionEnded(*this, screenPoint, operation);
}

// Qt's drags over our windows.

namespace {
std::map<const Window*, QtDragState>& qtDragStates() {
  static std::map<const Window*, QtDragState> states;
  return states;
}
}  // namespace

void DraggingSession::windowWillClose(Window& window) {
  qtDragStates().erase(&window);
  DraggingSession* session = current();
  if (session && !session->mHandedOver && session->mSourceWindow.get() == &window) session->cancel();
}

bool DraggingSession::handleQtDragEvent(Window& window, QEvent* event) {
  auto& states = qtDragStates();
  DraggingDestination* d = window.draggingDestination();
  const QEvent::Type type = event->type();
  if (type == QEvent::DragLeave) {
    auto it = states.find(&window);
    if (it == states.end()) return false;
    QtDragState state = std::move(it->second);
    states.erase(it);
    if (d) d->draggingExited(nullptr);
    return true;
  }
  auto* drop = static_cast<QDropEvent*>(event);
  QtDragState& state = states[&window];
  if (type == QEvent::DragEnter || !state.pasteboard) {
    DraggingSession* ours = current();
    const bool fromUs = ours && ours->carries(drop->mimeData());
    state.sequenceNumber = fromUs ? ours->mSequenceNumber : nextSequenceNumber();
    state.pasteboard = std::make_unique<Pasteboard>(drop->mimeData());
  }
  DraggingSession* ours = current();
  const bool fromUs = ours && ours->carries(drop->mimeData());
  DraggingSource* source = fromUs ? ours->source() : nullptr;
  const DragOperation mask = dragOperationFromQt(drop->possibleActions());
  // The handed-over image cannot change: no session for setDraggingImage.
  const DraggingInfo info(&window, drop->position(), state.sequenceNumber, source, state.pasteboard.get(), mask,
                          nullptr);
  const bool typeTaken = [&] {
    for (const QString& t : window.registeredDraggedTypes())
      if (drop->mimeData() && drop->mimeData()->hasFormat(t)) return true;
    return false;
  }();
  if (type == QEvent::Drop) {
    const bool performed = d && typeTaken && d->performDragOperation(info);
    if (d) d->draggingEnded(info);
    states.erase(&window);
    if (performed) {
      drop->setDropAction((mask & DragOperationBits::Copy) ? Qt::CopyAction : drop->proposedAction());
      drop->accept();
    } else {
      drop->ignore();
    }
    return true;
  }
  DragOperation answer = DragOperationBits::None;
  if (d && typeTaken) answer = type == QEvent::DragEnter ? d->draggingEntered(info) : d->draggingUpdated(info);
  const DragOperation allowed = answer & mask;
  if (allowed) {
    const Qt::DropActions chosen = qtActionsFromDragOperation(chosenOperation(allowed));
    drop->setDropAction(chosen.testFlag(Qt::CopyAction) ? Qt::CopyAction
                        : chosen.testFlag(Qt::MoveAction) ? Qt::MoveAction
                                                          : Qt::LinkAction);
    drop->accept();
  } else {
    if (type == QEvent::DragEnter && !d) states.erase(&window);
    drop->ignore();
  }
  return true;
}

// Views start drags.

std::shared_ptr<DraggingSession> View::beginDraggingSession(std::shared_ptr<Pasteboard> pasteboard,
                                                            const Event& event, DraggingSource* source,
                                                            const QImage& image) {
  Window* w = window();
  if (!w) return nullptr;
  return DraggingSession::begin(std::move(pasteboard), event, *w, source, image);
}

}  // namespace platform
