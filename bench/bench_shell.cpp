// Start-up of the real program, measured as whole processes on the platform users have (xcb,
// on the display of the environment, else on an X server of its own), each until a window
// shows what the user waits for: the program notes the first frame each window draws under
// each title (ORRERY_LOG_FIRST_FRAMES), and a window still titled "Orrery Desktop" has no
// screen in it yet. Offscreen has no OpenGL, so it would not see what loading it costs.
//
// Floors measured in the same run, on the same platform: a bare QWidget window shown until its
// first paint, timed to the line it writes then, as the program's first frame is (the floor of
// any Qt program here), and reading and decoding the 100 000-idea map alone in a fresh process.
// The starts launch their floor right before each launch and report the ratio to it ("ratio",
// "floor_ms"), so a load that moves during the run moves both.
// - a cold start in a fresh home, and a later start in a home a start and quit left behind,
//   until the first window's first frame with its screen;
// - a cold start with the 100 000-idea map on the command line until the map's window shows
//   (goal: within 1.5 × (bare window + decode));
// - a second launch handing a map to a running instance until the running instance shows the
//   map's window (goal: 100 ms).
// Every wait has a bound: a launch that shows nothing fails the benchmark with a message.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "../tests/support/private_x_server.h"
#include "../tests/support/process_home.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/known_color_themes.h"

using namespace orrery;

