#include "foundation/text_wrap.h"

namespace orrery::textwrap {

namespace {
bool breaksLine(QChar c) { return c.isSpace() && c.decompositionTag() != QChar::NoBreak; }
}  // namespace

bool needsWrapAnywhere(QStringView text) {
  double cost = 0;
  qsizetype run = 0;
  for (qsizetype i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !breaksLine(text[i])) {
      ++run;
      continue;
    }
    if (run > kShortRun) cost += double(run) * double(run);
    if (cost > kMaxWordWrapCost) return true;
    run = 0;
  }
  return false;
}

QTextOption::WrapMode wrapModeFor(QStringView text) {
  return needsWrapAnywhere(text) ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere;
}

}  // namespace orrery::textwrap
