#pragma once
// The values layer properties take, and how animations move between two of them.

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

#include <variant>

namespace platform {

using AnimValue = std::variant<std::monostate, double, QPointF, QSizeF, QRectF, QTransform, QColor>;

// a + (b − a) × t per component; values of different kinds give b. Colours interpolate in
// premultiplied RGBA so that fading from "no colour" does not pass through black.
AnimValue interpolate(const AnimValue& a, const AnimValue& b, double t);

bool sameValue(const AnimValue& a, const AnimValue& b);

// The layer properties that animate, with the key paths callers name them by.
enum class LayerProperty {
  Position,
  Bounds,
  Transform,
  Opacity,
  BackgroundColor,
  CornerRadius,
  ZPosition,
  BorderWidth,
  BorderColor,
  ShadowOpacity,
  SublayerTransform,
  Count
};

// "position", "bounds", "transform", "opacity", "backgroundColor", "cornerRadius",
// "zPosition", "borderWidth", "borderColor", "shadowOpacity", "sublayerTransform".
bool layerPropertyForKeyPath(const QString& keyPath, LayerProperty* out);
QString keyPathForLayerProperty(LayerProperty property);

}  // namespace platform
