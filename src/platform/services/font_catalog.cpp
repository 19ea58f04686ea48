#include "platform/services/font_catalog.h"

#include <QFontDatabase>

#include <array>

namespace platform {

namespace {

struct FontMapping {
  const char* name;
  const char* family;
  QFont::Weight weight;
  bool italic;
};

// Avenir is a geometric sans without a free twin; DejaVu Sans is the closest sans Debian
// installs everywhere. Liberation Sans is metric-compatible with Helvetica.
constexpr std::array kMappings{
    FontMapping{"Avenir Light", "DejaVu Sans", QFont::Light, false},
    FontMapping{"Avenir Book", "DejaVu Sans", QFont::Normal, false},
    FontMapping{"Avenir Medium", "DejaVu Sans", QFont::Medium, false},
    FontMapping{"Avenir Heavy", "DejaVu Sans", QFont::Bold, false},
    FontMapping{"Avenir Oblique", "DejaVu Sans", QFont::Normal, true},
    FontMapping{"Helvetica", "Liberation Sans", QFont::Normal, false},
    FontMapping{"Helvetica Bold", "Liberation Sans", QFont::Bold, false},
    FontMapping{"HelveticaNeue", "Liberation Sans", QFont::Normal, false},
    FontMapping{"HelveticaNeue-Medium", "Liberation Sans", QFont::Medium, false},
    FontMapping{"Apple Color Emoji", "Noto Color Emoji", QFont::Normal, false},
};

const FontMapping* mappingFor(const QString& name) {
  for (const FontMapping& m : kMappings)
    if (name == QLatin1String(m.name)) return &m;
  return nullptr;
}

}  // namespace

void setFontSizeForDevice(QFont& font, double points, const QPaintDevice* device) {
  if (!(points > 0)) points = 12.0;
  const int dpi = device ? device->logicalDpiY() : 72;
  font.setPointSizeF(points * 72.0 / (dpi > 0 ? dpi : 72));
}

QString mappedFontFamily(const QString& name) {
  const FontMapping* m = mappingFor(name);
  return m ? QString::fromLatin1(m->family) : name;
}

std::optional<QFont> fontNamed(const QString& name, double pointSize) {
  const FontMapping* m = mappingFor(name);
  const QString family = m ? QString::fromLatin1(m->family) : name;
  if (family.isEmpty() || !QFontDatabase::hasFamily(family)) return std::nullopt;
  QFont font(family);
  font.setPointSizeF(pointSize > 0 ? pointSize : 12.0);
  if (m) {
    font.setWeight(m->weight);
    font.setItalic(m->italic);
  }
  return font;
}

}  // namespace platform
