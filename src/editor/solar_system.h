#pragma once
// The radial view of the editor: one idea as the sun in the middle, its children as planet
// layers evenly spaced on an orbit ring, a "+" adder in every gap (four on an empty orbit),
// and the parent idea in the top-left corner joined to the sun by a connector line. It lays
// itself out, is filled and edited by its controller, turns when dragged, plays the drill
// animations and reports gestures to its SolarSystemDelegate; it never edits ideas itself.
//
// Angles are radians from the positive x axis, turning clockwise on screen (the view is
// flipped), normalised into [0, 2π) before placing anything. The ring offset and the angles
// are doubles: on a crowded orbit one planet's step of the offset is 2π / count, far below a
// float's step near 2π. Planets are layers, so a press on one hits this view itself; presses
// on the sun, the parent and the adders reach it up the responder chain. Deferred steps (the 300 ms drill wait, animation
// frames) refer to the view weakly. Main thread only.

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "editor/idea_adder_view.h"
#include "editor/line_layer.h"
#include "editor/note_hover_utility.h"
#include "editor/parent_idea_view.h"
#include "editor/planet_layer.h"
#include "editor/simple_idea_view.h"
#include "editor/solar_focus_object.h"
#include "editor/solar_rotation_animator.h"
#include "editor/solar_rotation_gesture_recognizer.h"
#include "editor/solar_system_delegate.h"
#include "editor/solar_system_layer.h"
#include "foundation/views/base_view.h"
#include "foundation/views/long_tap_and_drag_detector.h"
#include "foundation/views/user_interaction_protocol.h"
#include "model/idea.h"
#include "platform/core/notification_center.h"
#include "platform/core/prepared_block.h"

