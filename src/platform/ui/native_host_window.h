#pragma once
// A native child window of its own for a hosted widget that composes with OpenGL (a web
// page). Qt draws a top-level window through OpenGL once such a widget is anywhere in its
// widget tree, and re-makes the window for it: the editor's window would be destroyed and made
// again under the user's eyes, and every later redraw of it would go through OpenGL (in
// software on machines without one). Here the widget lives in a top-level widget of its own
// whose native window is a child of the hosting window's native window, so the hosting window
// keeps its raster drawing and its native window.
//
// Between the two stands a plain native window (the slot), placed at the view's frame: Qt
// gives the keyboard of a native child of a widget's window to that widget's window, and the
// slot stops that, so the keys typed in the widget reach it. Qt moves the keyboard to the
// widget's window when it is clicked and back to the hosting window when that one is. When a
// widget goes, its window and slot are kept (one pair) for the next widget.
// Main thread only.

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <QWindow>

#include <functional>

class QKeyEvent;

namespace platform {

class NativeHostWindow {
 public:
  // Takes the widget into a top-level widget of its own (which owns it from now on; the one
  // last let go when there is one). Keys the widget passes over go to `passedOver`.
  NativeHostWindow(QWidget* widget, std::function<void(QKeyEvent*)> passedOver);
  ~NativeHostWindow();
  NativeHostWindow(const NativeHostWindow&) = delete;
  NativeHostWindow& operator=(const NativeHostWindow&) = delete;

  // Places the widget at `frame` (in `parent`'s coordinates) inside `parent`, shown or hidden.
  // Its native window is made the first time it shows.
  void place(QWindow* parent, const QRect& frame, bool visible);
  // Hidden and out of any window.
  void detach();
  void resize(const QSize& size);
  // Whether Qt's keyboard is in the widget's window, and moving it there.
  bool holdsKeyboard() const;
  void takeKeyboard();
  // Whether `object` is the widget's native window (where the platform's events arrive).
  bool isNativeWindow(const QObject* object) const;

 private:
  class Host;
  void hide();
  QPointer<Host> mHost;
  QPointer<QWindow> mSlot;
};

}  // namespace platform
