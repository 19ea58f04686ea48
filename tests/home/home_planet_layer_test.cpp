#include "home_test_support.h"
#include "editor/planet_title.h"
#include "model/color_theme.h"
#include "model/icon_image.h"

#include <gtest/gtest.h>

#include <numbers>
#include <vector>

using namespace orrery;
using editortest::channelDistance;
using editortest::differenceBox;
using hometest::proxy;
using hometest::render;

namespace {

constexpr double kC = 116.25;  // centre of the 232.5-point tile
constexpr double kGauge = 89;

// The pixel on the gauge circle at an angle measured counter-clockwise with y up.
QColor gaugePixel(const QImage& image, double degrees) {
  const double a = degrees * std::numbers::pi / 180;
  return image.pixelColor(static_cast<int>(kC + kGauge * std::cos(a)), static_cast<int>(kC - kGauge * std::sin(a)));
}

bool isWhite(const QColor& c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; }

}  // namespace

TEST(HomeTile, GaugeGrowsWithTheIdeaCountAndStaysWithinItsRange) {
  const struct {
    std::int64_t count;
    double degrees;
  } cases[] = {{0, 3.1}, {1, 9.27}, {10, 62}, {50, 235.6}, {99, 310}, {100, 310}, {1000000, 310}, {-7, 3.1},
               {std::numeric_limits<std::int64_t>::min(), 3.1}, {std::numeric_limits<std::int64_t>::max(), 310}};
  for (const auto& c : cases) EXPECT_NEAR(310 * HomePlanetLayer::gaugeFill(c.count), c.degrees, 0.05) << c.count;

  HomePlanetLayer empty(proxy("a", QString(), 0));
  QImage image = render(empty);
  EXPECT_TRUE(isWhite(gaugePixel(image, 243.5))) << "the short stub before 245 degrees";
  EXPECT_FALSE(isWhite(gaugePixel(image, 200)));
  HomePlanetLayer full(proxy("b", QString(), 100));
  image = render(full);
  for (double deg : {-60.0, 0.0, 90.0, 180.0, 240.0}) EXPECT_TRUE(isWhite(gaugePixel(image, deg))) << deg;
  EXPECT_FALSE(isWhite(gaugePixel(image, 270))) << "the gap is centred at the bottom";
  HomePlanetLayer half(proxy("c", QString(), 10));
  image = render(half);
  EXPECT_TRUE(isWhite(gaugePixel(image, 190)));
  EXPECT_FALSE(isWhite(gaugePixel(image, 170)));
}

// The caption grey the tile's colour calls for, from the colour's 0 to 255 components.
QColor captionGreyFor(const QColor& disc) {
  const double luma = 0.114 * disc.blue() + 0.587 * disc.green() + 0.299 * disc.red();
  const double white = luma < 128 ? 0.2 : 0.35;
  return QColor::fromRgbF(white, white, white);
}

TEST(HomeTile, CaptionsAreTheGreyOfTheDiscsLuma) {
  std::vector<QColor> discs = {QColor(255, 0, 0), QColor(255, 255, 128), QColor(20, 30, 80),
                               QColor(0, 0, 0),   QColor(127, 128, 128), QColor(255, 255, 255)};
  for (const auto& theme : ColorTheme::standardThemes())
    for (const auto& color : theme->colors()) discs.push_back(color->uiColor());
  int checked = 0;
  for (const QColor& disc : discs) {
    const QColor grey = captionGreyFor(disc);
    // On a disc close to the caption's own grey no pixel stands out to be measured.
    if (channelDistance(disc, grey) < 60) continue;
    HomePlanetLayer tile(proxy("c", QString(), 3, disc));
    const QImage image = render(tile);
    // The "CREATED" caption: the pixel that stands out most from the disc in its row band is
    // one the caption covers whole.
    QColor ink = disc;
    for (int y = 132; y <= 142; ++y)
      for (int x = 50; x <= 95; ++x)
        if (channelDistance(image.pixelColor(x, y), disc) > channelDistance(ink, disc)) ink = image.pixelColor(x, y);
    EXPECT_LT(channelDistance(ink, grey), 12)
        << "caption " << ink.name().toStdString() << " on " << disc.name().toStdString();
    ++checked;
  }
  EXPECT_GE(checked, 8);
}

