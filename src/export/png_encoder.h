#pragma once
// PNG encoding of the exporters' pictures, about five times faster than QImage::save: Qt's
// writer tries every row filter on every row, where a rendered map, mostly flat colour,
// deflates as well unfiltered in runs (within a few per cent of Qt's size). The pixels read
// back are the same as through Qt's writer: opaque pictures as RGB, others as RGBA with alpha
// no longer premultiplied, and the picture's resolution kept.

#include <QByteArray>
#include <QImage>

namespace orrery {

// Empty for a null image or when libpng fails.
QByteArray encodePNG(const QImage& image);

}  // namespace orrery
