#include "foundation/views/kit_font.h"

#include "platform/services/font_catalog.h"

#include <QImage>

namespace orrery {

const QPaintDevice* kitPaintDevice() {
  static const QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
  return &device;
}

QFont kitFont(QFont face, double points) {
  platform::setFontSizeForDevice(face, points, kitPaintDevice());
  return face;
}

double kitFontSize(const QFont& font) {
  const int dpi = kitPaintDevice()->logicalDpiY();
  return font.pointSizeF() * (dpi > 0 ? dpi : 72) / 72.0;
}

}  // namespace orrery
