#pragma once
// The application's immutable picture: one premultiplied ARGB bitmap (or none), made from
// PNG or JPEG bytes, a file or a rendered image, drawn into painters, scaled and encoded.
// Values are cheap to copy (the bitmap is shared) and may be passed between threads.
//
// A picture made from PNG bytes knows its size from the PNG header and decodes its pixels at
// the first use, once, so that reading a document full of pictures costs no decoding; pixels
// that then turn out corrupt read as transparent.

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>

class QPainter;

namespace orrery {

namespace imagefilters {
struct FilteredImage;
}

class KitImage {
 public:
  // Bitmaps larger than this are neither decoded nor created: a crafted file must not make
  // the program allocate gigabytes.
  static constexpr qint64 kMaxBitmapBytes = 256LL * 1024 * 1024;

  KitImage() = default;
  // Wraps a copy of the bitmap in the KitImage format; a null image gives no bitmap.
  explicit KitImage(const QImage& image);

  static KitImage fromPNGData(const QByteArray& data);
  static KitImage fromJPEGData(const QByteArray& data);
  // PNG when isPNG holds, else JPEG.
  static KitImage fromSomeData(const QByteArray& data);
  // Five bytes or more starting with 0x89 'P' 'N' 'G'.
  static bool isPNG(const QByteArray& data);
  // The picture in the file (any format the platform decodes); no bitmap when the file cannot
  // be read or holds no picture.
  static KitImage readFromURL(const QString& path);
  // The same; when there is no bitmap, `reason` says why in words.
  static KitImage readFromURL(const QString& path, QString* reason);
  // The pixel size of the picture in the file, read from its header without decoding it;
  // empty when the file cannot be read or holds no picture.
  static QSize pixelSizeAtURL(const QString& path);
  // Renders `rect` of a filtered picture into a new bitmap of the rectangle's size.
  static KitImage fromFilteredImage(const imagefilters::FilteredImage& image, const QRectF& rect);

  // A transparent bitmap in the KitImage format (width and height truncated); a null image
  // and a soft assertion when it cannot be made (empty or too large).
  static QImage createBitmapContextForSize(const QSizeF& size);

  // A picture without a bitmap, or with an empty one, counts as no picture.
  bool isNull() const { return !mBitmap; }
  // The bitmap (a null image for no picture).
  const QImage& cgImage() const;
  // The platform image of the bitmap (point size = pixel size).
  QImage nsImage() const { return cgImage(); }
  QSizeF pixelSize() const;

  // The bitmap as one PNG image; empty without a bitmap. A picture decoded from PNG answers
  // the bytes it came from.
  QByteArray pngData() const;
  // A copy that carries its PNG encoding, so that pngData costs nothing afterwards.
  KitImage withPNGData() const;
  // The bitmap as JPEG with a compression factor from 0 (smallest) to 1 (best).
  QByteArray jpegData(double compressionFactor) const;

  // `flipped`: the painter's y axis points down (views and layers); the picture lands upright
  // in `rect`. Not flipped: the painter is y-up, as a bottom-left-origin context, and the
  // picture is mirrored inside `rect` so that it still shows upright there.
  void drawInRect(const QRectF& rect, QPainter& painter, bool flipped) const;
  void drawInRect(const QRectF& rect, QPainter& painter) const { drawInRect(rect, painter, false); }

  // Smoothly scaled copies; no bitmap when this has none or the target is empty or too large.
  KitImage scaleToSize(const QSizeF& size) const;
  // Keeps the aspect ratio.
  KitImage scaleToWidth(double width) const;

 private:
  struct Bitmap;
  explicit KitImage(std::shared_ptr<const Bitmap> bitmap) : mBitmap(std::move(bitmap)) {}

  // Null for no picture; otherwise a bitmap of a non-empty size.
  std::shared_ptr<const Bitmap> mBitmap;
};

}  // namespace orrery