namespace orrery {

class SolarSystem : public BaseView,
                    public LongTapAndDragGestureDetectorDelegate,
                    public NoteHoverUtilityDelegate,
                    public IdeaAdderViewDelegate,
                    public ParentIdeaViewDelegate,
                    public SolarRotationAnimatorDelegate,
                    public UserInteractionProtocol {
 public:
  // What lies under a point: a planet or an adder with its index, the parent or the sun.
  struct Hit {
    enum class Kind { None, Planet, Parent, Sun, Adder };
    Kind kind = Kind::None;
    std::int64_t index = -1;
    explicit operator bool() const { return kind != Kind::None; }
  };
  using FrameFunction = std::function<void(float progress)>;

  static constexpr std::int64_t kNoShadow = std::numeric_limits<std::int64_t>::max();
  static constexpr float kFocusDistance = 60;
  static constexpr float kFocusScaleDistance = 80;
  static constexpr int kDrillWaitMs = 300;
  static constexpr float kDrillSeconds = 0.35f;

  SolarSystem(const QRectF& frame, const QString& docIdentifier);
  ~SolarSystem() override;
  static std::shared_ptr<SolarSystem> create(const QRectF& frame, const QString& docIdentifier) {
    return std::make_shared<SolarSystem>(frame, docIdentifier);
  }

  SolarSystemDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(SolarSystemDelegate* delegate) { mDelegate.reset(delegate); }
  const QString& docIdentifier() const { return mDocIdentifier; }

  // Radius rules (points).
  static double normal_mode_radius() { return SolarSystemLayer::naturalRadius(); }
  static double extended_mode_radius() { return 420; }
  double scalingFactor() const;
  double minRadius() const;
  double maxRadius() const;
  double radiusAllowing(std::int64_t count) const;
  std::int64_t elementsFittingRadius(float radius) const;

  // Angle rules.
  // Into [0, 2π); the signed shortest turn from `from` to `to`, in [−π, π].
  static double normalizedAngle(double angle);
  static double minimumAngle(double from, double to);
  // Whether more planets stand on the orbit than fit at the normal spacing: the compressed
  // layout, where an offset turn moves the planets count / fit times as far.
  bool isCompressed() const;
  double normalAngleForElementAtIndex(std::int64_t index, std::int64_t count, double offset) const;
  double scaleAngleForElementAtIndex(std::int64_t index, std::int64_t count, double offset) const;
  double angleForElementAtIndex(std::int64_t index, std::int64_t count, double offset) const;
  // The angles of one count at one offset, with what depends on those alone worked out once
  // (a layout asks for every element of the same count).
  struct Ring {
    bool compressed;
    std::int64_t count;
    double offset, step, sn, sf, half, squeezeSpan, k, root;
    double angleAt(std::int64_t index) const;
  };
  Ring ring(std::int64_t count, double offset, bool compressed) const;
  Ring planetRing() const;
  Ring adderRing() const;
  double currentAngleForIdeaAtIndex(std::int64_t index) const;
  double currentAngleForAdderAtIndex(std::int64_t index) const;
  static double findMaxValueLocation(double from, double to, std::int64_t checkPoints,
                                     const std::function<double(double)>& function);
  // In [0, 2π).
  double angleOffsetForShowingElementAtIndex(std::int64_t index, std::int64_t count, double target) const;

  // Layout.
  void updateView();
  void updateViewScaled();
  void applyLayout() override;
  void performLayout();
  float radius() const { return mRadius; }
  double currentAngle() const { return mCurrentAngle; }
  void setCurrentAngle(double angle) { mCurrentAngle = angle; }
  // While set a drill animation owns the geometry: layout leaves radius, scale, rounding
  // and drawing order alone, and rotation reports do nothing.
  bool isAnimating() const { return mAnimating; }
  void setAnimating(bool animating);

  // Update batches: the layout runs when the outermost batch closes.
  void startUpdate() { ++mUpdateSemaphore; }
  void endUpdate();
  std::int64_t updateDepth() const { return mUpdateSemaphore; }

  // Content.
  void setCentralIdea(const IdeaPtr& idea);
  void setParentIdea(const IdeaPtr& idea, bool asLink);
  void updateLineLayer();
  void insertIdea(const IdeaPtr& idea, std::int64_t afterIndex);
  void addIdea(const IdeaPtr& idea);
  // Room for `count` more planets, asked for before a crowded orbit is filled: the lists grow
  // once, and the planets are made in memory made ready on another thread.
  void reservePlanets(std::size_t count);
  void removeIdeaAtIndex(std::int64_t index);
  void moveIdea(const IdeaPtr& idea, std::int64_t fromIndex, std::int64_t afterIndex);
  void modifyIdea(const IdeaPtr& idea, std::int64_t index);
  std::int64_t ideaViewCount() const { return static_cast<std::int64_t>(mIdeaViews.size()); }
  PlanetLayer* ideaViewAtIndex(std::int64_t index) const;
  std::int64_t ideaAdderViewCount() const { return static_cast<std::int64_t>(mIdeaAdderViews.size()); }
  // Made when first asked for: an adder that lies wholly under a planet is not made until then.
  IdeaAdderView* ideaAdderViewAtIndex(std::int64_t index) const;
  // Whether the adder's view exists yet.
  bool isAdderViewMade(std::int64_t index) const;
  QRectF popoverRectForIdeaAtIndex(std::int64_t index) const;
  SimpleIdeaView* centralView() const { return mCentralView.get(); }
  ParentIdeaView* parentView() const { return mParentView.get(); }
  LineLayer* lineLayer() const { return mLineLayer.get(); }
  SolarSystemLayer& orbitLayer() const { return *mOrbitLayer; }
  NoteHoverUtility& noteHoverUtility() const { return *mNoteHoverUtility; }

  // Adders, docking, shadows, appearance.
  std::shared_ptr<IdeaAdderView> createIdeaAdderView();
  void updateStateForIdeaAdderView(IdeaAdderView& adder) const;
  void ensureIdeaAddersWhenEmpty();
  bool dockingMode() const { return mDockingMode; }
  void setDockingMode(bool docking);
  void setShadowForIdeaAtIndex(std::int64_t index);
  void removeAllShadows() { setShadowForIdeaAtIndex(kNoShadow); }
  void appearanceSettingsChanged();

  // UserInteractionProtocol.
  void setUserInteractionEnabled(bool enabled) override { mUserInteractionDisabled = !enabled; }
  bool userInteractionEnabled() const override { return !mUserInteractionDisabled; }
  bool acceptsFirstResponder() const override { return true; }
  bool shouldAllowImplicitAnimations() const override { return false; }
  // The view paints nothing itself (its discs, ring and line are layers of their own), so its
  // window-sized layer keeps no picture.
  bool drawsLayer(const platform::Layer& /*layer*/) const override { return false; }

  // Hit testing.
  // The planet under a point in view coordinates (topmost first), or -1.
  std::int64_t ideaViewAt(const QPointF& point) const;
  // What lies under a point in window coordinates.
  Hit viewAtPoint(const QPointF& windowPoint) const;

  // Focus during a drag over the view.
  std::optional<SolarFocusObject> closestViewToPoint(const QPointF& point, const platform::View* inView,
                                                     float* outDistance) const;
  float updateFocusBasedOnPoint(const QPointF& point, const platform::View* inView);
  void markViewInFocus(const std::optional<SolarFocusObject>& focus, float distance);
  const std::optional<SolarFocusObject>& currentFocusObject() const { return mObjectAtFocus; }
  void stopFocusing();

  // Input.
  void mouseDown(const platform::Event& event) override;
  void mouseDragged(const platform::Event& event) override;
  void mouseUp(const platform::Event& event) override;
  void mouseMoved(const platform::Event& event) override;
  void cursorUpdate(const platform::Event& event) override;
  void keyDown(const platform::Event& event) override;
  std::shared_ptr<platform::Menu> menuForEvent(const platform::Event& event) override;
  void updateTrackingAreas() override;
  void viewWillMoveToWindow(platform::Window* window) override;
  void cmdAddNewElement();
  bool hasPendingDrill() const { return mDrillWaitingConfirmation != nullptr; }
  // Whether an overlay (a visible sibling in the window's container) covers the editor.
  bool isCoveredByOverlay() const;

  // Tap detector.
  void startDragGestureIfPossible(const QPointF& point) override;
  void singleTap(const QPointF& point) override;
  void doubleTap(const QPointF& point) override;
  void handleTapOnIdeaLayer(std::int64_t index);
  void handleDoubleTapOnIdeaLayer(std::int64_t index);
  void handleTapOnCentralView();
  void handleTapOnParentIdeaView(ParentIdeaView& view) override;
  void handleTapOnIdeaAdderView(IdeaAdderView& adder) override;

  // Note hover.
  bool isNoteHoverDisplayAllowed() override { return true; }
  platform::View* hostViewForNoteHoverDisplay() override { return this; }

  // Rotation.
  bool shouldIgnoreRotationStart() const;
  void handleBeginRotationGesture(SolarRotationGestureRecognizer& recognizer, float angle);
  void handleChangeRotationGesture(SolarRotationGestureRecognizer& recognizer, float delta);
  void handleEndRotationGesture(SolarRotationGestureRecognizer& recognizer, float angularVelocity);
  void handleEndRotationGesture(SolarRotationGestureRecognizer& recognizer);
  void angleUpdate(double angle) override;
  void rotationEnded() override;
  void stopAnimations();
  QPointF orbitVisualCenter() const;
  float orbitVisualRadius() const { return mRadius; }
  float orbitLogicalRadius() const { return mRadius; }
  SolarRotationAnimator* rotationAnimator() const { return mSolarRotationAnimator.get(); }
  SolarRotationGestureRecognizer& rotationRecognizer() { return mSolarRotationGestureRecognizer; }

  // Drill animations.
  FrameFunction prepareDrillDownAnimation(std::int64_t index, bool simulated);
  FrameFunction prepareCollapseAnimation();
  void animateDrillDownInto(std::int64_t index, const std::shared_ptr<SolarSystem>& newSolarSystem,
                            std::function<void()> completion);
  void animateDrillUpFrom(std::int64_t index, const std::shared_ptr<SolarSystem>& oldSolarSystem,
                          std::function<void()> completion);
  // Every planet's new picture, drawn on several threads: the drills do it before their first
  // frame.
  void drawPlanetPictures();
  // Before the view goes into a window of `contentsScale`: the pictures of the sun, the parent
  // and the adders, so the first frame that shows the view does not draw them.
  void drawViewsBeforeShowing(double contentsScale);

 private:
  void placePlanet(PlanetLayer& planet, const QPointF& center, bool integral) const;
  void orderPlanetsFrom(std::size_t first);
  bool isPlanet(const platform::Layer& layer) const;
  // Whether the planets are the view's last layers, drawn from planet `first` clockwise.
  bool planetsDrawnFrom(std::size_t first) const;
  // The adder's view, made at its place when missing; below the planets, unless the caller puts
  // the planets in order next.
  IdeaAdderView& adderAt(std::size_t index, bool belowPlanets = true) const;
  // Where the layout puts adder `index` (around the sun's centre, on the screen's pixels).
  QRectF adderFrame(std::size_t index) const;
  QRectF adderFrameAround(std::size_t index, const Ring& adders, const QPointF& sun, double screenScale) const;
  // Whether the adder lies wholly under the opaque disc of a planet beside it, as the layout
  // placed them.
  bool adderUnderPlanet(std::size_t index, const QRectF& frame) const;
  // Marks the planets wholly under others as covered (drawn by no composition, no picture).
  void coverHiddenPlanets();
  // What a layout places things from; a layout pass from the same as the last is skipped.
  struct LayoutInputs {
    QRectF bounds;
    QPointF sun;
    double angle;
    std::size_t planets, adders, sublayers;
    double screenScale, adderScale;
    std::uint64_t generation;
    bool operator==(const LayoutInputs&) const = default;
  };
  LayoutInputs layoutInputs() const;
  // A change a layout reads that comes with no layout of its own.
  void layoutInputsChanged() { ++mLayoutGeneration; }
  QPointF sunCenter() const;
  void clearPendingDrill() { mDrillWaitingConfirmation.reset(); }

  bool mUserInteractionDisabled = false;
  QString mDocIdentifier;
  std::vector<std::shared_ptr<PlanetLayer>> mIdeaViews;
  // Adders under the pile of a crowded orbit are never seen: their views are made only when
  // one shows or is asked for (null until then); the tag each will carry is kept beside.
  mutable std::vector<std::shared_ptr<IdeaAdderView>> mIdeaAdderViews;
  std::vector<IdeaPtr> mAdderTags;
  std::shared_ptr<platform::PreparedBlock> mPlanetBlock;  // where the planets being filled go
  double mAdderScale = 1;
  std::size_t mDrawFirst = 0;                                  // the planet drawn first (lowest)
  mutable std::pair<std::int64_t, double> mSqueezeRoot{0, 0};  // count, its squeeze factor's root
  std::optional<LayoutInputs> mLaidOutFrom;
  std::weak_ptr<PlanetLayer> mShadowedPlanet;
  struct PlacedDisc {
    QPointF center;
    double reach;  // how far from the centre the disc hides what is below; negative: nothing
  };
  std::vector<PlacedDisc> mPlacedDiscs;  // by planet, as the last layout placed them
  std::uint64_t mLayoutGeneration = 0;
  std::unique_ptr<NoteHoverUtility> mNoteHoverUtility;
  float mRadius;
  std::shared_ptr<SolarSystemLayer> mOrbitLayer;
  SolarRotationGestureRecognizer mSolarRotationGestureRecognizer;
  LongTapAndDragDetector mLongTapAndDragDetector;
  std::shared_ptr<SimpleIdeaView> mCentralView;
  bool mAnimating = false;
  std::shared_ptr<ParentIdeaView> mParentView;
  std::shared_ptr<LineLayer> mLineLayer;
  bool mShowingLink = false;
  std::shared_ptr<int> mDrillWaitingConfirmation;
  double mCurrentAngle = 0;
  std::int64_t mUpdateSemaphore = 0;
  bool mDockingMode = false;
  std::optional<SolarFocusObject> mObjectAtFocus;
  std::unique_ptr<SolarRotationAnimator> mSolarRotationAnimator;
  double mOriginalRotationTouchAngle = 0;
  std::shared_ptr<platform::TrackingArea> mTrackingArea;
  platform::WeakRef<SolarSystemDelegate> mDelegate;
  platform::ObserverScope mAppearanceObserver;
};

}  // namespace orrery
