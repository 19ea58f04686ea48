#include "foundation/image_cache.h"
#include "foundation/image_extensions.h"
#include "foundation/image_filters.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace filters = orrery::imagefilters;

namespace {

QImage filled(int width, int height, QColor color) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(color);
  return image;
}

int alphaSum(const QImage& image) {
  int sum = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) sum += qAlpha(image.pixel(x, y));
  return sum;
}

}  // namespace

TEST(ImageFiltersTest, SaturationMixesWithLuminanceAndKeepsAlpha) {
  const QImage red = filled(2, 2, QColor(255, 0, 0));
  const QRgb less = filters::colorControls(red, 0.7).pixel(0, 0);
  // Luminance of pure red is 0.2125: 0.2125 + 0.7 × (1 − 0.2125) and 0.3 × 0.2125.
  EXPECT_NEAR(qRed(less), 195, 1);
  EXPECT_NEAR(qGreen(less), 16, 1);
  EXPECT_NEAR(qBlue(less), 16, 1);
  EXPECT_EQ(filters::colorControls(red, 1.0).pixel(1, 1), qRgb(255, 0, 0));
  const QRgb grey = filters::colorControls(filled(1, 1, QColor(30, 140, 220)), 0.0).pixel(0, 0);
  EXPECT_EQ(qRed(grey), qGreen(grey));
  EXPECT_EQ(qGreen(grey), qBlue(grey));

  QImage translucent = filled(1, 2, QColor(0, 0, 255, 128));
  translucent.setPixel(0, 1, qRgba(0, 0, 0, 0));
  const QImage controlled = filters::colorControls(translucent, 1.5);
  EXPECT_EQ(qAlpha(controlled.pixel(0, 0)), 128);
  EXPECT_EQ(controlled.pixel(0, 1), qRgba(0, 0, 0, 0));
  // Brightness lifts, contrast spreads around middle grey.
  EXPECT_GT(qRed(filters::colorControls(filled(1, 1, QColor(100, 100, 100)), 1.0, 0.2).pixel(0, 0)), 140);
  EXPECT_LT(qRed(filters::colorControls(filled(1, 1, QColor(100, 100, 100)), 1.0, 0.0, 2.0).pixel(0, 0)), 80);
}

TEST(ImageFiltersTest, SilhouetteTintFillsTheShapeKeepingItsAlpha) {
  QImage image(3, 1, QImage::Format_ARGB32_Premultiplied);
  image.setPixel(0, 0, qRgba(0, 0, 0, 0));
  image.setPixel(1, 0, qPremultiply(qRgba(10, 200, 30, 128)));
  image.setPixel(2, 0, qRgba(90, 90, 90, 255));
  const QImage tinted = filters::transformImage(image, 255, 0, 0);
  EXPECT_EQ(tinted.pixel(0, 0), qRgba(0, 0, 0, 0));
  // Premultiplied storage: alpha 128 with full red is (128, 0, 0, 128).
  EXPECT_EQ(tinted.pixel(1, 0), qRgba(128, 0, 0, 128));
  EXPECT_EQ(tinted.pixel(2, 0), qRgb(255, 0, 0));
}

