// The radial view at 1440×900 (1×; run with QT_SCALE_FACTOR=2 for 2×).
//
// Rotation: a sun with 9 planets (normal spacing) or 100 (compressed), each with children,
// an icon, a note and some with pictures; per iteration the ring turns one frame
// (angleUpdate) and the window lays out and composes. Floor, same run: a bare painter
// blitting the same pictures to the same places and stroking the same connector line.
// Goals: ≤ 1.3× the floor, ≤ 4 ms at 1×, no disc drawn twice (counted). Each run starts
// with no kept disc pictures, as a map just opened: a disc under the pile is drawn when the
// turn first shows it, inside the timed frames.
//
// Build: 500 children in one batch without drawing (goal under 10 ms), and the first frame
// (build and compose, every disc drawn once) beside drawing the same 500 discs with
// PlanetDrawer alone (goal ≤ 1.2×).

#include "editor/disc_picture_cache.h"
#include "editor/planet_drawer.h"
#include "editor/solar_system.h"
#include "foundation/globals.h"
#include "foundation/kit_image.h"
#include "model/color_theme.h"
#include "model/icon_image.h"
#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/core/run_loop.h"
#include "platform/ui/transaction.h"
#include "platform/ui/window.h"

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace orrery;

const QSizeF kSize(1440, 900);
std::shared_ptr<platform::VirtualClock> gClock;

ColorPtr colorAt(int i) {
  const auto& colors = ColorTheme::standardThemes().front()->colors();
  return colors[static_cast<size_t>(i) % colors.size()];
}

IconImagePtr icon() {
  static const IconImagePtr i = std::make_shared<IconImage>("sun", "nature", QStringLiteral("☀"));
  return i;
}

IdeaPtr makeChild(int i) {
  IdeaPtr child;
  if (i % 5 == 2) {
    QImage picture(240, 240, QImage::Format_ARGB32_Premultiplied);
    picture.fill(QColor::fromHsv((i * 41) % 360, 200, 200));
    child = Idea::createWithOriginalImage(KitImage(picture));
  } else {
    child = Idea::createWithText(QStringLiteral("Idea number %1 with a title").arg(i));
    child->setColor(colorAt(i));
  }
  child->setIconImage(icon());
  child->setNote(QStringLiteral("A note"));
  child->addIdea(Idea::createWithText(QStringLiteral("grandchild")));
  return child;
}

struct Radial {
  std::unique_ptr<platform::Window> window;
  std::shared_ptr<SolarSystem> view;
  IdeaPtr root;
  QImage target;

