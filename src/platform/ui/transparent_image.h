#pragma once
// Images that start fully transparent without being written to.

#include <QImage>
#include <QSize>

namespace platform {

// A premultiplied ARGB image of `pixels`, every pixel transparent (all zero bits), at the given
// device pixel ratio; null when the memory cannot be had. Its memory comes zeroed from the
// allocator (for a large image, pages the kernel zeroes only when first written), so a layer
// drawing a few shapes onto a window-sized image pays for what it draws, not for clearing the
// rest first.
QImage makeTransparentImage(QSize pixels, double devicePixelRatio);

}  // namespace platform
