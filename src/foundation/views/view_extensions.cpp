#include "foundation/views/view_extensions.h"

#include "foundation/globals.h"
#include "foundation/logger.h"
#include "foundation/logging.h"
#include "platform/ui/animation.h"
#include "platform/ui/compositor.h"

#include <QPainter>

#include <cmath>

namespace orrery::viewext {

QPointF center(const View& view) { return view.frame().center(); }

void setCenter(View& view, const QPointF& p) {
  const QRectF f = view.frame();
  view.setFrameOrigin(QPointF(p.x() - f.width() / 2, p.y() - f.height() / 2));
}

QPointF centerPoint(const View& view) {
  return QPointF(view.bounds().width() / 2, view.bounds().height() / 2);
}

QPointF topLeftCorner(const View& view) { return view.frame().topLeft(); }
void setTopLeftCorner(View& view, const QPointF& p) { view.setFrameOrigin(p); }

void setTopRightCorner(View& view, const QPointF& p) {
  view.setFrameOrigin(QPointF(p.x() - view.frame().width(), p.y()));
}

void setBottomLeftCorner(View& view, const QPointF& p) {
  view.setFrameOrigin(QPointF(p.x(), p.y() - view.frame().height()));
}

QPointF middleBottomPosition(const View& view) {
  const QRectF f = view.frame();
  return QPointF(f.x() + f.width() / 2, f.y() + f.height());
}

void setMiddleTopPosition(View& view, const QPointF& p) {
  view.setFrameOrigin(QPointF(p.x() - view.frame().width() / 2, p.y()));
}

void setMiddleLeftPosition(View& view, const QPointF& p) {
  view.setFrameOrigin(QPointF(p.x(), p.y() - view.frame().height() / 2));
}

void setMiddleRightPosition(View& view, const QPointF& p) {
  const QRectF f = view.frame();
  view.setFrameOrigin(QPointF(p.x() - f.width(), p.y() - f.height() / 2));
}

float bottomFrameLine(const View& view) { return static_cast<float>(view.frame().bottom()); }
float rightFrameLine(const View& view) { return static_cast<float>(view.frame().right()); }

void ensureFrameHeightAsMultipleOf(View& view, double step) {
  const QRectF f = view.frame();
  view.setFrameSize(QSizeF(f.width(), std::ceil(f.height() / step) * step));
}

void ensureIntegralFrame(View& view, double s) {
  const QRectF f = view.frame();
  const float x = std::floor(static_cast<float>(f.x() * s)) / static_cast<float>(s);
  const float y = std::floor(f.y() * s) / s;
  const float w = std::ceil(static_cast<float>(f.width()));
  const float h = std::ceil(static_cast<float>(f.height()));
  view.setFrame(QRectF(x, y, w, h));
}

void ensureIntegralFrame(View& view) { ensureIntegralFrame(view, Globals::screenScale()); }

void bringSubviewToFront(View& superview, const std::shared_ptr<View>& subview) {
  if (!subview) return;
  auto keep = subview;
  keep->removeFromSuperview();
  superview.addSubview(keep);
}

void insertSubviewBelow(View& superview, const std::shared_ptr<View>& view, const View* sibling) {
  superview.insertSubviewBelow(view, sibling);
}

void removeAnimationsAlsoFromSubviews(View& view) {
  view.layer()->removeAllAnimations();
  for (const auto& sub : view.subviews()) removeAnimationsAlsoFromSubviews(*sub);
}

void setScale(View& view, double scale) { layerext::transformToScale(*view.layer(), scale); }

void transformToScale(View& view, double scale, double rotation) {
  layerext::transformToScale(*view.layer(), scale, rotation);
}

}  // namespace orrery::viewext

namespace orrery::layerext {
namespace {

QTransform translate(double x, double y) { return QTransform::fromTranslate(x, y); }

// The bounds centre relative to the anchor point, in single precision.
QPointF anchorToCentre(const Layer& layer) {
  const QSizeF size = layer.bounds().size();
  const QPointF a = layer.anchorPoint();
  return QPointF(static_cast<float>((0.5 - a.x()) * size.width()),
                 static_cast<float>((0.5 - a.y()) * size.height()));
}

// Each step applies before what came earlier, as the platform's translate and scale of the
// current matrix do: building d, s, −d scales about d.
QTransform scaleAbout(const QPointF& d, double s) {
  return translate(-d.x(), -d.y()) * QTransform::fromScale(s, s) * translate(d.x(), d.y());
}

// Moves the layer's centre to p at scale s, about its bounds centre wherever the anchor sits.
QTransform moveAndScale(const Layer& layer, const QPointF& p, double s) {
  const QPointF c = center(layer);
  return translate((p.x() - c.x()) / s, (p.y() - c.y()) / s) * scaleAbout(anchorToCentre(layer), s);
}

}  // namespace

QPointF center(const Layer& layer) { return layer.frame().center(); }

void setCenter(Layer& layer, const QPointF& p) {
  const QRectF f = layer.frame();
  layer.setFrame(QRectF(p.x() - f.width() / 2, p.y() - f.height() / 2, f.width(), f.height()));
}

QPointF centerPoint(const Layer& layer) {
  return QPointF(layer.bounds().width() / 2, layer.bounds().height() / 2);
}

void ensureIntegralFrame(Layer& layer) {
  if (!layer.transform().isIdentity()) return;
  const QRectF f = layer.frame();
  layer.setFrame(QRectF(std::round(static_cast<float>(f.x())), std::round(static_cast<float>(f.y())),
                        std::ceil(static_cast<float>(f.width())), std::ceil(static_cast<float>(f.height()))));
}

void transformToScale(Layer& layer, double scale) {
  if (loggerCanLog(&layer)) logLine(QStringLiteral("transformToScale: %1").arg(scale));
  layer.setTransform(scaleAbout(anchorToCentre(layer), scale));
}

void transformToPoint(Layer& layer, const QPointF& p, double rotation, double s) {
  (void)rotation;  // callers pass 0; it is not applied
  layer.setTransform(moveAndScale(layer, p, s));
}

void transformToPoint(Layer& layer, const QPointF& point, double scale) {
  transformToPoint(layer, point, 0.0, scale);
}

void transformToScale(Layer& layer, double scale, double rotation) {
  transformToPoint(layer, center(layer), rotation, scale);
}

void animateTransformToPoint(Layer& layer, const QPointF& p, double s, bool animated) {
  ORRERY_SOFT_ASSERT(animated, "-[CALayer(MyExtensions) transformToPoint:finalScale:animated:]");
  auto animation = platform::BasicAnimation::withKeyPath(QStringLiteral("transform"));
  animation->setToValue(moveAndScale(layer, p, s));
  layer.addAnimation(animation, QStringLiteral("transformToPoint:finalScale:animated"));
}

void setAlphaValue(Layer& layer, double alpha) { layer.setOpacity(alpha); }

QImage createBitmap(Layer& layer) {
  const QSize pixels(static_cast<int>(layer.bounds().width()), static_cast<int>(layer.bounds().height()));
  if (!ORRERY_SOFT_ASSERT(!pixels.isEmpty(), "-[CALayer(MyExtensions) createBitmap]")) return {};
  QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  platform::compositor::Options options;
  options.presentation = false;  // the layer renders its model state
  platform::compositor::renderLayerContents(painter, layer, options);
  return image;
}

QImage createImage(Layer& layer) { return createBitmap(layer); }

}  // namespace orrery::layerext
