#pragma once
// A view: a responder with a frame in its superview's coordinates, bounds, ordered
// subviews and one backing layer. Views are flipped (origin top left, y down) unless
// isFlipped says otherwise. Frame changes reach the layer (and animate when the layer's
// delegate, the view, allows it: a plain View never does). Main thread only.

#include "platform/ui/layer.h"
#include "platform/ui/responder.h"
#include "platform/ui/tracking_area.h"

#include <QImage>
#include <QRectF>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

class QPainter;

namespace platform {

class DraggingSession;
class DraggingSource;
class Menu;
class Pasteboard;
class ViewController;
class Window;

class View : public Responder, public LayerDelegate, public std::enable_shared_from_this<View> {
 public:
  View();
  explicit View(const QRectF& frame);
  // Hosts exactly `layer` as the view's own layer, with the view as its delegate.
  explicit View(std::shared_ptr<Layer> layer);
  ~View() override;
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // Geometry.
  QRectF frame() const { return mFrame; }
  virtual void setFrame(const QRectF& frame);
  void setFrameOrigin(const QPointF& origin) { setFrame(QRectF(origin, mFrame.size())); }
  void setFrameSize(const QSizeF& size) { setFrame(QRectF(mFrame.topLeft(), size)); }
  QRectF bounds() const { return mBounds; }
  void setBoundsOrigin(const QPointF& origin);
  // A bounds size other than the frame size scales what the view shows.
  void setBoundsSize(const QSizeF& size);
  virtual bool isFlipped() const { return true; }

  // Hierarchy.
  View* superview() const { return mSuperview; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return mSubviews; }
  void addSubview(std::shared_ptr<View> view);
  // Null sibling: at the bottom (below) or the top (above).
  void insertSubviewBelow(std::shared_ptr<View> view, const View* sibling);
  void insertSubviewAbove(std::shared_ptr<View> view, const View* sibling);
  void removeFromSuperview();
  // Called for every subview that leaves, however it is removed.
  virtual void willRemoveSubview(View* subview) { (void)subview; }
  virtual void didAddSubview(View* subview) { (void)subview; }
  virtual void viewDidMoveToSuperview() {}
  virtual void viewWillMoveToWindow(Window* window) { (void)window; }
  virtual void viewDidMoveToWindow() {}
  bool isDescendantOf(const View* ancestor) const;
  Window* window() const { return mWindow; }

  // Display.
  const std::shared_ptr<Layer>& layer() const { return mLayer; }
  bool isHidden() const { return mHidden; }
  void setHidden(bool hidden);
  bool isHiddenOrHasHiddenAncestor() const;
  double alphaValue() const { return mLayer->opacity(); }
  void setAlphaValue(double alpha) { mLayer->setOpacity(alpha); }
  void setNeedsDisplay();
  // Paints the view in its own coordinates; the base draws nothing.
  virtual void drawRect(QPainter& painter, const QRectF& dirtyRect);
  virtual bool isOpaque() const { return false; }

  // Layout.
  void setNeedsLayout();
  bool needsLayout() const { return mNeedsLayout; }
  // The layout pass: runs for views marked as needing layout before the window draws.
  virtual void layout() {}
  void layoutSubtreeIfNeeded();
  // Sent when the frame size changes; the base moves nothing.
  virtual void resizeSubviewsWithOldSize(const QSizeF& oldSize) { (void)oldSize; }

  // Hit testing (point in the superview's coordinates) and conversions. A null view stands
  // for the window (top-left window coordinates).
  virtual View* hitTest(const QPointF& pointInSuperview);
  QPointF convertPointToSuperview(const QPointF& point) const;
  QPointF convertPointFromSuperview(const QPointF& point) const;
  QPointF convertPoint(const QPointF& point, const View* fromView) const;
  QPointF convertPointToView(const QPointF& point, const View* toView) const;
  QRectF convertRect(const QRectF& rect, const View* fromView) const;
  QRectF convertRectToView(const QRectF& rect, const View* toView) const;
  // The bounds less what the superviews' bounds cut away.
  QRectF visibleRect() const;

  // Events.
  Responder* nextResponder() const override;
  virtual std::shared_ptr<Menu> menuForEvent(const Event& event) {
    (void)event;
    return nullptr;
  }
  // Shows the menuForEvent menu, else passes the event on.
  void rightMouseDown(const Event& event) override;

  // Tracking areas and cursor rectangles (both in the view's coordinates).
  void addTrackingArea(std::shared_ptr<TrackingArea> area);
  void removeTrackingArea(const TrackingArea* area);
  const std::vector<std::shared_ptr<TrackingArea>>& trackingAreas() const { return mTrackingAreas; }
  // Sent by the window when geometry changed; views replace their areas here.
  virtual void updateTrackingAreas() {}
  virtual void resetCursorRects() {}
  void addCursorRect(const QRectF& rect, Cursor cursor);
  void discardCursorRects() { mCursorRects.clear(); }
  const std::vector<std::pair<QRectF, Cursor>>& cursorRects() const { return mCursorRects; }

  // The text the window shows in a tooltip while the pointer rests on the view (or on a
  // subview without one of its own); empty for none.
  const QString& toolTip() const { return mToolTip; }
  void setToolTip(const QString& toolTip) { mToolTip = toolTip; }

  // Starts a drag of the pasteboard from a mouse event this view handles (see dragging.h);
  // null when the view has no window or a drag already runs.
  std::shared_ptr<DraggingSession> beginDraggingSession(std::shared_ptr<Pasteboard> pasteboard, const Event& event,
                                                        DraggingSource* source, const QImage& image);

  ViewController* viewController() const;
  void setViewController(ViewController* controller);

  // The backing layer's delegate: views do not animate implicitly.
  LayerAction actionForLayer(Layer& layer, const QString& key) override;
  bool drawsLayer(const Layer& layer) const override;
  void drawLayer(Layer& layer, QPainter& painter) override;
  bool drawingMayBeBlank(const Layer& layer) const override;
  void drawingWasBlank(const Layer& layer, bool blank) override;

  // A picture of the view and its subviews (hosted native controls included).
  QImage snapshot(double scale = 1.0);
  // Hosted native controls paint themselves into snapshots here.
  virtual void paintNativeContent(QPainter& painter) { (void)painter; }
  // The part of the view (own coordinates) that hides what lies beneath it, so that hosted
  // native controls there give way to a picture of themselves; empty for none. By default a
  // view with a visible background colour covers its bounds.
  virtual QRectF nativeControlCoverRect() const;

 protected:
  // Maps the view's own coordinates onto its layer's (bounds origin, scale, y-up flip).
  QTransform localToLayer() const;

 private:
  friend class Window;
  void insertSubviewAt(std::shared_ptr<View> view, const View* sibling, bool above);
  void syncLayerGeometry();
  QRectF layerFrameForSubview(const View& subview) const;
  void setWindowRecursively(Window* window);
  void willMoveToWindowRecursively(Window* window);
  void noteGeometryChanged();

  QRectF mFrame;
  QRectF mBounds;
  View* mSuperview = nullptr;
  Window* mWindow = nullptr;
  std::vector<std::shared_ptr<View>> mSubviews;
  std::shared_ptr<Layer> mLayer;
  bool mHidden = false;
  bool mNeedsLayout = true;
  bool mBaseDrawReached = false;
  bool mKnownBlank = false;
  std::vector<std::shared_ptr<TrackingArea>> mTrackingAreas;
  std::vector<std::pair<QRectF, Cursor>> mCursorRects;
  WeakRef<ViewController> mViewController;
  QString mToolTip;
};

}  // namespace platform
