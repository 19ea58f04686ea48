#include "model/color_theme.h"
#include "model/known_color_themes.h"

#include <QSet>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

using namespace orrery;

struct Expected {
  const char* theme;
  const char* name;
  double h, s, v;
  bool bright;
};

// The table stored documents depend on, in registry order.
const Expected kTable[] = {
    {"greens", "green0", 160, 0.67, 0.52, false},    {"greens", "green1", 166, 0.81, 0.61, false},
    {"greens", "green2", 169, 0.81, 0.71, false},    {"greens", "green3", 169, 0.64, 0.83, false},
    {"greens", "green4", 169, 0.86, 0.89, true},     {"greens", "green5", 165, 0.33, 0.84, true},
    {"greens", "green6", 163, 0.21, 0.75, true},     {"blues", "blue0", 192, 0.96, 0.42, false},
    {"blues", "blue1", 187, 0.73, 0.5, false},       {"blues", "blue2", 187, 0.57, 0.64, false},
    {"blues", "blue3", 187, 0.68, 0.79, false},      {"blues", "blue4", 188, 0.65, 0.92, true},
    {"blues", "blue5", 192, 0.43, 0.86, true},       {"blues", "blue6", 198, 0.33, 0.8, true},
    {"reds", "red0", 346, 0.83, 0.38, false},        {"reds", "red1", 355, 0.83, 0.6, false},
    {"reds", "red2", 14, 0.81, 0.76, false},         {"reds", "red3", 18, 0.78, 0.87, false},
    {"reds", "red4", 11, 0.57, 0.9, true},           {"reds", "red5", 0, 0.3, 0.8, false},
    {"reds", "red6", 0, 0.28, 0.68, false},          {"violets", "violet0", 244, 0.38, 0.44, false},
    {"violets", "violet1", 247, 0.29, 0.55, false},  {"violets", "violet2", 250, 0.21, 0.66, false},
    {"violets", "violet3", 249, 0.11, 0.77, false},  {"violets", "violet4", 249, 0.07, 0.83, true},
    {"violets", "violet5", 252, 0.02, 0.82, true},   {"violets", "violet6", 250, 0.04, 0.66, false},
    {"bright1", "bright1_1", 207, 0.39, 0.82, false}, {"bright1", "bright1_2", 211, 0.5, 0.4, false},
    {"bright1", "bright1_3", 348, 0.55, 0.76, false}, {"bright1", "bright1_4", 334, 0.89, 0.96, false},
    {"bright1", "bright1_5", 352, 0.9, 0.98, false},  {"bright1", "bright1_6", 23, 0.98, 0.99, false},
    {"bright1", "bright1_7", 33, 0.37, 0.99, true},   {"bright2", "bright2_1", 38, 0.99, 0.96, false},
    {"bright2", "bright2_2", 58, 0.91, 0.93, true},   {"bright2", "bright2_3", 132, 0.77, 0.99, true},
    {"bright2", "bright2_4", 150, 0.82, 0.9, true},   {"bright2", "bright2_5", 171, 0.78, 1, true},
    {"bright2", "bright2_6", 190, 0.73, 0.9, true},   {"bright2", "bright2_7", 208, 0.83, 0.99, false},
    {"bright3", "bright3_1", 226, 0.55, 1, false},    {"bright3", "bright3_2", 185, 0.49, 1, true},
    {"bright3", "bright3_3", 192, 0.94, 1, true},     {"bright3", "bright3_4", 212, 0.83, 0.93, false},
    {"bright3", "bright3_5", 227, 0.97, 1, false},    {"bright3", "bright3_6", 203, 0.71, 0.56, false},
    {"bright3", "bright3_7", 204, 0.91, 0.35, false}, {"bright4", "bright4_1", 35, 0.19, 0.35, false},
    {"bright4", "bright4_2", 47, 0.47, 0.98, true},   {"bright4", "bright4_3", 17, 0.69, 0.94, false},
    {"bright4", "bright4_4", 359, 0.74, 0.75, false}, {"bright4", "bright4_5", 169, 0.78, 0.73, false},
    {"bright4", "bright4_6", 314, 0.94, 0.47, false}, {"bright4", "bright4_7", 252, 0.02, 0.82, true},
};

