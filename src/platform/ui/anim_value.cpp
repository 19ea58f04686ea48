#include "platform/ui/anim_value.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cmath>

namespace platform {
namespace {

double lerp(double a, double b, double t) { return a + (b - a) * t; }

QColor lerpColor(QColor a, QColor b, double t) {
  if (!a.isValid()) a = QColor(b.red(), b.green(), b.blue(), 0);
  if (!b.isValid()) b = QColor(a.red(), a.green(), a.blue(), 0);
  const double aa = a.alphaF(), ba = b.alphaF();
  const double alpha = lerp(aa, ba, t);
  if (alpha <= 0) return QColor(0, 0, 0, 0);
  auto channel = [&](double ca, double cb) {
    return std::clamp(lerp(ca * aa, cb * ba, t) / alpha, 0.0, 1.0);
  };
  return QColor::fromRgbF(channel(a.redF(), b.redF()), channel(a.greenF(), b.greenF()),
                          channel(a.blueF(), b.blueF()), alpha);
}

QTransform lerpTransform(const QTransform& a, const QTransform& b, double t) {
  return QTransform(lerp(a.m11(), b.m11(), t), lerp(a.m12(), b.m12(), t), lerp(a.m13(), b.m13(), t),
                    lerp(a.m21(), b.m21(), t), lerp(a.m22(), b.m22(), t), lerp(a.m23(), b.m23(), t),
                    lerp(a.m31(), b.m31(), t), lerp(a.m32(), b.m32(), t), lerp(a.m33(), b.m33(), t));
}

constexpr std::array<const char*, static_cast<size_t>(LayerProperty::Count)> kKeyPaths = {
    "position",      "bounds",      "transform",     "opacity",
    "backgroundColor", "cornerRadius", "zPosition",   "borderWidth",
    "borderColor",   "shadowOpacity", "sublayerTransform"};

}  // namespace

AnimValue interpolate(const AnimValue& a, const AnimValue& b, double t) {
  if (a.index() != b.index()) return b;
  if (auto* x = std::get_if<double>(&a)) return lerp(*x, std::get<double>(b), t);
  if (auto* p = std::get_if<QPointF>(&a)) {
    const QPointF& q = std::get<QPointF>(b);
    return QPointF(lerp(p->x(), q.x(), t), lerp(p->y(), q.y(), t));
  }
  if (auto* s = std::get_if<QSizeF>(&a)) {
    const QSizeF& r = std::get<QSizeF>(b);
    return QSizeF(lerp(s->width(), r.width(), t), lerp(s->height(), r.height(), t));
  }
  if (auto* r = std::get_if<QRectF>(&a)) {
    const QRectF& s = std::get<QRectF>(b);
    return QRectF(lerp(r->x(), s.x(), t), lerp(r->y(), s.y(), t), lerp(r->width(), s.width(), t),
                  lerp(r->height(), s.height(), t));
  }
  if (auto* m = std::get_if<QTransform>(&a)) return lerpTransform(*m, std::get<QTransform>(b), t);
  if (auto* c = std::get_if<QColor>(&a)) return lerpColor(*c, std::get<QColor>(b), t);
  return b;
}

bool sameValue(const AnimValue& a, const AnimValue& b) {
  if (a.index() != b.index()) return false;
  if (auto* c = std::get_if<QColor>(&a)) {
    const QColor& d = std::get<QColor>(b);
    if (!c->isValid() || !d.isValid()) return c->isValid() == d.isValid();
    return c->rgba64() == d.rgba64();
  }
  return a == b;
}

bool layerPropertyForKeyPath(const QString& keyPath, LayerProperty* out) {
  for (size_t i = 0; i < kKeyPaths.size(); ++i) {
    if (keyPath == QLatin1String(kKeyPaths[i])) {
      *out = static_cast<LayerProperty>(i);
      return true;
    }
  }
  return false;
}

QString keyPathForLayerProperty(LayerProperty property) {
  return QString::fromLatin1(kKeyPaths[static_cast<size_t>(property)]);
}

}  // namespace platform
