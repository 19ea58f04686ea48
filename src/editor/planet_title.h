#pragma once
// A disc's title laid out line by line into the part of its text circle between two
// horizontal chords: each line gets the width the circle leaves over its whole height,
// centred; lines are fontSize tall and 2 points apart; what does not fit is not drawn. The
// block is then moved toward the disc centre. Coordinates are y-down text space, in which the
// text circle of radius t has its centre at (t, t).

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

  PlanetTitle(const QString& text, float fontSize, float textRadius, bool withIcon);
  ~PlanetTitle();
  PlanetTitle(const PlanetTitle&) = delete;
  PlanetTitle& operator=(const PlanetTitle&) = delete;

  int lineCount() const { return mLineCount; }
  // The vertical move (down positive) that brings the block toward the disc centre.
  double offset() const { return mOffset; }
  // Draws the laid-out lines with the painter's current transform (text space) and colour.
  void draw(QPainter& painter, const QColor& color) const;

 private:
  std::unique_ptr<QTextLayout> mLayout;
  int mLineCount = 0;
  double mOffset = 0;
};

}  // namespace orrery