  explicit Radial(int planets) {
    window = std::make_unique<platform::Window>(kSize);
    view = SolarSystem::create(QRectF(QPointF(0, 0), kSize), QStringLiteral("temp:/bench"));
    window->contentView()->addSubview(view);
    auto grand = Idea::createWithText(QStringLiteral("Grandparent"));
    grand->setColor(colorAt(3));
    root = Idea::createWithText(QStringLiteral("The sun of the map"));
    root->setColor(colorAt(1));
    grand->addIdea(root);
    view->setParentIdea(grand, false);
    view->startUpdate();
    view->setCentralIdea(root);
    for (int i = 0; i < planets; ++i) {
      auto child = makeChild(i);
      root->addIdea(child);
      view->addIdea(child);
    }
    view->endUpdate();
    view->applyLayout();
    const double scale = window->backingScaleFactor();
    target = QImage((kSize * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(scale);
  }
  void compose() {
    QPainter painter(&target);
    window->compose(painter, QRectF(QPointF(0, 0), kSize));
  }
  // Draws beyond the first of each disc.
  int discRedraws() const {
    int n = std::max(0, view->centralView()->planetLayer().displayCount() - 1);
    for (int i = 0; i < view->ideaViewCount(); ++i) n += std::max(0, view->ideaViewAtIndex(i)->displayCount() - 1);
    return n;
  }
};

void rotationFrame(benchmark::State& state) {
  DiscPictureCache::shared().clear();
  Radial radial(static_cast<int>(state.range(0)));
  radial.window->displayIfNeeded();
  radial.compose();  // draws every disc not under the pile
  radial.view->handleBeginRotationGesture(radial.view->rotationRecognizer(), 0);
  float angle = 0;
  for (auto _ : state) {
    angle += 0.01f;
    radial.view->angleUpdate(angle);
    radial.window->displayIfNeeded();
    radial.compose();
    benchmark::DoNotOptimize(radial.target.constBits());
  }
  const int redraws = radial.discRedraws();
  state.counters["disc_redraws"] = redraws;
  state.counters["scale"] = radial.window->backingScaleFactor();
  if (redraws != 0) state.SkipWithError("a disc that only moved was redrawn");
}

// Every layer with a picture or a stroke of its own, in drawing order.
void collect(platform::Layer& layer, std::vector<platform::Layer*>& out) {
  if (layer.isHidden()) return;
  if (!layer.contents().isNull() || layer.drawsEachComposition()) out.push_back(&layer);
  for (const auto& sub : layer.sublayers()) collect(*sub, out);
}

// Where a layer's picture lands in the window, in device pixels, snapped as a blit is.
QPoint deviceCorner(const platform::Layer& layer, const platform::Layer* root, double scale) {
  const QImage& image = layer.contents();
  const QSizeF natural(image.width() / layer.contentsScale(), image.height() / layer.contentsScale());
  const QRectF drawn = layer.drawnArea(layer.bounds());
  const QPointF corner = layer.contentsGravity() == platform::ContentsGravity::Resize
                             ? drawn.topLeft()
                             : drawn.center() - QPointF(natural.width() / 2, natural.height() / 2);
  const QPointF device = layer.transformToAncestor(root).map(corner) * scale;
  return QPoint(static_cast<int>(std::floor(device.x() + 0.5)), static_cast<int>(std::floor(device.y() + 0.5)));
}

// The floor: a bare painter blitting the same pictures, pixel for pixel, to the places the
// ring puts them each frame, and stroking the same connector line (all worked out
// beforehand): no layout, no layer tree.
void rotationFloor(benchmark::State& state) {
  Radial radial(static_cast<int>(state.range(0)));
  radial.window->displayIfNeeded();
  radial.compose();
  const platform::Layer* root = radial.window->contentView()->layer().get();
  const double scale = radial.window->backingScaleFactor();
  constexpr int kFrames = 60;
  std::vector<std::vector<std::pair<QPoint, QImage>>> frames(kFrames);
  std::vector<std::vector<std::pair<QTransform, platform::Layer*>>> strokes(kFrames);
  radial.view->handleBeginRotationGesture(radial.view->rotationRecognizer(), 0);
  for (int f = 0; f < kFrames; ++f) {
    radial.view->angleUpdate(0.01f * static_cast<float>(f + 1));
    radial.window->displayIfNeeded();
    radial.compose();
    std::vector<platform::Layer*> sources;
    collect(*radial.window->contentView()->layer(), sources);
    for (auto* layer : sources)
      if (layer->drawsEachComposition())
        strokes[static_cast<size_t>(f)].emplace_back(layer->transformToAncestor(root) * QTransform::fromScale(scale, scale), layer);
      else
        frames[static_cast<size_t>(f)].emplace_back(deviceCorner(*layer, root, scale), layer->contents());
  }
  QImage target = radial.target;
  target.setDevicePixelRatio(1);
  int f = 0;
  for (auto _ : state) {
    f = (f + 1) % kFrames;
    QPainter painter(&target);
    painter.fillRect(target.rect(), Qt::white);
    for (const auto& [corner, picture] : frames[static_cast<size_t>(f)]) painter.drawImage(corner, picture);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const auto& [toDevice, layer] : strokes[static_cast<size_t>(f)]) {
      painter.setTransform(toDevice);
      layer->drawInContext(painter);
    }
    painter.resetTransform();
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
  }
  state.counters["pictures"] = static_cast<double>(frames.front().size() + strokes.front().size());
}

std::vector<IdeaPtr> children(int count) {
  std::vector<IdeaPtr> out;
  for (int i = 0; i < count; ++i) out.push_back(makeChild(i));
  return out;
}

void buildFiveHundred(benchmark::State& state) {
  const auto kids = children(500);
  auto root = Idea::createWithText(QStringLiteral("sun"));
  for (auto _ : state) {
    auto view = SolarSystem::create(QRectF(QPointF(0, 0), kSize), QStringLiteral("temp:/bench"));
    view->startUpdate();
    view->setCentralIdea(root);
    for (const auto& child : kids) view->addIdea(child);
    view->endUpdate();
    view->applyLayout();
    benchmark::DoNotOptimize(view->radius());
  }
}

void firstFrameFiveHundred(benchmark::State& state) {
  const auto kids = children(500);
  auto root = Idea::createWithText(QStringLiteral("sun"));
  platform::Window window(kSize);
  QImage target((kSize * window.backingScaleFactor()).toSize(), QImage::Format_ARGB32_Premultiplied);
  target.setDevicePixelRatio(window.backingScaleFactor());
  for (auto _ : state) {
    auto view = SolarSystem::create(QRectF(QPointF(0, 0), kSize), QStringLiteral("temp:/bench"));
    window.contentView()->addSubview(view);
    view->startUpdate();
    view->setCentralIdea(root);
    for (const auto& child : kids) view->addIdea(child);
    view->endUpdate();
    view->applyLayout();
    window.displayIfNeeded();
    QPainter painter(&target);
    window.compose(painter, QRectF(QPointF(0, 0), kSize));
    painter.end();
    view->removeFromSuperview();
    benchmark::DoNotOptimize(target.constBits());
  }
}

// The floor: the same 500 discs, each drawn by a PlanetDrawer into an image of its own.
void drawersFiveHundred(benchmark::State& state) {
  const auto kids = children(500);
  platform::Window window(kSize);
  const double k = window.backingScaleFactor();
  for (auto _ : state) {
    for (const auto& child : kids) {
      PlanetDrawer drawer(0);
      drawer.setText(child->text());
      drawer.setBaseColor(child->color());
      if (!child->image().isNull()) drawer.setImage(child->image());
      drawer.setIconImage(child->iconImage());
      drawer.setNoteNumber(-1);
      drawer.setShowOrbit(true);
      QImage image((drawer.scaledSize() * k).toSize(), QImage::Format_ARGB32_Premultiplied);
      image.fill(Qt::transparent);
      QPainter painter(&image);
      painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
      painter.scale(k, k);
      drawer.drawInCurrentContext(painter);
      painter.end();
      benchmark::DoNotOptimize(image.constBits());
    }
  }
}

}  // namespace

BENCHMARK(rotationFrame)->Arg(9)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(rotationFloor)->Arg(9)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(buildFiveHundred)->Unit(benchmark::kMillisecond);
BENCHMARK(firstFrameFiveHundred)->Unit(benchmark::kMillisecond);
BENCHMARK(drawersFiveHundred)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  // The settings the discs read come from a fresh folder, never the user's own.
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", home.path().toUtf8());
  qputenv("XDG_CACHE_HOME", home.path().toUtf8());
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  gClock = std::make_shared<platform::VirtualClock>(1000.0);
  platform::setMediaClock(gClock);
  platform::installMainQueuePoster(std::make_shared<platform::RunLoop>(gClock));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
