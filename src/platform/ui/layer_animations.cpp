// A layer's actions and animations: the action a change of a key starts, the animations added
// and removed by key, and the presentation values they give while they run.
#include <memory>
#include <utility>
#include <variant>

#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/ui/animation.h"
#include "platform/ui/animation_engine.h"
#include "platform/ui/layer.h"
#include "platform/ui/transaction.h"

namespace platform {

// Actions and animations.

LayerAction Layer::actionForKey(const QString& key) {
  if (Transaction::disableActions()) return LayerAction::none();
  if (LayerDelegate* d = mDelegate.get()) {
    LayerAction a = d->actionForLayer(*this, key);
    if (a.kind != LayerAction::Kind::Continue) return a;
  }
  return defaultActionForKey(key);
}

LayerAction Layer::defaultActionForKey(const QString& key) {
  LayerProperty property;
  if (!layerPropertyForKeyPath(key, &property)) return LayerAction::none();
  auto animation = BasicAnimation::withKeyPath(key);
  animation->setDuration(Transaction::animationDuration());
  animation->setTimingFunction(
      Transaction::animationTimingFunction().value_or(TimingFunction(TimingFunction::Name::EaseInEaseOut)));
  return LayerAction::animate(animation);
}

AnimValue Layer::modelValue(LayerProperty property) const {
  switch (property) {
    case LayerProperty::Position: return mModel.position;
    case LayerProperty::Bounds: return mModel.bounds;
    case LayerProperty::Transform: return mModel.transform.value();
    case LayerProperty::Opacity: return mModel.opacity;
    case LayerProperty::BackgroundColor: return mModel.backgroundColor;
    case LayerProperty::CornerRadius: return mModel.cornerRadius;
    case LayerProperty::ZPosition: return mModel.zPosition;
    case LayerProperty::BorderWidth: return mModel.borderWidth;
    case LayerProperty::BorderColor: return mModel.borderColor;
    case LayerProperty::ShadowOpacity: return mModel.shadowOpacity;
    case LayerProperty::SublayerTransform: return mModel.sublayerTransform.value();
    case LayerProperty::Count: break;
  }
  return {};
}

void Layer::applyValue(State& s, LayerProperty property, const AnimValue& v) {
  switch (property) {
    case LayerProperty::Position:
      if (auto* p = std::get_if<QPointF>(&v)) s.position = *p;
      break;
    case LayerProperty::Bounds:
      if (auto* r = std::get_if<QRectF>(&v)) s.bounds = *r;
      break;
    case LayerProperty::Transform:
      if (auto* t = std::get_if<QTransform>(&v)) s.transform = *t;
      break;
    case LayerProperty::SublayerTransform:
      if (auto* t = std::get_if<QTransform>(&v)) s.sublayerTransform = *t;
      break;
    case LayerProperty::Opacity:
      if (auto* d = std::get_if<double>(&v)) s.opacity = *d;
      break;
    case LayerProperty::CornerRadius:
      if (auto* d = std::get_if<double>(&v)) s.cornerRadius = *d;
      break;
    case LayerProperty::ZPosition:
      if (auto* d = std::get_if<double>(&v)) s.zPosition = *d;
      break;
    case LayerProperty::BorderWidth:
      if (auto* d = std::get_if<double>(&v)) s.borderWidth = *d;
      break;
    case LayerProperty::ShadowOpacity:
      if (auto* d = std::get_if<double>(&v)) s.shadowOpacity = *d;
      break;
    case LayerProperty::BackgroundColor:
      if (auto* c = std::get_if<QColor>(&v)) s.backgroundColor = *c;
      break;
    case LayerProperty::BorderColor:
      if (auto* c = std::get_if<QColor>(&v)) s.borderColor = *c;
      break;
    case LayerProperty::Count: break;
  }
}

void Layer::changeProperty(LayerProperty property, AnimValue value) {
  const AnimValue old = modelValue(property);
  if (sameValue(old, value)) return;
  const bool committed = isCommitted();
  const AnimValue onScreen = committed ? presentationValue(property, mediaTime()) : AnimValue{};
  applyValue(mModel, property, value);
  if (committed) {
    LayerAction action = actionForKey(keyPathForLayerProperty(property));
    if (action.kind == LayerAction::Kind::Animate && action.animation) {
      auto animation = action.animation->clone();
      animation->resolve(onScreen);
      addAnimation(animation, keyPathForLayerProperty(property));
    }
  }
  setNeedsComposite();
}

void Layer::addAnimation(const std::shared_ptr<Animation>& source, const QString& key) {
  if (!source) return;
  LayerProperty property;
  if (!layerPropertyForKeyPath(source->keyPath(), &property)) return;
  auto animation = source->clone();
  const double now = mediaTime();
  if (animation->duration() <= 0) animation->setDuration(Transaction::animationDuration());
  if (!animation->timingFunction())
    animation->setTimingFunction(
        Transaction::animationTimingFunction().value_or(TimingFunction(TimingFunction::Name::Linear)));
  if (animation->beginTime() <= 0) animation->setBeginTime(now);
  animation->resolve(presentationValue(property, now));
  if (!key.isEmpty()) removeAnimation(key);
  Running running{key, animation, property, Transaction::currentGroups(), false};
  for (auto& g : running.groups) g->animationBegan();
  mAnimations.push_back(std::move(running));
  AnimationEngine::layerStartedAnimating(this);
  setNeedsComposite();
}

void Layer::stopAnimation(Running& running, bool finished) {
  // Innermost transaction first, so nested completion blocks run inside out.
  for (auto it = running.groups.rbegin(); it != running.groups.rend(); ++it) (*it)->animationEnded();
  running.groups.clear();
  if (const auto& didStop = running.animation->didStop()) mainQueue().async([didStop, finished] { didStop(finished); });
}

void Layer::removeAnimation(const QString& key) {
  for (auto it = mAnimations.begin(); it != mAnimations.end();) {
    if (it->key == key) {
      Running r = std::move(*it);
      it = mAnimations.erase(it);
      if (!r.done) stopAnimation(r, false);
    } else {
      ++it;
    }
  }
  if (mAnimations.empty()) AnimationEngine::forgetLayer(this);
  setNeedsComposite();
}

void Layer::removeAllAnimations() {
  auto all = std::move(mAnimations);
  mAnimations.clear();
  for (auto& r : all)
    if (!r.done) stopAnimation(r, false);
  AnimationEngine::forgetLayer(this);
  setNeedsComposite();
}

std::shared_ptr<const Animation> Layer::animationForKey(const QString& key) const {
  for (const auto& r : mAnimations)
    if (r.key == key) return r.animation;
  return nullptr;
}

QStringList Layer::animationKeys() const {
  QStringList keys;
  for (const auto& r : mAnimations)
    if (!r.key.isEmpty()) keys << r.key;
  return keys;
}

bool Layer::advanceAnimations(double time) {
  bool running = false;
  for (auto it = mAnimations.begin(); it != mAnimations.end();) {
    if (it->done) {
      ++it;
      continue;
    }
    const Animation& a = *it->animation;
    if (time < a.beginTime() + a.duration()) {
      running = true;
      ++it;
      continue;
    }
    it->done = true;
    if (a.isRemovedOnCompletion()) {
      Running r = std::move(*it);
      it = mAnimations.erase(it);
      stopAnimation(r, true);
    } else {
      stopAnimation(*it, true);
      ++it;
    }
  }
  return running;
}

AnimValue Layer::presentationValue(LayerProperty property, double time) const {
  AnimValue value = modelValue(property);
  for (const auto& r : mAnimations) {
    if (r.property != property) continue;
    const Animation& a = *r.animation;
    if (time < a.beginTime()) continue;
    const bool ended = time >= a.beginTime() + a.duration();
    if (ended && a.fillMode() != Animation::FillMode::Forwards && a.isRemovedOnCompletion() == false) continue;
    const double linear = ended || a.duration() <= 0 ? 1.0 : (time - a.beginTime()) / a.duration();
    const double paced = a.timingFunction() ? a.timingFunction()->valueAt(linear) : linear;
    value = a.valueAt(paced, modelValue(property));
  }
  return value;
}

Layer::State Layer::presentation() const { return presentationAt(mediaTime()); }

Layer::State Layer::presentationAt(double time) const {
  State s = mModel;
  for (const auto& r : mAnimations) applyValue(s, r.property, presentationValue(r.property, time));
  return s;
}

QTransform Layer::transformToAncestor(const Layer* ancestor, bool usePresentation) const {
  QTransform m;
  for (const Layer* l = this; l && l != ancestor; l = l->mSuperlayer) {
    const State s = usePresentation ? l->presentation() : l->mModel;
    m *= s.toSuperlayer();
    if (l->mSuperlayer && !l->mSuperlayer->mModel.sublayerTransform.isIdentity()) {
      const State ps = usePresentation ? l->mSuperlayer->presentation() : l->mSuperlayer->mModel;
      m *= ps.sublayerTransform;
    }
  }
  return m;
}

QPointF Layer::convertPointToLayer(const QPointF& point, const Layer* target) const {
  const QTransform up = transformToAncestor(nullptr);
  const QTransform targetUp = target ? target->transformToAncestor(nullptr) : QTransform();
  return targetUp.inverted().map(up.map(point));
}

Layer* Layer::hitTest(const QPointF& pointInSuperlayer) {
  if (mModel.hidden) return nullptr;
  bool ok = false;
  const QTransform inverse = mModel.toSuperlayer().inverted(&ok);
  if (!ok) return nullptr;
  const QPointF local = inverse.map(pointInSuperlayer);
  const QPointF forSubs = mModel.sublayerTransform.value().inverted().map(local);
  for (auto it = mSublayers.rbegin(); it != mSublayers.rend(); ++it)
    if (Layer* hit = (*it)->hitTest(forSubs)) return hit;
  return mModel.bounds.contains(local) ? this : nullptr;
}

}  // namespace platform
