#include "export/simple_graph_print_renderer.h"

#include "export/export_text.h"
#include "foundation/globals.h"
#include "graph/graph_tile_factory.h"
#include "model/idea_snapshot.h"
#include "platform/services/date_formatter.h"

#include <QPainter>

#include <algorithm>

namespace orrery {

SimpleGraphPrintRenderer::SimpleGraphPrintRenderer(IdeaPtr frozen, QDateTime lastModified)
    : mIdea(std::move(frozen)),
      mLastModified(lastModified.isValid() ? std::move(lastModified) : QDateTime::currentDateTimeUtc()) {}

void SimpleGraphPrintRenderer::drawHeader(const QDateTime& date, const QString& title, QPainter& painter,
                                          const QRectF& box) {
  const QString dateText =
      platform::DateFormatter::fromTemplate(QStringLiteral("yyyyMMdd   HHmm")).stringFromDate(date);
  drawFirstLine(painter, dateText, exportFont(Globals::fontAvenirHeavy(10), 10, painter.device()),
                Globals::colorGray46(), /*width=*/0, QPointF(box.x(), box.y() + box.height() - 10));
  drawFirstLine(painter, title, exportFont(Globals::fontAvenirMedium(22), 22, painter.device()), Globals::colorBlack(),
                box.width(), QPointF(box.x(), box.y() + box.height() - 38));
}

void SimpleGraphPrintRenderer::renderInContext(QPainter& painter, const QRectF& page) {
  painter.fillRect(page, Qt::white);
  drawHeader(mLastModified, mIdea ? mIdea->text() : QString(), painter, page);
  if (!mIdea) return;

  GraphTileFactory factory(IdeaSnapshot::createFromFrozen(mIdea), GraphFilter(), /*centerToRoot=*/false);
  factory.setNoteStyle(mShowNoteNumbers ? 2 : 0);
  const QSizeF content = factory.contentSize();
  if (content.width() <= 0 || content.height() <= 0) return;
  const double w = page.width();
  const double g = page.height() - 40;
  const double s = std::min({1.0, w / content.width(), g / content.height()});

  painter.save();
  painter.translate(page.x() + (w - content.width() * s) / 2, page.y() + g - (g - content.height() * s) / 2);
  painter.scale(1, -1);
  factory.drawTile(QRectF(QPointF(0, 0), content), s, painter);
  painter.restore();
}

}  // namespace orrery
