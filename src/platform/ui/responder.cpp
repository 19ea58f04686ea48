#include "platform/ui/responder.h"

namespace platform {

void Responder::handleEvent(const Event& e) {
  switch (e.type) {
    case EventType::LeftMouseDown: mouseDown(e); break;
    case EventType::LeftMouseUp: mouseUp(e); break;
    case EventType::LeftMouseDragged: mouseDragged(e); break;
    case EventType::RightMouseDown: rightMouseDown(e); break;
    case EventType::RightMouseUp: rightMouseUp(e); break;
    case EventType::RightMouseDragged: rightMouseDragged(e); break;
    case EventType::OtherMouseDown: otherMouseDown(e); break;
    case EventType::OtherMouseUp: otherMouseUp(e); break;
    case EventType::OtherMouseDragged: otherMouseDragged(e); break;
    case EventType::MouseMoved: mouseMoved(e); break;
    case EventType::MouseEntered: mouseEntered(e); break;
    case EventType::MouseExited: mouseExited(e); break;
    case EventType::CursorUpdate: cursorUpdate(e); break;
    case EventType::ScrollWheel: scrollWheel(e); break;
    case EventType::Magnify: magnifyWithEvent(e); break;
    case EventType::KeyDown: keyDown(e); break;
    case EventType::KeyUp: keyUp(e); break;
    case EventType::FlagsChanged: flagsChanged(e); break;
  }
}

void Responder::setActionHandler(const QString& action, ActionHandler handler) {
  if (handler)
    mActions.insert(action, std::move(handler));
  else
    mActions.remove(action);
}

void Responder::performAction(const QString& action, const ActionSender& sender) {
  auto it = mActions.find(action);
  if (it == mActions.end()) return;
  ActionHandler handler = it.value();  // the handler may replace itself
  handler(sender);
}

Responder* Responder::targetForAction(const QString& action) {
  for (Responder* r = this; r; r = r->nextResponder())
    if (r->respondsToAction(action)) return r;
  return nullptr;
}

bool Responder::tryToPerform(const QString& action, const ActionSender& sender) {
  Responder* target = targetForAction(action);
  if (!target) return false;
  target->performAction(action, sender);
  return true;
}

}  // namespace platform
