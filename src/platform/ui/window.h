#pragma once
// A window: one top-level Qt widget whose canvas composes the content view's layer tree,
// turns Qt input into Events and hosts native child widgets. Events go to the hit view (a
// mouse-down grabs the drags and the release), keys to the first responder; what nobody
// handles ends at the window (Escape, Return and Tab become actions) and the application.

#include "platform/ui/layer.h"
#include "platform/ui/responder.h"
#include "platform/ui/tracking_area.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class QMainWindow;
class QMenuBar;
class QPainter;
class QWidget;

namespace platform {

class DraggingDestination;
class MenuBarBridge;
class NativeHostView;
class Toolbar;
class View;
class WindowCanvas;
class WindowFrame;

class WindowDelegate : public virtual Trackable {
 public:
  virtual bool windowShouldClose(class Window& window) {
    (void)window;
    return true;
  }
  virtual void windowWillClose(class Window& window) { (void)window; }
  virtual void windowDidResize(class Window& window) { (void)window; }
  virtual void windowDidBecomeKey(class Window& window) { (void)window; }
  virtual void windowDidResignKey(class Window& window) { (void)window; }
};

class Window : public Responder, public LayerHost {
 public:
  enum StyleMask : uint32_t { Borderless = 0, Titled = 1, Closable = 2, Miniaturizable = 4, Resizable = 8 };

  explicit Window(const QSizeF& contentSize = QSizeF(800, 600),
                  uint32_t styleMask = Titled | Closable | Miniaturizable | Resizable);
  ~Window() override;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  QMainWindow* widget() const;
  QWidget* canvas() const;

  const std::shared_ptr<View>& contentView() const { return mContentView; }
  // The view fills the content area and follows its size.
  void setContentView(std::shared_ptr<View> view);

  QString title() const;
  void setTitle(const QString& title);
  // The file the window shows (its path appears as the window's file), or empty.
  void setRepresentedFilename(const QString& path);
  QString representedFilename() const;
  QSizeF contentSize() const;
  void setContentSize(const QSizeF& size);
  // The whole window on the screen; where it was asked to stand while the window manager has
  // yet to put it there.
  QRectF frame() const;
  // Moves the whole window: its decorations begin at `topLeft`, also where a window manager
  // puts them around a shown window only later.
  void setFrameOrigin(const QPointF& topLeft);
  // Moves and sizes the whole window (decorations included, as frame() reads it).
  void setFrame(const QRectF& frame);
  void setMinSize(const QSizeF& size);
  // The content area's largest size; a dimension at QWIDGETSIZE_MAX has no limit.
  void setContentMaxSize(const QSizeF& size);
  QSizeF contentMaxSize() const;
  // A window that is not resizable keeps its content size until code changes it.
  bool isResizable() const { return mResizable; }
  void setResizable(bool resizable);
  QColor backgroundColor() const { return mBackground; }
  void setBackgroundColor(const QColor& color);

  void makeKeyAndOrderFront();
  void orderOut();
  bool isVisible() const;
  // Asks the delegate, then closes.
  void performClose();
  // Closes without asking.
  void close();
  bool isKeyWindow() const;

  Responder* firstResponder() const;
  // The widget of the hosted control that is first responder, else null: typing that reaches
  // the canvas instead belongs to it.
  QWidget* firstResponderWidget() const;
  // The old first responder must resign and the new one accept; null makes the window
  // itself first responder.
  bool makeFirstResponder(Responder* responder);

  WindowDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(WindowDelegate* delegate) { mDelegate.reset(delegate); }

  double backingScaleFactor() const;

  // Delivers an event as if it came from the platform (tests drive windows this way).
  void sendEvent(Event event);
  // The event being handled, if any.
  const Event* currentEvent() const { return mCurrentEvent ? &*mCurrentEvent : nullptr; }
  QPointF mouseLocationOutsideOfEventStream() const { return mLastMouseLocation; }
  Cursor currentCursor() const { return mCursor; }
  void applyCursor(Cursor cursor);

