#include "platform/ui/text_document_view.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>

namespace platform {

TextDocumentView::TextDocumentView() { mDocument.setDocumentMargin(0); }

void TextDocumentView::setAttributedString(const AttributedString& text) {
  mText = text;
  fillTextDocument(mDocument, mText, mDocument.defaultFont(), Qt::black, TextAlignment::Natural);
  relayout();
  setNeedsDisplay();
}

void TextDocumentView::clearText() { setAttributedString(AttributedString()); }

void TextDocumentView::setTextContainerInset(const QSizeF& inset) {
  mInset = inset;
  relayout();
  setNeedsDisplay();
}

void TextDocumentView::setDrawsBackground(bool draws) {
  mDrawsBackground = draws;
  setNeedsDisplay();
}

void TextDocumentView::setBackgroundColor(const QColor& color) {
  mBackground = color;
  setNeedsDisplay();
}

void TextDocumentView::relayout() {
  const double width = frame().width() - 2 * mInset.width();
  mDocument.setTextWidth(frame().width() > 0 ? std::max(0.0, width) : -1);
}

QSizeF TextDocumentView::usedSize() {
  if (mText.isEmpty()) return QSizeF(0, 0);
  // A text that has to wrap uses the whole container width, one that fits its own width.
  mDocument.setTextWidth(-1);
  const double natural = mDocument.idealWidth();
  relayout();
  const double container = mDocument.textWidth();
  const double width = container >= 0 ? std::min(natural, container) : natural;
  return QSizeF(width, mDocument.size().height());
}

void TextDocumentView::setFrame(const QRectF& frame) {
  View::setFrame(frame);
  relayout();
}

void TextDocumentView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  if (mDrawsBackground) painter.fillRect(dirtyRect, mBackground);
  painter.save();
  const QPointF origin = bounds().topLeft() + QPointF(mInset.width(), mInset.height());
  painter.translate(origin);
  QAbstractTextDocumentLayout::PaintContext context;
  // Only the blocks in the asked-for part are laid down: a long text drawn in tiles stays cheap.
  context.clip = dirtyRect.translated(-origin);
  mDocument.documentLayout()->draw(&painter, context);
  painter.restore();
}

}  // namespace platform
