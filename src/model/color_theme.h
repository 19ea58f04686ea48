#pragma once
// A named, ordered list of colours. The eight themes of the registry are built once; the
// one-colour themes that ideas derive for "same colour" children carry no name.

#include "model/color.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace orrery {

// How an idea colours its children; stored in files as a 32-bit integer.
enum ColorThemeType : std::uint64_t {
  ColorThemeTypeSameColor = 0,     // every child gets the parent's colour
  ColorThemeTypeLighterColor = 1,  // the parent colour's theme; the preset of new ideas
  ColorThemeTypeVaryingColors = 2, // child i gets colour i modulo the theme's size
};

class ColorTheme {
 public:
  explicit ColorTheme(QString name = QString(), bool standard = false)
      : mName(std::move(name)), mStandard(standard) {}

  const QString& name() const { return mName; }
  const std::vector<ColorPtr>& colors() const { return mColors; }
  void addColor(ColorPtr color) { mColors.push_back(std::move(color)); }
  bool isStandard() const { return mStandard; }

  // Lookups in the registry.
  static ColorPtr colorByName(const QString& name);
  static const std::vector<ColorThemePtr>& standardThemes();
  static const std::vector<ColorThemePtr>& brightColorThemes();

 private:
  std::vector<ColorPtr> mColors;
  QString mName;
  bool mStandard;
};

}  // namespace orrery
