#pragma once
// What the editor tests share: rendering a drawer at a device scale, reading ink out of
// pictures, theme colours by brightness, and a scope that restores the appearance settings.

#include "editor/planet_drawer.h"
#include "foundation/globals.h"
#include "model/color_theme.h"

#include <QImage>
#include <QPainter>

#include <cmath>
#include <optional>

namespace editortest {

// The drawer's square at `k` device pixels per point.
inline QImage render(orrery::PlanetDrawer& drawer, double k) {
  const QSizeF size = drawer.scaledSize() * k;
  QImage image(static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height())),
               QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return image;
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
  painter.scale(k, k);
  drawer.drawInCurrentContext(painter);
  painter.end();
  return image;
}

// The pixel under a point given in points.
inline QColor at(const QImage& image, double k, double x, double y) {
  return image.pixelColor(static_cast<int>(std::floor(x * k)), static_cast<int>(std::floor(y * k)));
}

inline int channelDistance(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) +
         std::abs(a.alpha() - b.alpha());
}

// The bounding box (device pixels) of the pixels that differ by more than `threshold`.
inline QRect differenceBox(const QImage& a, const QImage& b, int threshold = 60) {
  QRect box;
  for (int y = 0; y < std::min(a.height(), b.height()); ++y)
    for (int x = 0; x < std::min(a.width(), b.width()); ++x)
      if (channelDistance(a.pixelColor(x, y), b.pixelColor(x, y)) > threshold) box |= QRect(x, y, 1, 1);
  return box;
}

// The bounding box of pixels with some alpha.
inline QRect inkBox(const QImage& image) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y).alpha() > 40) box |= QRect(x, y, 1, 1);
  return box;
}

// A theme colour that is (or is not) bright.
inline orrery::ColorPtr themeColor(bool bright) {
  for (const auto* themes : {&orrery::ColorTheme::standardThemes(), &orrery::ColorTheme::brightColorThemes()})
    for (const auto& theme : *themes)
      for (const auto& color : theme->colors())
        if (color->isBright() == bright) return color;
  return nullptr;
}

// Restores the text-size factor and the high-contrast setting.
class AppearanceScope {
 public:
  AppearanceScope()
      : mFactor(orrery::Globals::fontSizeFactor()), mHighContrast(orrery::Globals::highContrastText()) {}
  ~AppearanceScope() {
    orrery::Globals::setHighContrastText(mHighContrast);
    orrery::Globals::changeFontSizeFactor(mFactor);
  }

 private:
  std::int32_t mFactor;
  bool mHighContrast;
};

}  // namespace editortest
