#include "editor/planet_drawer.h"
#include "editor/planet_title.h"
#include "editor_test_support.h"
#include "model/icon_image.h"
#include "solid_image.h"

#include <QFontDatabase>

#include <gtest/gtest.h>

using namespace orrery;
using editortest::at;
using editortest::differenceBox;
using editortest::render;

namespace {

class PlanetPixels : public ::testing::TestWithParam<double> {
 protected:
  double k() const { return GetParam(); }
  ColorPtr mDark = editortest::themeColor(false);
};

using testsupport::solid;

// The title's ink in device pixels: a render with the title against one without.
QRect titleInk(PlanetDrawer& drawer, const QString& title, double k) {
  drawer.setText(QString());
  const QImage plain = render(drawer, k);
  drawer.setText(title);
  return differenceBox(plain, render(drawer, k));
}

}  // namespace

TEST_P(PlanetPixels, ColourDiscIsFilledWithAThinWhiteRim) {
  PlanetDrawer drawer(0);
  drawer.setBaseColor(mDark);
  const QImage image = render(drawer, k());
  const QPointF c = drawer.scaledCenter();
  const double r = drawer.scaledRadius();
  EXPECT_LT(editortest::channelDistance(at(image, k(), c.x(), c.y()), mDark->uiColor()), 6);
  EXPECT_LT(editortest::channelDistance(at(image, k(), c.x() + r - 3, c.y()), mDark->uiColor()), 6);
  const QColor rim = at(image, k(), c.x() + r + 0.25, c.y());
  EXPECT_GT(rim.alpha(), 40);
  EXPECT_GT(rim.red(), 150) << "the white half of the stroke outside the fill";
  EXPECT_EQ(at(image, k(), c.x() + r + 2, c.y()).alpha(), 0);
  EXPECT_EQ(at(image, k(), 1, 1).alpha(), 0);

  PlanetDrawer none(0);
  const QColor grey = at(render(none, k()), k(), c.x(), c.y());
  EXPECT_LT(editortest::channelDistance(grey, Globals::colorLightGray()), 6) << "no colour: light grey";
}

TEST_P(PlanetPixels, PictureIsDrawnAtItsPixelSizeAndCutToTheDisc) {
  PlanetDrawer drawer(0);
  drawer.setImage(KitImage(solid(20, 20, Qt::red)));
  QImage image = render(drawer, k());
  const QPointF c = drawer.scaledCenter();
  EXPECT_EQ(at(image, k(), c.x() + 8, c.y() + 8), QColor(Qt::red));
  EXPECT_EQ(at(image, k(), c.x() + 13, c.y()).alpha(), 0) << "not fitted to the disc";

  drawer.setImage(KitImage(solid(8000, 8000, Qt::blue)));
  image = render(drawer, k());
  const double r = drawer.scaledRadius();
  EXPECT_EQ(at(image, k(), c.x() + r - 3, c.y()), QColor(Qt::blue));
  EXPECT_EQ(at(image, k(), c.x() + r * 0.75, c.y() + r * 0.75).alpha(), 0) << "cut to the disc";
  const QColor rim = at(image, k(), c.x() + r + 0.25, c.y());
  EXPECT_GT(rim.alpha(), 0);
  EXPECT_LT(rim.blue(), 200) << "the rim is light grey";
}

TEST_P(PlanetPixels, FadeGreysTheDisc) {
  PlanetDrawer drawer(0);
  drawer.setBaseColor(mDark);
  drawer.setFade(true);
  const QImage image = render(drawer, k());
  const QPointF c = drawer.scaledCenter();
  EXPECT_LT(editortest::channelDistance(at(image, k(), c.x(), c.y()), Globals::colorLightGray()), 6);

  PlanetDrawer picture(0);
  picture.setImage(KitImage(solid(200, 200, Qt::black)));
  picture.setFade(true);
  const QColor faded = at(render(picture, k()), k(), c.x(), c.y());
  EXPECT_NEAR(faded.red(), 0.5 * 2 / 3.0 * 255, 6) << "half light grey over the picture";
}

