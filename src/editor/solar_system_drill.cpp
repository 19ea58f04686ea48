// The drill animations: the tapped planet moves into the middle and grows into a sun while
// the old sun slides into the corner and the ring widens and fades; the new view unfolds
// from half size. Drilling up plays the same picture backwards. One Animator at 60 frames
// per second drives both views; while it runs their layout leaves radius, scale, rounding
// and drawing order alone.

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include "editor/disc_pictures.h"
#include "editor/idea_view.h"
#include "editor/solar_system.h"
#include "foundation/animator.h"
#include "foundation/geometry.h"
#include "foundation/logging.h"
#include "foundation/views/view_extensions.h"
#include "platform/ui/compositor.h"

namespace orrery {
namespace {

constexpr float kRingFadeEnd = 0.8f;
constexpr float kCollapsedScale = 0.5f;
constexpr float kHiddenFrom = 0.01f;
constexpr float kFrameRate = 60;

float clamp01(float t) { return std::clamp(std::isfinite(t) ? t : 1.0f, 0.0f, 1.0f); }

// The ring offset within half a turn of `from` (the short way round) that puts planet `index`
// at angle `target`. As the offset goes once round, the planet goes once round the ring the
// same way, spread or squeezed but never back, so halving the turn finds it on a ring of any
// size.
double offsetPointing(const SolarSystem& view, std::int64_t index, double target, double from) {
  const std::int64_t count = view.ideaViewCount();
  auto angle = [&](double offset) { return view.angleForElementAtIndex(index, count, offset); };
  double low = from - std::numbers::pi;
  double high = from + std::numbers::pi;
  const double start = angle(low);
  const double wanted = SolarSystem::normalizedAngle(target - start);
  for (;;) {
    const double middle = 0.5 * (low + high);
    if (middle <= low || middle >= high) return middle;
    (SolarSystem::normalizedAngle(angle(middle) - start) < wanted ? low : high) = middle;
  }
}

}  // namespace

void SolarSystem::setAnimating(bool animating) {
  mAnimating = animating;
  layoutInputsChanged();
  // A drill changes the ring's radius every frame: stroked then, not redrawn as a picture.
  if (mOrbitLayer) mOrbitLayer->setStrokedEachComposition(animating);
}

void SolarSystem::drawPlanetPictures() {
  std::vector<PlanetLayer*> planets;
  planets.reserve(mIdeaViews.size());
  for (const auto& planet : mIdeaViews) planets.push_back(planet.get());
  discpictures::drawConcurrently(planets);
}

void SolarSystem::drawViewsBeforeShowing(double contentsScale) {
  // A view's layer takes its window's scale when it goes in: given now, the pictures stay.
  std::function<void(platform::View&)> scaleVisible = [&](platform::View& view) {
    if (view.isHidden()) return;
    view.layer()->setContentsScale(contentsScale);
    for (const auto& sub : view.subviews()) scaleVisible(*sub);
  };
  for (const auto& sub : subviews()) {
    if (sub->isHidden()) continue;
    scaleVisible(*sub);
    platform::compositor::displayTree(*sub->layer());
  }
}

SolarSystem::FrameFunction SolarSystem::prepareDrillDownAnimation(std::int64_t index, bool simulated) {
  std::shared_ptr<PlanetLayer> planet;
  if (ORRERY_SOFT_ASSERT(ideaViewAtIndex(index), "-[SolarSystem prepareDrillDownAnimation:simulated:]"))
    planet = mIdeaViews[static_cast<std::size_t>(index)];
  const float k = IdeaView::radiusForRole(1) / IdeaView::radiusForRole(0);
  const QPointF M = viewext::centerPoint(*this);
  const QPointF S = sunCenter();
  const QPointF T = QPointF(0, 0) - S;
  const float R0 = mRadius;
  const float D = Geometry::distanceFrom(QPointF(0, 0), M);
  const double a0 = mCurrentAngle;
  // With the sun in the corner and the ring at radius D, a planet pointing from the corner to
  // M arrives at M. The end offset is found in that end picture's layout: at radius D a ring
  // compressed now may spread out, or fit more planets, and on a compressed ring a turn of the
  // offset moves the planets count / fit times as far as itself.
  double a1 = a0;
  if (planet) {
    mRadius = D;
    a1 = offsetPointing(*this, index, std::atan2(M.y(), M.x()), a0);
    mRadius = R0;
  }
  std::shared_ptr<LineLayer> newLine;
  if (!simulated) {
    newLine = LineLayer::create(QPointF(0, 0), M, mShowingLink);
    newLine->setDelegate(this);
    newLine->transformToLine(S, planet ? planet->position() : M);
    layer()->insertSublayerBelow(newLine, mOrbitLayer.get());
  }
  platform::WeakRef<SolarSystem> self(this);
  return [self, planet, k, S, T, R0, D, a0, a1, newLine](float progress) {
    SolarSystem* view = self.get();
    if (!view) return;
    const float t = clamp01(progress);
    const float f = std::min(t / kRingFadeEnd, 1.0f);
    view->mRadius = Geometry::interpolateLinearlyFrom(R0, D, t);
    if (view->mParentView) view->mParentView->setFrameOrigin(Geometry::interpolatePointFrom(QPointF(0, 0), T, t));
    if (view->mCentralView)
      viewext::setCenter(*view->mCentralView, Geometry::interpolatePointFrom(S, QPointF(0, 0), t));
    if (planet) layerext::transformToScale(*planet, Geometry::interpolateLinearlyFrom(1.0f, k, t));
    view->mOrbitLayer->setOpacity(Geometry::interpolateLinearlyFrom(1.0f, 0.0f, f));
    layerext::setCenter(*view->mOrbitLayer, view->sunCenter());
    view->mOrbitLayer->setRadius(view->mRadius);
    view->mCurrentAngle = Geometry::interpolateLinearlyFromDouble(a0, a1, t);
    if (view->mLineLayer && view->mParentView)
      view->mLineLayer->transformToLine(viewext::center(*view->mParentView), view->sunCenter());
    view->updateView();
    if (newLine) {
      newLine->transformToLine(view->sunCenter(), planet ? planet->position() : view->sunCenter());
      newLine->setOpacity(Geometry::interpolateLinearlyFrom(0.0f, 1.0f, f));
    }
  };
}

SolarSystem::FrameFunction SolarSystem::prepareCollapseAnimation() {
  const float R0 = mRadius;
  platform::WeakRef<SolarSystem> self(this);
  return [self, R0](float progress) {
    SolarSystem* view = self.get();
    if (!view) return;
    const float u = clamp01(progress);
    const float s = Geometry::interpolateLinearlyFrom(1.0f, kCollapsedScale, u);
    const bool hidden = u >= kHiddenFrom;
    if (view->mCentralView) view->mCentralView->setHidden(hidden);
    if (view->mParentView) view->mParentView->setHidden(hidden);
    if (view->mLineLayer) view->mLineLayer->setHidden(hidden);
    view->mRadius = R0 * s;
    view->mOrbitLayer->setRadius(view->mRadius);
    for (auto& planet : view->mIdeaViews) layerext::transformToScale(*planet, s);
    view->mAdderScale = s;
    for (auto& adder : view->mIdeaAdderViews)
      if (adder) viewext::setScale(*adder, s);
    view->updateView();
  };
}

void SolarSystem::animateDrillDownInto(std::int64_t index, const std::shared_ptr<SolarSystem>& newSolarSystem,
                                       std::function<void()> completion) {
  if (!newSolarSystem) return;
  // A coast still running would overwrite the ring offset and clear the flag mid-drill.
  stopAnimations();
  newSolarSystem->stopAnimations();
  newSolarSystem->applyLayout();
  setAnimating(true);
  newSolarSystem->setAnimating(true);
  FrameFunction down = prepareDrillDownAnimation(index, /*simulated=*/false);
  FrameFunction collapse = newSolarSystem->prepareCollapseAnimation();
  collapse(1.0f);
  newSolarSystem->drawPlanetPictures();
  platform::WeakRef<SolarSystem> oldView(this);
  std::shared_ptr<SolarSystem> newView = newSolarSystem;
  Animator::create(kDrillSeconds, kFrameRate)->play([=](Animator& animator) {
    const float p = animator.progress();
    down(p);
    collapse(1 - p);
    if (p < 1.0f) return;
    if (SolarSystem* o = oldView.get()) {
      o->setAnimating(false);
      o->applyLayout();
    }
    newView->setAnimating(false);
    newView->updateView();
    if (completion) completion();
  });
}

void SolarSystem::animateDrillUpFrom(std::int64_t index, const std::shared_ptr<SolarSystem>& oldSolarSystem,
                                     std::function<void()> completion) {
  if (!oldSolarSystem) return;
  stopAnimations();
  oldSolarSystem->stopAnimations();
  FrameFunction down = prepareDrillDownAnimation(index, /*simulated=*/true);
  FrameFunction collapse = oldSolarSystem->prepareCollapseAnimation();
  setAnimating(true);
  oldSolarSystem->setAnimating(true);
  down(1.0f);
  drawPlanetPictures();
  platform::WeakRef<SolarSystem> newView(this);
  std::shared_ptr<SolarSystem> oldView = oldSolarSystem;
  Animator::create(kDrillSeconds, kFrameRate)->play([=](Animator& animator) {
    const float p = animator.progress();
    down(1 - p);
    collapse(p);
    if (p < 1.0f) return;
    oldView->setAnimating(false);
    if (SolarSystem* n = newView.get()) {
      n->setAnimating(false);
      n->mOrbitLayer->setNeedsDisplay();
      n->applyLayout();
    }
    if (completion) completion();
  });
}

}  // namespace orrery
