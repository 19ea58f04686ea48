#include "platform/ui/canvas.h"

#include "platform/core/clock.h"
#include "platform/ui/application.h"
#include "platform/ui/dragging.h"
#include "platform/ui/event.h"
#include "platform/ui/window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QStyleHints>
#include <QToolTip>
#include <QWheelEvent>

#include <cmath>
#include <cstdio>
#include <memory>

namespace platform {
namespace {

uint32_t modifiersOf(Qt::KeyboardModifiers m) {
  uint32_t flags = 0;
  if (m & Qt::ShiftModifier) flags |= ModifierFlag::Shift;
  if (m & Qt::ControlModifier) flags |= ModifierFlag::Command;  // Ctrl stands for Command
  if (m & Qt::AltModifier) flags |= ModifierFlag::Option;
  if (m & Qt::MetaModifier) flags |= ModifierFlag::Control;
  return flags;
}

int buttonIndex(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton: return 0;
    case Qt::RightButton: return 1;
    default: return 2;
  }
}

EventType pressType(int button) {
  return button == 0 ? EventType::LeftMouseDown
                     : button == 1 ? EventType::RightMouseDown : EventType::OtherMouseDown;
}
EventType releaseType(int button) {
  return button == 0 ? EventType::LeftMouseUp
                     : button == 1 ? EventType::RightMouseUp : EventType::OtherMouseUp;
}
EventType dragType(int button) {
  return button == 0 ? EventType::LeftMouseDragged
                     : button == 1 ? EventType::RightMouseDragged : EventType::OtherMouseDragged;
}

int keyCodeOf(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return KeyCode::Return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return KeyCode::Tab;
    case Qt::Key_Space: return KeyCode::Space;
    case Qt::Key_Backspace: return KeyCode::Delete;
    case Qt::Key_Escape: return KeyCode::Escape;
    case Qt::Key_Delete: return KeyCode::ForwardDelete;
    case Qt::Key_Left: return KeyCode::LeftArrow;
    case Qt::Key_Right: return KeyCode::RightArrow;
    case Qt::Key_Down: return KeyCode::DownArrow;
    case Qt::Key_Up: return KeyCode::UpArrow;
    case Qt::Key_Home: return KeyCode::Home;
    case Qt::Key_End: return KeyCode::End;
    case Qt::Key_PageUp: return KeyCode::PageUp;
    case Qt::Key_PageDown: return KeyCode::PageDown;
    default:
      if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return KeyCode::functionKey(key - Qt::Key_F1 + 1);
      return KeyCode::Unknown;
  }
}

Event keyEvent(QKeyEvent* e, EventType type) {
  const uint32_t mods = modifiersOf(e->modifiers());
  QString plain;
  const int key = e->key();
  if (key == Qt::Key_Space)
    plain = QStringLiteral(" ");
  else if (key >= Qt::Key_A && key <= Qt::Key_Z)
    plain = QChar(QLatin1Char(static_cast<char>('a' + (key - Qt::Key_A))));
  else
    plain = e->text();
  if ((mods & ModifierFlag::Shift) && plain.size() == 1 && plain.at(0).isLetter()) plain = plain.toUpper();
  Event ev = Event::key(type, keyCodeOf(key), e->text(), mods, mediaTime());
  ev.charactersIgnoringModifiers = plain;
  ev.qtKey = key;
  ev.isARepeat = e->isAutoRepeat();
  return ev;
}

bool isModifierKey(int key) {
  return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta;
}

}  // namespace

WindowFrame::WindowFrame(Window* window) : mWindow(window) { qApp->installEventFilter(this); }

bool WindowFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !mWindow || !watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  if (widget->window() != this || widget == centralWidget()) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  // Only chords can be menu equivalents, except function keys; plain typing stays with the control.
  const bool chord = key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
  const bool function = key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F12;
  if (!chord && !function) return false;
  Application& app = Application::shared();
  Window* previous = app.eventWindow();
  app.setEventWindow(mWindow);
  const bool handled = app.performKeyEquivalent(keyEvent(key, EventType::KeyDown));
  app.setEventWindow(previous);
  return handled;
}

