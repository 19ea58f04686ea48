#include "platform/ui/text_document_view.h"

#include <QTextDocument>

#include <gtest/gtest.h>

namespace platform {
namespace {

// The used size worked out on a document of its own: the text's natural width (laid out
// without wrapping) up to the container width, and the height laid out at that width.
QSizeF reference(const AttributedString& text, double frameWidth, double inset) {
  QTextDocument document;
  document.setDocumentMargin(0);
  fillTextDocument(document, text, document.defaultFont(), Qt::black, TextAlignment::Natural);
  document.setTextWidth(-1);
  const double natural = document.idealWidth();
  const double container = frameWidth > 0 ? std::max(0.0, frameWidth - 2 * inset) : -1;
  document.setTextWidth(container);
  return QSizeF(container >= 0 ? std::min(natural, container) : natural, document.size().height());
}

AttributedString plain(const QString& text) {
  TextAttributes attributes;
  attributes.font = QFont("DejaVu Sans", 12);
  return AttributedString(text, attributes);
}

TEST(TextDocumentView, UsedSizeIsTheNaturalWidthUpToTheContainerAndFollowsTextAndWidth) {
  const QString lines = QStringLiteral("one short line\nand a second, somewhat longer line\n\nafter a gap");
  const QString separated = QStringLiteral("first part") + QChar::LineSeparator + QStringLiteral("second");
  const QString paragraph = QStringLiteral("words that wrap when the view is narrow ").repeated(12);
  const QString oneLongWord = QStringLiteral("x").repeated(300);
  for (const QString& text : {QStringLiteral("fits"), lines, separated, paragraph, oneLongWord}) {
    TextDocumentView view;
    view.setTextContainerInset(QSizeF(10, 6));
    view.setAttributedString(plain(text));
    // Widths go up and down and come back: a kept answer must belong to the current width.
    for (const double width : {0.0, 900.0, 200.0, 60.0, 200.0, 15.0, 900.0}) {
      SCOPED_TRACE(QStringLiteral("%1 at %2").arg(text.left(20)).arg(width).toStdString());
      view.setFrameSize(QSizeF(width, 1000));
      const QSizeF expected = reference(plain(text), width, 10);
      const QSizeF used = view.usedSize();
      EXPECT_DOUBLE_EQ(used.width(), expected.width());
      EXPECT_DOUBLE_EQ(used.height(), expected.height());
      EXPECT_EQ(view.usedSize(), used);
    }
    // A new text or inset at the same width is measured anew.
    view.setFrameSize(QSizeF(200, 1000));
    view.usedSize();
    view.setAttributedString(plain(text + text));
    EXPECT_EQ(view.usedSize(), reference(plain(text + text), 200, 10));
    view.setTextContainerInset(QSizeF(30, 6));
    EXPECT_EQ(view.usedSize(), reference(plain(text + text), 200, 30));
    view.clearText();
    EXPECT_EQ(view.usedSize(), QSizeF(0, 0));
  }
}

}  // namespace
}  // namespace platform
