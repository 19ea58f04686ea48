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
      {"a run of 4 000 among words", runs(5, 100, space) + runs(4000, 1, space), false},
      {"a run of 5 000 among words", runs(5, 100, space) + runs(5000, 1, space), true},
      {"one line as long as a map holds", QString(1000000, QLatin1Char('x')), true},
      {"words joined by no-break spaces", runs(7, 1000, QChar::Nbsp), true},
      {"many runs of 200", runs(200, 500, space), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(textwrap::needsWrapAnywhere(c.text), c.anywhere);
    EXPECT_EQ(textwrap::wrapModeFor(c.text),
              c.anywhere ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
  }
}

}  // namespace
