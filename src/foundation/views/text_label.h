#pragma once
// A passive one-line label: never takes focus and lets clicks fall through to the views
// beneath it.

#include "platform/ui/label_view.h"

namespace orrery {

class TextLabel : public platform::LabelView {
 public:
  TextLabel();
  explicit TextLabel(const QRectF& frame);

  QString text() const { return stringValue(); }
  void setText(const QString& text) { setStringValue(text); }
  void setAttributedText(const platform::AttributedString& text) { setAttributedStringValue(text); }
  // The current font's family and face at the new size, in logical pixels.
  void setFontSize(double size);
  double fontSize() const;

  bool acceptsFirstResponder() const override { return false; }
  platform::View* hitTest(const QPointF& point) override {
    (void)point;
    return nullptr;
  }
};

}  // namespace orrery
