// The web-link panel against a bare engine view, offscreen, on a 300 KB loopback page:
// "Visit" to a loaded page (state 4) beside a bare QWebEngineView loading the same page (kept,
// and made afresh per load as the panel does), and the confirmation picture of the 1440 x 860
// page area beside QWidget::grab of that same view.
// Goals: each ≤ 1.2 × its floor, measured in the same run.
// Every wait has a bound: a page that does not load or draw fails the benchmark with a message.

#include "loopback_http_server.h"
#include "panels/html_page_view_controller.h"
#include "platform/services/qt_main_queue.h"
#include "platform/ui/web_view.h"
#include "platform/ui/window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

using namespace orrery;

testsupport::LoopbackHttpServer* gServer = nullptr;
const QSize kWindow(1440, 900);

// Runs the event loop until `done`; false when it did not hold within the bound.
bool spin(const std::function<bool()>& done) {
  const QDeadlineTimer bound(30000);
  while (!done()) {
    if (bound.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

QByteArray bigPage() {
  QByteArray page = "<html><body style='margin:0;font-family:sans-serif'>";
  for (int i = 0; page.size() < 300 * 1024; ++i)
    page += "<p style='color:#" + QByteArray::number(0x100000 + (i * 7919) % 0xEFFFFF, 16) + "'>Paragraph " +
            QByteArray::number(i) + " of a long page with words enough to wrap a line or two.</p>";
  return page + "</body></html>";
}

struct Presenter : HTMLPageViewControllerDelegate {
  void pleaseDismissHTMLPageView(HTMLPageViewController& /*panel*/) override {}
};

struct PanelInWindow {
  Presenter presenter;
  platform::Window window{QSizeF(kWindow)};
  std::shared_ptr<HTMLPageViewController> panel = std::make_shared<HTMLPageViewController>(&presenter, QString());
  PanelInWindow() {
    window.setContentView(panel->view());
    panel->view()->setFrame(QRectF(QPointF(0, 0), QSizeF(kWindow)));
    panel->applyLayout();
    window.makeKeyAndOrderFront();
  }
  // False when the page did not load within the bound.
  bool visit() {
    panel->setFieldText(gServer->url(QStringLiteral("/page")).toString());
    panel->controlTextDidChange();
    panel->actionButtonPressed();
    return spin([&] { return panel->searchFieldState() == 4u; });
  }
};

void panelVisit(benchmark::State& state) {
  PanelInWindow shown;
  for (auto _ : state) {
    if (!shown.visit()) {
      state.SkipWithError("the panel's page did not load within 30 s");
      break;
    }
  }
}

void floorBareViewLoad(benchmark::State& state) {
  QWebEngineView view;
  view.resize(kWindow.width(), kWindow.height() - 40);
  view.show();
  bool finished = false;
  QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { finished = true; });
  for (auto _ : state) {
    finished = false;
    view.load(gServer->url(QStringLiteral("/page")));
    if (!spin([&] { return finished; })) {
      state.SkipWithError("the bare view's page did not load within 30 s");
      break;
    }
  }
}

// The same with a fresh view per load, as the panel makes one for every load it starts.
void floorFreshBareViewLoad(benchmark::State& state) {
  for (auto _ : state) {
    QWebEngineView view;
    view.resize(kWindow.width(), kWindow.height() - 40);
    view.show();
    bool finished = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { finished = true; });
    view.load(gServer->url(QStringLiteral("/page")));
    if (!spin([&] { return finished; })) {
      state.SkipWithError("the fresh bare view's page did not load within 30 s");
      break;
    }
  }
}

// Loads the page into the panel and waits until the view has drawn its first frame (the load
// ends before it); false, with the reason given to the benchmark, when either ran out.
bool showPage(benchmark::State& state, PanelInWindow& shown) {
  if (!shown.visit()) {
    state.SkipWithError("the panel's page did not load within 30 s");
    return false;
  }
  QWidget& widget = *shown.panel->webView()->widget();
  const bool drawn = spin([&] {
    const QImage top = widget.grab(QRect(0, 0, 40, 40)).toImage();
    return !top.isNull() && top.pixelColor(20, 20) == QColor(Qt::white);
  });
  if (!drawn) state.SkipWithError("the page did not draw within 30 s");
  return drawn;
}

void panelConfirmationPicture(benchmark::State& state) {
  PanelInWindow shown;
  if (!showPage(state, shown)) return;
  for (auto _ : state) benchmark::DoNotOptimize(shown.panel->captureWebviewImage());
}

void floorViewGrab(benchmark::State& state) {
  PanelInWindow shown;
  if (!showPage(state, shown)) return;
  QWidget& view = *shown.panel->webView()->widget();
  for (auto _ : state) benchmark::DoNotOptimize(view.grab().toImage());
}

}  // namespace

BENCHMARK(panelVisit)->Unit(benchmark::kMillisecond);
BENCHMARK(floorBareViewLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(floorFreshBareViewLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(panelConfirmationPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(floorViewGrab)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", home.path().toUtf8());
  qputenv("XDG_CACHE_HOME", home.path().toUtf8());
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  platform::prepareWebEngineBeforeApplication();
  QApplication app(argc, argv);
  platform::installQtMainQueue();
  // The build puts the module beside the program, two folders over.
  if (qEnvironmentVariableIsEmpty("ORRERY_WEB_MODULE"))
    qputenv("ORRERY_WEB_MODULE", (QCoreApplication::applicationDirPath() + "/../src/app/orrery_web.so").toUtf8());
  testsupport::LoopbackHttpServer server;
  server.setPage(QStringLiteral("/page"), bigPage());
  gServer = &server;
  HTMLPageViewController::setSearchEngine(server.url(QString()));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
