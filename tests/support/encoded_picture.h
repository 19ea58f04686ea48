#pragma once
// A picture's bytes as a file of `format` ("PNG", "JPEG", …) holds them, for tests that hand
// pictures over as data.

#include <QBuffer>
#include <QByteArray>
#include <QImage>

namespace testsupport {

inline QByteArray encodedPicture(const QImage& picture, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, format);
  return bytes;
}

}  // namespace testsupport
