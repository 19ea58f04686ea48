#include "platform/ui/layer.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/core/dispatch.h"
#include "platform/ui/animation.h"
#include "platform/ui/animation_engine.h"
#include "platform/ui/transaction.h"
#include "platform/ui/transparent_image.h"

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

// The layer a composition displays before drawing it (main thread only).
const Layer* gDisplayedForComposition = nullptr;

}  // namespace

SparseTransform& SparseTransform::operator=(const QTransform& t) {
  const bool identity = t.m11() == 1 && t.m12() == 0 && t.m13() == 0 && t.m21() == 0 && t.m22() == 1 && t.m23() == 0 &&
                        t.m31() == 0 && t.m32() == 0 && t.m33() == 1;
  mValue = identity ? nullptr : std::make_shared<const QTransform>(t);
  return *this;
}

const QTransform& SparseTransform::identity() {
  static const QTransform kIdentity;
  return kIdentity;
}

QRectF Layer::State::frame() const { return toSuperlayer().mapRect(bounds); }

QTransform Layer::State::toSuperlayer() const {
  const QPointF anchor(bounds.x() + anchorPoint.x() * bounds.width(), bounds.y() + anchorPoint.y() * bounds.height());
  QTransform m = QTransform::fromTranslate(-anchor.x(), -anchor.y());
  if (!transform.isIdentity()) m *= transform.value();
  m *= QTransform::fromTranslate(position.x(), position.y());
  return m;
}

Layer::Layer() : mMadeAtFlush(Transaction::layerMade()) {}

bool Layer::isCommitted() const { return mCommitted || mMadeAtFlush != Transaction::flushCount(); }

Layer::~Layer() {
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
  setPosition(
      QPointF(frame.x() + mModel.anchorPoint.x() * frame.width(), frame.y() + mModel.anchorPoint.y() * frame.height()));
  setBounds(b);
}

void Layer::setTransform(const QTransform& t) { changeProperty(LayerProperty::Transform, t); }
void Layer::setSublayerTransform(const QTransform& t) { changeProperty(LayerProperty::SublayerTransform, t); }
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

Layer::Extras& Layer::extras() const {
  if (!mExtras) mExtras = std::make_unique<Extras>();
  return *mExtras;
}
const std::optional<QPainterPath>& Layer::shadowPath() const {
  static const std::optional<QPainterPath> none;
  return mExtras ? mExtras->shadowPath : none;
}
const std::optional<QPainterPath>& Layer::maskPath() const {
  static const std::optional<QPainterPath> none;
  return mExtras ? mExtras->maskPath : none;
}
void Layer::setShadowColor(const QColor& color) {
  extras().shadowColor = color;
  setNeedsComposite();
}
void Layer::setShadowRadius(double radius) {
  extras().shadowRadius = radius;
  setNeedsComposite();
}
void Layer::setShadowOffset(const QPointF& offset) {
  extras().shadowOffset = offset;
  setNeedsComposite();
}
void Layer::setShadowPath(std::optional<QPainterPath> path) {
  extras().shadowPath = std::move(path);
  setNeedsComposite();
}
void Layer::setMasksToBounds(bool masks) {
  mMasksToBounds = masks;
  setNeedsComposite();
}
void Layer::setMaskPath(std::optional<QPainterPath> path) {
  if (path || mExtras) extras().maskPath = std::move(path);
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

void Layer::setCovered(bool covered) {
  if (covered == mCovered) return;
  mCovered = covered;
  if (covered) {
    // The picture goes; the next composition that shows the layer draws it again.
    if (!mContents.isNull() || tileCount() > 0) {
      mContents = QImage();
      dropTiles();
      mNeedsDisplay = true;
    }
    return;
  }
  setNeedsComposite();
}

void Layer::displayIfNeeded() {
  if (mNeedsDisplay) display();
}

void Layer::displayIfNeededForComposition() {
  if (!mNeedsDisplay) return;
  const Layer* outer = std::exchange(gDisplayedForComposition, this);
  display();
  gDisplayedForComposition = outer;
  // A drawing that marked the layer again still asks for its composition.
  if (mNeedsDisplay) setNeedsComposite();
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
  return makeTransparentImage(pixels, mContentsScale);
}

void Layer::display() {
  mNeedsDisplay = false;
  dropTiles();
  if (!drawsContent()) {
    mTiled = false;
    return;
  }
  if (drawsEachComposition()) {
    mTiled = false;
    mContents = QImage();
    setNeedsComposite();
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
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
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
  // A new layer (each planet of a crowded orbit) has no superlayer to leave.
  if (layer->mSuperlayer) {
    auto keep = layer;
    layer->removeFromSuperlayer();
  }
  layer->mSuperlayer = this;
}

void Layer::addSublayer(std::shared_ptr<Layer> layer) { insertSublayer(std::move(layer), mSublayers.size()); }

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
  auto it = std::find_if(mSublayers.begin(), mSublayers.end(), [&](const auto& l) { return l.get() == sibling; });
  mSublayers.insert(it == mSublayers.end() ? mSublayers.begin() : it, std::move(layer));
  setNeedsComposite();
}

void Layer::insertSublayerAbove(std::shared_ptr<Layer> layer, const Layer* sibling) {
  if (!layer) return;
  adopt(layer);
  auto it = std::find_if(mSublayers.begin(), mSublayers.end(), [&](const auto& l) { return l.get() == sibling; });
  mSublayers.insert(it == mSublayers.end() ? mSublayers.end() : it + 1, std::move(layer));
  setNeedsComposite();
}

void Layer::removeFromSuperlayer() {
  Layer* parent = mSuperlayer;
  if (!parent) return;
  parent->setNeedsComposite();
  auto keep = shared_from_this();
  auto& subs = parent->mSublayers;
  subs.erase(std::remove_if(subs.begin(), subs.end(), [&](const auto& l) { return l.get() == this; }), subs.end());
  mSuperlayer = nullptr;
}

void Layer::reorderSublayers(std::vector<std::shared_ptr<Layer>> order) {
  if (order.size() != mSublayers.size()) return;
  for (const auto& layer : order)
    if (!layer || layer->mSuperlayer != this) return;
  mSublayers = std::move(order);
  setNeedsComposite();
}

void Layer::rotateSublayers(std::size_t from, std::size_t middle) {
  if (from > middle || middle >= mSublayers.size() || from == middle) return;
  std::rotate(mSublayers.begin() + static_cast<std::ptrdiff_t>(from),
              mSublayers.begin() + static_cast<std::ptrdiff_t>(middle), mSublayers.end());
  setNeedsComposite();
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
  if (this == gDisplayedForComposition) return;
  if (LayerHost* h = host()) h->layerTreeNeedsDisplay();
}

}  // namespace platform