TEST_P(PlanetPixels, LinkMarkerIsADottedRingAtElevenTenthsOfTheRadius) {
  PlanetDrawer drawer(0);
  drawer.setBaseColor(mDark);
  const QImage plain = render(drawer, k());
  drawer.setIsLink(true);
  const QImage linked = render(drawer, k());
  const QPointF c = drawer.scaledCenter();
  const double r = 1.1 * drawer.scaledRadius();
  int inked = 0;
  const int samples = 720;
  for (int i = 0; i < samples; ++i) {
    const double a = 2 * M_PI * i / samples;
    const QColor p = at(linked, k(), c.x() + r * std::cos(a), c.y() + r * std::sin(a));
    if (p.alpha() > 60) ++inked;
  }
  EXPECT_GT(inked, samples / 8);
  EXPECT_LT(inked, samples * 3 / 4) << "dotted, not solid";
  EXPECT_EQ(at(linked, k(), c.x() + 1.2 * drawer.scaledRadius(), c.y()).alpha(), 0);
  EXPECT_EQ(at(plain, k(), c.x(), c.y()), at(linked, k(), c.x(), c.y())) << "nothing drawn inside";
}

TEST_P(PlanetPixels, WebLinkBadgeOnlyOnPictures) {
  PlanetDrawer colour(0);
  colour.setBaseColor(mDark);
  const QImage plain = render(colour, k());
  colour.setShowWebLink(true);
  ASSERT_TRUE(colour.showWebLink());
  EXPECT_TRUE(differenceBox(plain, render(colour, k())).isNull());

  PlanetDrawer picture(0);
  picture.setImage(KitImage(solid(200, 200, QColor(40, 40, 40))));
  const QImage bare = render(picture, k());
  picture.setShowWebLink(true);
  const QRect badge = differenceBox(bare, render(picture, k()), 10);
  ASSERT_FALSE(badge.isNull());
  const QPointF c = picture.scaledCenter();
  const QPointF expected(c.x(), c.y() - picture.scaledRadius() / 2);
  EXPECT_NEAR(QRectF(badge).center().x() / k(), expected.x(), 2.5);
  EXPECT_NEAR(QRectF(badge).center().y() / k(), expected.y(), 2.5);
  EXPECT_LE(badge.width() / k(), 33);
}

TEST_P(PlanetPixels, SubIdeasMarkerKeepsItsSizeAtEveryScale) {
  for (float scale : {0.5f, 1.0f, 2.0f}) {
    PlanetDrawer drawer(0);
    drawer.setBaseColor(mDark);
    drawer.setScale(scale);
    const QImage plain = render(drawer, k());
    drawer.setShowOrbit(true);
    const QRect marker = differenceBox(plain, render(drawer, k()), 30);
    ASSERT_FALSE(marker.isNull()) << scale;
    EXPECT_NEAR(marker.width() / k(), 10, 1.5) << scale;
    const QPointF c = drawer.scaledCenter();
    EXPECT_NEAR(QRectF(marker).center().x() / k(), c.x(), 1.0) << scale;
    EXPECT_LE(marker.bottom() / k(), c.y() + 0.9 * drawer.scaledRadius() + 1) << scale;
    EXPECT_GT(marker.top() / k(), c.y() + 0.6 * drawer.scaledRadius()) << "its place scales with the disc";
  }
}

TEST_P(PlanetPixels, OneLineTitleIsCentredOnTheDiscWithAndWithoutIcon) {
  for (bool icon : {false, true}) {
    PlanetDrawer drawer(0);
    drawer.setBaseColor(mDark);
    if (icon) drawer.setIconImage(std::make_shared<IconImage>("star", "nature", QStringLiteral("★")));
    const QRect ink = titleInk(drawer, QStringLiteral("HOME"), k());
    ASSERT_FALSE(ink.isNull()) << icon;
    const QPointF c = drawer.scaledCenter();
    EXPECT_NEAR(QRectF(ink).center().x() / k(), c.x(), 1.5) << icon;
    EXPECT_NEAR(QRectF(ink).center().y() / k(), c.y(), 2.0) << icon;
  }
}

