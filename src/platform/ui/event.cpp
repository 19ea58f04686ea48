#include "platform/ui/event.h"

namespace platform {

Event Event::mouse(EventType type, QPointF locationInWindow, double timestamp, int clickCount) {
  Event e;
  e.type = type;
  e.locationInWindow = locationInWindow;
  e.timestamp = timestamp;
  e.clickCount = (type == EventType::MouseMoved || type == EventType::ScrollWheel) ? 0 : clickCount;
  switch (type) {
    case EventType::RightMouseDown:
    case EventType::RightMouseUp:
    case EventType::RightMouseDragged: e.buttonNumber = 1; break;
    case EventType::OtherMouseDown:
    case EventType::OtherMouseUp:
    case EventType::OtherMouseDragged: e.buttonNumber = 2; break;
    default: break;
  }
  return e;
}

Event Event::key(EventType type, int keyCode, QString characters, uint32_t modifiers, double timestamp) {
  Event e;
  e.type = type;
  e.keyCode = keyCode;
  e.charactersIgnoringModifiers = characters;
  e.characters = std::move(characters);
  e.modifierFlags = modifiers;
  e.timestamp = timestamp;
  return e;
}

}  // namespace platform
