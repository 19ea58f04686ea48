#include "platform/ui/layer.h"

#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/ui/animation.h"
#include "platform/ui/animation_engine.h"
#include "platform/ui/transaction.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

bool isFullyTransparent(const QImage& image) {
  const int width = image.width();
  const int height = image.height();
  for (int y = 0; y < height; ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < width; ++x)
      if (qAlpha(row[x]) != 0) return false;
  }
  return true;
}

}  // namespace

QRectF Layer::State::frame() const {
  return toSuperlayer().mapRect(bounds);
}

QTransform Layer::State::toSuperlayer() const {
  const QPointF anchor(bounds.x() + anchorPoint.x() * bounds.width(),
                       bounds.y() + anchorPoint.y() * bounds.height());
  QTransform m = QTransform::fromTranslate(-anchor.x(), -anchor.y());
  if (!transform.isIdentity()) m *= transform;
  m *= QTransform::fromTranslate(position.x(), position.y());
  return m;
}

Layer::Layer() { Transaction::registerNewLayer(this); }

Layer::~Layer() {
  Transaction::forgetLayer(this);
  AnimationEngine::forgetLayer(this);
  for (auto& sub : mSublayers) sub->mSuperlayer = nullptr;
}

// Geometry and appearance setters: each change goes through the action machinery.

void Layer::setBounds(const QRectF& bounds) {
  const bool resized = bounds.size() != mModel.bounds.size();
  changeProperty(LayerProperty::Bounds, bounds);
  if (resized && mNeedsDisplayOnBoundsChange) setNeedsDisplay();
}

void Layer::setPosition(const QPointF& position) { changeProperty(LayerProperty::Position, position); }

void Layer::setAnchorPoint(const QPointF& anchor) {
  mModel.anchorPoint = anchor;
  setNeedsComposite();
}

void Layer::setFrame(const QRectF& frame) {
  const QRectF b(mModel.bounds.topLeft(), frame.size());
  setPosition(QPointF(frame.x() + mModel.anchorPoint.x() * frame.width(),
                      frame.y() + mModel.anchorPoint.y() * frame.height()));
  setBounds(b);
}

void Layer::setTransform(const QTransform& t) { changeProperty(LayerProperty::Transform, t); }
void Layer::setSublayerTransform(const QTransform& t) {
  changeProperty(LayerProperty::SublayerTransform, t);
}
void Layer::setZPosition(double z) { changeProperty(LayerProperty::ZPosition, z); }
void Layer::setOpacity(double opacity) { changeProperty(LayerProperty::Opacity, opacity); }

void Layer::setHidden(bool hidden) {
  if (mModel.hidden == hidden) return;
  mModel.hidden = hidden;
  setNeedsComposite();
}

void Layer::setBackgroundColor(const QColor& c) { changeProperty(LayerProperty::BackgroundColor, c); }
void Layer::setCornerRadius(double r) { changeProperty(LayerProperty::CornerRadius, r); }
void Layer::setBorderWidth(double w) { changeProperty(LayerProperty::BorderWidth, w); }
void Layer::setBorderColor(const QColor& c) { changeProperty(LayerProperty::BorderColor, c); }
void Layer::setShadowOpacity(double o) { changeProperty(LayerProperty::ShadowOpacity, o); }

void Layer::setShadowColor(const QColor& color) {
  mShadowColor = color;
  setNeedsComposite();
}
void Layer::setShadowRadius(double radius) {
  mShadowRadius = radius;
  setNeedsComposite();
}
void Layer::setShadowOffset(const QPointF& offset) {
  mShadowOffset = offset;
  setNeedsComposite();
}
void Layer::setShadowPath(std::optional<QPainterPath> path) {
  mShadowPath = std::move(path);
  setNeedsComposite();
}
void Layer::setMasksToBounds(bool masks) {
  mMasksToBounds = masks;
  setNeedsComposite();
}
void Layer::setMaskPath(std::optional<QPainterPath> path) {
  mMaskPath = std::move(path);
  setNeedsComposite();
}

void Layer::setContents(const QImage& image) {
  mContents = image;
  setNeedsComposite();
}

void Layer::setContentsScale(double scale) {
  if (scale <= 0 || scale == mContentsScale) return;
  mContentsScale = scale;
  if (drawsContent()) setNeedsDisplay();
}

void Layer::setContentsGravity(ContentsGravity gravity) {
  mGravity = gravity;
  setNeedsComposite();
}

// Drawing.

void Layer::setNeedsDisplay() {
  mNeedsDisplay = true;
  setNeedsComposite();
}

void Layer::displayIfNeeded() {
  if (mNeedsDisplay) display();
}

bool Layer::drawsContent() const {
  const LayerDelegate* d = mDelegate.get();
  return d && d->drawsLayer(*this);
}

QImage Layer::makeBackingImage() const {
  const QRectF area = drawnArea(mModel.bounds);
  // A whole number of pixels that rounding left a hair over stays that number.
  const QSize pixels(static_cast<int>(std::ceil(area.width() * mContentsScale - 1e-6)),
                     static_cast<int>(std::ceil(area.height() * mContentsScale - 1e-6)));
  // Never gigabytes: past the limit a layer draws tiles instead.
  if (pixels.isEmpty() || pixels.width() > kMaxBackingSide || pixels.height() > kMaxBackingSide) return {};
  QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(mContentsScale);
  image.fill(Qt::transparent);
  return image;
}