void WindowFrame::closeForReal() {
  mAllowClose = true;
  QMainWindow::close();
  mAllowClose = false;
}

void WindowFrame::closeEvent(QCloseEvent* event) {
  if (mAllowClose || !mWindow) {
    event->accept();
    return;
  }
  event->ignore();  // the window decides, and closes itself when it agrees
  mWindow->closeRequested();
}

void WindowFrame::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && mWindow) mWindow->activationChanged(isActiveWindow());
  QMainWindow::changeEvent(event);
}

void WindowFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (mWindow) mWindow->frameGeometryChanged();
}

void WindowFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (mWindow) mWindow->frameGeometryChanged();
}

WindowCanvas::WindowCanvas(Window* window, QWidget* parent) : QWidget(parent), mWindow(window) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_AcceptTouchEvents, false);
}

void WindowCanvas::paintEvent(QPaintEvent* event) {
  if (!mWindow) return;
  {
    QPainter painter(this);
    mWindow->compose(painter, event->rect());
  }
  Application::shared().firstFrame().frameDrawn();
  // Start-up measurements ask for it (ORRERY_LOG_FIRST_FRAMES set): the first frame a window
  // draws under each title is noted on standard error, so a starter sees a document's window
  // show, not only the process answer.
  static const bool requested = qEnvironmentVariableIsSet("ORRERY_LOG_FIRST_FRAMES");
  if (!requested) return;
  const QString title = mWindow->title();
  if (title == mNotedTitle) return;
  mNotedTitle = title;
  std::fprintf(stderr, "orrery: first frame of \"%s\"\n", qPrintable(title));
  std::fflush(stderr);
}

void WindowCanvas::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (mWindow) mWindow->canvasResized();
}

void WindowCanvas::deliver(Event& event) {
  if (mWindow) mWindow->sendEvent(event);
}

void WindowCanvas::mousePressEvent(QMouseEvent* e) {
  const int button = buttonIndex(e->button());
  const double now = mediaTime();
  const double interval = QGuiApplication::styleHints()->mouseDoubleClickInterval() / 1000.0;
  const QPointF pos = e->position();
  const QPointF d = pos - mLastPressPos;
  if (button == mLastPressButton && now - mLastPressTime <= interval && std::hypot(d.x(), d.y()) <= 4)
    ++mClickCount;
  else
    mClickCount = 1;
  mLastPressTime = now;
  mLastPressPos = pos;
  mLastPressButton = button;
  Event ev = Event::mouse(pressType(button), pos, now, mClickCount);
  ev.modifierFlags = modifiersOf(e->modifiers());
  deliver(ev);
}

void WindowCanvas::mouseDoubleClickEvent(QMouseEvent* e) { mousePressEvent(e); }

void WindowCanvas::mouseReleaseEvent(QMouseEvent* e) {
  const int button = buttonIndex(e->button());
  Event ev = Event::mouse(releaseType(button), e->position(), mediaTime(), mClickCount);
  ev.modifierFlags = modifiersOf(e->modifiers());
  deliver(ev);
}

void WindowCanvas::mouseMoveEvent(QMouseEvent* e) {
  int button = -1;
  if (e->buttons() & Qt::LeftButton)
    button = 0;
  else if (e->buttons() & Qt::RightButton)
    button = 1;
  else if (e->buttons() != Qt::NoButton)
    button = 2;
  Event ev = button < 0 ? Event::mouse(EventType::MouseMoved, e->position(), mediaTime(), 0)
                        : Event::mouse(dragType(button), e->position(), mediaTime(), mClickCount);
  ev.modifierFlags = modifiersOf(e->modifiers());
  deliver(ev);
}

