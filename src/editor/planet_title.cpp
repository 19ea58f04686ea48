#include "editor/planet_title.h"

#include "editor/title_cut.h"
#include "platform/services/font_catalog.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace orrery {

namespace {

constexpr double kLineGap = 2.0;

// Half the width of the circle (centre (t, t), radius t) at height y.
double halfChord(double t, double y) {
  const double dy = y - t;
  return std::sqrt(std::max(0.0, t * t - dy * dy));
}

}  // namespace

const QPaintDevice& PlanetTitle::referenceDevice() {
  static const QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
  return device;
}

QFont PlanetTitle::titleFont(double size) {
  // Finding the face asks fontconfig, which costs more than laying a title out: once a process.
  static const QFont face = platform::fontNamed(QStringLiteral("Helvetica"), 12).value_or(QFont());
  QFont font = face;
  platform::setFontSizeForDevice(font, size, &referenceDevice());
  return font;
}

PlanetTitle::Band PlanetTitle::discBand(bool withIcon) {
  return Band{withIcon ? 0.475 : 0.7, 0.55, 0.55};
}

PlanetTitle::PlanetTitle(const QString& text, float fontSize, float textRadius, bool withIcon)
    : PlanetTitle(text, fontSize, textRadius, discBand(withIcon)) {}

PlanetTitle::PlanetTitle(const QString& text, float fontSize, float textRadius, const Band& band) {
  const double t = textRadius;
  const double size = fontSize;
  if (text.isEmpty() || !(size > 0) || !(t > 0)) return;
  const double top = t - band.above * t;
  const double bottom = t + band.below * t;

  const QFont font = titleFont(size);
  // The line box is fontSize tall; the glyphs keep the font's ascent-to-descent proportion.
  const QFontMetricsF metrics(font, &referenceDevice());
  const double fontHeight = metrics.ascent() + metrics.descent();
  const double boxAscent = fontHeight > 0 ? size * metrics.ascent() / fontHeight : size;
  const double boxDescent = size - boxAscent;

  // The lines the band has room for, from its top: each line's top and width.
  struct Row {
    double top;
    double width;
  };
  std::vector<Row> rows;
  double widest = 0;
  for (double y = top; y + size <= bottom + 1e-9; y += size + kLineGap) {
    const double width = 2 * std::min(halfChord(t, y), halfChord(t, y + size));
    if (width < 1) break;
    rows.push_back({y, width});
    widest = std::max(widest, width);
  }

  // Lines go in from the top of the band while they fit; the rest of the title is not drawn.
  TitleCut cut(text, font, &referenceDevice(), static_cast<int>(rows.size()), widest);
  double firstBaseline = 0, lastBaseline = 0;
  int end = 0;
  do {
    mLayout = std::make_unique<QTextLayout>(cut.text(), font, const_cast<QPaintDevice*>(&referenceDevice()));
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    mLayout->setTextOption(option);
    mLayout->setCacheEnabled(true);
    mLineCount = 0;
    end = 0;
    mLayout->beginLayout();
    for (const Row& row : rows) {
      QTextLine line = mLayout->createLine();
      if (!line.isValid()) break;
      line.setLineWidth(row.width);
      const double baseline = row.top + boxAscent;
      line.setPosition(QPointF(t - row.width / 2, baseline - line.ascent()));
      if (mLineCount == 0) firstBaseline = baseline;
      lastBaseline = baseline;
      end = line.textStart() + line.textLength();
      ++mLineCount;
    }
    mLayout->endLayout();
  } while (!cut.holds(end));
  if (mLineCount == 0) return;
  mShown = text.left(end);

  // Heights measured upwards from the bottom chord.
  const double d = band.desiredCentre * t;
  const double lower = 0;
  const double upper = bottom - top;
  const double uFirst = bottom - firstBaseline;
  const double uLast = bottom - lastBaseline;
  const double half = ((uFirst - uLast) + boxAscent + boxDescent) / 2;
  const double m = uLast - boxDescent + half;
  double up = 0;
  if (d <= m) {
    const double target = std::max(d, lower + half);
    if (target < m) up = target - m;
  } else {
    const double target = std::min(d, upper - half);
    if (target > m) up = target - m;
  }
  mOffset = -up;
}

PlanetTitle::~PlanetTitle() = default;

void PlanetTitle::draw(QPainter& painter, const QColor& color) const {
  if (!mLayout || mLineCount == 0) return;
  painter.save();
  painter.translate(0, mOffset);
  painter.setPen(color);
  for (int i = 0; i < mLineCount; ++i) mLayout->lineAt(i).draw(&painter, QPointF(0, 0));
  painter.restore();
}

}  // namespace orrery
