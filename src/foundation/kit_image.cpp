#include "foundation/kit_image.h"

#include "foundation/image_filters.h"
#include "foundation/logging.h"
#include "platform/services/qt_regular_file.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace orrery {

struct KitImage::Bitmap {
  QSize size;
  QByteArray png;  // the PNG encoding, when known
  mutable std::once_flag decoded;
  mutable QImage image;  // set when made, or decoded from `png` at the first use
};

namespace {

constexpr QImage::Format kFormat = QImage::Format_ARGB32_Premultiplied;

bool fitsLimit(qint64 width, qint64 height) {
  return width > 0 && height > 0 && width * height * 4 <= KitImage::kMaxBitmapBytes;
}

// The pixel size of a new bitmap (components truncated); empty, with a soft assertion, when
// the bitmap cannot be made.
QSize bitmapSize(const QSizeF& size) {
  const qint64 width = size.width() >= 1 && size.width() < 1e9 ? qint64(size.width()) : 0;
  const qint64 height = size.height() >= 1 && size.height() < 1e9 ? qint64(size.height()) : 0;
  if (!ORRERY_SOFT_ASSERT(fitsLimit(width, height), "+[KitImage createBitmapContextForSize:]")) return {};
  return QSize(int(width), int(height));
}

// Decodes with a bounded allocation; the header's size is checked before any pixel is read.
QImage decode(QImageReader& reader, QString* reason = nullptr) {
  reader.setAllocationLimit(int(KitImage::kMaxBitmapBytes / (1024 * 1024)));
  const QSize size = reader.size();
  if (size.isValid() && !fitsLimit(size.width(), size.height())) {
    if (reason) *reason = QStringLiteral("The picture is too large");
    return {};
  }
  QImage image;
  if (!reader.read(&image)) {
    if (reason) *reason = reader.errorString();
    return {};
  }
  return image;
}

// Unless told not to guess, Qt asks every image-format plug-in whether it reads a picture,
// loading each with its codec libraries, even when the format is named: PNG, which Qt reads
// itself, is read without asking them.
void readAsPNG(QImageReader& reader) {
  reader.setFormat("png");
  reader.setAutoDetectImageFormat(false);
}

QImage decodeData(const QByteArray& data, const char* format) {
  if (data.isEmpty()) return {};
  QBuffer buffer;
  buffer.setData(data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  if (qstrcmp(format, "png") == 0) readAsPNG(reader);
  return decode(reader);
}

QByteArray encode(const QImage& image, const char* format, int quality) {
  if (image.isNull()) return {};
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (quality >= 0) writer.setQuality(quality);
  if (!writer.write(image)) return {};
  return bytes;
}

}  // namespace

KitImage::KitImage(const QImage& image) {
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) return;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->size = image.size();
  bitmap->image = image.format() == kFormat ? image : image.convertToFormat(kFormat);
  mBitmap = std::move(bitmap);
}

