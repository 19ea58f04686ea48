#include "foundation/views/animation_group.h"

#include "platform/ui/animation.h"
#include "platform/ui/transaction.h"
#include "platform/ui/view.h"

namespace orrery {

namespace {

void animateFrom(platform::Layer& layer, const char* keyPath, platform::AnimValue from) {
  auto animation = platform::BasicAnimation::withKeyPath(QString::fromLatin1(keyPath));
  animation->setFromValue(std::move(from));
  layer.addAnimation(animation, QString::fromLatin1(keyPath));
}

}  // namespace

void AnimationGroup::run(double duration, platform::TimingFunction timing,
                         const std::function<void(AnimationGroup&)>& changes, std::function<void()> completion) {
  platform::Transaction::begin();
  platform::Transaction::setAnimationDuration(duration);
  platform::Transaction::setAnimationTimingFunction(timing);
  platform::Transaction::setCompletionBlock(std::move(completion));
  AnimationGroup group;
  if (changes) changes(group);
  platform::Transaction::commit();
}

void AnimationGroup::setAlphaValue(platform::View& view, double alpha) {
  platform::Layer& layer = *view.layer();
  const double from = layer.presentation().opacity;
  platform::withoutActions([&] { view.setAlphaValue(alpha); });
  if (from != layer.opacity()) animateFrom(layer, "opacity", from);
}

void AnimationGroup::setFrame(platform::View& view, const QRectF& frame) {
  platform::Layer& layer = *view.layer();
  const platform::Layer::State before = layer.presentation();
  platform::withoutActions([&] { view.setFrame(frame); });
  if (before.position != layer.position()) animateFrom(layer, "position", before.position);
  if (before.bounds != layer.bounds()) animateFrom(layer, "bounds", before.bounds);
}

}  // namespace orrery
