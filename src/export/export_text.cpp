#include "export/export_text.h"

#include "editor/title_cut.h"
#include "foundation/text_wrap.h"

#include <QPaintDevice>
#include <QPainter>
#include <QPen>

namespace orrery {

QFont exportFont(QFont face, double units, const QPaintDevice* device) {
  const int dpi = device ? device->logicalDpiY() : 72;
  face.setPointSizeF(units * 72.0 / (dpi > 0 ? dpi : 72));
  return face;
}

namespace {

QString withLineSeparators(QString text) {
  // QTextLayout breaks lines only at U+2028; a plain line feed would vanish from the line.
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  for (QChar& c : text)
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator) c = QChar::LineSeparator;
  return text;
}

}  // namespace

std::unique_ptr<QTextLayout> layOutText(const QString& text, const QFont& font, double width,
                                        const QPaintDevice* device) {
  auto layout = std::make_unique<QTextLayout>(withLineSeparators(text), font, const_cast<QPaintDevice*>(device));
  QTextOption option;
  // A text with long runs without a space wraps anywhere: the word wrap would take minutes on
  // a line as long as a map holds.
  option.setWrapMode(width > 0 ? textwrap::wrapModeFor(layout->text()) : QTextOption::NoWrap);
  layout->setTextOption(option);
  layout->setCacheEnabled(true);
  layout->beginLayout();
  double y = 0;
  for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
    if (width > 0) line.setLineWidth(width);
    line.setPosition(QPointF(0, y));
    y += line.height();
  }
  layout->endLayout();
  return layout;
}

void drawLineAt(QPainter& painter, const QTextLine& line, QPointF origin, const QColor& color) {
  painter.save();
  painter.setPen(QPen(color));
  painter.translate(origin);
  painter.scale(1, -1);
  line.draw(&painter, QPointF(-line.x(), -(line.y() + line.ascent())));
  painter.restore();
}

void drawFirstLine(QPainter& painter, const QString& text, const QFont& font, const QColor& color, double width,
                   QPointF origin) {
  if (text.isEmpty()) return;
  if (width <= 0) {
    const auto layout = layOutText(text, font, width, painter.device());
    if (layout->lineCount() > 0) drawLineAt(painter, layout->lineAt(0), origin, color);
    return;
  }
  // A title: broken at word boundaries, and only its first line laid out.
  TitleCut cut(withLineSeparators(text), font, painter.device(), 1, width);
  std::unique_ptr<QTextLayout> layout;
  QTextLine line;
  do {
    layout = std::make_unique<QTextLayout>(cut.text(), font, painter.device());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->beginLayout();
    line = layout->createLine();
    if (line.isValid()) {
      line.setLineWidth(width);
      line.setPosition(QPointF(0, 0));
    }
    layout->endLayout();
  } while (!cut.holds(line.isValid() ? line.textStart() + line.textLength() : 0));
  if (line.isValid()) drawLineAt(painter, line, origin, color);
}

}  // namespace orrery
