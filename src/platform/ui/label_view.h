#pragma once
// A passive one-field text display: the label look of the platform's text field (no bezel,
// no editing), drawn with QPainter.

#include "platform/ui/attributed_string.h"
#include "platform/ui/view.h"

namespace platform {

class LabelView : public View {
 public:
  LabelView();
  explicit LabelView(const QRectF& frame);

  QString stringValue() const { return mText.string(); }
  void setStringValue(const QString& text);
  const AttributedString& attributedStringValue() const { return mText; }
  void setAttributedStringValue(const AttributedString& text);
  QFont font() const { return mFont; }
  void setFont(const QFont& font);
  QColor textColor() const { return mTextColor; }
  void setTextColor(const QColor& color);
  TextAlignment alignment() const { return mAlignment; }
  void setAlignment(TextAlignment alignment);
  bool drawsBackground() const { return mDrawsBackground; }
  void setDrawsBackground(bool draws);
  QColor backgroundColor() const { return mBackground; }
  void setBackgroundColor(const QColor& color);

  // The size the text needs, with the field's 2-point side padding.
  QSizeF fittingSize() const;
  // The text as drawn: a line wider than the label is cut short with an ellipsis.
  AttributedString shownText() const;
  void sizeToFit();

  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

 private:
  AttributedString mText;
  QFont mFont;
  QColor mTextColor{Qt::black};
  TextAlignment mAlignment = TextAlignment::Natural;
  bool mDrawsBackground = false;
  QColor mBackground{Qt::white};
};

}  // namespace platform
