#include "platform/ui/transparent_image.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace platform {
namespace {

bool allTransparent(const QImage& image) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != 0) return false;
  return true;
}

// Large enough that its memory comes straight from the kernel, and small.
TEST(TransparentImage, StartsTransparentAndOwnsItsMemoryLikeAnyImage) {
  for (const QSize size : {QSize(1440, 900), QSize(3, 2)}) {
    QImage image = makeTransparentImage(size, 2.0);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), size);
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(image.devicePixelRatio(), 2.0);
    EXPECT_TRUE(allTransparent(image));

    // Drawn on, copied, changed and dropped in any order: each copy keeps its own pixels.
    {
      QPainter painter(&image);
      painter.fillRect(QRectF(0, 0, 1, 1), Qt::red);
    }
    QImage copy = image;
    copy.setPixel(1, 1, qRgba(0, 0, 255, 255));
    image.setDevicePixelRatio(1.0);
    EXPECT_EQ(image.pixel(1, 1), qRgba(255, 0, 0, 255));
    image = QImage();
    EXPECT_EQ(copy.pixel(0, 0), qRgba(255, 0, 0, 255));
    EXPECT_EQ(copy.pixel(1, 1), qRgba(0, 0, 255, 255));
    EXPECT_EQ(copy.pixel(size.width() - 1, size.height() - 1), 0u);
  }
  EXPECT_TRUE(makeTransparentImage(QSize(0, 5), 1.0).isNull());
}

}  // namespace
}  // namespace platform
