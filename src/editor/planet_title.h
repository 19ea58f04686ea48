#pragma once
// A disc's title laid out line by line into the part of its text circle between two
// horizontal chords: each line gets the width the circle leaves over its whole height,
// centred, broken at word boundaries (anywhere inside a word too long for a line); lines are
// fontSize tall and 2 points apart; what does not fit is not drawn, nor laid out (TitleCut).
// The block is then moved toward the disc centre. Coordinates are y-down text space, in which
// the text circle of radius t has its centre at (t, t).

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QString>

#include <memory>

class QPainter;
class QPaintDevice;
class QTextLayout;

namespace orrery {

class PlanetTitle {
 public:
  // The device text is measured for: fonts are sized in logical pixels on it.
  static const QPaintDevice& referenceDevice();
  // "Helvetica" at `size` logical pixels.
  static QFont titleFont(double size);

  // The horizontal band of the text circle the lines go into, as fractions of the text
  // radius: its top edge above the centre, its bottom edge below it, and where the middle of
  // the line block should sit, measured up from the bottom edge.
  struct Band {
    double above = 0.7;
    double below = 0.55;
    double desiredCentre = 0.55;
  };
  // The editor's band (smaller above the centre when an icon is shown).
  static Band discBand(bool withIcon);

  PlanetTitle(const QString& text, float fontSize, float textRadius, bool withIcon);
  PlanetTitle(const QString& text, float fontSize, float textRadius, const Band& band);
  ~PlanetTitle();
  PlanetTitle(const PlanetTitle&) = delete;
  PlanetTitle& operator=(const PlanetTitle&) = delete;

  int lineCount() const { return mLineCount; }
  // The title as drawn: the whole text, or the beginning that fills the lines that fit.
  const QString& shownText() const { return mShown; }
  // The vertical move (down positive) that brings the block toward the disc centre.
  double offset() const { return mOffset; }
  // Draws the laid-out lines with the painter's current transform (text space) and colour.
  void draw(QPainter& painter, const QColor& color) const;

 private:
  std::unique_ptr<QTextLayout> mLayout;
  int mLineCount = 0;
  double mOffset = 0;
  QString mShown;
};

}  // namespace orrery
