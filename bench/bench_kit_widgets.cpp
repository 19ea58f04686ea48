// The blurred cover and the partial presentation.
// - Building a cover from a screenshot of a 1440×900 window at 2× (2880×1800 pixels) and at
//   1× (1440×900), next to one plain pass over the same pixels (a format conversion): the
//   budget is 50 ms at 2× and 15 ms at 1×.
// - One frame of a partial presentation sliding over its cover in a 1440×900 window at 2×,
//   next to the same window without the presentation: the budget is 8 ms, and a frame
//   redraws no layer contents.

#include "foundation/animator.h"
#include "foundation/geometry.h"
#include "foundation/kit_image.h"
#include "foundation/views/base_view.h"
#include "foundation/views/blur_view.h"
#include "foundation/views/presentation_transitions.h"
#include "foundation/views/rounded_text_button.h"
#include "platform/core/clock.h"
#include "platform/core/run_loop.h"
#include "platform/ui/transaction.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/window.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

using namespace orrery;

// A screenshot-like picture: a gradient with text and boxes.
QImage screenshot(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  QLinearGradient g(0, 0, width, height);
  g.setColorAt(0, QColor(240, 240, 245));
  g.setColorAt(1, QColor(90, 140, 200));
  p.fillRect(image.rect(), g);
  for (int i = 0; i < 60; ++i) {
    p.fillRect(QRect((i * 97) % width, (i * 53) % height, width / 12, height / 14), QColor::fromHsv(i * 23 % 360, 150, 220));
    p.drawText(QPoint((i * 131) % width, (i * 71) % height), QStringLiteral("Orbit planet %1").arg(i));
  }
  return image;
}

void buildCover(benchmark::State& state) {
  const int scale = static_cast<int>(state.range(0));
  const KitImage shot(screenshot(1440 * scale, 900 * scale));
  shot.cgImage();
  for (auto _ : state) {
    BlurView cover(shot);
    benchmark::DoNotOptimize(cover.imageView().get());
  }
  state.counters["budget_ms"] = scale == 2 ? 50 : 15;
}

void plainPass(benchmark::State& state) {
  const int scale = static_cast<int>(state.range(0));
  const QImage shot = screenshot(1440 * scale, 900 * scale);
  for (auto _ : state) {
    QImage converted = shot.convertToFormat(QImage::Format_RGB32);
    benchmark::DoNotOptimize(converted.constBits());
  }
}

void setScale(platform::Layer& layer, double scale) {
  if (layer.contentsScale() != scale) layer.setContentsScale(scale);
  for (const auto& sub : layer.sublayers()) setScale(*sub, scale);
}

int displays(const platform::Layer& layer) {
  int n = layer.displayCount();
  for (const auto& sub : layer.sublayers()) n += displays(*sub);
  return n;
}

struct Panel : platform::ViewController {
  void loadView() override {
    auto view = std::make_shared<BaseView>(QRectF(0, 0, 1440, 370));
    view->layer()->setBackgroundColor(QColor(250, 250, 250));
    for (int i = 0; i < 6; ++i) {
      auto button = std::make_shared<RoundedTextButton>(nullptr, i % 4);
      button->setButtonTitle(QStringLiteral("Export %1").arg(i));
      button->sizeToFit();
      button->setFrameOrigin(QPointF(40 + i * 160, 300));
      view->addSubview(button);
    }
    setView(view);
  }
};

// Frames of a 1440×900 window at 2× whose screen holds 120 drawn buttons; with `present`, a
// partial presentation's band slides over its cover, eased as the animator does.
void frames(benchmark::State& state, bool present) {
  platform::Window window(QSizeF(1440, 900));
  auto container = std::make_shared<BaseView>();
  window.setContentView(container);
  auto screen = std::make_shared<platform::ViewController>();
  auto screenView = std::make_shared<BaseView>();
  screenView->layer()->setBackgroundColor(Qt::white);
  screen->setView(screenView);
  container->addHostedView(screenView);
  for (int i = 0; i < 120; ++i) {
    auto button = std::make_shared<RoundedTextButton>(nullptr, i % 4);
    button->setButtonTitle(QStringLiteral("Planet %1").arg(i));
    button->sizeToFit();
    button->setFrameOrigin(QPointF((i % 10) * 140 + 10, (i / 10) * 70 + 20));
    screenView->addSubview(button);
  }
  auto panel = std::make_shared<Panel>();
  auto animator = std::make_shared<PartialViewTransitionAnimation>();
  if (present) screen->presentViewController(panel, animator);
  window.displayIfNeeded();
  setScale(*container->layer(), 2.0);
  QImage target(2880, 1800, QImage::Format_ARGB32_Premultiplied);
  target.setDevicePixelRatio(2.0);
  // The first frame draws the cover, which starts transparent; the warm-up does that.
  if (present) platform::withoutActions([&] { animator->protector()->layer()->setOpacity(0.5); });
  {
    QPainter warm(&target);
    window.compose(warm, QRectF(0, 0, 1440, 900));
  }
  const int drawnOnce = displays(*container->layer());
  int frame = 0;
  for (auto _ : state) {
    if (present) {
      const double eased = Animator::cubicEaseInOut((frame++ % 24 + 1) / 24.0);
      platform::withoutActions([&] {
        panel->view()->setFrameOrigin(QPointF(0, Geometry::interpolateLinearlyFromDouble(-370, 0, eased)));
        animator->protector()->layer()->setOpacity(eased);
      });
    }
    QPainter painter(&target);
    window.compose(painter, QRectF(0, 0, 1440, 900));
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
  }
  const int redraws = displays(*container->layer()) - drawnOnce;
  if (redraws != 0) state.SkipWithError("a frame redrew layer contents");
  state.counters["redraws"] = redraws;
  if (present) state.counters["budget_ms"] = 8;
}

void partialPresentationFrame(benchmark::State& state) { frames(state, true); }
void windowFrameWithoutPresentation(benchmark::State& state) { frames(state, false); }

}  // namespace

BENCHMARK(buildCover)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(plainPass)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(partialPresentationFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(windowFrameWithoutPresentation)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  auto clock = std::make_shared<platform::VirtualClock>(1000.0);
  platform::setMediaClock(clock);
  auto loop = std::make_shared<platform::RunLoop>(clock);
  platform::installMainQueuePoster(loop);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
