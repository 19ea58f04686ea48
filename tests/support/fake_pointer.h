#pragma once
// The X server's pointer moved, pressed and released as a user's hand would (XTest), through
// this program's own connection: the server takes each step after everything the program
// asked before it, so other clients hear the program's earlier answers first. Each step
// returns once the server has taken it. Needs xcb and xcb-xtest.

#include "support/window_manager_child.h"

#include <QGuiApplication>
#include <QPoint>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>

namespace testsupport {

class FakePointer {
 public:
  FakePointer() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    mConnection = x11 ? x11->connection() : nullptr;
    if (!mConnection) return;
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(mConnection, &xcb_test_id);
    if (!xtest || !xtest->present) mConnection = nullptr;
  }
  // False off xcb or without the XTest extension.
  bool available() const { return mConnection != nullptr; }

  void moveTo(QPoint screenPoint) { send(XCB_MOTION_NOTIFY, 0, screenPoint); }
  void press() { send(XCB_BUTTON_PRESS, 1); }
  void release() { send(XCB_BUTTON_RELEASE, 1); }
  // A click in the middle of `widget`, where the X server has its window once the window
  // manager has put it where the program asked; false when it never got there.
  bool click(QWidget* widget) {
    QWidget* top = widget->window();
    // A native window inside another stands where its parent has it.
    const auto asked = [&] {
      return top->windowHandle()->parent() ? top->mapToGlobal(QPoint(0, 0)) : top->geometry().topLeft();
    };
    const bool placed = QTest::qWaitFor([&] { return serverPosition(top) == asked(); });
    moveTo(serverPosition(top) + widget->mapTo(top, widget->rect().center()));
    press();
    release();
    return placed;
  }

 private:
  void send(uint8_t type, uint8_t detail, QPoint at = {}) {
    if (!mConnection) return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(mConnection)).data->root;
    xcb_test_fake_input(mConnection, type, detail, XCB_CURRENT_TIME, type == XCB_MOTION_NOTIFY ? root : XCB_NONE,
                        int16_t(at.x()), int16_t(at.y()), 0);
    // A round trip: the server has taken the step (and all that came before it).
    free(xcb_get_input_focus_reply(mConnection, xcb_get_input_focus(mConnection), nullptr));
  }

  xcb_connection_t* mConnection = nullptr;
};

}  // namespace testsupport
