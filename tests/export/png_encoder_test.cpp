#include "export/png_encoder.h"

#include <QBuffer>
#include <QPainter>
#include <QRadialGradient>

#include <gtest/gtest.h>

namespace orrery {
namespace {

// A picture with flat areas, anti-aliased edges, a gradient and (with alpha) every level of
// transparency, in the given format.
QImage sample(QImage::Format format) {
  QImage image(301, 157, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(QRect(0, 0, 150, 157), QColor(250, 250, 250));
  QRadialGradient gradient(QPointF(200, 80), 90);
  gradient.setColorAt(0, QColor(255, 0, 0, 255));
  gradient.setColorAt(1, QColor(0, 40, 200, 0));
  painter.setBrush(gradient);
  painter.setPen(QPen(QColor(20, 120, 60, 180), 3));
  painter.drawEllipse(QPointF(200, 80), 85, 70);
  painter.drawText(QPointF(10, 40), QStringLiteral("Orrery"));
  painter.end();
  image.setDotsPerMeterX(5906);
  image.setDotsPerMeterY(2953);
  return image.convertToFormat(format);
}

QByteArray qtPNG(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png;
}

TEST(PNGEncoder, ReadsBackAsTheSamePixelsAndResolutionAsQtsOwnWriter) {
  for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_ARGB32,
                                      QImage::Format_RGB888, QImage::Format_RGB16}) {
    SCOPED_TRACE(format);
    const QImage image = sample(format);
    const QImage ours = QImage::fromData(encodePNG(image), "PNG");
    const QImage theirs = QImage::fromData(qtPNG(image), "PNG");
    ASSERT_FALSE(ours.isNull());
    EXPECT_EQ(ours.hasAlphaChannel(), image.hasAlphaChannel());
    EXPECT_EQ(ours.convertToFormat(QImage::Format_ARGB32), theirs.convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(ours.dotsPerMeterX(), 5906);
    EXPECT_EQ(ours.dotsPerMeterY(), 2953);
  }
  EXPECT_TRUE(encodePNG(QImage()).isEmpty());
}

}  // namespace
}  // namespace orrery