  // Drags over this window go to its destination (null: none); Qt's drags only when they
  // carry one of `types`.
  DraggingDestination* draggingDestination() const;
  void setDraggingDestination(DraggingDestination* destination, const QStringList& types);
  const QStringList& registeredDraggedTypes() const { return mDraggedTypes; }
  // The tooltip of the view at `point` (window coordinates) or of its nearest ancestor that
  // has one; empty for none.
  QString toolTipAt(const QPointF& point) const;
  // Ends the mouse grab: what follows goes to the view under the pointer.
  void cancelMouseGrab();

  // Schedules a layout pass and a re-composition on the main queue.
  void setNeedsDisplay();
  // Lays out, updates tracking areas and native widgets, and repaints now.
  void displayIfNeeded();
  void layerTreeNeedsDisplay() override { setNeedsDisplay(); }
  // Paints the window's content (background, layers) into a painter in window coordinates.
  void compose(QPainter& painter, const QRectF& dirty);
  QImage snapshot(double scale = 1.0);

  // Keys nobody handled: Escape, Return and Tab become actions sent from the first responder.
  void keyDown(const Event& event) override;
  Responder* nextResponder() const override;

  // Used by views and hosted controls.
  void noteViewGeometryChanged();
  void viewWillLeave(View* view);
  void registerNativeView(NativeHostView* view);
  void unregisterNativeView(NativeHostView* view);

  // The application's main menu changed: the menu bar rebuilds (made on first need).
  void mainMenuChanged();
  // The window's menu bar, or null while the application has no main menu or the window shows
  // none (a borderless window never does). Key equivalents work either way: the kit matches
  // them itself.
  QMenuBar* menuBar() const;
  bool showsMenuBar() const { return mShowsMenuBar; }
  void setShowsMenuBar(bool shows);

  // A toolbar fixed at the top of the window, above the content; null removes it.
  const std::shared_ptr<Toolbar>& toolbar() const { return mToolbar; }
  void setToolbar(std::shared_ptr<Toolbar> toolbar);

  // Used by the canvas.
  void canvasResized();
  void closeRequested();
  void activationChanged(bool active);
  void mouseLeftCanvas();
  void frameGeometryChanged();

 private:
  void dispatchMouse(const Event& event);
  void updateTracking(const Event& event);
  void updateTrackingAreasAndCursorRects();
  // The cursor of the uppermost cursor rect at `point`, its view and the rect (window coordinates).
  std::optional<Cursor> cursorRectAt(const QPointF& point, const View** owner, QRectF* area) const;
  View* hitView(const QPointF& point) const;
  // The height of what sits above the canvas inside the frame (menu bar, toolbar).
  int chromeHeight() const;
  void validateToolbar();
  void watchForDecorations(int watch, int checksLeft);

  WindowFrame* mFrame = nullptr;  // owned through Qt parentage; deleted in the destructor
  WindowCanvas* mCanvas = nullptr;
  std::unique_ptr<MenuBarBridge> mMenuBar;
  std::shared_ptr<Toolbar> mToolbar;
  // Where a shown window's decorations were asked to begin, and the size of what is inside
  // them, before the window manager had put them around it: put again once they come.
  std::optional<QRect> mUndecoratedFrame;
  int mDecorationWatch = 0;  // the latest watch; older ones end
  static constexpr int kDecorationChecks = 40;
  static constexpr int kDecorationCheckMillis = 50;
  QSizeF mContentMaxSize;  // empty: none beyond what resizability says
  bool mResizable = true;
  bool mShowsMenuBar = true;  // never for a borderless window
  std::shared_ptr<View> mContentView;
  WeakRef<Responder> mFirstResponder;
  WeakRef<WindowDelegate> mDelegate;
  WeakRef<Responder> mGrab[3];
  WeakRef<DraggingDestination> mDraggingDestination;
  QStringList mDraggedTypes;
  std::optional<Event> mCurrentEvent;
  QPointF mLastMouseLocation;
  Cursor mCursor = Cursor::Arrow;
  const View* mCursorRectOwner = nullptr;
  std::optional<QRectF> mCursorRectArea;
  QColor mBackground{Qt::white};
  bool mDisplayScheduled = false;
  bool mTrackingDirty = true;
  bool mUpdatingTracking = false;
  bool mClosing = false;
  bool mKey = false;
  std::vector<WeakRef<NativeHostView>> mNativeViews;
  std::vector<TrackingArea*> mInside;
};

}  // namespace platform
