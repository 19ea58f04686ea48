#include "platform/ui/label_view.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextDocument>
#include <QTextOption>

#include <cmath>

namespace platform {
namespace {
constexpr double kSidePadding = 2.0;
}

LabelView::LabelView() : LabelView(QRectF()) {}

LabelView::LabelView(const QRectF& frame) : View(frame), mFont(QFont().family(), 13) {}

void LabelView::setStringValue(const QString& text) {
  mText = AttributedString(text);
  setNeedsDisplay();
}

void LabelView::setAttributedStringValue(const AttributedString& text) {
  mText = text;
  setNeedsDisplay();
}

void LabelView::setFont(const QFont& font) {
  mFont = font;
  setNeedsDisplay();
}

void LabelView::setTextColor(const QColor& color) {
  mTextColor = color;
  setNeedsDisplay();
}

void LabelView::setAlignment(TextAlignment alignment) {
  mAlignment = alignment;
  setNeedsDisplay();
}

void LabelView::setDrawsBackground(bool draws) {
  mDrawsBackground = draws;
  setNeedsDisplay();
}

void LabelView::setBackgroundColor(const QColor& color) {
  mBackground = color;
  setNeedsDisplay();
}

QSizeF LabelView::fittingSize() const {
  QTextDocument doc;
  fillTextDocument(doc, mText, mFont, mTextColor, mAlignment);
  QTextOption option = doc.defaultTextOption();
  option.setWrapMode(QTextOption::NoWrap);
  doc.setDefaultTextOption(option);
  const double width = mText.isEmpty() ? 0 : std::ceil(doc.idealWidth());
  const double height = std::ceil(mText.isEmpty() ? QFontMetricsF(mFont).height() : doc.size().height());
  return QSizeF(width + 2 * kSidePadding, height);
}

void LabelView::sizeToFit() { setFrameSize(fittingSize()); }

void LabelView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  (void)dirtyRect;
  const QRectF b = bounds();
  if (mDrawsBackground) painter.fillRect(b, mBackground);
  if (mText.isEmpty()) return;
  QTextDocument doc;
  fillTextDocument(doc, mText, mFont, mTextColor, mAlignment);
  QTextOption option = doc.defaultTextOption();
  option.setWrapMode(QTextOption::NoWrap);
  doc.setDefaultTextOption(option);
  doc.setTextWidth(std::max(0.0, b.width() - 2 * kSidePadding));
  painter.save();
  painter.setClipRect(b);
  painter.translate(b.x() + kSidePadding, b.y());
  QAbstractTextDocumentLayout::PaintContext context;
  context.palette.setColor(QPalette::Text, mTextColor);
  doc.documentLayout()->draw(&painter, context);
  painter.restore();
}

}  // namespace platform
