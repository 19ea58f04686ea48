#include "foundation/text_wrap.h"

#include <QString>

#include <gtest/gtest.h>

namespace {

using namespace orrery;

// `count` runs of `run` letters, each followed by `separator`.
QString runs(qsizetype run, qsizetype count, QChar separator) {
  return (QString(run, QLatin1Char('x')) + separator).repeated(count);
}

TEST(TextWrap, OnlyTextsWithRunsTooLongForTheWordWrapWrapAnywhere) {
  const QChar space(QLatin1Char(' ')), lineFeed(QLatin1Char('\n'));
  const struct {
    const char* what;
    QString text;
    bool anywhere;
  } cases[] = {
      {"empty", QString(), false},
      {"prose as long as a map holds", runs(7, 125000, space), false},
      {"lines of 80 as long as a map holds", runs(80, 12345, lineFeed), false},
      {"lines ended by line separators", runs(80, 12345, QChar::LineSeparator), false},
      {"a run of 20 000 among words", runs(5, 100, space) + runs(20000, 1, space), false},
      {"a run of 21 000 among words", runs(5, 100, space) + runs(21000, 1, space), true},
      {"one line as long as a map holds", QString(1000000, QLatin1Char('x')), true},
      {"words joined by no-break spaces", runs(7, 3000, QChar::Nbsp), true},
      {"runs of 200 as long as a map holds", runs(200, 4900, space), false},
      {"a hundred runs of 2 000", runs(2000, 100, lineFeed), false},
      {"a hundred and one runs of 2 000", runs(2000, 101, lineFeed), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(textwrap::needsWrapAnywhere(c.text), c.anywhere);
    EXPECT_EQ(textwrap::wrapModeFor(c.text),
              c.anywhere ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
  }
}

}  // namespace
