#include "graph/graph_scroll_view.h"

#include "foundation/animator.h"
#include "foundation/geometry.h"
#include "foundation/globals.h"
#include "foundation/views/spinning_progress_indicator.h"
#include "foundation/views/view_extensions.h"
#include "platform/ui/menu.h"
#include "platform/core/dispatch.h"
#include "platform/ui/tracking_area.h"

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

const QString kZoomIn = QStringLiteral("cmdZoomIn");
const QString kZoomOut = QStringLiteral("cmdZoomOut");
const QString kActualSize = QStringLiteral("cmdActualSize");
// The kit reports a wheel notch as 1; a notch scrolls 40 points.
constexpr double kPointsPerNotch = 40;
constexpr float kMaxGlideSpeed = 1800;
constexpr float kFocusSeconds = 0.1f;
constexpr float kFramesPerSecond = 60;
constexpr double kProgressSide = 32;

QString text(const char* key) { return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromLatin1(key)); }

float clampFactor(float factor) { return std::clamp(factor, 0.5f, 2.0f); }

}  // namespace

GraphScrollView::GraphScrollView()
    : mTapPanSwipeDetector(std::make_shared<TapPanSwipeDetector>()),
      mNoteHoverUtility(std::make_unique<NoteHoverUtility>(this)) {
  setFrame(QRectF(0, 0, 1, 1));
  // Zoomed in, the tile views are far larger than the view: they stop at its edge rather than
  // covering the top bar above it.
  layer()->setMasksToBounds(true);
  mTapPanSwipeDetector->setDelegate(this);
  registerActions();
  mAppearanceObserver.observe(GlobalsAppearanceSettingsChangedNotification, nullptr,
                              [this](const platform::Notification&) { appearanceSettingsChanged(); });
}

GraphScrollView::~GraphScrollView() {
  mAppearanceObserver.stopObserving();
  stopAnimation();
  if (mNoteHoverUtility) mNoteHoverUtility->closeIfOpen();
  for (auto* view : {mGraphView.get(), mNextGraphView.get()})
    if (view) view->setActive(false);
}

void GraphScrollView::registerActions() {
  setActionHandler(kZoomIn, [this](const platform::ActionSender&) { cmdZoomIn(); });
  setActionHandler(kZoomOut, [this](const platform::ActionSender&) { cmdZoomOut(); });
  setActionHandler(kActualSize, [this](const platform::ActionSender&) { cmdActualSize(); });
}

// ---- content and scaling ----

void GraphScrollView::setCurrentIdea(const IdeaPtr& idea, const GraphFilter& filter) {
  mDismissed = false;
  mCurrentIdea = idea;
  stopAnimation();
  const std::uint64_t build = ++mRequestedBuild;
  updateProgress();
  // Only the copy and the list of live ideas are taken here; indexing, layout and the tile
  // index of a big map would hold the main thread for hundreds of milliseconds.
  platform::WeakRef<GraphScrollView> self(this);
  platform::Queue& queue = mBuildQueue ? *mBuildQueue : platform::globalQueue(platform::QueuePriority::High);
  queue.async([self, build, filter, capture = IdeaSnapshot::capture(idea)]() mutable {
    auto factory = std::make_shared<GraphTileFactory>(IdeaSnapshot::createFromCapture(std::move(capture)), filter,
                                                      /*centerToRoot=*/false);
    factory->setNoteStyle(1);
    platform::mainQueue().async([self, build, factory = std::move(factory)]() mutable {
      if (GraphScrollView* view = self.get()) view->showBuiltGraph(build, std::move(factory));
    });
  });
}

void GraphScrollView::showBuiltGraph(std::uint64_t build, std::shared_ptr<GraphTileFactory> factory) {
  // A graph overtaken by a newer request shows a tree that is no longer current.
  if (build != mRequestedBuild) return;
  mShownBuild = build;
  updateProgress();
  mIdeaChangePending = true;
  mGraphTileFactory = std::move(factory);
  updateScaling();
  const QSizeF content = mGraphTileFactory->contentSize();
  mDataCenter = QPointF(content.width() * 0.5, content.height() * 0.5);
  mZoomScale = mMinZoomScale;
  dropNextGraphView();
  updateAtMode(ScaledGraphViewModeZoom);
}

