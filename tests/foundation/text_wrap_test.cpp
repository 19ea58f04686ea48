#include "foundation/text_wrap.h"

#include <QString>

#include <gtest/gtest.h>

namespace {

using namespace orrery;

// `count` runs of `run` letters, each followed by `separator`.
QString runs(qsizetype run, qsizetype count, QChar separator) {
  return (QString(run, QLatin1Char('x')) + separator).repeated(count);
}

// The word wrap stays for prose and lines however long the note, and for a long token among
// words; only a run long enough to stall the word wrap makes the text wrap anywhere.
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(textwrap::needsWrapAnywhere(c.text), c.anywhere);
  }
}

}  // namespace
