#include "model/color.h"

namespace orrery {

namespace {

QColor platformColor(const RGBAValues& rgb) {
  return QColor::fromRgbF(static_cast<float>(rgb.r / 255.0), static_cast<float>(rgb.g / 255.0),
                          static_cast<float>(rgb.b / 255.0), static_cast<float>(rgb.a));
}

}  // namespace

bool Color::same(const ColorPtr& a, const ColorPtr& b) {
  if (!a || !b) return !a && !b;
  return a == b || a->mName == b->mName;
}

Color::Color(QString name, float hue, float saturation, float value, float alpha, bool bright,
             const std::shared_ptr<const ColorTheme>& theme)
    : mName(std::move(name)), mTheme(theme), mIsBright(bright) {
  mHSV = {hue, saturation, value, alpha};
  ColorSpaceConverter::HSV(mHSV, mRGB);
  mUIColor = platformColor(mRGB);
}

Color::Color(QString name, const QColor& color) : mName(std::move(name)) {
  const QColor rgb = color.toRgb();
  mRGB = {rgb.redF() * 255.0, rgb.greenF() * 255.0, rgb.blueF() * 255.0, rgb.alphaF()};
  ColorSpaceConverter::RGB(mRGB, mHSV);
  mUIColor = platformColor(mRGB);
}

}  // namespace orrery
