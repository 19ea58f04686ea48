#include "foundation/views/text_label.h"

#include "foundation/views/kit_font.h"

namespace orrery {

TextLabel::TextLabel() : TextLabel(QRectF()) {}

TextLabel::TextLabel(const QRectF& frame) : LabelView(frame) { setDrawsBackground(false); }

void TextLabel::setFontSize(double size) {
  setFont(kitFont(font(), size));
}

double TextLabel::fontSize() const { return kitFontSize(font()); }

}  // namespace orrery
