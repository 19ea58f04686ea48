// The home grid's own costs: drawing one document tile from its proxy, and scrolling a grid of
// 1 000 documents (each scroll runs the layout pass that recycles item views). The live view
// count after a full scroll is reported as a counter.

#include "home/home_planet_layer.h"
#include "home/idea_list_view.h"
#include "model/color.h"

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace orrery;

namespace {

IdeaProxyPtr makeProxy(int i) {
  auto p = std::make_shared<IdeaProxy>();
  p->setDocIdentifier(QStringLiteral("file:///c/doc-%1.orrx").arg(i));
  p->setText(QStringLiteral("Document number %1 with a two-line title").arg(i));
  p->setItemCount(i % 150);
  p->setColor(std::make_shared<Color>(QStringLiteral("c"), QColor(40 + i % 200, 90, 160)));
  p->setDateCreated(QDateTime(QDate(2024, 1, 1), QTime(9, 0)));
  p->setDateModified(QDateTime(QDate(2025, 6, 1), QTime(17, 30)));
  return p;
}

void BM_DrawTile(benchmark::State& state) {
  HomePlanetLayer layer(makeProxy(7));
  layer.setBounds(QRectF(0, 0, 232.5, 232.5));
  QImage image(466, 466, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(2, 2);
    layer.drawInContext(painter);
    painter.end();
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_DrawTile)->Unit(benchmark::kMicrosecond);

void BM_ScrollGridOfAThousand(benchmark::State& state) {
  auto grid = std::make_shared<IdeaListView>();
  grid->setFrame(QRectF(0, 0, 1200, 800));
  for (int i = 0; i < 1000; ++i) grid->appendProxy(makeProxy(i), true);
  grid->updateView();
  const double height = grid->contentHeightForWidth(grid->contentWidth());
  double y = 0;
  for (auto _ : state) {
    y += 60;
    if (y > height) y = 0;
    grid->scrollToPoint(QPointF(0, y));
  }
  state.counters["live_views"] = static_cast<double>(grid->visibleItemCount() + grid->pooledItemCount());
}
BENCHMARK(BM_ScrollGridOfAThousand)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // The settings the tiles read come from a fresh folder, never the user's own.
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
