// Changing the shown idea: a new radial view is built for every switch and replaces the old one
// by a drill-down, a drill-up or a direct switch.

#include "editor_screen/solar_system_view_controller.h"
#include "shell/my_window.h"
#include "foundation/views/delete_area_view.h"
#include "foundation/views/view_extensions.h"
#include "model/idea_document.h"
#include "platform/core/dispatch.h"
#include "platform/ui/window.h"

#include <utility>

namespace orrery {

namespace {
std::int64_t indexByIdentity(const IdeaPtr& parent, const IdeaPtr& child) {
  if (!parent) return -1;
  const auto& ideas = parent->ideas();
  for (std::size_t i = 0; i < ideas.size(); ++i)
    if (ideas[i] == child) return static_cast<std::int64_t>(i);
  return -1;
}
}  // namespace

void SolarSystemViewController::switchToIdea(const IdeaPtr& target, bool animated) {
  if (!target) return;
  IdeaPtr idea = target;
  bool asLink = idea->isLink();
  IdeaPtr sun = asLink ? idea->linkedIdea() : idea;
  if (!sun) {
    // A link whose target is gone is never shown as the sun: a drill into it does nothing,
    // and a set-up or reload shows the root.
    if (animated) return;
    idea = idea->root();
    asLink = false;
    sun = idea;
  }
  // Without a view yet there is nothing to replace: the view shows the idea when it loads.
  if (!isViewLoaded()) return setOwnIdea(idea);
  auto next = SolarSystem::create(solarSystemFrame(), mDoc ? mDoc->docIdentifier() : QString());
  if (IdeaPtr parent = idea->parent()) next->setParentIdea(parent, asLink);
  if (mSolarSystem) mSolarSystem->setDelegate(nullptr);
  next->setDelegate(this);
  next->startUpdate();
  next->setCentralIdea(sun);
  next->setUserInteractionEnabled(false);
  next->reservePlanets(sun->ideas().size());
  for (const IdeaPtr& child : sun->ideas()) next->addIdea(child);
  next->endUpdate();

  if (animated && mSolarSystem && mSolarSystem->superview() == view().get()) {
    if (asLink || (idea->parent() && idea->parent() == mRealIdea && indexByIdentity(mRealIdea, idea) >= 0))
      return startDrillWhenDrawn(next, [this, idea, next] { startAnimatedDrillDownToIdea(idea, next); });
    if (mOwnIdea && mOwnIdea->parent() == idea)
      return startDrillWhenDrawn(next, [this, next] { startAnimatedDrillUpWithSolarSystem(next); });
  }
  switchDirectlyToIdea(idea, next);
}

void SolarSystemViewController::startDrillWhenDrawn(const std::shared_ptr<SolarSystem>& next,
                                                    std::function<void()> start) {
  next->drawPlanetPictures();
  mDrillingUpOrDown = true;
  setUserInteractionEnabled(false);
  mPreparedDrillView = next;
  std::weak_ptr<SolarSystemViewController> weak = self();
  std::weak_ptr<SolarSystem> shown = mSolarSystem;
  // Still the drill to start, and the view it leaves still shown; otherwise it is dropped.
  auto prepared = [weak, shown, next]() -> std::shared_ptr<SolarSystemViewController> {
    auto me = weak.lock();
    if (!me || me->mPreparedDrillView != next) return nullptr;
    const auto old = shown.lock();
    if (old && old == me->mSolarSystem && me->isViewLoaded() && old->superview() == me->view().get()) return me;
    me->mPreparedDrillView.reset();
    me->mDrillingUpOrDown = false;
    me->applyPendingOutsideChange();
    return nullptr;
  };
  // One turn for the sun, the parent and the adders, another for the start: no turn holds the
  // main thread for all of it.
  platform::mainQueue().async([prepared, next, start = std::move(start)]() mutable {
    auto me = prepared();
    if (!me) return;
    const platform::Window* window = me->myWindow();
    next->drawViewsBeforeShowing(window ? window->backingScaleFactor() : 1.0);
    platform::mainQueue().async([prepared, next, start = std::move(start)] {
      auto me = prepared();
      if (!me) return;
      me->mPreparedDrillView.reset();
      start();
    });
  });
}

void SolarSystemViewController::startAnimatedDrillDownToIdea(const IdeaPtr& idea,
                                                             const std::shared_ptr<SolarSystem>& next) {
  auto old = mSolarSystem;
  std::int64_t index = indexByIdentity(mRealIdea, idea);
  if (index < 0) return switchDirectlyToIdea(idea, next);
  mDrillingUpOrDown = true;
  view()->insertSubviewBelow(next, old.get());
  setUserInteractionEnabled(false);
  std::weak_ptr<SolarSystemViewController> weak = self();
  old->animateDrillDownInto(index, next, [weak, old, next, idea] {
    auto me = weak.lock();
    if (!me) return;
    me->mDrillingUpOrDown = false;
    old->removeFromSuperview();
    me->adoptRadialView(next, idea);
    me->applyLayout();
    me->applyPendingOutsideChange();
  });
}

void SolarSystemViewController::startAnimatedDrillUpWithSolarSystem(const std::shared_ptr<SolarSystem>& next) {
  auto old = mSolarSystem;
  const IdeaPtr formerOwn = mOwnIdea;
  const IdeaPtr parent = formerOwn->parent();
  const std::int64_t index = indexByIdentity(parent, formerOwn);
  insertBelowOverlays(next);
  viewext::removeAnimationsAlsoFromSubviews(*next);
  mDrillingUpOrDown = true;
  setUserInteractionEnabled(false);
  std::weak_ptr<SolarSystemViewController> weak = self();
  next->animateDrillUpFrom(index, old, [weak, old, next, parent] {
    auto me = weak.lock();
    if (!me) return;
    me->mDrillingUpOrDown = false;
    old->removeFromSuperview();
    me->adoptRadialView(next, parent);
    me->applyLayout();
    me->applyPendingOutsideChange();
  });
}

void SolarSystemViewController::switchDirectlyToIdea(const IdeaPtr& idea, const std::shared_ptr<SolarSystem>& next) {
  if (std::exchange(mPreparedDrillView, nullptr)) mDrillingUpOrDown = false;
  setUserInteractionEnabled(false);
  if (mSolarSystem) mSolarSystem->removeFromSuperview();
  insertBelowOverlays(next);
  adoptRadialView(next, idea);
}

void SolarSystemViewController::adoptRadialView(const std::shared_ptr<SolarSystem>& radialView, const IdeaPtr& idea) {
  mSolarSystem = radialView;
  if (platform::Window* window = myWindow()) window->makeFirstResponder(radialView.get());
  setOwnIdea(idea);
  // The planet of the idea parked in the window's dock shows as a shadow.
  const DragSupportWindow* window = dragWindow();
  const IdeaPtr docked = window ? window->currentDockedIdea() : nullptr;
  updateShadowStatusForIdea(docked ? docked->identifier() : QString(),
                            window ? window->currentDockedDocIdentifier() : QString());
  setUserInteractionEnabled(true);
}

void SolarSystemViewController::insertBelowOverlays(const std::shared_ptr<SolarSystem>& radialView) {
  if (mDockAreaView && mDockAreaView->superview() == view().get())
    view()->insertSubviewBelow(radialView, mDockAreaView.get());
  else if (mDeleteAreaView && mDeleteAreaView->superview() == view().get())
    view()->insertSubviewBelow(radialView, mDeleteAreaView.get());
  else
    view()->addSubview(radialView);
}

IdeaPtr SolarSystemViewController::ideaForIdea(const QString& ideaIdentifier) const {
  if (mRealIdea && mRealIdea->identifier() == ideaIdentifier) return mRealIdea;
  return childIdeaWithIdentifier(ideaIdentifier);
}

void SolarSystemViewController::updateShadowStatusForIdea(const QString& ideaIdentifier,
                                                          const QString& /*docIdentifier*/) {
  if (!mSolarSystem) return;
  if (ideaIdentifier.isEmpty()) return mSolarSystem->removeAllShadows();
  const std::int64_t index = indexOfIdeaWithIdentifier(ideaIdentifier);
  mSolarSystem->setShadowForIdeaAtIndex(index == kNotFound ? SolarSystem::kNoShadow : index);
}

void SolarSystemViewController::onDrillDownTo(const QString& ideaIdentifier) {
  if (!mSolarSystem || !mSolarSystem->userInteractionEnabled()) return;
  if (mRealIdea && mRealIdea->identifier() == ideaIdentifier) return;
  if (IdeaPtr idea = ideaForIdea(ideaIdentifier)) switchToIdea(idea, /*animated=*/true);
}

void SolarSystemViewController::onDrillUp() {
  if (!mSolarSystem || !mSolarSystem->userInteractionEnabled() || !mOwnIdea) return;
  if (IdeaPtr parent = mOwnIdea->parent()) switchToIdea(parent, /*animated=*/true);
}

}  // namespace orrery
