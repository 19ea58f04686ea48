#pragma once
// A picture of one colour, premultiplied as the drawers' own pictures are.

#include <QColor>
#include <QImage>

namespace testsupport {

inline QImage solid(int w, int h, const QColor& color) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(color);
  return image;
}

}  // namespace testsupport
