#include "model/color_theme.h"

#include "model/known_color_themes.h"

namespace orrery {

ColorPtr ColorTheme::colorByName(const QString& name) { return KnownColorThemes::sharedInstance().colorByName(name); }

const std::vector<ColorThemePtr>& ColorTheme::standardThemes() {
  return KnownColorThemes::sharedInstance().standardThemes();
}

const std::vector<ColorThemePtr>& ColorTheme::brightColorThemes() {
  return KnownColorThemes::sharedInstance().brightThemes();
}

}  // namespace orrery