TEST(ImageFiltersTest, BlurSpreadsBeyondThePictureAndKeepsItsMass) {
  QImage dot = filled(9, 9, Qt::transparent);
  dot.setPixel(4, 4, qRgba(255, 255, 255, 255));
  const filters::FilteredImage blurred = filters::gaussianBlur(filters::fromImage(dot), 2.0);
  EXPECT_LT(blurred.origin.x(), 0);
  EXPECT_EQ(blurred.extent().center(), QRect(0, 0, 9, 9).center());
  EXPECT_NEAR(alphaSum(blurred.image), 255, 40);
  // Symmetric around the dot, highest at its centre.
  const QPoint c = QPoint(4, 4) - blurred.origin;
  const int centre = qAlpha(blurred.image.pixel(c));
  EXPECT_EQ(qAlpha(blurred.image.pixel(c + QPoint(2, 0))), qAlpha(blurred.image.pixel(c - QPoint(2, 0))));
  EXPECT_EQ(qAlpha(blurred.image.pixel(c + QPoint(0, 3))), qAlpha(blurred.image.pixel(c - QPoint(0, 3))));
  EXPECT_GT(centre, qAlpha(blurred.image.pixel(c + QPoint(2, 0))));
  EXPECT_GT(qAlpha(blurred.image.pixel(c + QPoint(2, 0))), 0);

  // Inside a large uniform picture the blur changes nothing; radius 0 is the identity.
  const filters::FilteredImage flat = filters::gaussianBlur(filters::fromImage(filled(80, 80, QColor(40, 120, 200))), 3.0);
  EXPECT_EQ(flat.image.pixel(QPoint(40, 40) - flat.origin), qRgb(40, 120, 200));
  EXPECT_EQ(filters::gaussianBlur(filters::fromImage(dot), 0.0).image, dot);
}

TEST(ImageFiltersTest, MultiplyingWithTranslucentBlackDarkensByItsAlpha) {
  const filters::FilteredImage input{filled(4, 4, QColor(200, 100, 50)), QPoint(-1, -1)};
  const filters::FilteredImage darker = filters::multiplyWithConstantColor(input, QColor(0, 0, 0, 26));
  EXPECT_EQ(darker.origin, QPoint(-1, -1));
  const QRgb p = darker.image.pixel(2, 2);
  EXPECT_NEAR(qRed(p), 180, 2);
  EXPECT_NEAR(qGreen(p), 90, 2);
  EXPECT_NEAR(qBlue(p), 45, 2);
  EXPECT_EQ(qAlpha(p), 255);
}

TEST(ImageCacheTest, TintedResourcesAreSharedAndMissingOnesGiveNothing) {
  auto& cache = orrery::ImageCache::cache();
  const orrery::TintColor green{QStringLiteral("green0"), 44, 133, 108};
  const QImage first = cache.imageWithName(QStringLiteral("parent_planet"), green);
  ASSERT_FALSE(first.isNull());
  EXPECT_EQ(cache.deviceImageWithName(QStringLiteral("parent_planet"), green).cacheKey(), first.cacheKey());
  // Every opaque pixel is the colour itself.
  const QPoint middle(first.width() / 2, first.height() / 2);
  EXPECT_EQ(first.pixel(middle), qRgb(44, 133, 108));
  const QImage black = cache.imageWithName(QStringLiteral("parent_planet"), {});
  EXPECT_EQ(black.pixel(middle), qRgb(0, 0, 0));
  EXPECT_NE(black.cacheKey(), first.cacheKey());
  EXPECT_TRUE(cache.imageWithName(QStringLiteral("no_such_image"), green).isNull());
}

TEST(ImageExtensionsTest, DrawsWithModeAndAlphaAndScales) {
  QImage canvas = filled(10, 10, QColor(100, 100, 100));
  QPainter painter(&canvas);
  orrery::imageext::drawInRect(filled(2, 2, Qt::white), QRectF(0, 0, 10, 10), painter,
                               QPainter::CompositionMode_Difference, 0.2, true);
  EXPECT_EQ(painter.opacity(), 1.0);
  EXPECT_EQ(painter.compositionMode(), QPainter::CompositionMode_SourceOver);
  painter.end();
  // Difference with white is 155; at alpha 0.2 the grey moves a fifth of the way there.
  EXPECT_NEAR(qRed(canvas.pixel(5, 5)), 111, 2);
  EXPECT_EQ(orrery::imageext::scaleToSize(canvas, QSizeF(4.5, 3.9)).size(), QSize(4, 3));
  EXPECT_TRUE(orrery::imageext::scaleToSize(QImage(), QSizeF(4, 4)).isNull());
}