void GraphScrollView::updateProgress() {
  if (!isBuilding()) {
    if (mProgress) {
      mProgress->stopAnimation();
      mProgress->setHidden(true);
    }
    return;
  }
  if (!mProgress) {
    mProgress = std::make_shared<SpinningProgressIndicator>();
    mProgress->setColor(Globals::colorWhite());
    addSubview(mProgress);
  }
  const QPointF c = viewext::centerPoint(*this);
  mProgress->setFrame(QRectF(c.x() - kProgressSide / 2, c.y() - kProgressSide / 2, kProgressSide, kProgressSide));
  mProgress->setHidden(false);
  mProgress->startAnimation();
}

void GraphScrollView::updateScaling() {
  const QSizeF content = mGraphTileFactory ? mGraphTileFactory->contentSize() : QSizeF(1, 1);
  const QSizeF size = bounds().size();
  float fit = static_cast<float>(std::min(size.width() / content.width(), size.height() / content.height()));
  if (!std::isfinite(fit)) fit = kLeastZoomScale;
  // A map smaller than the view fits at most at the largest zoom.
  mMinZoomScale = std::min(std::max(fit, kLeastZoomScale), kMaxZoomScale);
  mMaxZoomScale = kMaxZoomScale;
  mZoomScale = std::min(kMaxZoomScale, std::max(mZoomScale, mMinZoomScale));
}

float GraphScrollView::tentativeZoom(float factor) const {
  return std::max(std::min(mMaxZoomScale, mZoomScale * factor), mMinZoomScale);
}

void GraphScrollView::setFrame(const QRectF& frame) {
  BaseView::setFrame(frame);
  if (isBuilding()) updateProgress();
  if (mDismissed || !mGraphTileFactory) return;
  updateScaling();
  if (mGraphView) {
    mGraphView->setFrame(tileViewFrame());
    mGraphView->setDataRect(dataRectAtScale(mZoomScale), ScaledGraphViewModeIdle);
  }
  if (mNextGraphView) {
    mNextGraphView->setFrame(tileViewFrame());
    mNextGraphView->setDataRect(dataRectAtScale(mNextGraphView->zoomScale()), ScaledGraphViewModeZoom);
  }
}

double GraphScrollView::currentZoomScale() const { return mGraphView ? mGraphView->zoomScale() : 1.0; }

QPointF GraphScrollView::convertDataPointFromViewPoint(const QPointF& viewPoint) const {
  return mDataCenter + (viewPoint - viewext::centerPoint(*this)) / mZoomScale;
}

QRectF GraphScrollView::dataRectAtScale(double scale) const {
  const QSizeF size = bounds().size() / scale;
  return QRectF(mDataCenter - QPointF(size.width() / 2, size.height() / 2), size);
}

QRectF GraphScrollView::tileViewFrame() const {
  // The tile view's origin shows the data centre; whole points keep the tiles sharp.
  const QPointF c = viewext::centerPoint(*this);
  return QRectF(std::floor(c.x()), std::floor(c.y()), 2, 2);
}

QPointF GraphScrollView::clampedToContent(const QPointF& point) const {
  const QSizeF content = mGraphTileFactory ? mGraphTileFactory->contentSize() : QSizeF(0, 0);
  return QPointF(std::clamp(point.x(), 0.0, content.width()), std::clamp(point.y(), 0.0, content.height()));
}

// ---- focus and zoom ----

void GraphScrollView::setFocusTo(const IdeaPtr& idea) {
  if (!mGraphTileFactory) return;
  stopAnimation();
  mDataCenter = mGraphTileFactory->ideaLocation(idea);
  updateAtMode(ScaledGraphViewModeZoom);
}

void GraphScrollView::setFocusToCenter() {
  if (!mGraphTileFactory) return;
  stopAnimation();
  const QSizeF content = mGraphTileFactory->contentSize();
  mDataCenter = QPointF(content.width() * 0.5, content.height() * 0.5);
  updateAtMode(ScaledGraphViewModeZoom);
}

bool GraphScrollView::hasFocusAtCenter() const {
  const QSizeF content = mGraphTileFactory ? mGraphTileFactory->contentSize() : QSizeF(0, 0);
  return mDataCenter == QPointF(content.width() * 0.5, content.height() * 0.5);
}

void GraphScrollView::zoomInCenter(float factor) {
  mNoteHoverUtility->closeIfOpen();
  stopAnimation();
  mZoomScale = tentativeZoom(factor);
  updateAtMode(ScaledGraphViewModeZoom);
}

void GraphScrollView::cmdZoomIn() { zoomInCenter(1.5f); }
void GraphScrollView::cmdZoomOut() { zoomInCenter(0.75f); }

