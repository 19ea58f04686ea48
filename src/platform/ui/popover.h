#pragma once
// A popover: a content controller's view in a small frameless tool window with an arrow,
// placed beside one edge of a rectangle in a view and pointing at it. A popover of read-only
// content (a read-only hosted text included) takes no keyboard focus, so the window it belongs
// to keeps its first responder; one whose content holds an editable field (a hosted native
// control that takes keys) activates its own window when shown, so that typing reaches the
// field its content makes first responder, and hands activation back to its owner when it
// closes. Every screen's panels and the note hover use it. Main thread only.
//
// Behaviours are the platform's numbers: 0 application-defined (closes only when asked),
// 1 transient (closes on a mouse-down in any other window of the program, on Escape, and when
// the window it points into hides) and 2 semi-transient (the same, but only a mouse-down in the
// window it points into closes it). The popover keeps itself alive while shown.

#include "platform/ui/view.h"
#include "platform/ui/weak_ref.h"

#include <QRectF>
#include <QSizeF>

#include <memory>

namespace platform {

class NativeHostView;
class Popover;
class ViewController;
class Window;

class PopoverDelegate : public virtual Trackable {
 public:
  virtual void popoverWillShow(Popover& /*popover*/) {}
  virtual void popoverDidShow(Popover& /*popover*/) {}
  virtual void popoverDidClose(Popover& /*popover*/) {}
};

// The platform's rectangle edges; in flipped views MinY is the top and MaxY the bottom.
enum class RectEdge : int { MinX = 0, MinY = 1, MaxX = 2, MaxY = 3 };

class Popover : public virtual Trackable, public std::enable_shared_from_this<Popover> {
 public:
  enum Behavior : int { ApplicationDefined = 0, Transient = 1, Semitransient = 2 };
  static constexpr double kArrowLength = 11;
  static constexpr double kArrowBase = 22;
  static constexpr double kCornerRadius = 6;

  static std::shared_ptr<Popover> create();
  ~Popover() override;

  int behavior() const { return mBehavior; }
  void setBehavior(int behavior) { mBehavior = behavior; }
  // Fades in when shown.
  bool animates() const { return mAnimates; }
  void setAnimates(bool animates) { mAnimates = animates; }
  const std::shared_ptr<ViewController>& contentViewController() const { return mContent; }
  void setContentViewController(std::shared_ptr<ViewController> controller);
  // The content's size (the arrow comes on top); an empty size takes the content view's.
  // A shown popover takes a new size at once, on the same edge and as near where it stands
  // as keeps its arrow on the anchor.
  QSizeF contentSize() const { return mContentSize; }
  void setContentSize(const QSizeF& size);
  // The largest size the content takes while shown (its tallest tab): the popover takes an
  // edge where that size has room, beside the anchor rather than above it, so that growing
  // later keeps its edge. Empty: only the current size counts.
  void setLargestContentSize(const QSizeF& size) { mLargestContentSize = size; }
  PopoverDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(PopoverDelegate* delegate) { mDelegate.reset(delegate); }

  // Shows the popover beside `preferredEdge` of `rect` (in `positioningView`'s coordinates),
  // on the opposite edge when the screen has no room there, else on a side that has room; it
  // never leaves the screen. Shown again, it moves and takes
  // its size in the same window, keeping the keys it took (a new window only when its content
  // begins to take keys); it may be called from an event the popover's window is dispatching.
  void showRelativeToRect(const QRectF& rect, View* positioningView, RectEdge preferredEdge);
  // Closes as the user would (the delegate hears of it); the same as close here.
  void performClose();
  void close();
  bool isShown() const { return mShown; }
  // Whether the shown content holds a field that takes typing, so that the popover takes the keys.
  bool takesKeyboardFocus() const { return mTakesKeys; }

  // Where it stands on the screen, arrow included, and the edge of the rectangle it took.
  QRectF frame() const { return mFrame; }
  RectEdge shownEdge() const { return mEdge; }
  // Where the arrow's tip is, on the screen.
  QPointF arrowTip() const { return mArrowTip; }
  // The popover's own window while shown.
  Window* window() const { return mWindow.get(); }
  View* positioningView() const { return mPositioningView.get(); }
  // The rectangle it points at, in the positioning view's coordinates.
  QRectF positioningRect() const { return mPositioningRect; }

 private:
  struct Private {};

 public:
  explicit Popover(Private);

 private:
  class OwnerWatch;
  bool handleMonitoredEvent(const struct Event& event);
  // Closes on a press on a hosted control of the owner window; a pressed view in a native
  // window of its own (which takes the keys itself) becomes the owner's first responder.
  void closeOnPress(NativeHostView* pressed);
  void place(const QRectF& screenRect, RectEdge preferredEdge, const QRectF& screen, const QSizeF& size);
  // A shown popover taking a new content size keeps its edge and moves along it only as far
  // as its arrow and the screen need, so what the user is about to click stays near the pointer.
  void placeResized(const QRectF& anchor, const QRectF& screen, const QSizeF& size);
  // The frame of `size` beside the anchor on the chosen edge, starting along the edge as near
  // `start` as the arrow and the screen allow.
  void standBeside(const QRectF& anchor, const QRectF& screen, const QSizeF& size, double start);
  void pointArrow(const QRectF& anchor, double across);
  // Gives the shown window the placed frame; false when it cannot be reused.
  bool reshapeShownWindow(View& content);
  void finishShowing(const QRectF& rect, View* positioningView, Window* owner, bool wasShown);

  int mBehavior = ApplicationDefined;
  bool mAnimates = false;
  std::shared_ptr<ViewController> mContent;
  QSizeF mContentSize;
  QSizeF mLargestContentSize;
  WeakRef<PopoverDelegate> mDelegate;

  bool mShown = false;
  std::unique_ptr<Window> mWindow;
  std::unique_ptr<OwnerWatch> mOwnerWatch;  // Qt filter on the owner's top-level widget
  WeakRef<View> mPositioningView;
  WeakRef<Window> mOwner;
  std::shared_ptr<Popover> mKeepAlive;  // set while shown
  int mMonitor = 0;
  bool mTakesKeys = false;
  bool mResizingInPlace = false;
  bool mKeysToOwnerOnClose = true;
  QRectF mFrame;
  QRectF mPositioningRect;
  QPointF mArrowTip;
  RectEdge mEdge = RectEdge::MaxY;
  RectEdge mPreferredEdge = RectEdge::MaxY;
};

// The program's windows are placed by the program (popovers beside their anchors), which
// Wayland does not allow: unless QT_QPA_PLATFORM names a platform, choose xcb. Call before
// the QApplication is made.
void preferPlatformThatPlacesWindows();

}  // namespace platform
