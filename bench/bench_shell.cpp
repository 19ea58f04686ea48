// Start-up of the real program, measured as whole processes on the offscreen platform with a
// fresh home each time: a cold start until the started program answers (its start-up has run
// and its event loop turns), next to a bare QWidget window shown until its first paint (the
// floor of any Qt program here); a second launch handing a file to a running instance until it
// is answered, next to a cold start with that file.

#include "app/single_instance.h"

#include "../tests/support/process_home.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstring>
#include <memory>

namespace {

QString gSelf;
QString gOrrery;

struct Home : testsupport::ProcessHome {
  Home() { quiet = true; }
  QString outline() {
    const QString path = root.filePath("map.opml");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>Sky</title></head><body>"
            "<outline text=\"Sun\"/></body></opml>");
    return path;
  }
  // Until the instance answers an empty hand-off (which only raises its window).
  void waitForAnswer() {
    orrery::SingleInstance client(runtime());
    while (!client.handOff({}, nullptr, 50)) {
    }
  }
};

void stop(QProcess& p) {
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  p.waitForFinished(20000);
}

void BM_ColdStartUntilAnswering(benchmark::State& state) {
  for (auto _ : state) {
    Home home;
    QElapsedTimer timer;
    timer.start();
    auto p = home.start(gOrrery, {});
    home.waitForAnswer();
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    stop(*p);
  }
}
BENCHMARK(BM_ColdStartUntilAnswering)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_BareQWidgetWindowUntilFirstPaint(benchmark::State& state) {
  for (auto _ : state) {
    Home home;
    QElapsedTimer timer;
    timer.start();
    auto p = home.start(gSelf, {"--floor-window"});
    p->waitForFinished(20000);
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
  }
}
BENCHMARK(BM_BareQWidgetWindowUntilFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ColdStartWithAFileUntilAnswering(benchmark::State& state) {
  for (auto _ : state) {
    Home home;
    const QString file = home.outline();
    QElapsedTimer timer;
    timer.start();
    auto p = home.start(gOrrery, {file});
    home.waitForAnswer();
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    stop(*p);
  }
}
BENCHMARK(BM_ColdStartWithAFileUntilAnswering)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SecondLaunchHandingAFileOver(benchmark::State& state) {
  Home home;
  const QString file = home.outline();
  auto first = home.start(gOrrery, {});
  home.waitForAnswer();
  for (auto _ : state) {
    QElapsedTimer timer;
    timer.start();
    auto second = home.start(gOrrery, {file});
    second->waitForFinished(20000);
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
  }
  stop(*first);
}
BENCHMARK(BM_SecondLaunchHandingAFileOver)->UseManualTime()->Unit(benchmark::kMillisecond);

// The floor: a bare Qt window that quits at its first paint.
int runFloorWindow(int argc, char** argv) {
  QApplication app(argc, argv);
  struct Window : QWidget {
    void paintEvent(QPaintEvent*) override {
      QPainter(this).fillRect(rect(), Qt::white);
      QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    }
  } window;
  window.resize(1172, 760);
  window.show();
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--floor-window") == 0) return runFloorWindow(argc, argv);
  QCoreApplication app(argc, argv);
  gSelf = QCoreApplication::applicationFilePath();
  gOrrery = QDir(QCoreApplication::applicationDirPath()).filePath("../src/app/orrery");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
