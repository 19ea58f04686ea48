#pragma once
// A read-only, multi-line text with a chosen font, colour, kerning, alignment and inset
// that can size itself to its text or to a given width. The setters only store their value:
// it takes effect at the next setText, so callers set the text last.

#include "foundation/views/base_view.h"
#include "platform/ui/attributed_string.h"
#include "platform/ui/text_document_view.h"

#include <optional>

namespace orrery {

class TextView : public BaseView {
 public:
  TextView();

  const QString& text() const { return mText; }
  void setText(const QString& text);
  void setTextColor(const std::optional<QColor>& color) { mTextColor = color; }
  void setLineSpacing(double spacing) { mLineSpacing = spacing; }
  void setLineHeightMultiple(double multiple) { mLineHeightMultiple = multiple; }
  void setFont(const std::optional<QFont>& font) { mFont = font; }
  void setKern(double kern) { mKern = kern; }
  void setTextAlignment(platform::TextAlignment alignment) { mTextAlignment = alignment; }
  void setInset(const QSizeF& inset) { mInset = inset; }
  QSizeF inset() const { return mInset; }

  // Rebuilds the shown text from the stored values.
  void update();
  // The used size of the laid-out text (no inset); (0, 0) before the first setText.
  QSizeF intrinsicContentSize();
  void sizeToFit();
  void sizeToFitWidth(double width);
  void applyLayout() override;

  const std::shared_ptr<platform::TextDocumentView>& innerTextView() const { return mTextView; }

 private:
  std::shared_ptr<platform::TextDocumentView> mTextView;
  QString mText;
  std::optional<QColor> mTextColor;
  double mLineSpacing = 0;
  double mLineHeightMultiple = 1.0;
  std::optional<QFont> mFont;
  double mKern = 0;
  platform::TextAlignment mTextAlignment = platform::TextAlignment::Left;
  QSizeF mInset;
};

}  // namespace orrery
