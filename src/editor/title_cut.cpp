#include "editor/title_cut.h"

#include <QFontMetricsF>
#include <QPaintDevice>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace orrery {

namespace {

// The characters before the end of a beginning whose breaks, glyphs and direction may differ
// from the whole title's: line breaks and shaping look a few characters ahead.
constexpr qsizetype kContext = 64;

bool isExplicit(QChar::Direction d) {
  switch (d) {
    case QChar::DirLRE: case QChar::DirLRO: case QChar::DirRLE: case QChar::DirRLO: case QChar::DirPDF:
    case QChar::DirLRI: case QChar::DirRLI: case QChar::DirFSI: case QChar::DirPDI: return true;
    default: return false;
  }
}

bool isStrong(QChar::Direction d) { return d == QChar::DirL || d == QChar::DirR || d == QChar::DirAL; }

// The code point at `i`, stepping `i` over a surrogate pair's second half.
char32_t codePointAt(const QString& text, qsizetype& i) {
  const QChar c = text.at(i);
  if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
    return QChar::surrogateToUcs4(c, text.at(++i));
  return c.unicode();
}

// Opening brackets still waiting for their closing ones, as the direction of a bracket pair is
// found: a closing bracket closes the latest opening one of its kind and any opened after it.
class BracketPairs {
 public:
  // The stack's depth at which bracket pairs are given up for the whole text.
  static constexpr std::size_t kDepth = 63;

  void read(char32_t c, qsizetype at) {
    const QChar::Category category = QChar::category(c);
    if (category == QChar::Punctuation_Open) {
      mOpen.emplace_back(QChar::mirroredChar(c), at);
      if (mFirst < 0) mFirst = at;
      mDeepest = std::max(mDeepest, mOpen.size());
    } else if (category == QChar::Punctuation_Close) {
      const auto match = std::find_if(mOpen.rbegin(), mOpen.rend(), [c](const auto& o) { return o.first == c; });
      if (match != mOpen.rend()) mOpen.erase(std::prev(match.base()), mOpen.end());
    }
  }
  bool openBefore(qsizetype at) const { return !mOpen.empty() && mOpen.front().second < at; }
  bool openedBefore(qsizetype at) const { return mFirst >= 0 && mFirst < at; }

  static bool overflow(const QString& text) {
    BracketPairs pairs;
    for (qsizetype i = 0; i < text.size() && pairs.mDeepest < kDepth; ++i) pairs.read(codePointAt(text, i), i);
    return pairs.mDeepest >= kDepth;
  }

 private:
  std::vector<std::pair<char32_t, qsizetype>> mOpen;  // the closing bracket awaited, where it opened
  qsizetype mFirst = -1;
  std::size_t mDeepest = 0;
};

}  // namespace

TitleCut::TitleCut(const QString& title, const QFont& font, const QPaintDevice* device, int lines, double widest)
    : mTitle(title), mFont(font), mDevice(device), mWidest(std::max(0.0, widest)) {
  // A tenth of an em, narrower than any letter of a text face: no metrics are asked for a
  // title shorter than the shape could ever hold.
  const int dpi = device && device->logicalDpiY() > 0 ? device->logicalDpiY() : 72;
  const double em = font.pointSizeF() > 0 ? font.pointSizeF() * dpi / 72 : font.pixelSize();
  const double narrow = std::max(0.1, em / 10);
  const double perLine = std::ceil(mWidest / narrow) + 1;
  // One line more than the shape holds, so that a word running into the cut fills no line.
  const double characters = (std::max(lines, 0) + 1.0) * perLine + 2.0 * kContext;
  cutAt(characters < double(title.size()) ? qsizetype(characters) : title.size());
}

void TitleCut::cutAt(qsizetype length) {
  if (length >= mTitle.size()) {
    mText = mTitle;
    return;
  }
  if (mTitle.at(length - 1).isHighSurrogate()) ++length;
  mText = mTitle.left(length);
}

bool TitleCut::holds(qsizetype shownEnd) {
  if (isWhole()) return true;
  const qsizetype settledEnd = mText.size() - kContext;
  if (shownEnd <= settledEnd && settled(shownEnd, settledEnd)) return true;
  cutAt(4 * mText.size());
  return false;
}

// The lines shown end at `shownEnd`; what follows up to `settledEnd` is the whole title's too.
bool TitleCut::settled(qsizetype shownEnd, qsizetype settledEnd) const {
  // A word that runs on into the cut, however long in the whole title, is wider than any line
  // of the shape: every line that reaches it breaks as it would in the whole title.
  const QString rest = mTitle.mid(shownEnd, settledEnd - shownEnd);
  const QFontMetricsF metrics(mFont, const_cast<QPaintDevice*>(mDevice));
  if (metrics.horizontalAdvance(rest) <= mWidest + metrics.height()) return false;

  // The shown characters take the directions they take in the whole title. In a left-to-right
  // title with nothing right to left before the cut they all run left to right. Otherwise a
  // strong character follows them before the cut, and every bracket before it that is still
  // open there could pair past the cut (a pair takes one direction), as could all of them when
  // the whole title opens too many at once. Explicit embeddings and isolates may reach past it.
  bool rightToLeft = false;
  qsizetype nextStrong = -1;
  BracketPairs brackets;
  for (qsizetype i = 0; i < settledEnd; ++i) {
    const qsizetype at = i;
    const char32_t c = codePointAt(mTitle, i);
    const QChar::Direction d = QChar::direction(c);
    if (isExplicit(d)) return false;
    if (d == QChar::DirR || d == QChar::DirAL || d == QChar::DirAN) rightToLeft = true;
    if (nextStrong < 0 && at >= shownEnd && isStrong(d)) nextStrong = at;
    brackets.read(c, at);
  }
  if (rightToLeft || mTitle.isRightToLeft()) {
    if (nextStrong < 0 || brackets.openBefore(nextStrong)) return false;
    if (brackets.openedBefore(nextStrong) && BracketPairs::overflow(mTitle)) return false;
  }

  // Characters common to all scripts before the first of a script take that script, which
  // chooses how they are shaped: it comes before the cut, or nowhere.
  for (qsizetype i = 0; i < mTitle.size(); ++i) {
    const QChar::Script script = QChar::script(codePointAt(mTitle, i));
    if (script != QChar::Script_Common && script != QChar::Script_Inherited) return i < settledEnd;
  }
  return true;
}

}  // namespace orrery
