#include "platform/ui/text_document_view.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextBlock>
#include <QTextLayout>

namespace platform {

TextDocumentView::TextDocumentView() { mDocument.setDocumentMargin(0); }

void TextDocumentView::setAttributedString(const AttributedString& text) {
  mText = text;
  fillTextDocument(mDocument, mText, mDocument.defaultFont(), Qt::black, TextAlignment::Natural);
  mUsed.reset();
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
  const double width = frame().width() > 0 ? std::max(0.0, frame().width() - 2 * mInset.width()) : -1;
  // A long text takes a good part of a second to lay out: only a new width lays it out again.
  if (width == mDocument.textWidth()) return;
  mDocument.setTextWidth(width);
  mUsed.reset();
}

bool TextDocumentView::anyLineWrapped() const {
  for (QTextBlock block = mDocument.begin(); block.isValid(); block = block.next()) {
    const QTextLayout* layout = block.layout();
    if (layout && layout->lineCount() > block.text().count(QChar::LineSeparator) + 1) return true;
  }
  return false;
}

QSizeF TextDocumentView::usedSize() {
  if (mText.isEmpty()) return QSizeF(0, 0);
  if (mUsed) return *mUsed;
  // One layout at the container width answers both: a text that had to wrap uses the whole
  // width, one that fits its widest line.
  const double height = mDocument.size().height();
  const double container = mDocument.textWidth();
  const double natural = mDocument.idealWidth();
  const double width = container < 0 ? natural : anyLineWrapped() ? container : std::min(natural, container);
  mUsed = QSizeF(width, height);
  return *mUsed;
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
