#include "foundation/image_filters.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace orrery::imagefilters {

namespace {

constexpr QImage::Format kFormat = QImage::Format_ARGB32_Premultiplied;

QImage premultiplied(const QImage& image) {
  return image.format() == kFormat ? image : image.convertToFormat(kFormat);
}

// Odd box widths whose three successive box blurs approximate a Gaussian of deviation sigma.
std::array<int, 3> boxWidthsForGauss(double sigma) {
  constexpr int n = 3;
  const double ideal = std::sqrt(12.0 * sigma * sigma / n + 1.0);
  int lower = int(std::floor(ideal));
  if (lower % 2 == 0) --lower;
  const int upper = lower + 2;
  const double m = (12.0 * sigma * sigma - n * lower * lower - 4.0 * n * lower - 3.0 * n) /
                   (-4.0 * lower - 4.0);
  const int lowerCount = int(std::lround(m));
  std::array<int, 3> widths{};
  for (int i = 0; i < n; ++i) widths[size_t(i)] = i < lowerCount ? lower : upper;
  return widths;
}

// One box blur of half-width r along a line of `count` pixels `stride` apart; zero outside.
void boxBlurLine(const QRgb* src, QRgb* dst, int count, int stride, int r) {
  if (r <= 0) {
    for (int i = 0; i < count; ++i) dst[i * stride] = src[i * stride];
    return;
  }
  const int width = 2 * r + 1;
  std::array<int, 4> sum{};
  auto add = [&](QRgb p, int sign) {
    sum[0] += sign * int(qAlpha(p));
    sum[1] += sign * int(qRed(p));
    sum[2] += sign * int(qGreen(p));
    sum[3] += sign * int(qBlue(p));
  };
  for (int j = 0; j <= std::min(r, count - 1); ++j) add(src[j * stride], 1);
  for (int i = 0; i < count; ++i) {
    auto avg = [&](int s) { return (s + width / 2) / width; };
    dst[i * stride] = qRgba(avg(sum[1]), avg(sum[2]), avg(sum[3]), avg(sum[0]));
    const int incoming = i + r + 1;
    const int outgoing = i - r;
    if (incoming < count) add(src[incoming * stride], 1);
    if (outgoing >= 0) add(src[outgoing * stride], -1);
  }
}

}  // namespace

FilteredImage fromImage(const QImage& image) { return {premultiplied(image), QPoint(0, 0)}; }

QImage colorControls(const QImage& image, double saturation, double brightness, double contrast) {
  if (image.isNull()) return {};
  QImage result = premultiplied(image).copy();
  // Luminance weights of the Rec. 709 primaries.
  constexpr double kRed = 0.2125, kGreen = 0.7154, kBlue = 0.0721;
  for (int y = 0; y < result.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
    for (int x = 0; x < result.width(); ++x) {
      const QRgb p = qUnpremultiply(line[x]);
      const int alpha = qAlpha(p);
      if (alpha == 0) continue;
      std::array<double, 3> c{qRed(p) / 255.0, qGreen(p) / 255.0, qBlue(p) / 255.0};
      const double luminance = kRed * c[0] + kGreen * c[1] + kBlue * c[2];
      for (double& v : c) {
        v = luminance + saturation * (v - luminance);
        v = (v + brightness - 0.5) * contrast + 0.5;
        v = std::clamp(v, 0.0, 1.0);
      }
      auto channel = [](double v) { return int(std::lround(v * 255.0)); };
      line[x] = qPremultiply(qRgba(channel(c[0]), channel(c[1]), channel(c[2]), alpha));
    }
  }
  return result;
}

FilteredImage gaussianBlur(const FilteredImage& input, double radius) {
  if (input.image.isNull() || !(radius > 0)) return input;
  const std::array<int, 3> widths = boxWidthsForGauss(radius);
  int reach = 0;
  for (int w : widths) reach += (w - 1) / 2;

  const QImage source = premultiplied(input.image);
  const int width = source.width() + 2 * reach;
  const int height = source.height() + 2 * reach;
  QImage padded(width, height, kFormat);
  padded.fill(Qt::transparent);
  {
    QPainter painter(&padded);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(reach, reach, source);
  }

  auto* pixels = reinterpret_cast<QRgb*>(padded.bits());
  const int stride = int(padded.bytesPerLine() / 4);
  std::vector<QRgb> a(size_t(std::max(width, height))), b(a.size());
  auto blurLine = [&](QRgb* start, int count, int step) {
    for (int i = 0; i < count; ++i) a[size_t(i)] = start[i * step];
    QRgb* from = a.data();
    QRgb* to = b.data();
    for (int w : widths) {
      boxBlurLine(from, to, count, 1, (w - 1) / 2);
      std::swap(from, to);
    }
    for (int i = 0; i < count; ++i) start[i * step] = from[i];
  };
  for (int y = 0; y < height; ++y) blurLine(pixels + y * stride, width, 1);
  for (int x = 0; x < width; ++x) blurLine(pixels + x, height, stride);
  return {padded, input.origin - QPoint(reach, reach)};
}

FilteredImage multiplyWithConstantColor(const FilteredImage& background, const QColor& color) {
  if (background.image.isNull()) return background;
  QImage result = premultiplied(background.image).copy();
  QPainter painter(&result);
  painter.setCompositionMode(QPainter::CompositionMode_Multiply);
  painter.fillRect(result.rect(), color);
  painter.end();
  return {result, background.origin};
}

QImage transformImage(const QImage& image, double red, double green, double blue) {
  if (image.isNull()) return {};
  QImage result = premultiplied(image).copy();
  for (int y = 0; y < result.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
    for (int x = 0; x < result.width(); ++x) {
      const float a = float(qAlpha(line[x])) / 255.0f;
      line[x] = qRgba(int(red * a), int(green * a), int(blue * a),
                      int(a * 255.0f));
    }
  }
  return result;
}

}  // namespace orrery::imagefilters
