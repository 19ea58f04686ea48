#include "platform/services/font_catalog.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>

#include <gtest/gtest.h>

#include <utility>

namespace {

// The faces the catalogue maps to come from Debian packages; a missing one fails by name.
void requireInstalledFaces() {
  const QStringList families = QFontDatabase::families();
  for (const auto& [family, package] : {std::pair{"DejaVu Sans", "fonts-dejavu-core"}, std::pair{"Liberation Sans", "fonts-liberation2"},
                                        std::pair{"Noto Color Emoji", "fonts-noto-color-emoji"}})
    ASSERT_TRUE(families.contains(family)) << family << " is not installed: install the Debian package " << package
                                           << " (scripts/install-deps.sh does)";
}

TEST(FontCatalogTest, FontsTheApplicationNamesMapToInstalledFaces) {
  ASSERT_NO_FATAL_FAILURE(requireInstalledFaces());
  for (const char* name : {"Avenir Medium", "Avenir Light", "Avenir Book", "Avenir Oblique", "Avenir Heavy",
                           "Helvetica", "Apple Color Emoji"}) {
    auto font = platform::fontNamed(name, 14.0);
    ASSERT_TRUE(font.has_value()) << name;
    EXPECT_EQ(QFontInfo(*font).family(), platform::mappedFontFamily(name)) << name;
    EXPECT_DOUBLE_EQ(font->pointSizeF(), 14.0);
  }
  EXPECT_TRUE(platform::fontNamed("Avenir Oblique", 10)->italic());
  EXPECT_GT(platform::fontNamed("Avenir Heavy", 10)->weight(), platform::fontNamed("Avenir Light", 10)->weight());
}

TEST(FontCatalogTest, UnknownFamiliesAreNotInvented) {
  ASSERT_NO_FATAL_FAILURE(requireInstalledFaces());
  EXPECT_FALSE(platform::fontNamed("No Such Family 123", 12).has_value());
  EXPECT_EQ(platform::mappedFontFamily("DejaVu Sans"), "DejaVu Sans");
  EXPECT_TRUE(platform::fontNamed("DejaVu Sans", 12).has_value());
}

}  // namespace

namespace {

// A 12-point title must be as tall as 12 logical pixels in any image, whatever its dpi.
TEST(FontCatalogTest, DeviceSizedFontsDrawTheirPointsAsLogicalPixels) {
  ASSERT_NO_FATAL_FAILURE(requireInstalledFaces());
  for (int dpm : {3780, 5669}) {  // 96 and 144 dpi
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.setDotsPerMeterX(dpm);
    image.setDotsPerMeterY(dpm);
    QFont font = *platform::fontNamed("Helvetica", 12);
    platform::setFontSizeForDevice(font, 12, &image);
    QFont reference("Liberation Sans");
    reference.setPixelSize(12);
    EXPECT_NEAR(QFontMetricsF(font, &image).height(), QFontMetricsF(reference, &image).height(), 0.5) << dpm;
  }
  QFont font;
  platform::setFontSizeForDevice(font, 0, nullptr);
  EXPECT_DOUBLE_EQ(font.pointSizeF(), 12.0);
}

}  // namespace
