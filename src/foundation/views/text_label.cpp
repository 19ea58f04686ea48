#include "foundation/views/text_label.h"

namespace orrery {

TextLabel::TextLabel() : TextLabel(QRectF()) {}

TextLabel::TextLabel(const QRectF& frame) : LabelView(frame) { setDrawsBackground(false); }

void TextLabel::setFontSize(double size) {
  QFont f = font();
  f.setPointSizeF(size);
  setFont(f);
}

}  // namespace orrery
