#pragma once
// A named theme colour. Ideas hold the shared colours of the KnownColorThemes registry and
// compare them by identity; documents store only the name.

#include "foundation/color_space_converter.h"

#include <QColor>
#include <QString>

#include <memory>

namespace orrery {

class Color;
class ColorTheme;
using ColorPtr = std::shared_ptr<const Color>;
using ColorThemePtr = std::shared_ptr<const ColorTheme>;

class Color {
 public:
  // A theme colour from single-precision HSV components.
  Color(QString name, float hue, float saturation, float value, float alpha, bool bright,
        const std::shared_ptr<const ColorTheme>& theme);
  // A named colour from a platform colour: no theme, not bright.
  Color(QString name, const QColor& color);

  // Alike as a document stores them, by name (both none counts as alike).
  static bool same(const ColorPtr& a, const ColorPtr& b);

  const QString& name() const { return mName; }
  // None for colours made outside a theme.
  ColorThemePtr theme() const { return mTheme.lock(); }
  bool isBright() const { return mIsBright; }
  // Both component sets are derived when the colour is made, so shared colours can be read
  // from any thread.
  const RGBAValues& rgba() const { return mRGB; }
  const HSVAValues& hsva() const { return mHSV; }
  // sRGB colour of the components (red / 255 ...) and alpha.
  const QColor& uiColor() const { return mUIColor; }

 private:
  QString mName;
  std::weak_ptr<const ColorTheme> mTheme;
  RGBAValues mRGB;
  HSVAValues mHSV;
  QColor mUIColor;
  bool mIsBright = false;
};

}  // namespace orrery
