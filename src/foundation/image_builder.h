#pragma once
// An off-screen drawing surface: startWithSize hands out a painter on a new transparent
// bitmap, consumeImage ends the drawing and hands back the picture. Each builder belongs to
// one thread from start to consume; builders on different threads are independent.

#include <QImage>
#include <QPainter>
#include <QSizeF>

#include <memory>

namespace orrery {

class ImageBuilder {
 public:
  ImageBuilder() = default;
  ~ImageBuilder();
  ImageBuilder(const ImageBuilder&) = delete;
  ImageBuilder& operator=(const ImageBuilder&) = delete;

  // A painter on a new bitmap of `size` pixels (truncated), y axis down, origin top left;
  // nullptr when the bitmap cannot be made. A drawing still open is dropped.
  QPainter* startWithSize(const QSizeF& size);
  // Ends the drawing and returns the picture; the builder is then ready for the next start.
  // Null when nothing was started.
  QImage consumeImage();

 private:
  QImage mImg;
  std::unique_ptr<QPainter> mOffscreenRep;
};

}  // namespace orrery
