#pragma once
// Small picture filters over premultiplied ARGB bitmaps: colour controls (saturation,
// brightness, contrast), Gaussian blur, a constant colour multiplied over a picture, and the
// flat silhouette tint (`transformImage`). All of them are pure functions and may run on any
// thread.

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>

namespace orrery::imagefilters {

// A filter result that may reach beyond the source picture (a blur spreads its edges):
// pixel (0, 0) of `image` lies at `origin` in the source picture's coordinates.
struct FilteredImage {
  QImage image;
  QPoint origin;

  QRect extent() const { return QRect(origin, image.size()); }
};

FilteredImage fromImage(const QImage& image);

// Per-pixel colour controls on unpremultiplied components in 0..1: saturation mixes each
// colour with its luminance (1 keeps it, 0 gives grey, above 1 strengthens it), brightness is
// added, contrast scales around the middle grey. Alpha is kept.
QImage colorControls(const QImage& image, double saturation, double brightness = 0.0,
                     double contrast = 1.0);

// Gaussian blur of standard deviation `radius` pixels; outside the picture counts as
// transparent, so the result is larger than its input by three radii on every side.
FilteredImage gaussianBlur(const FilteredImage& image, double radius);

// Multiply blend of a constant colour (the top layer, infinite in extent) over `background`.
FilteredImage multiplyWithConstantColor(const FilteredImage& background, const QColor& color);

// The silhouette tint: the picture's shape filled flat with (red, green, blue) in 0..255,
// keeping its alpha.
QImage transformImage(const QImage& image, double red, double green, double blue);

}  // namespace orrery::imagefilters
