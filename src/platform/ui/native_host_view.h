#pragma once
// A view that hosts a real Qt widget (a text field, a text editor, a web page) as a native
// child of its window's canvas. The widget follows the view's on-screen frame after every
// layout and animation step, is hidden with the view or an ancestor, and first-responder
// status follows Qt keyboard focus both ways.

#include "platform/ui/view.h"

#include <QPointer>
#include <QWidget>

namespace platform {

class NativeHostView : public View {
 public:
  // Takes ownership of the widget.
  explicit NativeHostView(QWidget* widget);
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

 private:
  class FocusWatcher;
  QPointer<QWidget> mWidget;
  FocusWatcher* mWatcher = nullptr;
  Window* mRegisteredWindow = nullptr;
  bool mShowsPicture = false;
  int mTakesKeys = -1;  // -1: as the widget says
};

}  // namespace platform