void WindowCanvas::wheelEvent(QWheelEvent* e) {
  Event ev = Event::mouse(EventType::ScrollWheel, e->position(), mediaTime(), 0);
  ev.modifierFlags = modifiersOf(e->modifiers());
  if (!e->pixelDelta().isNull()) {
    ev.hasPreciseScrollingDeltas = true;
    ev.scrollingDeltaX = e->pixelDelta().x();
    ev.scrollingDeltaY = e->pixelDelta().y();
  } else {
    // One notch (120 units) scrolls one line, as the platform's coarse deltas do.
    ev.scrollingDeltaX = e->angleDelta().x() / 120.0;
    ev.scrollingDeltaY = e->angleDelta().y() / 120.0;
  }
  deliver(ev);
}

// Keys that reach the canvas while a hosted control is first responder (Qt's focus strayed
// from it) go to that control, as they would with the focus where it belongs.
// A key the focused control passed over comes up to the canvas as well: that one, and one the
// control passes over while forwarded, takes the canvas's own way.
bool WindowCanvas::forwardToFirstResponderWidget(QKeyEvent* e) {
  QWidget* widget = mWindow ? mWindow->firstResponderWidget() : nullptr;
  if (!widget || widget == this || mForwardingKey || QApplication::focusWidget() != this) return false;
  if (e->type() == QEvent::KeyPress && widget->isVisible()) widget->setFocus(Qt::OtherFocusReason);
  const std::unique_ptr<QKeyEvent> copy(e->clone());
  mForwardingKey = true;
  QCoreApplication::sendEvent(widget, copy.get());  // what the control passes over reaches the canvas inside
  mForwardingKey = false;
  return true;
}

void WindowCanvas::keyPressEvent(QKeyEvent* e) {
  if (forwardToFirstResponderWidget(e)) return;
  Event ev = keyEvent(e, isModifierKey(e->key()) ? EventType::FlagsChanged : EventType::KeyDown);
  deliver(ev);
}

void WindowCanvas::keyReleaseEvent(QKeyEvent* e) {
  if (forwardToFirstResponderWidget(e)) return;
  Event ev = keyEvent(e, isModifierKey(e->key()) ? EventType::FlagsChanged : EventType::KeyUp);
  deliver(ev);
}

void WindowCanvas::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (mWindow) mWindow->mouseLeftCanvas();
}

// Qt's drags (ours once handed over, and other programs') become the window's destination calls.
void WindowCanvas::dragEnterEvent(QDragEnterEvent* e) {
  if (!mWindow || !DraggingSession::handleQtDragEvent(*mWindow, e)) e->ignore();
}
void WindowCanvas::dragMoveEvent(QDragMoveEvent* e) {
  if (!mWindow || !DraggingSession::handleQtDragEvent(*mWindow, e)) e->ignore();
}
void WindowCanvas::dragLeaveEvent(QDragLeaveEvent* e) {
  if (mWindow) DraggingSession::handleQtDragEvent(*mWindow, e);
}
void WindowCanvas::dropEvent(QDropEvent* e) {
  if (!mWindow || !DraggingSession::handleQtDragEvent(*mWindow, e)) e->ignore();
}

bool WindowCanvas::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip && mWindow) {
    auto* help = static_cast<QHelpEvent*>(e);
    const QString text = mWindow->toolTipAt(help->pos());
    if (text.isEmpty()) {
      QToolTip::hideText();
      e->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, this);
    }
    return true;
  }
  if (e->type() == QEvent::NativeGesture && mWindow) {
    auto* g = static_cast<QNativeGestureEvent*>(e);
    if (g->gestureType() == Qt::ZoomNativeGesture) {
      Event ev = Event::mouse(EventType::Magnify, g->position(), mediaTime(), 0);
      ev.magnification = g->value();
      deliver(ev);
      return true;
    }
  }
  return QWidget::event(e);
}

bool WindowCanvas::focusNextPrevChild(bool next) {
  (void)next;
  return false;  // Tab is a key event for the first responder, not focus chaining
}

}  // namespace platform
