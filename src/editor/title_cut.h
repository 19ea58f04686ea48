#pragma once
// How much of a title to lay out. Titles wrap at word boundaries, and Qt's word wrap reads each
// line ahead to the next place to break: on a run of a million letters every line reads to its
// end, and the whole title is measured and shaped first. A disc, a corner or a line shows a
// bounded part of a title, so the title is laid out from a beginning long enough to fill the
// shape, and again from a longer one whenever that beginning might show otherwise than the
// whole title would. Any thread.

#include <QFont>
#include <QString>

class QPaintDevice;

namespace orrery {

class TitleCut {
 public:
  // A shape of at most `lines` lines, none wider than `widest`, for `font` on `device`.
  TitleCut(const QString& title, const QFont& font, const QPaintDevice* device, int lines, double widest);

  // What to lay out: the title, or a beginning of it.
  const QString& text() const { return mText; }
  bool isWhole() const { return mText.size() == mTitle.size(); }

  // Whether the layout of text(), whose shown lines end at `shownEnd`, shows what the whole
  // title's would. When it may not, text() becomes a longer beginning, in the end the whole title.
  bool holds(qsizetype shownEnd);

 private:
  void cutAt(qsizetype length);
  bool settled(qsizetype shownEnd, qsizetype settledEnd) const;

  QString mTitle;
  QString mText;
  QFont mFont;
  const QPaintDevice* mDevice;
  double mWidest;
};

}  // namespace orrery
