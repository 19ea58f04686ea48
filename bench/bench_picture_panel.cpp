// A 6000 × 4000 JPEG chosen in the picture panel, decoded and shown fitted, beside
// QImageReader decoding the same file in the same run.

#include "foundation/kit_image.h"
#include "panels/picture_view_controller.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace orrery;

namespace {

QString gJpeg;

void BM_PanelShowsChosenJpegFitted(benchmark::State& state) {
  PictureViewController panel;
  panel.view()->setFrame(QRectF(0, 0, 1440, 900));
  panel.applyLayout();
  for (auto _ : state) {
    const KitImage picture = KitImage::readFromURL(gJpeg);
    panel.setImage(picture.nsImage());
    benchmark::DoNotOptimize(panel.pictureView()->magnification());
  }
}
BENCHMARK(BM_PanelShowsChosenJpegFitted)->Unit(benchmark::kMillisecond);

void BM_QImageReaderDecodes(benchmark::State& state) {
  for (auto _ : state) {
    QImageReader reader(gJpeg);
    QImage image = reader.read();
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_QImageReaderDecodes)->Unit(benchmark::kMillisecond);

// The bounded decoder alone: what the panel pays before it shows anything.
void BM_KitImageDecodes(benchmark::State& state) {
  for (auto _ : state) {
    const KitImage picture = KitImage::readFromURL(gJpeg);
    benchmark::DoNotOptimize(picture.nsImage().constBits());
  }
}
BENCHMARK(BM_KitImageDecodes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QTemporaryDir folder;
  gJpeg = folder.filePath("big.jpg");
  QImage image(6000, 4000, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.fillRect(image.rect(), QLinearGradient(0, 0, 6000, 4000));
  for (int i = 0; i < 200; ++i) painter.fillRect(QRect(i * 30, i * 20, 300, 200), QColor::fromHsv(i % 360, 200, 200));
  painter.end();
  image.save(gJpeg, "JPEG", 90);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
