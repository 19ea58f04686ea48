#include "editor/idea_view.h"

#include "editor/planet_drawer.h"
#include "foundation/geometry.h"
#include "foundation/views/view_extensions.h"
#include "platform/core/dispatch.h"
#include "platform/ui/transaction.h"

#include <cmath>

namespace orrery {

namespace {

constexpr double kPressedScale = 0.95;
constexpr double kPressDuration = 0.2;
constexpr double kReleaseDuration = 2.0;
constexpr platform::Millis kSecondReleaseDelay{300};
constexpr double kSecondReleaseDuration = 1.2;

void setIdentityTransform(platform::View& view, double duration) {
  platform::Transaction::begin();
  platform::Transaction::setAnimationDuration(duration);
  view.layer()->setTransform(QTransform());
  platform::Transaction::commit();
}

}  // namespace

IdeaView::IdeaView(IdeaViewRole role, std::shared_ptr<platform::Layer> layer)
    : BaseView(std::move(layer)), mRole(role), mRadius(std::trunc(radiusForRole(role))) {
  const double side = sideLengthForRole(role);
  setFrame(QRectF(0, 0, side, side));
}

float IdeaView::radiusForRole(IdeaViewRole role) {
  switch (role) {
    case 1: return PlanetDrawer::radiusForPlanetType(1);
    case 2: return 93;
    default: return PlanetDrawer::radiusForPlanetType(0);
  }
}

float IdeaView::sideLengthForRole(IdeaViewRole role) { return 2.5f * radiusForRole(role); }

platform::View* IdeaView::hitTest(const QPointF& pointInSuperview) {
  if (isHidden()) return nullptr;
  return Geometry::distanceFrom(viewext::center(*this), pointInSuperview) < mRadius ? this : nullptr;
}

void IdeaView::setScale(double scale) { viewext::setScale(*this, scale); }

void IdeaView::startTapAnimation() {
  platform::Transaction::begin();
  platform::Transaction::setAnimationTimingFunction(
      platform::TimingFunction(platform::TimingFunction::Name::EaseInEaseOut));
  platform::Transaction::setAnimationDuration(kPressDuration);
  setScale(kPressedScale);
  platform::Transaction::commit();
}

void IdeaView::stopTapAnimation() {
  setIdentityTransform(*this, kReleaseDuration);
  // The second step may come after the view has left its owner: it holds the view weakly.
  std::weak_ptr<platform::View> weak = weak_from_this();
  platform::mainQueue().after(kSecondReleaseDelay, [weak] {
    if (auto view = weak.lock()) setIdentityTransform(*view, kSecondReleaseDuration);
  });
}

}  // namespace orrery