TEST(HomeTile, DiscColourCaptionColourByLumaAndGreyWithoutColour) {
  HomePlanetLayer red(proxy("r", QString(), 3, QColor(255, 0, 0)));
  EXPECT_LT(channelDistance(red.labelTextColor(), QColor::fromRgbF(0.2f, 0.2f, 0.2f)), 3);
  const QImage image = render(red);
  EXPECT_EQ(image.pixelColor(static_cast<int>(kC), static_cast<int>(kC + 40)), QColor(255, 0, 0));
  EXPECT_EQ(image.pixelColor(2, 2).alpha(), 0) << "outside the disc";
  EXPECT_EQ(image.pixelColor(static_cast<int>(kC + 96), static_cast<int>(kC)).alpha(), 0);

  HomePlanetLayer pale(proxy("p", QString(), 3, QColor(255, 255, 128)));
  EXPECT_LT(channelDistance(pale.labelTextColor(), QColor::fromRgbF(0.35f, 0.35f, 0.35f)), 3);

  HomePlanetLayer none(proxy("n", QString(), 3, QColor()));
  const QColor grey = render(none).pixelColor(static_cast<int>(kC), static_cast<int>(kC + 40));
  EXPECT_EQ(grey.alpha(), 255);
  EXPECT_LT(channelDistance(grey, Globals::colorLightGray()), 6) << "no colour, no picture: light grey";
}

TEST(HomeTile, TitleSitsInItsBandAndLeavesTheIconSquareFree) {
  HomePlanetLayer plain(proxy("t", QString(), 3));
  const QImage without = render(plain);
  HomePlanetLayer titled(proxy("t", QStringLiteral("Holiday plans"), 3));
  const QRect ink = differenceBox(without, render(titled));
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_GE(ink.top(), kC - 0.72 * 83 - 1);
  EXPECT_LE(ink.bottom(), kC + 0.1 * 83 + 1);
  EXPECT_NEAR((ink.left() + ink.right()) / 2.0, kC, 3) << "centred";
  // One line sits at half the band height above its bottom edge.
  EXPECT_NEAR((ink.top() + ink.bottom()) / 2.0, kC + 0.1 * 83 - 0.5 * 0.72 * 83, 6);

  auto withIcon = proxy("i", QString(), 3);
  withIcon->setIconImage(std::make_shared<IconImage>(QString(), QString(), QStringLiteral("★")));
  HomePlanetLayer icon(withIcon);
  const QRect square = differenceBox(without, render(icon), 20);
  ASSERT_FALSE(square.isEmpty());
  // y-up (98, 159, 36, 36) in a 232.5 tile is y-down 37.5 to 73.5.
  EXPECT_GE(square.left(), 97);
  EXPECT_LE(square.right(), 134);
  EXPECT_GE(square.top(), 37);
  EXPECT_LE(square.bottom(), 74);

  withIcon->setText(QStringLiteral("Holiday plans with a much longer title that wraps over lines"));
  HomePlanetLayer both(withIcon);
  const QRect text = differenceBox(render(icon), render(both));
  ASSERT_FALSE(text.isEmpty());
  EXPECT_GE(text.top(), kC - 0.56 * 83 - 1) << "the band top drops below the icon";
}

TEST(HomeTile, ALongTitleShowsTheLinesThatFitTheBandAndNoEllipsis) {
  const QString title = QStringLiteral("Holiday plans for the whole family with the grandparents, the cousins, the "
                                       "dog and everything we still want to see before the summer is over");
  // The tile's band: 0.72 of the text radius above the centre, 0.1 below it.
  const PlanetTitle laid(title, HomePlanetLayer::fetchNewFontSize(), 83, PlanetTitle::Band{0.72, 0.1, 0.36});
  ASSERT_GT(laid.lineCount(), 1);
  EXPECT_FALSE(laid.shownText().contains(QChar(0x2026)));
  EXPECT_TRUE(title.startsWith(laid.shownText().trimmed()));
  EXPECT_LT(laid.shownText().trimmed().size(), title.size());

  HomePlanetLayer plain(proxy("t", QString(), 3));
  HomePlanetLayer titled(proxy("t", title, 3));
  const QRect ink = differenceBox(render(plain), render(titled));
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_GE(ink.top(), kC - 0.72 * 83 - 1);
  EXPECT_LE(ink.bottom(), kC + 0.1 * 83 + 1) << "no line below the band";
}

