#pragma once
// The on-screen overview graph of a document window: the whole tree (search misses faded)
// through two tile views at stepped zoom scales, one on screen and one being prepared at the
// next step. The user pans with the mouse (gliding on after a swipe), scrolls, zooms with the
// trackpad, Ctrl + wheel, menu commands and a context menu, sees note popovers on hover and
// picks an idea, which goes back to the editing controller. Main thread only; tiles arrive
// from the tile views' queues through `handleScaledGraphViewReady`.

#include "editor/note_hover_utility.h"
#include "foundation/views/base_view.h"
#include "foundation/views/user_interaction_protocol.h"
#include "graph/graph_tile_factory.h"
#include "graph/scaled_graph_view.h"
#include "graph/tap_pan_swipe_detector.h"
#include "model/idea.h"
#include "platform/core/notification_center.h"

#include <cstdint>
#include <memory>

namespace platform {
class Queue;
class TrackingArea;
}

namespace orrery {

class Animator;
class SpinningProgressIndicator;

class GraphScrollViewDelegate : public virtual platform::Trackable {
 public:
  virtual void onIdeaSelected(const IdeaPtr& /*idea*/) {}
  virtual void openIdeaInNewWindow(const IdeaPtr& /*idea*/) {}
};

class GraphScrollView : public BaseView,
                        public TapPanSwipeDetectorDelegate,
                        public UserInteractionProtocol,
                        public NoteHoverUtilityDelegate,
                        public ScaledGraphViewDelegate {
 public:
  static constexpr float kMaxZoomScale = 1.75f;
  static constexpr float kLeastZoomScale = 0.0001f;

  GraphScrollView();
  ~GraphScrollView() override;

  // Shows the idea's subtree as it is now; the filter marks what a search keeps. The graph is
  // built on a background queue with a spinner shown meanwhile, and the previous graph stays
  // until it is ready; of several requests only the last one is shown.
  void setCurrentIdea(const IdeaPtr& idea, const GraphFilter& filter);
  bool isBuilding() const { return mRequestedBuild != mShownBuild; }
  // Where graphs are built; the global queue unless a test sets its own.
  void setBuildQueue(platform::Queue* queue) { mBuildQueue = queue; }
  const std::shared_ptr<SpinningProgressIndicator>& progressIndicator() const { return mProgress; }
  void setFrame(const QRectF& frame) override;
  GraphScrollViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(GraphScrollViewDelegate* delegate) { mDelegate.reset(delegate); }

  // The tile view's scale, 1 without one.
  double currentZoomScale() const;
  float zoomScale() const { return mZoomScale; }
  float minZoomScale() const { return mMinZoomScale; }
  QPointF dataCenter() const { return mDataCenter; }
  const IdeaPtr& currentIdea() const { return mCurrentIdea; }
  const std::shared_ptr<GraphTileFactory>& tileFactory() const { return mGraphTileFactory; }
  const std::shared_ptr<ScaledGraphView>& graphView() const { return mGraphView; }
  const std::shared_ptr<ScaledGraphView>& nextGraphView() const { return mNextGraphView; }
  bool dismissed() const { return mDismissed; }

  void setFocusTo(const IdeaPtr& idea);
  void setFocusToCenter();
  bool hasFocusAtCenter() const;

  void cmdZoomIn();
  void cmdZoomOut();
  void cmdActualSize();
  bool canZoomIn() const;
  bool canZoomOut() const;
  bool canZoomToActualSize() const;
  bool validateUserInterfaceItem(const platform::MenuItem& item) override;

  // View points.
  IdeaPtr ideaAtPoint(const QPointF& viewPoint) const;
  bool noteAtPoint(const QPointF& viewPoint) const;
  QPointF convertDataPointFromViewPoint(const QPointF& viewPoint) const;

  // Input.
  void mouseDown(const platform::Event& event) override;
  void mouseDragged(const platform::Event& event) override;
  void mouseUp(const platform::Event& event) override;
  void mouseMoved(const platform::Event& event) override;
  void cursorUpdate(const platform::Event& event) override;
  void scrollWheel(const platform::Event& event) override;
  void magnifyWithEvent(const platform::Event& event) override;
  std::shared_ptr<platform::Menu> menuForEvent(const platform::Event& event) override;
  void updateTrackingAreas() override;
  bool acceptsFirstResponder() const override { return true; }
  void viewWillMoveToWindow(platform::Window* window) override;

  // TapPanSwipeDetectorDelegate (window points, y down like the view's).
  void panGestureStarted(const QPointF& point) override;
  void panGestureUpdate(const QPointF& translation) override;
  void panGestureDone(const QPointF& translation, const QPointF& swipe) override;
  void singleTap(const QPointF& point) override;

  // NoteHoverUtilityDelegate.
  bool isNoteHoverDisplayAllowed() override { return true; }
  platform::View* hostViewForNoteHoverDisplay() override { return this; }

  // ScaledGraphViewDelegate.
  void handleScaledGraphViewReady(ScaledGraphView& view) override;

  void setUserInteractionEnabled(bool /*enabled*/) override {}
  bool userInteractionEnabled() const override { return true; }

  // The rules of the two tile views, with g the shown view's scale, n the next one's and z the
  // zoom: the next zoom step, whether a prepared view is worth keeping, and when it replaces
  // the shown one (on the way in once the zoom reached it, on the way out as soon as ready).
  static float nextZoomScale(float g, float z, float minZoom, float maxZoom);
  static bool worthKeeping(double g, double n, double z);
  static bool switchesTo(double g, double n, double z);
  float calculateNextZoomScale() const;
  bool isNextGraphViewWorthKeeping() const;
  bool shouldSwitchToNextGraphView() const;

 private:
  void showBuiltGraph(std::uint64_t build, std::shared_ptr<GraphTileFactory> factory);
  void updateProgress();
  void updateScaling();
  float tentativeZoom(float factor) const;
  void zoomInCenter(float factor);
  void addSomePan(const QPointF& delta);
  // Applies the last translation, then glides on with the swipe's velocity.
  void handlePanDone(const QPointF& translation, const QPointF& swipe);
  void updateAtMode(ScaledGraphViewMode mode);
  void ensureNextGraphViewIfNeeded();
  void dropNextGraphView();
  QRectF dataRectAtScale(double scale) const;
  QRectF tileViewFrame() const;
  QPointF clampedToContent(const QPointF& point) const;
  void openOrFocusIdea(const IdeaPtr& idea);
  // A tap at a point in this view's coordinates, and the context menu's two ways to open.
  void handleSingleTap(const QPointF& viewPoint);
  void onOpenNode(const IdeaPtr& idea);
  void onOpenNodeInNewWindow(const IdeaPtr& idea);
  void setAnimatedFocusTo(const QPointF& target, std::function<void()> completion);
  void stopAnimation();
  void appearanceSettingsChanged();
  void registerActions();

  std::shared_ptr<ScaledGraphView> mGraphView;
  std::shared_ptr<ScaledGraphView> mNextGraphView;
  std::shared_ptr<GraphTileFactory> mGraphTileFactory;
  QPointF mDataCenter;
  float mMinZoomScale = 1;
  float mMaxZoomScale = 1;
  float mZoomScale = 1;
  std::shared_ptr<Animator> mAnimator;
  IdeaPtr mCurrentIdea;
  std::uint64_t mRequestedBuild = 0;
  std::uint64_t mShownBuild = 0;
  std::shared_ptr<SpinningProgressIndicator> mProgress;
  platform::Queue* mBuildQueue = nullptr;
  bool mIdeaChangePending = false;
  bool mDismissed = false;
  std::shared_ptr<TapPanSwipeDetector> mTapPanSwipeDetector;
  std::shared_ptr<platform::TrackingArea> mTrackingArea;
  std::unique_ptr<NoteHoverUtility> mNoteHoverUtility;
  platform::WeakRef<GraphScrollViewDelegate> mDelegate;
  platform::ObserverScope mAppearanceObserver;
};

}  // namespace orrery
