#include "foundation/image_builder.h"
#include "foundation/image_filters.h"
#include "foundation/kit_image.h"
#include "log_capture.h"
#include "qt_printers.h"

#include <QBuffer>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <thread>
#include <vector>

using orrery::ImageBuilder;
using orrery::KitImage;

namespace {

// Top half red, bottom half blue.
QImage twoBands(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&image);
  painter.fillRect(0, 0, width, height / 2, Qt::red);
  painter.fillRect(0, height / 2, width, height - height / 2, Qt::blue);
  return image;
}

QByteArray encodePNG(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

// A PNG whose header claims the given size (the pixel data stays tiny).
QByteArray pngClaimingSize(quint32 width, quint32 height) {
  QByteArray png = encodePNG(twoBands(4, 4));
  // Signature (8) + chunk length (4) + "IHDR" (4): width and height follow.
  auto put32 = [&](int at, quint32 v) {
    png[at] = char(v >> 24);
    png[at + 1] = char(v >> 16);
    png[at + 2] = char(v >> 8);
    png[at + 3] = char(v);
  };
  put32(16, width);
  put32(20, height);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17);
  put32(29, quint32(crc));
  return png;
}

}  // namespace

TEST(KitImageTest, PNGSignatureNeedsFiveBytes) {
  const QByteArray four("\x89PNG", 4);
  EXPECT_FALSE(KitImage::isPNG(four));
  EXPECT_TRUE(KitImage::isPNG(four + 'x'));
  EXPECT_FALSE(KitImage::isPNG(QByteArray("GIF89a")));
}

TEST(KitImageTest, PNGAndJPEGRoundTrips) {
  const QImage source = twoBands(40, 20);
  const KitImage image(source);
  const QByteArray png = image.pngData();
  ASSERT_TRUE(KitImage::isPNG(png));
  const KitImage fromPNG = KitImage::fromSomeData(png);
  EXPECT_EQ(fromPNG.pixelSize(), QSizeF(40, 20));
  EXPECT_EQ(fromPNG.cgImage().pixel(5, 2), qRgb(255, 0, 0));
  EXPECT_EQ(fromPNG.cgImage().pixel(5, 17), qRgb(0, 0, 255));
  // Decoded PNG keeps its bytes, so writing it again costs nothing and changes nothing.
  EXPECT_EQ(fromPNG.pngData(), png);

  const QByteArray jpeg = image.jpegData(0.75);
  ASSERT_FALSE(jpeg.isEmpty());
  EXPECT_FALSE(KitImage::isPNG(jpeg));
  const KitImage fromJPEG = KitImage::fromSomeData(jpeg);
  ASSERT_EQ(fromJPEG.pixelSize(), QSizeF(40, 20));
  const QRgb red = fromJPEG.cgImage().pixel(20, 3);
  EXPECT_GT(qRed(red), 200);
  EXPECT_LT(qBlue(red), 60);
  EXPECT_LT(image.jpegData(0.1).size(), image.jpegData(1.0).size());
}

TEST(KitImageTest, UndecodableBytesGiveNoPictureThatDrawsNothing) {
  for (const QByteArray& bytes : {QByteArray(), QByteArray("not a picture"), QByteArray("\x89PNG\r\n\x1a\n junk", 14)}) {
    const KitImage image = KitImage::fromSomeData(bytes);
    EXPECT_TRUE(image.isNull());
    EXPECT_EQ(image.pixelSize(), QSizeF(0, 0));
    EXPECT_TRUE(image.pngData().isEmpty());
    QImage canvas(10, 10, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    image.drawInRect(QRectF(0, 0, 10, 10), painter, true);
    painter.end();
    EXPECT_EQ(canvas.pixel(5, 5), qRgb(255, 255, 255));
  }
}

TEST(KitImageTest, PNGPixelsAreDecodedOnceAtFirstUseAndCorruptOnesReadTransparent) {
  const QByteArray png = encodePNG(twoBands(6, 4));
  const KitImage image = KitImage::fromPNGData(png);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.pixelSize(), QSizeF(6, 4));
  const KitImage copy = image;
  EXPECT_EQ(copy.cgImage().cacheKey(), image.cgImage().cacheKey());

  // A sound header over damaged pixel data: a picture of that size, all transparent.
  QByteArray damaged = png;
  const int data = int(damaged.indexOf("IDAT")) + 4;
  for (int i = data; i < damaged.size() - 12; ++i) damaged[i] = char(0x5a);
  const KitImage broken = KitImage::fromPNGData(damaged);
  ASSERT_FALSE(broken.isNull());
  EXPECT_EQ(broken.cgImage().size(), QSize(6, 4));
  EXPECT_EQ(qAlpha(broken.cgImage().pixel(1, 1)), 0);
}

TEST(KitImageTest, HugeDeclaredSizesAreRefusedBeforeDecoding) {
  const QByteArray normal = pngClaimingSize(4, 4);
  EXPECT_FALSE(KitImage::fromPNGData(normal).isNull());
  EXPECT_TRUE(KitImage::fromPNGData(pngClaimingSize(100000, 100000)).isNull());
  EXPECT_TRUE(KitImage::fromPNGData(pngClaimingSize(1u << 30, 1)).isNull());
}

