// The first web-link panel of a fresh process, as a user meets it: the program (which links
// no web engine) on xcb under an Xvfb of the benchmark's own, a window shows, then the panel
// slides up in it twice. The first opening loads the engine; the second, in the same process,
// is its floor. Each iteration is a fresh process. Reported (medians over the processes):
// "frame_ms", the first frame that shows the panel after the click (the iteration's time);
// "hold_ms", the longest the main thread was held from the click until 1.5 s after the page
// view is in place (goal: a frame or two, as the second opening); "view_ms", when the page
// view was in place; "slide_frames", the frames drawn while the 0.3 s slide ran; each with
// its floor ("floor_…") from the second opening.

#include "foundation/views/base_view.h"
#include "foundation/views/presentation_transitions.h"
#include "panels/html_page_view_controller.h"
#include "platform/services/qt_main_queue.h"
#include "platform/ui/web_view.h"
#include "platform/ui/window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace orrery;

const QSize kWindow(1440, 900);

const char kFirstPanelChild[] = "--first-panel-child";

// What one opening measured, in milliseconds from the click.
struct Opening {
  double frameMs = -1;  // the first canvas frame showing the panel
  double viewMs = -1;   // the page view in place
  double holdMs = 0;    // the longest the main thread was held
  int slideFrames = 0;  // frames drawn while the panel was between its start and its end
};

// A window whose container hosts the presenting screen, as the editor's window does.
struct Stage : HTMLPageViewControllerDelegate {
  platform::Window window{QSizeF(kWindow)};
  std::shared_ptr<BaseView> container = std::make_shared<BaseView>();
  std::shared_ptr<platform::ViewController> screen = std::make_shared<platform::ViewController>();
  Stage() {
    window.setContentView(container);
    auto view = std::make_shared<BaseView>();
    view->layer()->setBackgroundColor(Qt::lightGray);
    screen->setView(view);
    container->addHostedView(view);
    window.makeKeyAndOrderFront();
  }
  void pleaseDismissHTMLPageView(HTMLPageViewController& panel) override {
    screen->dismissViewController(panel.shared_from_this());
  }
};

// Spins the event loop for `ms`.
void spinFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Opens a new-link panel the way the editor does and watches the main thread and the canvas.
Opening openPanel(Stage& stage) {
  Opening o;
  QElapsedTimer clock;
  std::shared_ptr<HTMLPageViewController> panel;
  double lastTick = 0;
  const auto tick = [&] {
    const double now = double(clock.nsecsElapsed()) / 1e6;
    o.holdMs = std::max(o.holdMs, now - lastTick);
    lastTick = now;
  };
  // A precise 1 ms timer: the gaps between its turns are what the main thread was held for.
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, tick);
  struct PaintWatch : QObject {
    std::function<void()> painted;
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (event->type() == QEvent::Paint) painted();
      return QObject::eventFilter(watched, event);
    }
  } watch;
  const double bottom = kWindow.height();
  watch.painted = [&] {
    if (!panel) return;
    const double top = panel->view()->layer()->presentation().frame().top();
    const double now = double(clock.nsecsElapsed()) / 1e6;
    if (top < bottom && o.frameMs < 0) o.frameMs = now;
    if (top > 0 && top < bottom) ++o.slideFrames;
  };
  stage.window.canvas()->installEventFilter(&watch);
  clock.start();
  ticker.start();
  panel = HTMLPageViewController::createShowingPages(&stage, QString());
  if (panel) stage.screen->presentViewController(panel, std::make_shared<SlideUpViewTransitionAnimation>());
  tick();
  const QDeadlineTimer bound(30000);
  while (panel && !panel->webView() && !bound.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  if (panel && panel->webView()) o.viewMs = double(clock.nsecsElapsed()) / 1e6;
  spinFor(1500);
  tick();
  ticker.stop();
  stage.window.canvas()->removeEventFilter(&watch);
  if (panel) panel->closeButtonPressed();
  spinFor(500);
  return o;
}

// The child process: a window shows, then the panel opens twice. Prints both openings.
int firstPanelChild(int argc, char** argv) {
  platform::prepareWebEngineBeforeApplication();
  QApplication app(argc, argv);
  platform::installQtMainQueue();
  Stage stage;
  spinFor(300);
  const Opening first = openPanel(stage);
  const Opening second = openPanel(stage);
  QTextStream out(stdout);
  for (const Opening& o : {first, second})
    out << o.frameMs << ' ' << o.viewMs << ' ' << o.holdMs << ' ' << o.slideFrames << ' ';
  out << Qt::endl;
  return 0;
}

QString gDisplay;  // the X server the children draw on

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void firstPanelInFreshProcess(benchmark::State& state) {
  const QString& display = gDisplay;
  if (display.isEmpty()) return state.SkipWithError("no Xvfb");
  std::vector<double> frame, view, hold, slide, floorFrame, floorView, floorHold, floorSlide;
  for (auto _ : state) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), display);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kFirstPanelChild)});
    if (!child.waitForFinished(120000) || child.exitCode() != 0) return state.SkipWithError("the child failed");
    const QList<QByteArray> f = child.readAllStandardOutput().simplified().split(' ');
    if (f.size() != 8 || f[0].toDouble() < 0 || f[4].toDouble() < 0 || f[1].toDouble() < 0)
      return state.SkipWithError("a panel did not show");
    frame.push_back(f[0].toDouble());
    view.push_back(f[1].toDouble());
    hold.push_back(f[2].toDouble());
    slide.push_back(f[3].toDouble());
    floorFrame.push_back(f[4].toDouble());
    floorView.push_back(f[5].toDouble());
    floorHold.push_back(f[6].toDouble());
    floorSlide.push_back(f[7].toDouble());
    state.SetIterationTime(f[0].toDouble() / 1000);
  }
  state.counters["frame_ms"] = median(frame);
  state.counters["floor_frame_ms"] = median(floorFrame);
  state.counters["hold_ms"] = median(hold);
  state.counters["hold_max_ms"] = *std::max_element(hold.begin(), hold.end());
  state.counters["floor_hold_ms"] = median(floorHold);
  state.counters["view_ms"] = median(view);
  state.counters["floor_view_ms"] = median(floorView);
  state.counters["slide_frames"] = median(slide);
  state.counters["floor_slide_frames"] = median(floorSlide);
}

}  // namespace

BENCHMARK(firstPanelInFreshProcess)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], kFirstPanelChild) == 0) return firstPanelChild(argc, argv);
  QCoreApplication app(argc, argv);
  QTemporaryDir home;
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) qputenv(name, home.path().toUtf8());
  // The build puts the module beside the program, two folders over.
  if (qEnvironmentVariableIsEmpty("ORRERY_WEB_MODULE"))
    qputenv("ORRERY_WEB_MODULE", (QCoreApplication::applicationDirPath() + "/../src/app/orrery_web.so").toUtf8());
  QProcess server;
  server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                        QStringLiteral("0"), QStringLiteral("1920x1080x24"), QStringLiteral("-nolisten"),
                                        QStringLiteral("tcp")});
  if (server.waitForReadyRead(10000)) gDisplay = QStringLiteral(":") + QString::fromLatin1(server.readLine()).trimmed();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  server.terminate();
  server.waitForFinished(5000);
  return 0;
}