TEST_P(PlanetPixels, LongTitleIsCutAfterTheLastLineThatFitsInsideTheArea) {
  for (bool icon : {false, true}) {
    PlanetDrawer drawer(0);
    drawer.setBaseColor(mDark);
    if (icon) drawer.setIconImage(std::make_shared<IconImage>("star", "nature", QStringLiteral("★")));
    const QImage plain = render(drawer, k());
    QString words;
    for (int i = 0; i < 200; ++i) words += QStringLiteral("WORD ");
    drawer.setText(words);
    const QImage titled = render(drawer, k());
    const QRect many = differenceBox(plain, titled);
    ASSERT_FALSE(many.isNull());

    const QPointF c = drawer.scaledCenter();
    const double t = std::round(0.95 * 56);
    const double top = c.y() - (icon ? 0.475 : 0.7) * t;
    const double bottom = c.y() + 0.55 * t;
    EXPECT_GE(many.top() / k(), top - 1) << icon;
    EXPECT_LE((many.bottom() + 1) / k(), bottom + 1) << icon;
    int outside = 0;
    for (int y = many.top(); y <= many.bottom(); ++y)
      for (int x = many.left(); x <= many.right(); ++x)
        if (editortest::channelDistance(plain.pixelColor(x, y), titled.pixelColor(x, y)) > 60 &&
            std::hypot((x + 0.5) / k() - c.x(), (y + 0.5) / k() - c.y()) > t + 0.5)
          ++outside;
    EXPECT_EQ(outside, 0) << "no text pixel outside the text circle";

    const double fs = drawer.fontSize();
    const int expectedLines = static_cast<int>(std::floor((bottom - top - fs) / (fs + 2) + 1e-9)) + 1;
    const int lines = static_cast<int>(std::round((many.height() / k() + 2 + (fs - 0.72 * fs)) / (fs + 2)));
    EXPECT_EQ(lines, expectedLines) << "lines " << fs << " tall, 2 apart, down to the bottom chord";
  }
}

TEST_P(PlanetPixels, TwelvePointTitleIsAsTallAsTwelvePixelLiberationSans) {
  if (!QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))) GTEST_SKIP() << "Liberation Sans missing";
  PlanetDrawer drawer(1);
  drawer.setBaseColor(mDark);
  drawer.setFontSize(12);
  const QRect ink = titleInk(drawer, QStringLiteral("H"), k());

  QImage reference(100 * k(), 100 * k(), QImage::Format_ARGB32_Premultiplied);
  reference.fill(Qt::transparent);
  QPainter painter(&reference);
  painter.scale(k(), k());
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(12);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QPointF(20, 50), QStringLiteral("H"));
  painter.end();
  const QRect expected = editortest::inkBox(reference);
  EXPECT_NEAR(ink.height(), expected.height(), 1.0 + k() / 2);
}

TEST_P(PlanetPixels, BrightColourGetsDarkTextInHighContrast) {
  editortest::AppearanceScope restore;
  const ColorPtr bright = editortest::themeColor(true);
  Globals::setHighContrastText(true);
  PlanetDrawer drawer(1);
  drawer.setBaseColor(bright);
  drawer.setText(QStringLiteral("MMMM"));
  const QImage image = render(drawer, k());
  int darkest = 255 * 3;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor p = image.pixelColor(x, y);
      if (p.alpha() == 255) darkest = std::min(darkest, p.red() + p.green() + p.blue());
    }
  EXPECT_LT(darkest, 3 * 110) << "grey text of white level 0.33";
}

INSTANTIATE_TEST_SUITE_P(DeviceScales, PlanetPixels, ::testing::Values(1.0, 2.0));