KitImage KitImage::fromPNGData(const QByteArray& data) {
  if (!isPNG(data)) return {};
  QBuffer buffer;
  buffer.setData(data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  readAsPNG(reader);
  const QSize size = reader.size();
  if (!size.isValid() || !fitsLimit(size.width(), size.height())) return {};
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->size = size;
  bitmap->png = data;
  return KitImage(std::move(bitmap));
}

KitImage KitImage::fromJPEGData(const QByteArray& data) { return KitImage(decodeData(data, "jpeg")); }

KitImage KitImage::fromSomeData(const QByteArray& data) {
  return isPNG(data) ? fromPNGData(data) : fromJPEGData(data);
}

bool KitImage::isPNG(const QByteArray& data) {
  return data.size() >= 5 && static_cast<unsigned char>(data[0]) == 0x89 && data[1] == 'P' &&
         data[2] == 'N' && data[3] == 'G';
}

KitImage KitImage::readFromURL(const QString& path) { return readFromURL(path, nullptr); }

KitImage KitImage::readFromURL(const QString& path, QString* reason) {
  QFile file;
  const platform::RegularFileRead opened = platform::openRegularFile(file, path, /*maxBytes=*/-1, reason);
  // A FIFO or a device in a picture's place is not waited on.
  if (opened == platform::RegularFileRead::Refused) return {};
  if (opened == platform::RegularFileRead::Read && isPNG(file.peek(8))) {
    QImageReader reader(&file);
    readAsPNG(reader);
    return KitImage(decode(reader, reason));
  }
  QImageReader reader(path);  // reports a missing file as such, and takes a format from the name
  return KitImage(decode(reader, reason));
}

QSize KitImage::pixelSizeAtURL(const QString& path) {
  QFile file;
  if (platform::openRegularFile(file, path) != platform::RegularFileRead::Read) return {};
  QImageReader reader(&file);
  if (isPNG(file.peek(8))) readAsPNG(reader);
  const QSize size = reader.size();
  return size.isValid() ? size : QSize();
}

KitImage KitImage::fromFilteredImage(const imagefilters::FilteredImage& image, const QRectF& rect) {
  QImage bitmap = createBitmapContextForSize(rect.size());
  if (bitmap.isNull()) return {};
  if (!image.image.isNull()) {
    QPainter painter(&bitmap);
    painter.drawImage(QPointF(image.origin) - rect.topLeft(), image.image);
  }
  return KitImage(bitmap);
}

QImage KitImage::createBitmapContextForSize(const QSizeF& size) {
  const QSize pixels = bitmapSize(size);
  if (pixels.isEmpty()) return {};
  QImage image(pixels, kFormat);
  if (!ORRERY_SOFT_ASSERT(!image.isNull(), "+[KitImage createBitmapContextForSize:]")) return {};
  image.fill(Qt::transparent);
  return image;
}

const QImage& KitImage::cgImage() const {
  static const QImage kNone;
  if (!mBitmap) return kNone;
  const Bitmap& bitmap = *mBitmap;
  std::call_once(bitmap.decoded, [&bitmap] {
    if (!bitmap.image.isNull()) return;
    QImage image = decodeData(bitmap.png, "png");
    if (image.size() != bitmap.size) {
      image = QImage(bitmap.size, kFormat);
      image.fill(Qt::transparent);
    }
    bitmap.image = image.format() == kFormat ? image : image.convertToFormat(kFormat);
  });
  return bitmap.image;
}

QSizeF KitImage::pixelSize() const {
  if (!mBitmap) return {0, 0};
  return QSizeF(mBitmap->size);
}

QByteArray KitImage::pngData() const {
  if (!mBitmap) return {};
  return mBitmap->png.isNull() ? encode(cgImage(), "png", -1) : mBitmap->png;
}

KitImage KitImage::withPNGData() const {
  if (!mBitmap || !mBitmap->png.isNull()) return *this;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->size = mBitmap->size;
  bitmap->image = cgImage();
  bitmap->png = encode(bitmap->image, "png", -1);
  return KitImage(std::move(bitmap));
}

QByteArray KitImage::jpegData(double compressionFactor) const {
  if (isNull()) return {};
  const int quality = int(std::lround(std::clamp(compressionFactor, 0.0, 1.0) * 100));
  return encode(cgImage(), "jpeg", quality);
}

void KitImage::drawInRect(const QRectF& rect, QPainter& painter, bool flipped) const {
  if (isNull()) return;
  if (flipped) {
    painter.drawImage(rect, cgImage());
    return;
  }
  painter.save();
  painter.translate(0, 2 * rect.y() + rect.height());
  painter.scale(1, -1);
  painter.drawImage(rect, cgImage());
  painter.restore();
}

KitImage KitImage::scaleToSize(const QSizeF& size) const {
  if (isNull()) return {};
  const QSize pixels = bitmapSize(size);
  if (pixels.isEmpty()) return {};
  return KitImage(cgImage().scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

KitImage KitImage::scaleToWidth(double width) const {
  if (isNull()) return {};
  const QSizeF pixels = pixelSize();
  return scaleToSize(QSizeF(width, pixels.height() * width / pixels.width()));
}

}  // namespace orrery
