// Drawing one orbit planet (type 0, a three-line title and an icon) at 1× and 2×, on a first
// draw (a fresh drawer lays its title out) and on a repeated one (the kept layout), beside a
// floor measured in the same run: the same ellipse, rim and icon plus the title as one
// QTextLayout in its bounding rectangle. Goals: first draw ≤ 2× the floor, repeated ≤ 1.2×.
//
// A title as long as a map holds, a few words and then one run without a space, laid out on a
// fresh orbit planet and in the parent's corner, in turns with the same disc or corner titled
// with its first 200 characters, more than either shows.

#include "editor/parent_idea_view.h"
#include "editor/parent_title_label.h"
#include "editor/planet_drawer.h"
#include "editor/planet_title.h"
#include "foundation/globals.h"
#include "interleaved_floor.h"
#include "model/color_theme.h"
#include "model/document_limits.h"
#include "model/icon_image.h"

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextLayout>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

using namespace orrery;

const QString kTitle = QStringLiteral("Plan the summer trip to the coast");

ColorPtr discColor() { return ColorTheme::standardThemes().front()->colors().front(); }

IconImagePtr discIcon() {
  static const IconImagePtr icon = std::make_shared<IconImage>("sun", "nature", QStringLiteral("☀"));
  return icon;
}

struct Canvas {
  QImage image;
  explicit Canvas(double k) : image(static_cast<int>(std::ceil(140 * k)), static_cast<int>(std::ceil(140 * k)),
                                    QImage::Format_ARGB32_Premultiplied) {}
  template <typename Draw>
  void paint(double k, Draw&& draw) {
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    painter.scale(k, k);
    draw(painter);
  }
};

std::unique_ptr<PlanetDrawer> makeDrawer() {
  auto drawer = std::make_unique<PlanetDrawer>(0);
  drawer->setBaseColor(discColor());
  drawer->setIconImage(discIcon());
  drawer->setText(kTitle);
  return drawer;
}

// The floor: what any disc drawing must do, with the title as one block.
struct Floor {
  QColor fill = discColor()->uiColor();
  QImage icon = discIcon()->image();
  std::unique_ptr<QTextLayout> layout;

  void prepare() {
    layout = std::make_unique<QTextLayout>(kTitle, PlanetTitle::titleFont(10),
                                           const_cast<QPaintDevice*>(&PlanetTitle::referenceDevice()));
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->beginLayout();
    double y = 0;
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
      line.setLineWidth(90);
      line.setPosition(QPointF(25, 55 + y));
      y += line.height();
    }
    layout->endLayout();
  }
  void draw(QPainter& painter) {
    const QRectF disc(14, 14, 112, 112);
    painter.setPen(QPen(Qt::white, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(disc);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(disc);
    painter.drawImage(QRectF(59, 22, 22, 22), icon);
    painter.setPen(Qt::white);
    layout->draw(&painter, QPointF(0, 0));
  }
};

void discFirstDraw(benchmark::State& state) {
  const double k = static_cast<double>(state.range(0));
  Canvas canvas(k);
  for (auto _ : state) {
    auto drawer = makeDrawer();
    canvas.paint(k, [&](QPainter& p) { drawer->drawInCurrentContext(p); });
    benchmark::DoNotOptimize(canvas.image.constBits());
  }
}

void floorFirstDraw(benchmark::State& state) {
  const double k = static_cast<double>(state.range(0));
  Canvas canvas(k);
  for (auto _ : state) {
    Floor floor;
    floor.prepare();
    canvas.paint(k, [&](QPainter& p) { floor.draw(p); });
    benchmark::DoNotOptimize(canvas.image.constBits());
  }
}

void discRepeatedDraw(benchmark::State& state) {
  const double k = static_cast<double>(state.range(0));
  Canvas canvas(k);
  auto drawer = makeDrawer();
  for (auto _ : state) {
    canvas.paint(k, [&](QPainter& p) { drawer->drawInCurrentContext(p); });
    benchmark::DoNotOptimize(canvas.image.constBits());
  }
  state.counters["layouts"] = drawer->titleLayoutCount();
}

void floorRepeatedDraw(benchmark::State& state) {
  const double k = static_cast<double>(state.range(0));
  Canvas canvas(k);
  Floor floor;
  floor.prepare();
  for (auto _ : state) {
    canvas.paint(k, [&](QPainter& p) { floor.draw(p); });
    benchmark::DoNotOptimize(canvas.image.constBits());
  }
}

// More of the long title than a disc or the corner shows.
constexpr qsizetype kShownPart = 200;

QString longTitle() {
  QString title = QStringLiteral("API key for staging: ");
  const qsizetype words = title.size();
  title.resize(DocumentLimits::kMaxTextLength);
  for (qsizetype i = words; i < title.size(); ++i)
    title[i] = QLatin1Char("abcdefghijklmnopqrstuvwxyzABCDEF0123456789"[i % 42]);
  return title;
}

void longTitleOnDisc(benchmark::State& state) {
  const QString title = longTitle();
  Canvas canvas(1);
  auto draw = [&](const QString& text) {
    return benchpairs::timeMs([&] {
      PlanetDrawer drawer(0);
      drawer.setBaseColor(discColor());
      drawer.setText(text);
      canvas.paint(1, [&](QPainter& p) { drawer.drawInCurrentContext(p); });
      benchmark::DoNotOptimize(canvas.image.constBits());
    });
  };
  benchpairs::runInTurns(state, [&] { return draw(title); }, [&] { return draw(title.left(kShownPart)); });
}

void longTitleInCorner(benchmark::State& state) {
  const QString title = longTitle();
  auto layOut = [&](const QString& text) {
    return benchpairs::timeMs([&] {
      ParentTitleLabel label(ParentIdeaView::defaultTextFrame());
      label.setFont(PlanetTitle::titleFont(PlanetDrawer::fontSizeForPlanetType(0)));
      label.setText(text);
      benchmark::DoNotOptimize(label.shownLines().size());
    });
  };
  benchpairs::runInTurns(state, [&] { return layOut(title); }, [&] { return layOut(title.left(kShownPart)); });
}

}  // namespace

BENCHMARK(longTitleOnDisc)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(longTitleInCorner)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(discFirstDraw)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(floorFirstDraw)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(discRepeatedDraw)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(floorRepeatedDraw)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  // The settings the drawers read come from a fresh folder, never the user's own.
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
