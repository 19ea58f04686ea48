#include "export/png_encoder.h"

#include <QtGlobal>

#include <png.h>
#include <zlib.h>

#include <csetjmp>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "32-bit pixels are read as B, G, R, A bytes");

namespace orrery {

namespace {

void appendToBuffer(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<QByteArray*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
}

void flushNothing(png_structp) {}

// The image in a format written row by row as it is: 32-bit BGRX / BGRA in memory.
QImage writableImage(const QImage& image) {
  if (image.hasAlphaChannel()) return image.format() == QImage::Format_ARGB32 ? image : image.convertToFormat(QImage::Format_ARGB32);
  return image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

QByteArray encodePNG(const QImage& source) {
  if (source.isNull()) return {};
  const QImage image = writableImage(source);
  const bool alpha = image.hasAlphaChannel();
  QByteArray out;
  out.reserve(static_cast<qsizetype>(image.sizeInBytes() / 8));

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return {};
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return {};
  }
  // libpng reports failures by jumping here; nothing above owns anything needing a destructor
  // that the jump would skip.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, appendToBuffer, flushNothing);
  // Unfiltered rows, deflated as runs: a map's flat areas compress as well as through every
  // filter, at a fifth of the time.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_strategy(png, Z_RLE);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  if (image.dotsPerMeterX() > 0 || image.dotsPerMeterY() > 0)
    png_set_pHYs(png, info, static_cast<png_uint_32>(image.dotsPerMeterX()),
                 static_cast<png_uint_32>(image.dotsPerMeterY()), PNG_RESOLUTION_METER);
  png_write_info(png, info);
  // Qt's 32-bit pixels are B, G, R, A/X in memory on little-endian machines.
  png_set_bgr(png);
  if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int y = 0; y < image.height(); ++y) png_write_row(png, const_cast<png_bytep>(image.constScanLine(y)));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace orrery
