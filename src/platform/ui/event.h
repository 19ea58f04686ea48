#pragma once
// Input events as the views see them: location in the window's top-left coordinates,
// modifier flags (the Ctrl key stands in for the platform's Command key), click counts
// built from press timing, timestamps in media-clock seconds.

#include <QPointF>
#include <QString>

#include <cstdint>

namespace platform {

class Window;
class TrackingArea;

enum class EventType {
  LeftMouseDown,
  LeftMouseUp,
  LeftMouseDragged,
  RightMouseDown,
  RightMouseUp,
  RightMouseDragged,
  OtherMouseDown,
  OtherMouseUp,
  OtherMouseDragged,
  MouseMoved,
  MouseEntered,
  MouseExited,
  CursorUpdate,
  ScrollWheel,
  Magnify,
  KeyDown,
  KeyUp,
  FlagsChanged,
};

namespace ModifierFlag {
enum : uint32_t {
  Shift = 1u << 17,
  Control = 1u << 18,
  Option = 1u << 19,
  Command = 1u << 20,
};
}

// Key codes the program matches (the platform's virtual key numbers).
namespace KeyCode {
enum : int { Return = 36, Tab = 48, Space = 49, Delete = 51, Escape = 53, ForwardDelete = 117,
             LeftArrow = 123, RightArrow = 124, DownArrow = 125, UpArrow = 126, Home = 115, PageUp = 116,
             End = 119, PageDown = 121, Unknown = -1 };
// F1..F12 (the platform's numbers are not in order).
constexpr int functionKey(int n) {
  constexpr int codes[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};
  return n >= 1 && n <= 12 ? codes[n - 1] : Unknown;
}
}

struct Event {
  EventType type = EventType::MouseMoved;
  QPointF locationInWindow;
  uint32_t modifierFlags = 0;
  int clickCount = 0;
  int buttonNumber = 0;  // 0 left, 1 right, 2 other
  double timestamp = 0;  // seconds on the media clock
  int keyCode = KeyCode::Unknown;
  int qtKey = 0;  // the Qt key of a key event from the keyboard; 0 when made up
  QString characters;
  QString charactersIgnoringModifiers;
  bool isARepeat = false;
  double scrollingDeltaX = 0;
  double scrollingDeltaY = 0;
  bool hasPreciseScrollingDeltas = false;
  double magnification = 0;
  Window* window = nullptr;
  TrackingArea* trackingArea = nullptr;  // for entered/exited/cursor-update events

  bool isMouseDown() const {
    return type == EventType::LeftMouseDown || type == EventType::RightMouseDown ||
           type == EventType::OtherMouseDown;
  }
  bool isMouseUp() const {
    return type == EventType::LeftMouseUp || type == EventType::RightMouseUp ||
           type == EventType::OtherMouseUp;
  }
  bool isMouseDragged() const {
    return type == EventType::LeftMouseDragged || type == EventType::RightMouseDragged ||
           type == EventType::OtherMouseDragged;
  }

  static Event mouse(EventType type, QPointF locationInWindow, double timestamp = 0, int clickCount = 1);
  static Event key(EventType type, int keyCode, QString characters, uint32_t modifiers = 0,
                   double timestamp = 0);
};

}  // namespace platform
