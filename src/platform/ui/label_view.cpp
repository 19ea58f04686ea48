#include "platform/ui/label_view.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <vector>

namespace platform {
namespace {
constexpr double kSidePadding = 2.0;

// The first `count` characters of the text, with the attributes they had.
AttributedString leftPart(const AttributedString& text, int count) {
  AttributedString part;
  for (const auto& run : text.runs()) {
    const int length = std::min(run.length, count - run.start);
    if (length <= 0) break;
    part.append(text.string().mid(run.start, length), run.attributes);
  }
  return part;
}

double idealWidth(const AttributedString& text, const QFont& font, const QColor& color, TextAlignment alignment) {
  QTextDocument doc;
  fillTextDocument(doc, text, font, color, alignment);
  QTextOption option = doc.defaultTextOption();
  option.setWrapMode(QTextOption::NoWrap);
  doc.setDefaultTextOption(option);
  return doc.idealWidth();
}

}  // namespace

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

AttributedString LabelView::shownText() const {
  const double room = bounds().width() - 2 * kSidePadding;
  // Text of several lines keeps its lines; only a single line is cut.
  if (mText.isEmpty() || mText.string().contains(QLatin1Char('\n')) ||
      idealWidth(mText, mFont, mTextColor, mAlignment) <= room + 0.5)
    return mText;
  // The longest beginning that still fits with the ellipsis after it.
  const QString ellipsis(QChar(0x2026));
  const TextAttributes last = mText.runs().empty() ? TextAttributes{} : mText.runs().back().attributes;
  auto cut = [&](int count) {
    AttributedString part = leftPart(mText, count);
    while (!part.string().isEmpty() && part.string().back().isSpace()) part = leftPart(part, part.string().size() - 1);
    part.append(ellipsis, part.runs().empty() ? last : part.runs().back().attributes);
    return part;
  };
  // Cut only between whole characters as the reader sees them: an emoji of several code
  // points (surrogate pairs, joined sequences, flags) or a letter with its marks stays whole.
  std::vector<int> ends;
  QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, mText.string());
  for (qsizetype at = graphemes.toNextBoundary(); at > 0; at = graphemes.toNextBoundary())
    ends.push_back(static_cast<int>(at));
  // Indices into `ends`: how many whole characters are kept; -1 keeps none.
  int fits = -1, tooLong = static_cast<int>(ends.size());
  while (tooLong - fits > 1) {
    const int middle = (fits + tooLong) / 2;
    if (idealWidth(cut(ends[static_cast<std::size_t>(middle)]), mFont, mTextColor, mAlignment) <= room + 0.5)
      fits = middle;
    else
      tooLong = middle;
  }
  return cut(fits < 0 ? 0 : ends[static_cast<std::size_t>(fits)]);
}

void LabelView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  (void)dirtyRect;
  const QRectF b = bounds();
  if (mDrawsBackground) painter.fillRect(b, mBackground);
  if (mText.isEmpty()) return;
  QTextDocument doc;
  fillTextDocument(doc, shownText(), mFont, mTextColor, mAlignment);
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
