#include "platform/ui/attributed_string.h"

namespace platform {

void AttributedString::append(const QString& text, const TextAttributes& attributes) {
  if (text.isEmpty()) return;
  mRuns.push_back({static_cast<int>(mText.size()), static_cast<int>(text.size()), attributes});
  mText += text;
}

void AttributedString::clear() {
  mText.clear();
  mRuns.clear();
}

QList<QTextLayout::FormatRange> AttributedString::formats(const QFont& defaultFont,
                                                          const QColor& defaultColor) const {
  QList<QTextLayout::FormatRange> list;
  for (const auto& run : mRuns) {
    QTextLayout::FormatRange range;
    range.start = run.start;
    range.length = run.length;
    QFont font = run.attributes.font.value_or(defaultFont);
    if (run.attributes.kern && *run.attributes.kern != 0)
      font.setLetterSpacing(QFont::AbsoluteSpacing, *run.attributes.kern);
    range.format.setFont(font);
    range.format.setForeground(run.attributes.color.value_or(defaultColor));
    list.append(range);
  }
  return list;
}

std::optional<ParagraphStyle> AttributedString::paragraphStyle() const {
  for (const auto& run : mRuns)
    if (run.attributes.paragraph) return run.attributes.paragraph;
  return std::nullopt;
}

Qt::Alignment qtAlignment(TextAlignment alignment) {
  switch (alignment) {
    case TextAlignment::Right: return Qt::AlignRight;
    case TextAlignment::Center: return Qt::AlignHCenter;
    case TextAlignment::Justified: return Qt::AlignJustify;
    case TextAlignment::Left:
    case TextAlignment::Natural: break;
  }
  return Qt::AlignLeft;
}

}  // namespace platform

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace platform {

void fillTextDocument(QTextDocument& document, const AttributedString& text, const QFont& defaultFont,
                      const QColor& defaultColor, TextAlignment alignment) {
  document.clear();
  document.setDocumentMargin(0);
  document.setDefaultFont(defaultFont);
  QTextCursor cursor(&document);
  const ParagraphStyle style = text.paragraphStyle().value_or(ParagraphStyle{0, 0, 0, alignment});
  QTextBlockFormat block;
  block.setAlignment(qtAlignment(style.alignment));
  block.setTextIndent(style.firstLineHeadIndent);
  if (style.lineHeightMultiple > 0 && style.lineHeightMultiple != 1.0)
    block.setLineHeight(style.lineHeightMultiple * 100.0, QTextBlockFormat::ProportionalHeight);
  else if (style.lineSpacing > 0)
    block.setLineHeight(style.lineSpacing, QTextBlockFormat::LineDistanceHeight);
  cursor.setBlockFormat(block);
  for (const auto& range : text.formats(defaultFont, defaultColor)) {
    QTextCharFormat format = range.format;
    cursor.insertText(text.string().mid(range.start, range.length), format);
  }
  // Later blocks (line breaks in the text) take the same paragraph format.
  for (QTextBlock b = document.begin(); b.isValid(); b = b.next()) {
    QTextCursor c(b);
    c.setBlockFormat(block);
  }
}

}  // namespace platform
