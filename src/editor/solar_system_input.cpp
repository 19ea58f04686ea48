// How the radial view turns pointer and key input into reports to its delegate, the cursor
// and note hover, the drop focus during a drag, and the rotation gesture's view side.

#include <cmath>
#include <limits>

#include "editor/solar_system.h"
#include "foundation/geometry.h"
#include "foundation/logging.h"
#include "foundation/views/container_view.h"
#include "foundation/views/view_extensions.h"
#include "platform/core/dispatch.h"
#include "platform/ui/tracking_area.h"

namespace orrery {
namespace {

constexpr float kFarAway = std::numeric_limits<float>::max();
constexpr float kFocusScale = 1.1f;

}  // namespace

// Hit testing.

std::int64_t SolarSystem::ideaViewAt(const QPointF& point) const {
  const auto& sublayers = layer()->sublayers();
  for (auto it = sublayers.rbegin(); it != sublayers.rend(); ++it) {
    auto* planet = dynamic_cast<PlanetLayer*>(it->get());
    if (!planet) continue;
    if (Geometry::distanceFrom(planet->position(), point) >= planet->radius()) continue;
    for (std::size_t i = 0; i < mIdeaViews.size(); ++i)
      if (mIdeaViews[i].get() == planet) return static_cast<std::int64_t>(i);
  }
  return -1;
}

SolarSystem::Hit SolarSystem::viewAtPoint(const QPointF& windowPoint) const {
  const QPointF p = convertPoint(windowPoint, nullptr);
  if (const std::int64_t planet = ideaViewAt(p); planet >= 0) return {Hit::Kind::Planet, planet};
  if (mParentView && mParentView->hitTest(p)) return {Hit::Kind::Parent, 0};
  if (mCentralView && mCentralView->hitTest(p)) return {Hit::Kind::Sun, 0};
  for (std::size_t i = 0; i < mIdeaAdderViews.size(); ++i) {
    // An adder not made yet lies under a planet, which the press met first.
    const auto& adder = mIdeaAdderViews[i];
    if (adder && adder->hitTest(p)) return {Hit::Kind::Adder, static_cast<std::int64_t>(i)};
  }
  return {};
}

// Focus.

std::optional<SolarFocusObject> SolarSystem::closestViewToPoint(const QPointF& point, const platform::View* inView,
                                                                float* outDistance) const {
  const QPointF p = convertPoint(point, inView);
  std::optional<SolarFocusObject> best;
  float bestDistance = kFarAway;
  if (mParentView) {
    const QPointF inSuper = mParentView->superview() ? mParentView->superview()->convertPoint(p, this) : p;
    const QPointF c = viewext::center(*mParentView);
    bestDistance = static_cast<float>(std::max(std::max(inSuper.x() - c.x(), 0.0), std::max(inSuper.y() - c.y(), 0.0)));
    best.emplace(mParentView, SolarFocusObject::kParent, 0);
  }
  std::int64_t bestAdder = -1;
  for (std::size_t i = 0; i < mIdeaAdderViews.size(); ++i) {
    const auto& adder = mIdeaAdderViews[i];
    if (adder && adder->isHidden()) continue;
    const float d = Geometry::distanceFrom(p, adder ? viewext::center(*adder) : adderFrame(i).center());
    if (d < bestDistance) {
      bestDistance = d;
      bestAdder = static_cast<std::int64_t>(i);
    }
  }
  if (bestAdder >= 0) {
    adderAt(static_cast<std::size_t>(bestAdder));
    best.emplace(mIdeaAdderViews[static_cast<std::size_t>(bestAdder)], SolarFocusObject::kAdder, bestAdder);
  }
  for (std::size_t i = 0; i < mIdeaViews.size(); ++i) {
    const auto& planet = mIdeaViews[i];
    if (planet->isLink()) continue;  // a link is never a drop target
    const float d = Geometry::distanceFrom(p, planet->position());
    if (d < bestDistance) {
      bestDistance = d;
      best.emplace(planet, SolarFocusObject::kPlanet, static_cast<std::int64_t>(i));
    }
  }
  if (outDistance) *outDistance = bestDistance;
  return best;
}

float SolarSystem::updateFocusBasedOnPoint(const QPointF& point, const platform::View* inView) {
  float distance = kFarAway;
  mObjectAtFocus = closestViewToPoint(point, inView, &distance);
  if (distance > kFocusDistance) {
    mObjectAtFocus.reset();
    distance = kFarAway;
  }
  markViewInFocus(mObjectAtFocus, distance);
  return distance;
}

void SolarSystem::markViewInFocus(const std::optional<SolarFocusObject>& focus, float distance) {
  const bool adderFocus = focus && focus->focusType() == SolarFocusObject::kAdder;
  const bool planetFocus = focus && focus->focusType() == SolarFocusObject::kPlanet;
  for (std::size_t i = 0; i < mIdeaAdderViews.size(); ++i)
    if (mIdeaAdderViews[i])
      mIdeaAdderViews[i]->setInFocus(adderFocus && focus->index() == static_cast<std::int64_t>(i));
  if (adderFocus) ideaAdderViewAtIndex(focus->index());  // made in focus
  const float progress = std::clamp(distance / kFocusScaleDistance, 0.0f, 1.0f);
  for (std::size_t i = 0; i < mIdeaViews.size(); ++i) {
    const bool focused = planetFocus && focus->index() == static_cast<std::int64_t>(i);
    layerext::transformToScale(*mIdeaViews[i],
                               focused ? Geometry::interpolateLinearlyFrom(kFocusScale, 1.0f, progress) : 1.0);
  }
  layoutInputsChanged();
  coverHiddenPlanets();  // a grown planet covers no other, nor is it covered
}

void SolarSystem::stopFocusing() {
  mObjectAtFocus.reset();
  markViewInFocus(std::nullopt, kFarAway);
}

// Pointer and keys.

void SolarSystem::mouseDown(const platform::Event& event) {
  BaseView::mouseDown(event);
  if (mUserInteractionDisabled) return;
  if (viewAtPoint(event.locationInWindow)) mLongTapAndDragDetector.mouseDown(event);
  mSolarRotationGestureRecognizer.mouseDown(event);
}

void SolarSystem::mouseDragged(const platform::Event& event) {
  BaseView::mouseDragged(event);
  mLongTapAndDragDetector.mouseDragged(event);
  mSolarRotationGestureRecognizer.mouseDragged(event);
}

void SolarSystem::mouseUp(const platform::Event& event) {
  BaseView::mouseUp(event);
  mLongTapAndDragDetector.mouseUp(event);
  mSolarRotationGestureRecognizer.mouseUp(event);
}

void SolarSystem::mouseMoved(const platform::Event& event) {
  cursorUpdate(event);
  BaseView::mouseMoved(event);
}

void SolarSystem::keyDown(const platform::Event& event) {
  if (event.charactersIgnoringModifiers == QStringLiteral(" ")) return cmdAddNewElement();
  BaseView::keyDown(event);
}

void SolarSystem::cmdAddNewElement() {
  const std::int64_t last = ideaViewCount() - 1;
  const std::int64_t anchor = std::max<std::int64_t>(0, std::min(last, ideaAdderViewCount()));
  IdeaAdderView* adder = ideaAdderViewAtIndex(anchor);
  if (SolarSystemDelegate* d = mDelegate.get()) d->onAddNewIdeaAfterIndex(last, adder ? adder->frame() : QRectF());
}

std::shared_ptr<platform::Menu> SolarSystem::menuForEvent(const platform::Event& event) {
  SolarSystemDelegate* d = mDelegate.get();
  if (!d) return nullptr;
  const Hit hit = viewAtPoint(event.locationInWindow);
  switch (hit.kind) {
    case Hit::Kind::Planet:
      return d->onRightClickAtIdea(mIdeaViews[static_cast<std::size_t>(hit.index)]->ideaIdentifier());
    case Hit::Kind::Sun: return d->onRightClickAtIdea(mCentralView->ideaIdentifier());
    case Hit::Kind::Parent:
      return mParentView->objectTag() ? d->onRightClickAtIdea(mParentView->objectTag()->identifier()) : nullptr;
    default: return nullptr;
  }
}

void SolarSystem::updateTrackingAreas() {
  if (mTrackingArea) removeTrackingArea(mTrackingArea.get());
  using Opt = platform::TrackingArea::Option;
  mTrackingArea = std::make_shared<platform::TrackingArea>(
      bounds(), Opt::MouseEnteredAndExited | Opt::MouseMoved | Opt::CursorUpdate | Opt::ActiveInActiveApp, this);
  addTrackingArea(mTrackingArea);
}

void SolarSystem::viewWillMoveToWindow(platform::Window* window) {
  // A note popover must not outlive its place (a drill replaces this view).
  if (!window) mNoteHoverUtility->closeIfOpen();
  BaseView::viewWillMoveToWindow(window);
}

bool SolarSystem::isCoveredByOverlay() const {
  const ContainerView* container = nullptr;
  for (const platform::View* v = superview(); v && !container; v = v->superview())
    container = dynamic_cast<const ContainerView*>(v);
  if (!container) return false;
  // The container also keeps hidden views (the example view, finished notices): only a
  // visible one other than this view's own branch covers the editor.
  for (const auto& sub : container->subviews())
    if (!sub->isHidden() && sub.get() != this && !isDescendantOf(sub.get())) return true;
  return false;
}

void SolarSystem::cursorUpdate(const platform::Event& event) {
  if (isCoveredByOverlay()) return;
  const QPointF p = convertPoint(event.locationInWindow, nullptr);
  const Hit hit = viewAtPoint(event.locationInWindow);
  switch (hit.kind) {
    case Hit::Kind::None:
      mNoteHoverUtility->observeCursorHoveringOver(std::nullopt, p);
      platform::setCursor(mSolarRotationGestureRecognizer.mightRotateDueToEvent(event) ? platform::Cursor::OpenHand
                                                                                       : platform::Cursor::Arrow);
      return;
    case Hit::Kind::Planet: {
      const PlanetLayer& planet = *mIdeaViews[static_cast<std::size_t>(hit.index)];
      if (planet.showNote() && planet.hitsNote(layer()->convertPointToLayer(p, &planet))) {
        platform::setCursor(platform::Cursor::ContextualMenu);
        mNoteHoverUtility->observeCursorHoveringOver(planet.note(), p);
      } else {
        platform::setCursor(platform::Cursor::PointingHand);
        mNoteHoverUtility->observeCursorHoveringOver(std::nullopt, p);
      }
      return;
    }
    case Hit::Kind::Sun:
      if (mCentralView->hasNote() && mCentralView->hitsNote(mCentralView->convertPoint(p, this))) {
        platform::setCursor(platform::Cursor::ContextualMenu);
        mNoteHoverUtility->observeCursorHoveringOver(mCentralView->note(), p);
      } else {
        platform::setCursor(platform::Cursor::PointingHand);
        mNoteHoverUtility->observeCursorHoveringOver(std::nullopt, p);
      }
      return;
    case Hit::Kind::Parent:
    case Hit::Kind::Adder:
      platform::setCursor(platform::Cursor::PointingHand);
      mNoteHoverUtility->observeCursorHoveringOver(std::nullopt, p);
      return;
  }
}

// Taps.

void SolarSystem::singleTap(const QPointF& point) {
  if (mUserInteractionDisabled) return;
  const Hit hit = viewAtPoint(point);
  switch (hit.kind) {
    case Hit::Kind::Planet: return handleTapOnIdeaLayer(hit.index);
    case Hit::Kind::Sun: return handleTapOnCentralView();
    case Hit::Kind::Parent: return handleTapOnParentIdeaView(*mParentView);
    case Hit::Kind::Adder: return handleTapOnIdeaAdderView(adderAt(static_cast<std::size_t>(hit.index)));
    case Hit::Kind::None: return;
  }
}

void SolarSystem::doubleTap(const QPointF& point) {
  if (mUserInteractionDisabled) return;
  const Hit hit = viewAtPoint(point);
  if (hit.kind == Hit::Kind::Planet) handleDoubleTapOnIdeaLayer(hit.index);
}

void SolarSystem::handleTapOnIdeaLayer(std::int64_t index) {
  PlanetLayer* planet = ideaViewAtIndex(index);
  if (!ORRERY_SOFT_ASSERT(planet, "-[SolarSystem handleTapOnIdeaLayer:]")) return;
  if (mDrillWaitingConfirmation) return;  // the first tap's drill goes ahead
  auto token = std::make_shared<int>(0);
  mDrillWaitingConfirmation = token;
  const QString identifier = planet->ideaIdentifier();
  platform::WeakRef<SolarSystem> self(this);
  platform::mainQueue().after(platform::Millis(kDrillWaitMs), [self, token, identifier] {
    SolarSystem* view = self.get();
    if (!view || view->mDrillWaitingConfirmation != token) return;
    view->mDrillWaitingConfirmation.reset();
    if (view->mUserInteractionDisabled) return;
    if (SolarSystemDelegate* d = view->mDelegate.get()) d->onDrillDownTo(identifier);
  });
}

void SolarSystem::handleDoubleTapOnIdeaLayer(std::int64_t index) {
  PlanetLayer* planet = ideaViewAtIndex(index);
  if (!ORRERY_SOFT_ASSERT(planet, "-[SolarSystem handleDoubleTapOnIdeaLayer:]")) return;
  clearPendingDrill();
  if (SolarSystemDelegate* d = mDelegate.get()) d->onEditIdea(planet->ideaIdentifier());
}

void SolarSystem::handleTapOnCentralView() {
  clearPendingDrill();
  if (!mCentralView) return;
  if (SolarSystemDelegate* d = mDelegate.get()) d->onEditIdea(mCentralView->ideaIdentifier());
}

void SolarSystem::handleTapOnParentIdeaView(ParentIdeaView& /*view*/) {
  clearPendingDrill();
  if (SolarSystemDelegate* d = mDelegate.get()) d->onDrillUp();
}

void SolarSystem::handleTapOnIdeaAdderView(IdeaAdderView& adder) {
  stopAnimations();
  std::int64_t index = -1;
  for (std::size_t i = 0; i < mIdeaAdderViews.size(); ++i)
    if (mIdeaAdderViews[i].get() == &adder) index = static_cast<std::int64_t>(i);
  if (!ORRERY_SOFT_ASSERT(index >= 0, "-[SolarSystem handleTapOnIdeaAdderView:]")) return;
  if (SolarSystemDelegate* d = mDelegate.get()) d->onAddNewIdeaAfterIndex(index, adder.frame());
}

void SolarSystem::startDragGestureIfPossible(const QPointF& point) {
  if (mUserInteractionDisabled) return;
  PlanetLayer* planet = ideaViewAtIndex(ideaViewAt(convertPoint(point, nullptr)));
  if (!planet) return;
  if (SolarSystemDelegate* d = mDelegate.get())
    d->startDragForIdea(planet->ideaIdentifier(), planet->frame(), mLongTapAndDragDetector.lastEvent());
}

// Rotation, view side.

QPointF SolarSystem::orbitVisualCenter() const { return sunCenter(); }

bool SolarSystem::shouldIgnoreRotationStart() const { return mIdeaViews.empty() || mAnimating; }

void SolarSystem::handleBeginRotationGesture(SolarRotationGestureRecognizer& /*recognizer*/, float angle) {
  if (shouldIgnoreRotationStart()) return;
  mOriginalRotationTouchAngle = angle - mCurrentAngle;
  // A coast still running on the previous animator would go on reporting angles.
  if (mSolarRotationAnimator) mSolarRotationAnimator->cancel();
  mSolarRotationAnimator = std::make_unique<SolarRotationAnimator>(mCurrentAngle);
  mSolarRotationAnimator->setDelegate(this);
}

void SolarSystem::handleChangeRotationGesture(SolarRotationGestureRecognizer& /*recognizer*/, float delta) {
  if (mSolarRotationAnimator && !mAnimating) mSolarRotationAnimator->addAngle(delta);
}

void SolarSystem::handleEndRotationGesture(SolarRotationGestureRecognizer& /*recognizer*/, float angularVelocity) {
  if (mSolarRotationAnimator && !mAnimating) mSolarRotationAnimator->addAngularRotationWithVelocity(angularVelocity);
}

void SolarSystem::handleEndRotationGesture(SolarRotationGestureRecognizer& /*recognizer*/) { rotationEnded(); }

void SolarSystem::angleUpdate(double angle) {
  if (!mSolarRotationAnimator || mAnimating || !std::isfinite(angle)) return;
  mCurrentAngle = angle;
  updateView();
}

void SolarSystem::rotationEnded() {
  if (mAnimating) return;  // a drill owns the geometry
  stopAnimations();
  updateView();
}

void SolarSystem::stopAnimations() {
  if (mSolarRotationAnimator) {
    mSolarRotationAnimator->cancel();
    mSolarRotationAnimator.reset();
  }
  setAnimating(false);
}

}  // namespace orrery
