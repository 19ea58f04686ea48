#pragma once
// A read-only multi-line text view: its text container is the view's width less twice the
// horizontal inset (no wrapping while the view has no width), and the used rectangle is the
// laid-out text's size without the inset: the container width for a text that wraps, the
// text's own width for one that fits.

#include "platform/ui/attributed_string.h"
#include "platform/ui/view.h"

#include <QTextDocument>

#include <optional>

namespace platform {

class TextDocumentView : public View {
 public:
  TextDocumentView();

  void setAttributedString(const AttributedString& text);
  const AttributedString& attributedString() const { return mText; }
  // Removes all text.
  void clearText();

  QSizeF textContainerInset() const { return mInset; }
  void setTextContainerInset(const QSizeF& inset);
  bool drawsBackground() const { return mDrawsBackground; }
  void setDrawsBackground(bool draws);
  QColor backgroundColor() const { return mBackground; }
  void setBackgroundColor(const QColor& color);
  bool isEditable() const { return false; }
  bool isSelectable() const { return false; }

  // Lays the text out for the current width (once per text and width) and answers the used
  // size.
  QSizeF usedSize();

  void setFrame(const QRectF& frame) override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

 private:
  void relayout();
  bool anyLineWrapped() const;

  AttributedString mText;
  QTextDocument mDocument;
  std::optional<QSizeF> mUsed;  // for the document's current text and width
  QSizeF mInset;
  bool mDrawsBackground = false;
  QColor mBackground{Qt::white};
};

}  // namespace platform
