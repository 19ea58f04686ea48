#pragma once
// A view that fills its bounds with one colour or pattern, fixed at creation.

#include "foundation/views/base_view.h"

#include <QBrush>

namespace orrery {

class ColoredView : public BaseView {
 public:
  explicit ColoredView(const QBrush& color);
  ColoredView(const QBrush& color, Layouter* layouter);

  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
  bool isOpaque() const override { return true; }

 private:
  QBrush mColor;
};

}  // namespace orrery