TEST(KitImageTest, ScalingKeepsAspectAndRefusesEmptyOrHugeTargets) {
  const KitImage image(twoBands(200, 100));
  const KitImage scaled = image.scaleToWidth(64);
  EXPECT_EQ(scaled.pixelSize(), QSizeF(64, 32));
  EXPECT_EQ(image.scaleToSize(QSizeF(10.9, 5.2)).pixelSize(), QSizeF(10, 5));

  LogCapture log;
  EXPECT_TRUE(KitImage().scaleToWidth(64).isNull());
  EXPECT_TRUE(KitImage(QImage(0, 0, QImage::Format_ARGB32)).scaleToWidth(64).isNull());
  EXPECT_TRUE(image.scaleToSize(QSizeF(0, 10)).isNull());
  EXPECT_TRUE(image.scaleToSize(QSizeF(100000, 100000)).isNull());
  EXPECT_TRUE(KitImage::createBitmapContextForSize(QSizeF(0.5, 10)).isNull());
  ASSERT_FALSE(log.lines().isEmpty());
  EXPECT_TRUE(log.lines().first().startsWith("ERROR: Assertion failure, line: "));
  EXPECT_TRUE(log.lines().first().endsWith("+[KitImage createBitmapContextForSize:]"));

  const QImage context = KitImage::createBitmapContextForSize(QSizeF(12.7, 3.2));
  EXPECT_EQ(context.size(), QSize(12, 3));
  EXPECT_EQ(context.format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_EQ(qAlpha(context.pixel(0, 0)), 0);
}

TEST(KitImageTest, FlippedAndUnflippedDrawingMirrorEachOther) {
  const KitImage image(twoBands(20, 20));
  auto render = [&](bool yUp, bool flipped) {
    QImage canvas(40, 40, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    if (yUp) {
      painter.translate(0, 40);
      painter.scale(1, -1);
    }
    image.drawInRect(QRectF(10, 5, 20, 20), painter, flipped);
    return canvas;
  };
  // A y-down painter with flipped drawing, and a y-up painter with plain drawing, both show the
  // picture upright; in y-down output rows, the y-up rectangle (10, 5) spans rows 15 to 34.
  const QImage downFlipped = render(false, true);
  EXPECT_EQ(downFlipped.pixel(20, 7), qRgb(255, 0, 0));
  EXPECT_EQ(downFlipped.pixel(20, 22), qRgb(0, 0, 255));
  EXPECT_EQ(downFlipped.pixel(20, 2), qRgb(255, 255, 255));
  const QImage upPlain = render(true, false);
  EXPECT_EQ(upPlain.pixel(20, 17), qRgb(255, 0, 0));
  EXPECT_EQ(upPlain.pixel(20, 32), qRgb(0, 0, 255));
  // In the same painter, the two forms land in the same rectangle upside down to each other.
  const QImage downPlain = render(false, false);
  EXPECT_EQ(downPlain.pixel(20, 7), qRgb(0, 0, 255));
  EXPECT_EQ(downPlain.pixel(20, 22), qRgb(255, 0, 0));
  EXPECT_EQ(downPlain.pixel(20, 2), qRgb(255, 255, 255));
}

TEST(KitImageTest, ReadsPictureFilesAndRefusesOthers) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString png = dir.filePath("picture.png");
  ASSERT_TRUE(twoBands(8, 6).save(png));
  EXPECT_EQ(KitImage::readFromURL(png).pixelSize(), QSizeF(8, 6));
  QFile text(dir.filePath("notes.png"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("plain text");
  text.close();
  EXPECT_TRUE(KitImage::readFromURL(text.fileName()).isNull());
  EXPECT_TRUE(KitImage::readFromURL(dir.filePath("missing.png")).isNull());
}

TEST(KitImageTest, FilteredPictureIsRenderedForTheRequestedRectangle) {
  orrery::imagefilters::FilteredImage filtered{twoBands(10, 10), QPoint(-5, -5)};
  const KitImage cropped = KitImage::fromFilteredImage(filtered, QRectF(0, -2, 4, 4));
  ASSERT_EQ(cropped.pixelSize(), QSizeF(4, 4));
  // Source rows -5…-1 are red, 0…4 blue.
  EXPECT_EQ(cropped.cgImage().pixel(1, 0), qRgb(255, 0, 0));
  EXPECT_EQ(cropped.cgImage().pixel(1, 3), qRgb(0, 0, 255));
  // Beyond the filtered extent the picture is transparent.
  EXPECT_EQ(qAlpha(KitImage::fromFilteredImage(filtered, QRectF(4, 4, 3, 3)).cgImage().pixel(2, 2)), 0);
}

TEST(ImageBuilderTest, BuildsPicturesOnSeveralThreadsAtOnce) {
  ImageBuilder idle;
  EXPECT_TRUE(idle.consumeImage().isNull());
  {
    LogCapture log;
    EXPECT_EQ(idle.startWithSize(QSizeF(0, 0)), nullptr);
    EXPECT_EQ(log.lines().size(), 1);
  }

  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &good] {
      ImageBuilder builder;
      for (int round = 0; round < 5; ++round) {
        QPainter* painter = builder.startWithSize(QSizeF(30 + t, 60));
        if (!painter) return;
        painter->fillRect(QRectF(0, 0, 10, 60), QColor(0, 200, 0));
        painter->setPen(Qt::black);
        painter->drawText(QRectF(10, 0, 20, 20), QStringLiteral("Ab"));
        const QImage image = builder.consumeImage();
        if (image.size() == QSize(30 + t, 60) && image.pixel(2, 2) == qRgb(0, 200, 0) &&
            qAlpha(image.pixel(29, 59)) == 0)
          ++good;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good, 20);
}
