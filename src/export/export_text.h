#pragma once
// Text for the page and picture writers, which draw into painters whose y grows upwards (the
// page's maker flipped them): fonts sized in the device's units whatever its resolution (12
// is 12 points in a PDF at 72 dpi, 12 pixels in a picture), and lines drawn with their
// baseline origin at a y-up point, flipped locally so the glyphs stand upright. Any thread.

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QString>
#include <QTextLayout>
#include <memory>

class QPainter;
class QPaintDevice;

namespace orrery {

// `face` sized `units` tall in `device`'s own units.
QFont exportFont(QFont face, double units, const QPaintDevice* device);

// The text laid out in lines of `width` (no wrapping when width ≤ 0) at word boundaries, or
// anywhere for a text with very long runs without a space (textwrap::needsWrapAnywhere),
// broken at every line feed as well. Linear in the text's length.
std::unique_ptr<QTextLayout> layOutText(const QString& text, const QFont& font, double width,
                                        const QPaintDevice* device);

// Draws `line` in `color` with its baseline starting at `origin` (y-up coordinates).
void drawLineAt(QPainter& painter, const QTextLine& line, QPointF origin, const QColor& color);

// Draws only the first line of `text` with its baseline at `origin`: a title broken at word
// boundaries within `width` (laid out no further than that line), or unbroken when width ≤ 0.
void drawFirstLine(QPainter& painter, const QString& text, const QFont& font, const QColor& color, double width,
                   QPointF origin);

}  // namespace orrery
