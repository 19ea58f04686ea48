#include "export/page_mapping.h"

#include <QPainter>

#include <algorithm>

namespace orrery {

void scaleContext(QPainter& painter, const QSizeF& layout, const QRectF& target) {
  const double s = std::min(target.width() / layout.width(), target.height() / layout.height());
  painter.translate(target.x(), target.y());
  painter.scale(s, s);
  painter.translate((target.width() / s - layout.width()) / 2, target.height() / s - layout.height());
}

}  // namespace orrery