TEST(HomeTile, PictureHidesTitleAndIconAndShowsTheWebMarkerOnlyThere) {
  QImage green(40, 40, QImage::Format_ARGB32_Premultiplied);
  green.fill(QColor(0, 160, 0));
  auto pictured = proxy("p", QStringLiteral("Title"), 5);
  pictured->setImage(KitImage(green));
  pictured->setIconImage(std::make_shared<IconImage>(QString(), QString(), QStringLiteral("★")));
  HomePlanetLayer layer(pictured);
  EXPECT_TRUE(layer.showsPicture());
  EXPECT_TRUE(layer.text().isNull());
  const QImage plain = render(layer);
  EXPECT_EQ(plain.pixelColor(static_cast<int>(kC), static_cast<int>(kC + 40)), QColor(0, 160, 0));
  const QColor ring = plain.pixelColor(static_cast<int>(kC + 92.5), static_cast<int>(kC));
  EXPECT_GT(ring.red(), 120) << "a grey ring around the picture";

  pictured->setHasWebLink(true);
  layer.updateWithProxy(pictured);
  const QRect marker = differenceBox(plain, render(layer), 10);
  ASSERT_FALSE(marker.isEmpty());
  EXPECT_TRUE(QRect(static_cast<int>(kC) - 21, static_cast<int>(kC - 46.5) - 21, 43, 43).contains(marker)) << "above the centre";

  auto coloured = proxy("c", QString(), 5);
  HomePlanetLayer a(coloured);
  const QImage before = render(a);
  coloured->setHasWebLink(true);
  HomePlanetLayer b(coloured);
  EXPECT_TRUE(differenceBox(before, render(b), 0).isEmpty()) << "no marker on a coloured disc";
}

TEST(HomeTile, CaptionsCarryShadowsOnlyOverAPicture) {
  QImage green(10, 10, QImage::Format_ARGB32_Premultiplied);
  green.fill(QColor(0, 160, 0));
  auto pictured = proxy("p", QString(), 5);
  pictured->setImage(KitImage(green));
  HomePlanetLayer layer(pictured);
  const QImage withShadow = render(layer);
  // The count's value line sits on baseline 32.75 above the bottom (y-down 199.75), centred.
  // Over a picture its white text gets a dark blur, so the pixels around it darken.
  auto darkNear = [](const QImage& image) {
    int dark = 0;
    for (int y = 190; y < 206; ++y)
      for (int x = 100; x < 132; ++x) dark += image.pixelColor(x, y).value() < 140 ? 1 : 0;
    return dark;
  };
  EXPECT_GT(darkNear(withShadow), 5);
  HomePlanetLayer flat(proxy("c", QString(), 5, QColor(0, 160, 0)));
  EXPECT_EQ(darkNear(render(flat)), 0);
}

TEST(HomeTile, ShadowModeHalvesOpacityOnChangeOnly) {
  HomePlanetLayer layer(proxy("a", QString(), 1));
  layer.setShadowMode(true);
  EXPECT_DOUBLE_EQ(layer.opacity(), 0.5);
  layer.setOpacity(0.7);
  layer.setShadowMode(true);
  EXPECT_DOUBLE_EQ(layer.opacity(), 0.7) << "a second YES changes nothing";
  layer.setShadowMode(false);
  EXPECT_DOUBLE_EQ(layer.opacity(), 1.0);
}

TEST(HomeTile, HostileProxyValuesDrawWithinTheTile) {
  auto endless = proxy("e", QString(200000, QLatin1Char('x')), std::numeric_limits<std::int64_t>::min());
  endless->setDateCreated(QDateTime());
  endless->setDateModified(QDateTime());
  auto zero = proxy("z", QStringLiteral("zero"), std::numeric_limits<std::int64_t>::max());
  zero->setImage(KitImage(QImage(0, 0, QImage::Format_ARGB32_Premultiplied)));
  for (const auto& p : {endless, zero}) {
    HomePlanetLayer layer(p);
    EXPECT_FALSE(layer.showsPicture());
    const QImage image = render(layer);
    const QRect ink = editortest::inkBox(image);
    EXPECT_TRUE(QRect(22, 22, 189, 189).contains(ink)) << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
  }
  HomePlanetLayer empty{IdeaProxyPtr()};
  EXPECT_FALSE(render(empty).isNull());
}
