#include "editor/parent_title_label.h"

#include "editor/planet_title.h"
#include "editor/title_cut.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

namespace orrery {

namespace {
// The side padding of the platform's text field, kept so the title starts where a label's would.
constexpr double kSidePadding = 2.0;
}  // namespace

ParentTitleLabel::ParentTitleLabel(const QRectF& frame) : TextLabel(frame) {}

int ParentTitleLabel::layOut(QTextLayout& layout) const {
  const QRectF b = bounds();
  const double width = b.width() - 2 * kSidePadding;
  const double lineHeight = QFontMetricsF(font(), &PlanetTitle::referenceDevice()).height();
  const int lines = lineHeight > 0 ? static_cast<int>((b.height() + 0.5) / lineHeight) + 1 : 1;
  TitleCut cut(stringValue(), font(), &PlanetTitle::referenceDevice(), lines, width);
  int fitting = 0;
  qsizetype end = 0;
  do {
    QString text = cut.text();
    // Line breaks in a title end its lines here as they do on the discs.
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(text);
    layout.setFont(font());
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    fitting = 0;
    end = 0;
    double y = 0;
    layout.beginLayout();
    while (width > 0) {
      QTextLine line = layout.createLine();
      if (!line.isValid()) break;
      line.setLineWidth(width);
      line.setPosition(QPointF(0, y));
      y += line.height();
      if (y > b.height() + 0.5) break;
      ++fitting;
      end = line.textStart() + line.textLength();
    }
    layout.endLayout();
  } while (!cut.holds(end));
  return fitting;
}

QStringList ParentTitleLabel::shownLines() const {
  QTextLayout layout(QString(), font(), const_cast<QPaintDevice*>(&PlanetTitle::referenceDevice()));
  const int count = layOut(layout);
  QStringList lines;
  for (int i = 0; i < count; ++i) {
    const QTextLine line = layout.lineAt(i);
    lines << layout.text().mid(line.textStart(), line.textLength()).remove(QChar::LineSeparator).trimmed();
  }
  return lines;
}

void ParentTitleLabel::drawRect(QPainter& painter, const QRectF& /*dirtyRect*/) {
  if (stringValue().isEmpty()) return;
  QTextLayout layout(QString(), font(), const_cast<QPaintDevice*>(&PlanetTitle::referenceDevice()));
  const int count = layOut(layout);
  const QRectF b = bounds();
  painter.save();
  painter.setClipRect(b);
  painter.setPen(textColor());
  for (int i = 0; i < count; ++i) layout.lineAt(i).draw(&painter, b.topLeft() + QPointF(kSidePadding, 0));
  painter.restore();
}

}  // namespace orrery