void GraphScrollView::cmdActualSize() {
  zoomInCenter(-10000.0f);
  setFocusToCenter();
}

bool GraphScrollView::canZoomIn() const { return tentativeZoom(1.5f) != mZoomScale; }
bool GraphScrollView::canZoomOut() const { return tentativeZoom(0.75f) != mZoomScale; }
bool GraphScrollView::canZoomToActualSize() const { return !hasFocusAtCenter() || tentativeZoom(-10000.0f) != mZoomScale; }

bool GraphScrollView::validateUserInterfaceItem(const platform::MenuItem& item) {
  if (item.action() == kZoomIn) return canZoomIn();
  if (item.action() == kZoomOut) return canZoomOut();
  if (item.action() == kActualSize) return canZoomToActualSize();
  return true;
}

// ---- panning and gliding ----

void GraphScrollView::addSomePan(const QPointF& delta) {
  if (!mGraphTileFactory) return;
  mDataCenter = clampedToContent(mDataCenter - delta / mZoomScale);
  updateAtMode(ScaledGraphViewModeMove);
}

void GraphScrollView::panGestureStarted(const QPointF& /*point*/) { stopAnimation(); }

void GraphScrollView::panGestureUpdate(const QPointF& translation) { addSomePan(translation); }

void GraphScrollView::panGestureDone(const QPointF& translation, const QPointF& swipe) {
  handlePanDone(translation, swipe);
}

void GraphScrollView::handlePanDone(const QPointF& translation, const QPointF& swipe) {
  addSomePan(translation);
  if (!mGraphTileFactory) return;
  QPointF v = -swipe / mZoomScale;
  float length = static_cast<float>(std::hypot(v.x(), v.y()));
  const float fastest = kMaxGlideSpeed / mZoomScale;
  if (length > fastest) {
    v *= fastest / length;
    length = fastest;
  }
  if (!(length >= 0.01f)) return;
  const float duration = length / (3 * length);
  const QPointF start = mDataCenter;
  stopAnimation();
  mAnimator = Animator::create(duration, kFramesPerSecond);
  mAnimator->play([this, start, v, length, duration](Animator& animator) {
    const float p = animator.progress();
    const double t = duration * p;
    const double d = length * t - 1.5 * length * t * t;  // decelerating by 3 L: L / 6 in all
    mDataCenter = clampedToContent(start + v * (d / length));
    updateAtMode(p < 1 ? ScaledGraphViewModeMove : ScaledGraphViewModeIdle);
  });
}

void GraphScrollView::stopAnimation() {
  if (mAnimator) mAnimator->deactivate();
  mAnimator.reset();
}

// ---- choosing an idea ----

void GraphScrollView::singleTap(const QPointF& point) { handleSingleTap(convertPoint(point, nullptr)); }

void GraphScrollView::handleSingleTap(const QPointF& viewPoint) {
  if (!mGraphTileFactory) return;
  if (IdeaPtr idea = ideaAtPoint(viewPoint)) openOrFocusIdea(idea);
}

void GraphScrollView::onOpenNode(const IdeaPtr& idea) { openOrFocusIdea(idea); }

void GraphScrollView::onOpenNodeInNewWindow(const IdeaPtr& idea) {
  if (!idea) return;
  if (GraphScrollViewDelegate* d = delegate()) d->openIdeaInNewWindow(idea);
}

void GraphScrollView::openOrFocusIdea(const IdeaPtr& idea) {
  mNoteHoverUtility->closeIfOpen();
  if (!idea || !mGraphTileFactory) return;
  if (idea->isLink()) {
    if (IdeaPtr target = idea->linkedIdea()) setFocusTo(target);
    return;
  }
  mCurrentIdea = idea;
  setAnimatedFocusTo(mGraphTileFactory->ideaLocation(idea), [this, idea] {
    mDismissed = true;
    if (GraphScrollViewDelegate* d = delegate()) d->onIdeaSelected(idea);
  });
}

void GraphScrollView::setAnimatedFocusTo(const QPointF& target, std::function<void()> completion) {
  stopAnimation();
  const QPointF start = mDataCenter;
  mAnimator = Animator::create(kFocusSeconds, kFramesPerSecond);
  mAnimator->play([this, start, target, completion = std::move(completion)](Animator& animator) {
    const float p = animator.progress();
    mDataCenter = Geometry::interpolatePointFrom(start, target, static_cast<float>(Animator::cubicEaseIn(p)));
    updateAtMode(ScaledGraphViewModeMove);
    if (p >= 1) completion();
  });
}