void Layer::display() {
  mNeedsDisplay = false;
  mTiles.clear();
  mTileDrawCount = 0;
  if (!drawsContent()) {
    mTiled = false;
    return;
  }
  // Compared in floating point: a text container "of unlimited height" overflows an int.
  const double side = std::max(mModel.bounds.width(), mModel.bounds.height()) * mContentsScale;
  mTiled = side > kMaxBackingSide;
  if (mTiled) {
    ++mDisplayCount;
    mContents = QImage();
    setNeedsComposite();
    return;
  }
  QImage image = makeBackingImage();
  if (!image.isNull()) {
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                           QPainter::TextAntialiasing);
    painter.translate(-drawnArea(mModel.bounds).topLeft());
    drawInContext(painter);
  }
  // The compositor reads the scale from contentsScale; a ratio of 1 lets it blit the image.
  if (!image.isNull()) image.setDevicePixelRatio(1.0);
  if (LayerDelegate* d = mDelegate.get(); d && !image.isNull() && d->drawingMayBeBlank(*this)) {
    const bool blank = isFullyTransparent(image);
    d->drawingWasBlank(*this, blank);
    if (blank) image = QImage();
  }
  ++mDisplayCount;
  mContents = std::move(image);
  setNeedsComposite();
}

void Layer::drawInContext(QPainter& painter) {
  if (LayerDelegate* d = mDelegate.get()) d->drawLayer(*this, painter);
}

// Tree.

void Layer::adopt(const std::shared_ptr<Layer>& layer) {
  if (!layer || layer.get() == this) return;
  auto keep = layer;
  layer->removeFromSuperlayer();
  layer->mSuperlayer = this;
}

void Layer::addSublayer(std::shared_ptr<Layer> layer) {
  insertSublayer(std::move(layer), mSublayers.size());
}

void Layer::insertSublayer(std::shared_ptr<Layer> layer, size_t index) {
  if (!layer || layer.get() == this) return;
  adopt(layer);
  index = std::min(index, mSublayers.size());
  mSublayers.insert(mSublayers.begin() + static_cast<std::ptrdiff_t>(index), std::move(layer));
  setNeedsComposite();
}

void Layer::insertSublayerBelow(std::shared_ptr<Layer> layer, const Layer* sibling) {
  if (!layer) return;
  adopt(layer);  // first, so that the sibling's index is read after the removal
  auto it = std::find_if(mSublayers.begin(), mSublayers.end(),
                         [&](const auto& l) { return l.get() == sibling; });
  mSublayers.insert(it == mSublayers.end() ? mSublayers.begin() : it, std::move(layer));
  setNeedsComposite();
}

void Layer::insertSublayerAbove(std::shared_ptr<Layer> layer, const Layer* sibling) {
  if (!layer) return;
  adopt(layer);
  auto it = std::find_if(mSublayers.begin(), mSublayers.end(),
                         [&](const auto& l) { return l.get() == sibling; });
  mSublayers.insert(it == mSublayers.end() ? mSublayers.end() : it + 1, std::move(layer));
  setNeedsComposite();
}

void Layer::removeFromSuperlayer() {
  Layer* parent = mSuperlayer;
  if (!parent) return;
  parent->setNeedsComposite();
  auto keep = shared_from_this();
  auto& subs = parent->mSublayers;
  subs.erase(std::remove_if(subs.begin(), subs.end(), [&](const auto& l) { return l.get() == this; }),
             subs.end());
  mSuperlayer = nullptr;
}

bool Layer::isDescendantOf(const Layer* ancestor) const {
  for (const Layer* l = this; l; l = l->mSuperlayer)
    if (l == ancestor) return true;
  return false;
}

Layer* Layer::rootLayer() {
  Layer* l = this;
  while (l->mSuperlayer) l = l->mSuperlayer;
  return l;
}

LayerHost* Layer::host() const {
  const Layer* l = this;
  while (l->mSuperlayer) l = l->mSuperlayer;
  return l->mHost;
}

void Layer::setNeedsComposite() {
  if (LayerHost* h = host()) h->layerTreeNeedsDisplay();
}

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
  animation->setTimingFunction(Transaction::animationTimingFunction().value_or(
      TimingFunction(TimingFunction::Name::EaseInEaseOut)));
  return LayerAction::animate(animation);
}

AnimValue Layer::modelValue(LayerProperty property) const {
  switch (property) {
    case LayerProperty::Position: return mModel.position;
    case LayerProperty::Bounds: return mModel.bounds;
    case LayerProperty::Transform: return mModel.transform;
    case LayerProperty::Opacity: return mModel.opacity;
    case LayerProperty::BackgroundColor: return mModel.backgroundColor;
    case LayerProperty::CornerRadius: return mModel.cornerRadius;
    case LayerProperty::ZPosition: return mModel.zPosition;
    case LayerProperty::BorderWidth: return mModel.borderWidth;
    case LayerProperty::BorderColor: return mModel.borderColor;
    case LayerProperty::ShadowOpacity: return mModel.shadowOpacity;
    case LayerProperty::SublayerTransform: return mModel.sublayerTransform;
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
  const AnimValue onScreen = mCommitted ? presentationValue(property, mediaTime()) : AnimValue{};
  applyValue(mModel, property, value);
  if (mCommitted) {
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
  if (const auto& didStop = running.animation->didStop())
    mainQueue().async([didStop, finished] { didStop(finished); });
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
    if (ended && a.fillMode() != Animation::FillMode::Forwards && a.isRemovedOnCompletion() == false)
      continue;
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
  const QPointF forSubs = mModel.sublayerTransform.inverted().map(local);
  for (auto it = mSublayers.rbegin(); it != mSublayers.rend(); ++it)
    if (Layer* hit = (*it)->hitTest(forSubs)) return hit;
  return mModel.bounds.contains(local) ? this : nullptr;
}

}  // namespace platform
