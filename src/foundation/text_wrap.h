#pragma once
// How a note that may hold very long runs without a space is wrapped, the same wherever it is
// laid out in lines: the note field and the note pages of a PDF or a print. Any thread.

#include <QStringView>
#include <QTextOption>

namespace orrery::textwrap {

// Qt's word wrap lays each line out up to the next place to break (a space, or wherever the
// line-breaking rules of the text's script allow a break: between most Chinese or Japanese
// characters, say), so a run of L characters without one costs it about L² / (2 × the
// characters a line holds): a line of a million letters takes minutes. Runs this short span a
// few lines at most and cost next to nothing.
inline constexpr qsizetype kShortRun = 100;
// The sum of the squares of a text's longer runs beyond which the word wrap would add tens of
// milliseconds to a layout of it: one run of 20 000 letters took 25 ms at 35 characters a
// line, 40 000 took 100 ms. Below it a long token in prose (a key, a web address, a line of
// a log) keeps the word wrap of the words around it.
inline constexpr double kMaxWordWrapCost = 4e8;

// Whether word wrapping `text` would cost more than kMaxWordWrapCost, so that it is wrapped
// anywhere as a whole (the word wrap breaks such runs anywhere too). The places to break are
// those Qt's word wrap stops at. Linear in the text's length.
bool needsWrapAnywhere(QStringView text);

// The word wrap, or wrapping anywhere for a text that needs it.
QTextOption::WrapMode wrapModeFor(QStringView text);

}  // namespace orrery::textwrap