IdeaPtr GraphScrollView::ideaAtPoint(const QPointF& viewPoint) const {
  return mGraphTileFactory ? mGraphTileFactory->ideaAtPoint(convertDataPointFromViewPoint(viewPoint)) : nullptr;
}

bool GraphScrollView::noteAtPoint(const QPointF& viewPoint) const {
  return mGraphTileFactory && mGraphTileFactory->noteAtPoint(convertDataPointFromViewPoint(viewPoint));
}

// ---- the two tile views ----

float GraphScrollView::nextZoomScale(float g, float z, float minZoom, float maxZoom) {
  float s;
  if (z > g) {
    s = g * 1.5f;
    while (z >= s * 1.5f && s < maxZoom) s *= 1.5f;
  } else {
    s = g * 0.75f;
    while (s > z && s > minZoom) s *= 0.75f;
  }
  return std::clamp(s, minZoom, maxZoom);
}

bool GraphScrollView::worthKeeping(double g, double n, double z) {
  if (n == g) return false;
  if (z > g && g > n) return false;
  if (z >= g) return true;
  return n <= z;
}

bool GraphScrollView::switchesTo(double g, double n, double z) {
  if (z < n) return false;
  if (z < g) return true;
  return n >= g;
}

float GraphScrollView::calculateNextZoomScale() const {
  if (mIdeaChangePending || !mGraphView) return mMinZoomScale;
  return nextZoomScale(static_cast<float>(mGraphView->zoomScale()), mZoomScale, mMinZoomScale, mMaxZoomScale);
}

bool GraphScrollView::isNextGraphViewWorthKeeping() const {
  if (!mNextGraphView) return false;
  if (mIdeaChangePending || !mGraphView) return true;
  return worthKeeping(mGraphView->zoomScale(), mNextGraphView->zoomScale(), mZoomScale);
}

bool GraphScrollView::shouldSwitchToNextGraphView() const {
  if (!mNextGraphView || !mNextGraphView->ready() || mDismissed) return false;
  if (mIdeaChangePending || !mGraphView) return true;
  return switchesTo(mGraphView->zoomScale(), mNextGraphView->zoomScale(), mZoomScale);
}

void GraphScrollView::dropNextGraphView() {
  if (!mNextGraphView) return;
  mNextGraphView->removeFromSuperview();
  mNextGraphView->setDelegate(nullptr);
  mNextGraphView->setActive(false);
  mNextGraphView.reset();
}

void GraphScrollView::ensureNextGraphViewIfNeeded() {
  if (mNextGraphView || !mGraphTileFactory) return;
  const float z = calculateNextZoomScale();
  if (mGraphView && z == static_cast<float>(mGraphView->zoomScale()) && !mIdeaChangePending) return;
  auto next = std::make_shared<ScaledGraphView>(mGraphTileFactory, z);
  next->setFrame(tileViewFrame());
  next->setDelegate(this);
  mNextGraphView = next;
  next->setDataRect(dataRectAtScale(z), ScaledGraphViewModeZoom);
}

void GraphScrollView::updateAtMode(ScaledGraphViewMode mode) {
  if (mNextGraphView && !isNextGraphViewWorthKeeping()) dropNextGraphView();
  ensureNextGraphViewIfNeeded();
  if (shouldSwitchToNextGraphView()) {
    mIdeaChangePending = false;
    std::shared_ptr<ScaledGraphView> old = std::move(mGraphView);
    mGraphView = std::move(mNextGraphView);
    mGraphView->setFrame(tileViewFrame());
    // The spinner stays above the tiles.
    if (mProgress) insertSubviewBelow(mGraphView, mProgress.get());
    else addSubview(mGraphView);
    if (old) {
      old->removeFromSuperview();
      old->setActive(false);
      old->setDelegate(nullptr);
    }
    ensureNextGraphViewIfNeeded();
  }
  if (mGraphView) {
    mGraphView->setDataRect(dataRectAtScale(mGraphView->zoomScale()), mode);
    viewext::transformToScale(*mGraphView, mZoomScale / mGraphView->zoomScale(), 0);
  }
}

void GraphScrollView::handleScaledGraphViewReady(ScaledGraphView& view) {
  if (&view == mNextGraphView.get()) updateAtMode(ScaledGraphViewModeZoom);
}

