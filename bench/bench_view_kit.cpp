// Frame time of composing a 1440×900 window holding 200 layers with cached contents, 30 of
// them moving under running animations, at 1× and 2× scale; the budget at 60 fps is 16.7 ms.
// A frame must redraw no layer contents: moving layers only re-use their cached images.

#include "platform/core/clock.h"
#include "platform/core/run_loop.h"
#include "platform/ui/animation.h"
#include "platform/ui/layer.h"
#include "platform/ui/transaction.h"
#include "platform/ui/view.h"
#include "platform/ui/window.h"

#include <QApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace platform;

class DiscLayer : public Layer {
 public:
  explicit DiscLayer(QColor c) : mColor(c) {}
  bool drawsContent() const override { return true; }
  void drawInContext(QPainter& p) override {
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(mColor);
    p.setPen(QPen(Qt::black, 2));
    p.drawEllipse(bounds().adjusted(2, 2, -2, -2));
  }

 private:
  QColor mColor;
};

struct Scene {
  std::unique_ptr<Window> window;
  std::vector<std::shared_ptr<DiscLayer>> layers;
  int totalDisplays() const {
    int n = 0;
    for (const auto& l : layers) n += l->displayCount();
    return n;
  }
};

Scene makeScene(double scale, VirtualClock& clock) {
  Scene scene;
  scene.window = std::make_unique<Window>(QSizeF(1440, 900));
  auto root = scene.window->contentView();
  withoutActions([&] {
    for (int i = 0; i < 200; ++i) {
      auto layer = std::make_shared<DiscLayer>(QColor::fromHsv((i * 37) % 360, 160, 230));
      const double side = 60 + (i % 5) * 12;
      layer->setFrame(QRectF((i % 20) * 70, (i / 20) * 88, side, side));
      layer->setContentsScale(scale);
      layer->setOpacity(i % 7 == 0 ? 0.8 : 1.0);
      layer->setNeedsDisplay();
      root->layer()->addSublayer(layer);
      scene.layers.push_back(layer);
    }
  });
  for (int i = 0; i < 30; ++i) {
    auto move = BasicAnimation::withKeyPath("position");
    move->setFromValue(scene.layers[static_cast<size_t>(i * 6)]->position());
    move->setToValue(QPointF(1400 - i * 40, 850 - i * 25));
    move->setDuration(1e6);  // keeps moving for the whole run
    move->setBeginTime(clock.now());
    scene.layers[static_cast<size_t>(i * 6)]->addAnimation(move, "move");
  }
  return scene;
}

void composeFrames(benchmark::State& state) {
  const double scale = static_cast<double>(state.range(0));
  auto clock = std::make_shared<VirtualClock>(1000.0);
  setMediaClock(clock);
  Scene scene = makeScene(scale, *clock);
  QImage target((QSizeF(1440, 900) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
  target.setDevicePixelRatio(scale);
  {
    QPainter warm(&target);
    scene.window->compose(warm, QRectF(0, 0, 1440, 900));  // draws every layer's contents once
  }
  const int drawnOnce = scene.totalDisplays();
  for (auto _ : state) {
    clock->advance(1.0 / 60.0);
    QPainter painter(&target);
    scene.window->compose(painter, QRectF(0, 0, 1440, 900));
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
  }
  if (scene.totalDisplays() != drawnOnce) state.SkipWithError("a layer that only moved was redrawn");
  state.counters["redraws"] = scene.totalDisplays() - drawnOnce;
  state.counters["budget_ms"] = 16.7;
  setMediaClock(nullptr);
}

}  // namespace

BENCHMARK(composeFrames)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  installMainQueuePoster(std::make_shared<RunLoop>());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
