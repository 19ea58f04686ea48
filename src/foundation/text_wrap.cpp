#include "foundation/text_wrap.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace orrery::textwrap {

namespace {

// A space Qt's word wrap stops at.
bool breakingSpace(QChar c) { return c.isSpace() && c.decompositionTag() != QChar::NoBreak; }

// The line-breaking analysis takes a long run in pieces this long, so that a run of letters is
// settled by its first piece.
constexpr qsizetype kPiece = qsizetype(1) << 15;

// Adds to `cost` the squares of the long stretches of `run` (which holds no space to break at)
// between the breaks the line-breaking rules allow in it; stops once the cost is too high.
void addCostOfRun(QStringView run, double& cost) {
  const auto add = [&cost](qsizetype stretch) {
    if (stretch > kShortRun) cost += double(stretch) * double(stretch);
  };
  qsizetype stretch = 0;
  for (qsizetype from = 0; from < run.size(); from += kPiece) {
    const QStringView piece = run.sliced(from, std::min(kPiece, run.size() - from));
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, piece);
    qsizetype last = 0;
    // The end of a piece is no break: its stretch goes on into the next piece.
    for (qsizetype at = breaks.toNextBoundary(); at != -1 && at < piece.size(); at = breaks.toNextBoundary()) {
      add(stretch + at - last);
      stretch = 0;
      last = at;
      if (cost > kMaxWordWrapCost) return;
    }
    stretch += piece.size() - last;
    if (cost + double(stretch) * double(stretch) > kMaxWordWrapCost) break;
  }
  add(stretch);
}

}  // namespace

bool needsWrapAnywhere(QStringView text) {
  // Runs between spaces that short have no longer stretch, and the line-breaking analysis,
  // several times slower than this scan, is left out for them.
  double cost = 0;
  qsizetype start = 0;
  for (qsizetype i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !breakingSpace(text[i])) continue;
    if (i - start > kShortRun) addCostOfRun(text.sliced(start, i - start), cost);
    if (cost > kMaxWordWrapCost) return true;
    start = i + 1;
  }
  return false;
}

QTextOption::WrapMode wrapModeFor(QStringView text) {
  return needsWrapAnywhere(text) ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere;
}

}  // namespace orrery::textwrap
