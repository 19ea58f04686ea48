#pragma once
// The process-wide registry of the eight colour themes (four standard, four bright, seven
// colours each) and of its 56 colours by name. The names are part of the document format:
// a name that is not here reads as no colour.

#include "model/color_theme.h"

#include <QHash>

namespace orrery {

class KnownColorThemes {
 public:
  // Made once, thread-safely, on first use.
  static const KnownColorThemes& sharedInstance();

  const std::vector<ColorThemePtr>& standardThemes() const { return mStandardColorThemes; }
  const std::vector<ColorThemePtr>& brightThemes() const { return mBrightColorThemes; }
  // None for a name that is not in the registry.
  ColorPtr colorByName(const QString& name) const { return mColorByName.value(name); }

 private:
  KnownColorThemes();
  void createStandardThemes();
  void createBrightThemes();
  void addStandardTheme(const ColorThemePtr& theme);
  void addBrightTheme(const ColorThemePtr& theme);

  std::vector<ColorThemePtr> mStandardColorThemes;
  std::vector<ColorThemePtr> mBrightColorThemes;
  QHash<QString, ColorPtr> mColorByName;
};

}  // namespace orrery
