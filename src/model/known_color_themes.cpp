#include "model/known_color_themes.h"

namespace orrery {

namespace {

struct ColorEntry {
  const char* name;
  float hue, saturation, value;
  bool bright;
};

struct ThemeEntry {
  const char* name;
  ColorEntry colors[7];
};

constexpr ThemeEntry kStandardThemes[] = {
    {"greens",
     {{"green0", 160, 0.67f, 0.52f, false},
      {"green1", 166, 0.81f, 0.61f, false},
      {"green2", 169, 0.81f, 0.71f, false},
      {"green3", 169, 0.64f, 0.83f, false},
      {"green4", 169, 0.86f, 0.89f, true},
      {"green5", 165, 0.33f, 0.84f, true},
      {"green6", 163, 0.21f, 0.75f, true}}},
    {"blues",
     {{"blue0", 192, 0.96f, 0.42f, false},
      {"blue1", 187, 0.73f, 0.5f, false},
      {"blue2", 187, 0.57f, 0.64f, false},
      {"blue3", 187, 0.68f, 0.79f, false},
      {"blue4", 188, 0.65f, 0.92f, true},
      {"blue5", 192, 0.43f, 0.86f, true},
      {"blue6", 198, 0.33f, 0.8f, true}}},
    {"reds",
     {{"red0", 346, 0.83f, 0.38f, false},
      {"red1", 355, 0.83f, 0.6f, false},
      {"red2", 14, 0.81f, 0.76f, false},
      {"red3", 18, 0.78f, 0.87f, false},
      {"red4", 11, 0.57f, 0.9f, true},
      {"red5", 0, 0.3f, 0.8f, false},
      {"red6", 0, 0.28f, 0.68f, false}}},
    {"violets",
     {{"violet0", 244, 0.38f, 0.44f, false},
      {"violet1", 247, 0.29f, 0.55f, false},
      {"violet2", 250, 0.21f, 0.66f, false},
      {"violet3", 249, 0.11f, 0.77f, false},
      {"violet4", 249, 0.07f, 0.83f, true},
      {"violet5", 252, 0.02f, 0.82f, true},
      {"violet6", 250, 0.04f, 0.66f, false}}},
};

constexpr ThemeEntry kBrightThemes[] = {
    {"bright1",
     {{"bright1_1", 207, 0.39f, 0.82f, false},
      {"bright1_2", 211, 0.5f, 0.4f, false},
      {"bright1_3", 348, 0.55f, 0.76f, false},
      {"bright1_4", 334, 0.89f, 0.96f, false},
      {"bright1_5", 352, 0.9f, 0.98f, false},
      {"bright1_6", 23, 0.98f, 0.99f, false},
      {"bright1_7", 33, 0.37f, 0.99f, true}}},
    {"bright2",
     {{"bright2_1", 38, 0.99f, 0.96f, false},
      {"bright2_2", 58, 0.91f, 0.93f, true},
      {"bright2_3", 132, 0.77f, 0.99f, true},
      {"bright2_4", 150, 0.82f, 0.9f, true},
      {"bright2_5", 171, 0.78f, 1.0f, true},
      {"bright2_6", 190, 0.73f, 0.9f, true},
      {"bright2_7", 208, 0.83f, 0.99f, false}}},
    {"bright3",
     {{"bright3_1", 226, 0.55f, 1.0f, false},
      {"bright3_2", 185, 0.49f, 1.0f, true},
      {"bright3_3", 192, 0.94f, 1.0f, true},
      {"bright3_4", 212, 0.83f, 0.93f, false},
      {"bright3_5", 227, 0.97f, 1.0f, false},
      {"bright3_6", 203, 0.71f, 0.56f, false},
      {"bright3_7", 204, 0.91f, 0.35f, false}}},
    {"bright4",
     {{"bright4_1", 35, 0.19f, 0.35f, false},
      {"bright4_2", 47, 0.47f, 0.98f, true},
      {"bright4_3", 17, 0.69f, 0.94f, false},
      {"bright4_4", 359, 0.74f, 0.75f, false},
      {"bright4_5", 169, 0.78f, 0.73f, false},
      {"bright4_6", 314, 0.94f, 0.47f, false},
      {"bright4_7", 252, 0.02f, 0.82f, true}}},
};

ColorThemePtr makeTheme(const ThemeEntry& entry, bool standard) {
  auto theme = std::make_shared<ColorTheme>(QString::fromLatin1(entry.name), standard);
  for (const ColorEntry& c : entry.colors)
    theme->addColor(std::make_shared<const Color>(QString::fromLatin1(c.name), c.hue, c.saturation, c.value, 1.0f,
                                                  c.bright, theme));
  return theme;
}

}  // namespace

const KnownColorThemes& KnownColorThemes::sharedInstance() {
  static const KnownColorThemes* instance = new KnownColorThemes();
  return *instance;
}

KnownColorThemes::KnownColorThemes() {
  createStandardThemes();
  createBrightThemes();
}

void KnownColorThemes::createStandardThemes() {
  for (const ThemeEntry& entry : kStandardThemes) addStandardTheme(makeTheme(entry, true));
}

void KnownColorThemes::createBrightThemes() {
  for (const ThemeEntry& entry : kBrightThemes) addBrightTheme(makeTheme(entry, false));
}

void KnownColorThemes::addStandardTheme(const ColorThemePtr& theme) {
  mStandardColorThemes.push_back(theme);
  for (const ColorPtr& color : theme->colors()) mColorByName.insert(color->name(), color);
}

void KnownColorThemes::addBrightTheme(const ColorThemePtr& theme) {
  mBrightColorThemes.push_back(theme);
  for (const ColorPtr& color : theme->colors()) mColorByName.insert(color->name(), color);
}

}  // namespace orrery