TEST(KnownColorThemesTest, HoldsTheFiftySixColoursInTableOrder) {
  const auto& registry = KnownColorThemes::sharedInstance();
  std::vector<ColorThemePtr> themes = registry.standardThemes();
  themes.insert(themes.end(), registry.brightThemes().begin(), registry.brightThemes().end());
  ASSERT_EQ(registry.standardThemes().size(), 4u);
  ASSERT_EQ(registry.brightThemes().size(), 4u);

  size_t row = 0;
  for (const ColorThemePtr& theme : themes) {
    ASSERT_EQ(theme->colors().size(), 7u);
    EXPECT_EQ(theme->isStandard(), row < 28);
    for (const ColorPtr& color : theme->colors()) {
      const Expected& e = kTable[row++];
      SCOPED_TRACE(e.name);
      EXPECT_EQ(theme->name(), e.theme);
      EXPECT_EQ(color->name(), e.name);
      EXPECT_EQ(color->hsva().h, static_cast<float>(e.h));
      EXPECT_EQ(color->hsva().s, static_cast<float>(e.s));
      EXPECT_EQ(color->hsva().v, static_cast<float>(e.v));
      EXPECT_EQ(color->hsva().a, 1.0);
      EXPECT_EQ(color->isBright(), e.bright);
      EXPECT_EQ(color->theme(), theme);
      EXPECT_EQ(registry.colorByName(e.name), color);  // shared: same object
    }
  }
  EXPECT_EQ(row, 56u);
}

TEST(KnownColorThemesTest, LookupsByNameAndUnknownNames) {
  ColorPtr green0 = ColorTheme::colorByName("green0");
  ASSERT_TRUE(green0);
  EXPECT_EQ(green0, ColorTheme::standardThemes()[0]->colors()[0]);
  EXPECT_EQ(green0->theme()->name(), "greens");
  EXPECT_EQ(ColorTheme::brightColorThemes()[3]->name(), "bright4");
  EXPECT_EQ(ColorTheme::colorByName("Green0"), nullptr);
  EXPECT_EQ(ColorTheme::colorByName("purple"), nullptr);
  EXPECT_EQ(ColorTheme::colorByName(""), nullptr);
}

TEST(ColorTest, ComponentsDerivedFromHsv) {
  const RGBAValues red5 = ColorTheme::colorByName("red5")->rgba();
  EXPECT_NEAR(red5.r, 204, 1e-3);
  EXPECT_NEAR(red5.g, 142.8, 1e-3);
  EXPECT_NEAR(red5.b, 142.8, 1e-3);
  const RGBAValues red6 = ColorTheme::colorByName("red6")->rgba();
  EXPECT_NEAR(red6.r, 173.4, 1e-3);
  EXPECT_NEAR(red6.g, 124.848, 1e-3);
  EXPECT_NEAR(red6.b, 124.848, 1e-3);

  // The platform colour matches the components, and every colour's RGB converts back to
  // its HSV.
  for (const auto* list : {&ColorTheme::standardThemes(), &ColorTheme::brightColorThemes()})
    for (const ColorThemePtr& theme : *list)
      for (const ColorPtr& color : theme->colors()) {
        SCOPED_TRACE(color->name().toStdString());
        EXPECT_NEAR(color->uiColor().redF() * 255, color->rgba().r, 0.01);
        EXPECT_NEAR(color->uiColor().blueF() * 255, color->rgba().b, 0.01);
        HSVAValues back;
        ColorSpaceConverter::RGB(color->rgba(), back);
        EXPECT_NEAR(back.h, color->hsva().h, 0.01);
        EXPECT_NEAR(back.s, color->hsva().s, 1e-4);
        EXPECT_NEAR(back.v, color->hsva().v, 1e-4);
      }
}

TEST(ColorTest, ColourFromAPlatformColourHasNoTheme) {
  Color custom("custom", QColor(255, 255, 0, 128));
  EXPECT_EQ(custom.name(), "custom");
  EXPECT_EQ(custom.theme(), nullptr);
  EXPECT_FALSE(custom.isBright());
  EXPECT_DOUBLE_EQ(custom.rgba().r, 255);
  EXPECT_DOUBLE_EQ(custom.rgba().b, 0);
  EXPECT_NEAR(custom.rgba().a, 128 / 255.0, 1e-6);
  EXPECT_NEAR(custom.hsva().h, 60, 1e-4);
  EXPECT_NEAR(custom.hsva().s, 1, 1e-6);
  EXPECT_NEAR(custom.uiColor().alphaF(), 128 / 255.0, 1e-3);
}

TEST(ColorTest, OneColourThemesAreUnnamedAndHoldTheSharedColour) {
  ColorTheme same;
  same.addColor(ColorTheme::colorByName("blue3"));
  EXPECT_TRUE(same.name().isNull());
  EXPECT_FALSE(same.isStandard());
  EXPECT_EQ(same.colors()[0], ColorTheme::colorByName("blue3"));
  EXPECT_EQ(same.colors()[0]->theme()->name(), "blues");
}

TEST(ColorTest, RegistryMadeOnceWhenFirstUsedFromManyThreads) {
  std::vector<const KnownColorThemes*> seen(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = &KnownColorThemes::sharedInstance(); });
  for (auto& t : threads) t.join();
  for (auto* p : seen) EXPECT_EQ(p, &KnownColorThemes::sharedInstance());
}

}  // namespace
