#pragma once
// A view that hosts a real Qt widget (a text field, a text editor, a web page) as a native
// child of its window's canvas, or (a web page, which composes with OpenGL) in a native child
// window of its own (native_host_window.h). The widget follows the view's on-screen frame
// after every layout and animation step, is hidden with the view or an ancestor, and
// first-responder status follows Qt keyboard focus both ways.

#include "platform/ui/view.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QWindow;

namespace platform {

class NativeHostWindow;

class NativeHostView : public View {
 public:
  enum class Placement { InCanvas, InWindowOfItsOwn };
  // Takes ownership of the widget.
  explicit NativeHostView(QWidget* widget, Placement placement = Placement::InCanvas);
  ~NativeHostView() override;

  QWidget* widget() const { return mWidget; }
  // Whether the control takes typing, so that a popover holding it takes the keys. A widget
  // that refuses focus or is read-only (its "readOnly" property) does not, unless set.
  bool takesKeys() const;
  void setTakesKeys(bool takesKeys) { mTakesKeys = takesKeys ? 1 : 0; }

  bool acceptsFirstResponder() const override;
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;

  void viewDidMoveToWindow() override;
  void paintNativeContent(QPainter& painter) override;

  // Places and shows or hides the widget for the view's current on-screen state.
  void syncNativeGeometry();
  // While the view is the first responder of the active window, Qt's keyboard focus belongs to
  // its widget; an activation that found the widget hidden gives it elsewhere, and this takes
  // it back (the caret shows again).
  void reclaimKeyboardFocus();
  // Whether a view drawn later (not an ancestor) covers the widget's place. The widget, which
  // Qt draws above every layer, is then hidden and its picture drawn in the view's layer.
  bool isCoveredByLaterView() const;
  bool showsPictureInLayer() const { return mShowsPicture; }
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
  // Whether an event sent to `object` is one for the hosted widget: the widget, one inside it,
  // or the native window of its own where the platform's events arrive.
  bool isHostedObject(const QObject* object) const;
  // The view whose widget has `window` as its native window of its own; null for any other.
  static NativeHostView* inNativeWindow(const QWindow* window);

 protected:
  // Whether a widget in a window of its own may get its native window now.
  virtual bool isReadyForWindowOfItsOwn() const { return true; }

 private:
  class FocusWatcher;
  // The view's frame in the window, in whole pixels: where it shows now, or where it is going.
  QRect framePixels(bool presentation) const;
  void fitWidget(const QSize& size);
  QPointer<QWidget> mWidget;
  std::unique_ptr<NativeHostWindow> mOwnWindow;
  FocusWatcher* mWatcher = nullptr;
  Window* mRegisteredWindow = nullptr;
  bool mShowsPicture = false;
  int mTakesKeys = -1;  // -1: as the widget says
};

}  // namespace platform
