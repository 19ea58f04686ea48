#include "foundation/views/colored_view.h"

#include <QPainter>

namespace orrery {

ColoredView::ColoredView(const QBrush& color) : mColor(color) { setNeedsDisplay(); }

ColoredView::ColoredView(const QBrush& color, Layouter* layouter) : BaseView(layouter), mColor(color) {
  setNeedsDisplay();
}

void ColoredView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  (void)dirtyRect;
  painter.fillRect(bounds(), mColor);
}

}  // namespace orrery
