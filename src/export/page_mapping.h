#pragma once
// Pages are laid out on a fixed layout area and mapped onto whatever printable area the paper
// gives: scaled uniformly to fit, centred horizontally, touching the top (y up).

#include <QRectF>
#include <QSizeF>

class QPainter;

namespace orrery {

// The layout page: 826 × 1170 points portrait, 1170 × 826 landscape; the layout area is it
// inset by 40 on every side, at the origin.
inline QSizeF layoutAreaSize(bool portrait) { return portrait ? QSizeF(746, 1090) : QSizeF(1090, 746); }

void scaleContext(QPainter& painter, const QSizeF& layout, const QRectF& target);

}  // namespace orrery
