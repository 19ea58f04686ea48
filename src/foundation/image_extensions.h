#pragma once
// Drawing and scaling of plain platform images (QImage), and the application's named image
// resources.

#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QSizeF>
#include <QString>

namespace orrery::imageext {

// The image resource `name` (a PNG in the resources folder); null when there is none. Where
// "name@2x.png" exists, that picture with a device pixel ratio of 2: its
// deviceIndependentSize() is the point size.
QImage deviceImageNamed(const QString& name);
// The point size deviceImageNamed's picture has, read without decoding it; empty when there
// is none.
QSizeF deviceImageSizeNamed(const QString& name);

// Like KitImage::drawInRect: `flipped` means the painter's y axis points down.
void drawInRect(const QImage& image, const QRectF& rect, QPainter& painter, bool flipped);
// The same with a composition mode and an opacity from 0 to 1, both restored afterwards.
void drawInRect(const QImage& image, const QRectF& rect, QPainter& painter,
                QPainter::CompositionMode mode, double alpha, bool flipped);

// A new image of `size` (truncated) holding the image drawn smoothly over its whole area;
// null for an empty source or target.
QImage scaleToSize(const QImage& image, const QSizeF& size);

}  // namespace orrery::imageext
