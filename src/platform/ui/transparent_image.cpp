#include "platform/ui/transparent_image.h"

#include <cstdlib>

namespace platform {

QImage makeTransparentImage(QSize pixels, double devicePixelRatio) {
  if (pixels.isEmpty()) return {};
  const qsizetype bytesPerLine = qsizetype(pixels.width()) * 4;
  void* bits = std::calloc(std::size_t(bytesPerLine) * std::size_t(pixels.height()), 1);
  if (!bits) return {};
  QImage image(static_cast<uchar*>(bits), pixels.width(), pixels.height(), bytesPerLine,
               QImage::Format_ARGB32_Premultiplied, [](void* memory) { std::free(memory); }, bits);
  if (image.isNull()) {
    std::free(bits);
    return {};
  }
  image.setDevicePixelRatio(devicePixelRatio);
  return image;
}

}  // namespace platform
