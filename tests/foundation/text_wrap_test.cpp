#include "foundation/text_wrap.h"

#include <QString>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

using namespace orrery;

// `count` runs of `run` letters, each followed by `separator`.
QString runs(qsizetype run, qsizetype count, QChar separator) {
  return (QString(run, QLatin1Char('x')) + separator).repeated(count);
}

// A Chinese paragraph of `length` characters, its sentences ending in "，" and "。".
QString chinese(qsizetype length) {
  return QStringLiteral("我们今天去公园散步，天气很好。").repeated(length / 15 + 1).left(length);
}

// The word wrap stays for prose and lines however long the note, for a long token among words,
// and for Chinese, which breaks between characters without spaces; only a run long enough to
// stall the word wrap makes the text wrap anywhere.
TEST(TextWrap, OnlyTextsWithRunsTooLongForTheWordWrapWrapAnywhere) {
  const QChar space(QLatin1Char(' '));
  const struct {
    const char* what;
    QString text;
    bool anywhere;
  } cases[] = {
      {"prose as long as a map holds", runs(7, 125000, space), false},
      {"lines of 80 as long as a map holds", runs(80, 12345, QLatin1Char('\n')), false},
      {"a key of 10 000 letters among words", runs(5, 100, space) + runs(10000, 1, space), false},
      {"one line as long as a map holds", QString(1000000, QLatin1Char('x')), true},
      {"words joined by no-break spaces", runs(7, 125000, QChar::Nbsp), true},
      {"a Chinese paragraph of 30 000 characters", chinese(30000), false},
      {"30 000 letters without a break among Chinese", chinese(100) + QString(30000, QLatin1Char('x')), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(textwrap::needsWrapAnywhere(c.text), c.anywhere);
  }
}

// Laid out in the wrap the rule gives, a long Chinese paragraph keeps its line-breaking rules: no
// line begins with the punctuation that closes a clause.
TEST(TextWrap, AChineseParagraphStartsNoLineWithClosingPunctuation) {
  QTextLayout layout(chinese(30000));
  QTextOption option;
  option.setWrapMode(textwrap::wrapModeFor(layout.text()));
  layout.setTextOption(option);
  layout.beginLayout();
  int opened = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(300);
    const QChar first = layout.text().at(line.textStart());
    if (first == QChar(u'，') || first == QChar(u'。')) ++opened;
  }
  layout.endLayout();
  EXPECT_GT(layout.lineCount(), 100);
  EXPECT_EQ(opened, 0);
}

}  // namespace