namespace {

QString gSelf;
QString gOrrery;
QString gDisplay;  // the X display every launch uses
constexpr int kLaunchBoundMs = 30000;
constexpr char kEmptyWindowTitle[] = "Orrery Desktop";
constexpr char kFloorWindowTitle[] = "bare window";

// A map of `count` ideas, `perParent` children to a parent (the root's first, then its children's
// in turn), every fifth with a note, in colour; with `perParent` of `count` or more, flat: the
// ideas all directly under the root.
QByteArray mapFileBytes(int count, int perParent = 6) {
  IdeaPtr root = Idea::createWithText("Benchmark map");
  std::vector<IdeaPtr> all{root};
  all.reserve(std::size_t(count));
  for (int i = 1; i < count; ++i) {
    IdeaPtr idea = Idea::createWithText(QString("Idea number %1 with a few words").arg(i));
    if (i % 5 == 0) idea->setNote(QString("A note for idea %1\nwith a second line").arg(i));
    idea->setColor(ColorTheme::standardThemes()[std::size_t(i % 4)]->colors()[std::size_t(i % 7)]);
    all[std::size_t((i - 1) / perParent)]->addIdea(idea);
    all.push_back(idea);
  }
  auto doc = IdeaDocument::createWithFileName(QStringLiteral("map.orrx"), DocumentLocationDropbox);
  doc->setIdea(root);
  doc->setDateCreated(QDateTime::currentDateTimeUtc());
  doc->setDateModified(QDateTime::currentDateTimeUtc());
  return doc->exportAsOrreryData();
}

// The 100 000-idea map, written once per run.
const QString& bigMapPath() {
  static QTemporaryDir dir;
  static const QString path = [] {
    const QString p = dir.filePath("big.orrery");
    QFile f(p);
    f.open(QIODevice::WriteOnly);
    f.write(mapFileBytes(100000));
    return p;
  }();
  return path;
}

struct Home : testsupport::ProcessHome {
  Home() {
    env.insert("ORRERY_LOG_FIRST_FRAMES", "1");
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", gDisplay);
  }
  // Standard error is read here; standard output goes nowhere.
  std::unique_ptr<QProcess> launch(const QString& program, const QStringList& arguments) const {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(env);
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setReadChannel(QProcess::StandardError);
    p->start(program, arguments);
    p->waitForStarted(10000);
    return p;
  }
  QString smallMap(const QString& name) {
    const QString path = root.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(mapFileBytes(20));
    return path;
  }
};

// Reads the program's error output until it notes a frame of a window whose title holds
// `title` (any title but the empty window's when `title` is empty); false when it ended first
// or showed nothing within the bound.
bool waitForFrame(QProcess& p, const QString& title = {}, int boundMs = kLaunchBoundMs) {
  const QDeadlineTimer bound(boundMs);
  for (;;) {
    while (p.canReadLine()) {
      const QString line = QString::fromUtf8(p.readLine());
      if (!line.startsWith(QLatin1String("orrery: first frame of \""))) continue;
      const QString shown = line.section('"', 1, -2);
      if (title.isEmpty() ? shown != QLatin1String(kEmptyWindowTitle) : shown.contains(title)) return true;
    }
    if (p.state() == QProcess::NotRunning || bound.hasExpired()) return false;
    p.waitForReadyRead(static_cast<int>(std::max<qint64>(bound.remainingTime(), 1)));
  }
}

void stop(QProcess& p) {
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  if (!p.waitForFinished(20000)) {
    p.kill();
    p.waitForFinished(5000);
  }
}

// One bare window launched until its first frame, in ms, timed to the same event as the
// program: the line the window writes when its first paint is done; negative when it did not
// paint within the bound. The floor process ends by itself right after, untimed.
double bareWindowMs() {
  Home home;
  QElapsedTimer timer;
  timer.start();
  auto p = home.launch(gSelf, {"--floor-window"});
  const bool shown = waitForFrame(*p, QLatin1String(kFloorWindowTitle));
  const double ms = timer.nsecsElapsed() / 1e6;
  if (!p->waitForFinished(kLaunchBoundMs)) stop(*p);
  return shown ? ms : -1;
}

// The big map read and decoded alone in a fresh process, in ms; negative when it does not read.
double decodeFloorMs() {
  QProcess p;
  p.start(gSelf, {"--decode-floor", bigMapPath()});
  if (!p.waitForFinished(kLaunchBoundMs)) {
    stop(p);
    return -1;
  }
  bool ok = false;
  const double ms = p.readAllStandardOutput().trimmed().toDouble(&ok);
  return ok ? ms : -1;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The machine's load moves by the second while other builds run: each launch measured is
// paired with a launch of its floor right before it, and "ratio" is the median of the launches
// over the median of their floors (in "floor_ms").
struct PairedFloor {
  std::vector<double> measured, floors;
  void add(double ms, double floorMs) {
    measured.push_back(ms);
    floors.push_back(floorMs);
  }
  void report(benchmark::State& state) const {
    state.counters["floor_ms"] = median(floors);
    state.counters["ratio"] = median(floors) > 0 ? median(measured) / median(floors) : 0;
  }
};

void BM_BareQWidgetWindowUntilFirstPaint(benchmark::State& state) {
  for (auto _ : state) {
    const double ms = bareWindowMs();
    if (ms < 0) {
      state.SkipWithError("the bare window did not paint");
      break;
    }
    state.SetIterationTime(ms / 1000);
  }
}
BENCHMARK(BM_BareQWidgetWindowUntilFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Reading and decoding the big map in a fresh process, on its main thread, as an open cannot
// avoid: the process touches its memory for the first time, as the program's does (the
// child times only the read and the decode, not its own start).
void BM_DecodeBigMapFloor(benchmark::State& state) {
  for (auto _ : state) {
    const double ms = decodeFloorMs();
    if (ms < 0) {
      state.SkipWithError("the map does not decode");
      break;
    }
    state.SetIterationTime(ms / 1000);
  }
}
BENCHMARK(BM_DecodeBigMapFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// range(0): 0 a first start in a fresh home, 1 a later start (a start and quit came before).
void BM_ColdStartUntilFirstFrame(benchmark::State& state) {
  PairedFloor paired;
  for (auto _ : state) {
    Home home;
    if (state.range(0) == 1) {
      auto before = home.launch(gOrrery, {});
      const bool shown = waitForFrame(*before);
      stop(*before);
      if (!shown) {
        state.SkipWithError("the start before showed no window");
        break;
      }
    }
    const double floorMs = bareWindowMs();
    QElapsedTimer timer;
    timer.start();
    auto p = home.launch(gOrrery, {});
    const bool shown = waitForFrame(*p);
    const double ms = timer.nsecsElapsed() / 1e6;
    stop(*p);
    if (!shown || floorMs < 0) {
      state.SkipWithError(shown ? "the bare window did not paint" : "no window showed");
      break;
    }
    state.SetIterationTime(ms / 1000);
    paired.add(ms, floorMs);
  }
  paired.report(state);
}
BENCHMARK(BM_ColdStartUntilFirstFrame)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The floor is a bare window plus the decode, each launched right before.
void BM_ColdStartWithBigMapUntilItsFrame(benchmark::State& state) {
  const QString path = bigMapPath();
  PairedFloor paired;
  for (auto _ : state) {
    Home home;
    const double bareMs = bareWindowMs(), decodeMs = decodeFloorMs();
    QElapsedTimer timer;
    timer.start();
    auto p = home.launch(gOrrery, {path});
    const bool shown = waitForFrame(*p, QStringLiteral("big.orrery"));
    const double ms = timer.nsecsElapsed() / 1e6;
    stop(*p);
    if (!shown || bareMs < 0 || decodeMs < 0) {
      state.SkipWithError(shown ? "a floor did not finish" : "the map's window did not show");
      break;
    }
    state.SetIterationTime(ms / 1000);
    paired.add(ms, bareMs + decodeMs);
  }
  paired.report(state);
}
BENCHMARK(BM_ColdStartWithBigMapUntilItsFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Ideas to a planet in the grouped map a flat one is set against: the floor of the comparison.
constexpr int kGroupedPerPlanet = 100;

// A map of `children` ideas under its root, flat or 100 to a planet, written once per run.
QString shapedMapPath(int children, bool flat) {
  static QTemporaryDir dir;
  static std::map<std::pair<int, bool>, QString> paths;
  QString& path = paths[{children, flat}];
  if (path.isEmpty()) {
    path = dir.filePath(QStringLiteral("%1-%2.orrery").arg(flat ? "flat" : "grouped").arg(children));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(mapFileBytes(children + 1, flat ? children : kGroupedPerPlanet));
  }
  return path;
}

// The most memory a running process has held so far, in MiB; negative when unknown.
double peakMiB(const QProcess& p) {
  QFile status(QStringLiteral("/proc/%1/status").arg(p.processId()));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').front().toDouble() / 1024;
  return -1;
}

// A start with the map on the command line until its window's frame, in ms, and the peak memory
// then; both negative when the window did not show within the bound.
std::pair<double, double> startWithMap(const QString& path, int boundMs) {
  Home home;
  QElapsedTimer timer;
  timer.start();
  auto p = home.launch(gOrrery, {path});
  const bool shown = waitForFrame(*p, QFileInfo(path).fileName(), boundMs);
  const double ms = timer.nsecsElapsed() / 1e6;
  const double peak = shown ? peakMiB(*p) : -1;
  stop(*p);
  return shown ? std::pair(ms, peak) : std::pair(-1.0, -1.0);
}

// A map with all its ideas directly under the sun against the same ideas 100 to a planet, each
// a cold start until the map's window shows (goal: the flat map within 2× the time and 2× the
// peak memory). range(0): the ideas under the root.
void BM_FlatMapUntilItsFrame(benchmark::State& state) {
  const int children = static_cast<int>(state.range(0));
  const QString flat = shapedMapPath(children, true), grouped = shapedMapPath(children, false);
  const int boundMs = std::max(kLaunchBoundMs, children / 10);
  std::vector<double> flatMs, groupedMs, flatMiB, groupedMiB;
  for (auto _ : state) {
    const auto [gMs, gMiB] = startWithMap(grouped, boundMs);
    const auto [fMs, fMiB] = startWithMap(flat, boundMs);
    if (gMs < 0 || fMs < 0) {
      state.SkipWithError(gMs < 0 ? "the grouped map's window did not show" : "the flat map's window did not show");
      break;
    }
    state.SetIterationTime(fMs / 1000);
    flatMs.push_back(fMs);
    groupedMs.push_back(gMs);
    flatMiB.push_back(fMiB);
    groupedMiB.push_back(gMiB);
  }
  if (flatMs.empty()) return;
  state.counters["grouped_ms"] = median(groupedMs);
  state.counters["ratio"] = median(flatMs) / median(groupedMs);
  state.counters["flat_MiB"] = median(flatMiB);
  state.counters["grouped_MiB"] = median(groupedMiB);
  state.counters["memory_ratio"] = median(groupedMiB) > 0 ? median(flatMiB) / median(groupedMiB) : 0;
}
BENCHMARK(BM_FlatMapUntilItsFrame)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
// A fresh process takes seconds at this size: few turns, but three, so that the median passes
// over one start the machine held up.
BENCHMARK(BM_FlatMapUntilItsFrame)->Arg(999990)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Each launch hands a map not open yet, so the running instance opens a window for it.
void BM_SecondLaunchHandingAFileOver(benchmark::State& state) {
  Home home;
  auto first = home.launch(gOrrery, {});
  if (!waitForFrame(*first)) {
    stop(*first);
    state.SkipWithError("the first instance showed no window");
    return;
  }
  int n = 0;
  for (auto _ : state) {
    const QString name = QStringLiteral("handed-%1.orrery").arg(++n);
    const QString file = home.smallMap(name);
    QElapsedTimer timer;
    timer.start();
    auto second = home.launch(gOrrery, {file});
    const bool shown = waitForFrame(*first, name);
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    const bool ended = second->waitForFinished(kLaunchBoundMs);
    if (!ended) stop(*second);
    if (!shown || !ended) {
      state.SkipWithError(shown ? "the second launch did not end" : "the handed-over map's window did not show");
      break;
    }
  }
  stop(*first);
}
BENCHMARK(BM_SecondLaunchHandingAFileOver)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The floor: a bare Qt window that notes its first paint as the program notes its first frame,
// then quits.
int runFloorWindow(int argc, char** argv) {
  QApplication app(argc, argv);
  struct Window : QWidget {
    void paintEvent(QPaintEvent*) override {
      QPainter(this).fillRect(rect(), Qt::white);
      if (mNoted) return;
      mNoted = true;
      std::fprintf(stderr, "orrery: first frame of \"%s\"\n", kFloorWindowTitle);
      std::fflush(stderr);
      QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    }
    bool mNoted = false;
  } window;
  window.resize(1172, 760);
  window.show();
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--floor-window") == 0) return runFloorWindow(argc, argv);
  if (argc == 3 && std::strcmp(argv[1], "--decode-floor") == 0) {
    QCoreApplication app(argc, argv);
    QElapsedTimer timer;
    timer.start();
    QFile f(QString::fromLocal8Bit(argv[2]));
    f.open(QIODevice::ReadOnly);
    auto doc = IdeaDocument::createWithFileName(QStringLiteral("big.orrx"), DocumentLocationDropbox);
    if (!doc->loadFromOrreryData(f.readAll())) return 1;
    std::printf("%.3f\n", timer.nsecsElapsed() / 1e6);
    return 0;
  }
  // For profiling a start by hand: writes the big map where asked and ends.
  if (argc == 3 && std::strcmp(argv[1], "--write-big-map") == 0) {
    QCoreApplication app(argc, argv);
    QFile f(QString::fromLocal8Bit(argv[2]));
    return f.open(QIODevice::WriteOnly) && f.write(mapFileBytes(100000)) > 0 ? 0 : 1;
  }
  // The same for a map of that many ideas under its root, flat or 100 to a planet.
  if (argc == 5 && std::strcmp(argv[1], "--write-shaped-map") == 0) {
    QCoreApplication app(argc, argv);
    QFile f(QString::fromLocal8Bit(argv[2]));
    const int children = std::atoi(argv[3]);
    const int perParent = std::strcmp(argv[4], "flat") == 0 ? children : kGroupedPerPlanet;
    return f.open(QIODevice::WriteOnly) && f.write(mapFileBytes(children + 1, perParent)) > 0 ? 0 : 1;
  }
  QCoreApplication app(argc, argv);
  gSelf = QCoreApplication::applicationFilePath();
  gOrrery = QDir(QCoreApplication::applicationDirPath()).filePath("../src/app/orrery");
  std::unique_ptr<testsupport::PrivateXServer> xServer;
  gDisplay = qEnvironmentVariable("DISPLAY");
  if (gDisplay.isEmpty()) {
    xServer = std::make_unique<testsupport::PrivateXServer>();
    gDisplay = xServer->display();
  }
  if (gDisplay.isEmpty()) {
    std::fprintf(stderr, "bench_shell: no X display, and Xvfb could not be started\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