void GraphScrollView::appearanceSettingsChanged() {
  if (!mGraphTileFactory) return;
  mGraphTileFactory->updateAppearance();
  mIdeaChangePending = true;
  dropNextGraphView();
  updateAtMode(ScaledGraphViewModeZoom);
}

// ---- input ----

void GraphScrollView::mouseDown(const platform::Event& event) {
  BaseView::mouseDown(event);
  mTapPanSwipeDetector->mouseDown(event);
}

void GraphScrollView::mouseDragged(const platform::Event& event) {
  BaseView::mouseDragged(event);
  mTapPanSwipeDetector->mouseDragged(event);
}

void GraphScrollView::mouseUp(const platform::Event& event) {
  BaseView::mouseUp(event);
  mTapPanSwipeDetector->mouseUp(event);
}

void GraphScrollView::mouseMoved(const platform::Event& event) {
  cursorUpdate(event);
  BaseView::mouseMoved(event);
}

void GraphScrollView::cursorUpdate(const platform::Event& event) {
  const QPointF viewPoint = convertPoint(event.locationInWindow, nullptr);
  const std::int32_t index =
      mGraphTileFactory ? mGraphTileFactory->ideaIndexAtPoint(convertDataPointFromViewPoint(viewPoint)) : -1;
  if (index >= 0 && mZoomScale > 0.1f && noteAtPoint(viewPoint)) {
    platform::setCursor(platform::Cursor::ContextualMenu);
    mNoteHoverUtility->observeCursorHoveringOver(mGraphTileFactory->snapshot()->node(index).note, viewPoint);
    return;
  }
  platform::setCursor(index >= 0 ? platform::Cursor::PointingHand : platform::Cursor::OpenHand);
  mNoteHoverUtility->observeCursorHoveringOver(std::nullopt, viewPoint);
}

void GraphScrollView::scrollWheel(const platform::Event& event) {
  const double k = event.hasPreciseScrollingDeltas ? 1 : kPointsPerNotch;
  const double dx = event.scrollingDeltaX * k, dy = event.scrollingDeltaY * k;
  if (event.modifierFlags & (platform::ModifierFlag::Control | platform::ModifierFlag::Command)) {
    zoomInCenter(clampFactor(static_cast<float>(dy) / 100 + 1));
    return;
  }
  stopAnimation();
  addSomePan(QPointF(dx, dy));
}

void GraphScrollView::magnifyWithEvent(const platform::Event& event) {
  zoomInCenter(clampFactor(1 + static_cast<float>(event.magnification)));
}

std::shared_ptr<platform::Menu> GraphScrollView::menuForEvent(const platform::Event& event) {
  const IdeaPtr idea = ideaAtPoint(convertPoint(event.locationInWindow, nullptr));
  auto menu = std::make_shared<platform::Menu>();
  platform::WeakRef<GraphScrollView> self(this);
  auto open = [self, idea](platform::MenuItem&) {
    if (GraphScrollView* view = self.get()) view->onOpenNode(idea);
  };
  auto openInNewWindow = [self, idea](platform::MenuItem&) {
    if (GraphScrollView* view = self.get()) view->onOpenNodeInNewWindow(idea);
  };
  if (idea && idea->isLink()) {
    menu->addItem(text("Follow link"), open)->setRepresentedObject(idea);
  } else {
    menu->addItem(text("Open"), open)->setRepresentedObject(idea);
    menu->addItem(text("Open in New Window"), openInNewWindow)->setRepresentedObject(idea);
  }
  menu->addItem(platform::MenuItem::separator());
  for (auto [title, action, key] : {std::tuple{"Zoom In", kZoomIn, "+"}, {"Zoom Out", kZoomOut, "-"}, {"Zoom to Fit", kActualSize, "9"}})
    menu->addActionItem(text(title), action, QString::fromLatin1(key))->setTarget(this);
  return menu;
}

void GraphScrollView::updateTrackingAreas() {
  if (mTrackingArea) removeTrackingArea(mTrackingArea.get());
  using Opt = platform::TrackingArea::Option;
  mTrackingArea = std::make_shared<platform::TrackingArea>(
      bounds(), Opt::MouseEnteredAndExited | Opt::MouseMoved | Opt::CursorUpdate | Opt::ActiveInActiveApp, this);
  addTrackingArea(mTrackingArea);
}

void GraphScrollView::viewWillMoveToWindow(platform::Window* window) {
  if (!window) mNoteHoverUtility->closeIfOpen();
  BaseView::viewWillMoveToWindow(window);
}

}  // namespace orrery
