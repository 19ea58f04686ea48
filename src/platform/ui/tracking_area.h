#pragma once
// A rectangle of a view in which the window reports the pointer entering, leaving and
// moving to an owner, and cursors.

#include "platform/ui/responder.h"
#include "platform/ui/weak_ref.h"

#include <QRectF>
#include <Qt>

#include <any>
#include <cstdint>

namespace platform {

// The platform's cursors; the window shows them with Qt cursor shapes.
enum class Cursor {
  Arrow,
  PointingHand,
  OpenHand,
  ClosedHand,
  ContextualMenu,
  IBeam,
  Crosshair,
  OperationNotAllowed,
  DragCopy,
  DragLink,
  ResizeLeftRight,
  ResizeUpDown,
};

Qt::CursorShape qtCursorShape(Cursor cursor);

// Shows the cursor in the window that is handling the current event (else the key window).
void setCursor(Cursor cursor);

class TrackingArea {
 public:
  // The platform's option values, so that combined masks read the same (0x47 is entered and
  // exited, moved and cursor update, active in the active application).
  enum Option : uint32_t {
    MouseEnteredAndExited = 0x01,
    MouseMoved = 0x02,
    CursorUpdate = 0x04,
    ActiveWhenFirstResponder = 0x10,
    ActiveInKeyWindow = 0x20,
    ActiveInActiveApp = 0x40,
    ActiveAlways = 0x80,
    AssumeInside = 0x100,
    InVisibleRect = 0x200,
    EnabledDuringMouseDrag = 0x400,
  };

  // `rect` is in the coordinates of the view the area is added to; with InVisibleRect the
  // area follows that view's visible bounds instead.
  TrackingArea(QRectF rect, uint32_t options, Responder* owner, std::any userInfo = {})
      : mRect(rect), mOptions(options), mOwner(owner), mUserInfo(std::move(userInfo)),
        mMouseInside((options & AssumeInside) != 0) {}

  QRectF rect() const { return mRect; }
  uint32_t options() const { return mOptions; }
  Responder* owner() const { return mOwner.get(); }
  const std::any& userInfo() const { return mUserInfo; }

  bool isMouseInside() const { return mMouseInside; }
  void setMouseInside(bool inside) { mMouseInside = inside; }

 private:
  QRectF mRect;
  uint32_t mOptions;
  WeakRef<Responder> mOwner;
  std::any mUserInfo;
  bool mMouseInside;
};

}  // namespace platform
