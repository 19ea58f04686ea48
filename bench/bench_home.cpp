// The home screen's costs. In-process: drawing one tile from its proxy and scrolling a grid of
// 1 000 documents (each scroll runs the layout pass that recycles item views). Over an iCloud
// container of 1 000 documents of 1 000 ideas each (made once per run, in a temporary folder):
// - a cold start of the real program with a stored home window until its first frame showing
//   tiles (the program notes it on request), next to a bare Qt window's start until its first
//   paint (the floor of any Qt program here), as whole processes on the offscreen platform;
// - a search typed into the home screen, from the final text to the grid showing the results
//   (documents already indexed), next to the bare workspace search; the longest stretch of
//   main-queue work while one runs is a counter (an upper bound of the longest single step);
// - resident memory of a process that showed the home screen and scrolled the whole grid once,
//   next to the bare Qt window's process.
// BENCH_HOME_DOCS and BENCH_HOME_IDEAS make the container smaller for a quick look.

#include "cloud/cloud_engines.h"
#include "foundation/globals.h"
#include "home/home_planet_layer.h"
#include "home/home_view_controller.h"
#include "home/idea_list_view.h"
#include "../tests/support/process_home.h"
#include "model/color.h"
#include "model/color_theme.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/index_document.h"
#include "model/persistence_controller.h"
#include "model/workspace.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/services/application_identity.h"
#include "platform/services/qt_main_queue.h"
#include "platform/services/user_defaults.h"
#include "shell/bundle_info.h"
#include "shell/my_window.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

using namespace orrery;

namespace {

QString gSelf;
QString gOrrery;
QString gContainer;  // the container root, made once

int envInt(const char* name, int fallback) {
  const int value = qEnvironmentVariableIntValue(name);
  return value > 0 ? value : fallback;
}

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

// `docs` documents of `ideas` ideas (a root, 30 branches, leaves under them) and their index.
// Document k holds "zq<k>zq" deep inside; every document holds "orbit".
void makeContainer(const QString& root, int docs, int ideas) {
  const QString folder = root + "/Documents";
  QDir().mkpath(folder);
  // Connected, as the preferences leave it.
  qputenv("ORRERY_CLOUD_CONTAINER", root.toUtf8());
  platform::LocalFolderContainer::connect();
  ProxyList proxies;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (int d = 0; d < docs; ++d) {
    auto doc = IdeaDocument::createWithFileName(QString::asprintf("doc%05d.orrx", d), DocumentLocationICloud);
    IdeaPtr top = Idea::createWithText(QStringLiteral("Map %1").arg(d));
    const auto& themes = ColorTheme::standardThemes();
    top->setColor(themes[static_cast<std::size_t>(d) % themes.size()]->colors().front());
    std::vector<IdeaPtr> branches;
    for (int b = 0; b < 30 && b + 1 < ideas; ++b) {
      branches.push_back(Idea::createWithText(QStringLiteral("Branch %1 orbit").arg(b)));
      top->addIdea(branches.back());
    }
    for (int i = static_cast<int>(branches.size()) + 1; i < ideas; ++i)
      branches[static_cast<std::size_t>(i) % branches.size()]->addIdea(Idea::createWithText(
          i == ideas - 1 ? QStringLiteral("zq%1zq").arg(d) : QStringLiteral("Leaf %1 of map %2").arg(i).arg(d)));
    doc->setIdea(top);
    doc->setDateCreated(now);
    doc->setDateModified(now);
    QFile file(folder + "/" + doc->filePath());
    if (file.open(QIODevice::WriteOnly)) file.write(doc->exportAsPureJSONData());
    proxies.push_back(IdeaProxy::createWithDoc(doc));
  }
  IndexDocument index(QUrl::fromLocalFile(folder + "/" + IndexDocument::standardFileName()));
  index.setIdeaProxyList(proxies);
  index.saveBinaryToURL(index.presentedItemURL(), nullptr);
}

// A fresh home for one child process; the container is shared.
struct Home : testsupport::ProcessHome {
  Home() {
    env.insert("ORRERY_CLOUD_CONTAINER", gContainer);
    env.insert("ORRERY_LOG_FIRST_TILES", "1");
  }
  std::unique_ptr<QProcess> start(const QString& program, const QStringList& arguments) {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->start(program, arguments);
    p->waitForStarted();
    return p;
  }
  // Stores an iCloud choice and one home window, as a quit would have left them.
  void storeHomeWindow() { start(gSelf, {"--store-home-window"})->waitForFinished(20000); }
};

// Reads the child's output until a line holds `text`; the value after its last ": ".
QByteArray waitForLine(QProcess& p, const char* text) {
  for (;;) {
    while (p.canReadLine()) {
      const QByteArray line = p.readLine();
      if (line.contains(text)) return line.mid(line.lastIndexOf(':') + 1).trimmed();
    }
    if (p.state() == QProcess::NotRunning || !p.waitForReadyRead(30000)) return {};
  }
}

void stop(QProcess& p) {
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  p.waitForFinished(20000);
}

// ---- in-process tile and grid costs

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

// ---- whole processes

void BM_ColdStartWithStoredHomeUntilTilesShow(benchmark::State& state) {
  for (auto _ : state) {
    Home home;
    home.storeHomeWindow();
    QElapsedTimer timer;
    timer.start();
    auto p = home.start(gOrrery, {});
    const QByteArray tiles = waitForLine(*p, "first frame with");
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    state.counters["tiles"] = tiles.split(' ').value(3).toDouble();
    stop(*p);
  }
}
BENCHMARK(BM_ColdStartWithStoredHomeUntilTilesShow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_BareQtWindowUntilFirstPaint(benchmark::State& state) {
  for (auto _ : state) {
    Home home;
    QElapsedTimer timer;
    timer.start();
    auto p = home.start(gSelf, {"--floor-window"});
    p->waitForFinished(20000);
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
  }
}
BENCHMARK(BM_BareQtWindowUntilFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ResidentMemoryAfterScrollingTheWholeGrid(benchmark::State& state) {
  for (auto _ : state) {
    Home home;
    auto p = home.start(gSelf, {"--scroll-home"});
    state.counters["home_MB"] = waitForLine(*p, "resident MB").toDouble();
    p->waitForFinished(60000);
    auto floor = home.start(gSelf, {"--floor-window", "--report-memory"});
    state.counters["bare_window_MB"] = waitForLine(*floor, "resident MB").toDouble();
    floor->waitForFinished(20000);
  }
}
BENCHMARK(BM_ResidentMemoryAfterScrollingTheWholeGrid)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- searches in this process, over the same container

double residentMegabytes() {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
  return 0;
}

bool pumpUntil(const std::function<bool()>& done, double* longestMs = nullptr, int timeoutMs = 60000) {
  QElapsedTimer total;
  total.start();
  while (!done()) {
    if (total.elapsed() > timeoutMs) return false;
    QElapsedTimer step;
    step.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (longestMs) *longestMs = std::max(*longestMs, step.nsecsElapsed() / 1e6);
  }
  return true;
}

// The iCloud location over the container, ready, in this process.
bool startICloud() {
  static bool ready = [] {
    qputenv("ORRERY_CLOUD_CONTAINER", gContainer.toUtf8());
    PersistenceController::singleton().setWorkspaceFactory(Workspace::factoryWithEngines(cloudEngineForLocation));
    Globals::optForICloud(true);
    return pumpUntil([] {
      auto list = PersistenceController::singleton().proxyListForLocation(DocumentLocationICloud);
      return list && !list->empty() &&
             PersistenceController::singleton().statusForLocation(DocumentLocationICloud) == WorkspaceStatusReady;
    });
  }();
  return ready;
}

struct SearchListener : PersistenceControllerListener {
  std::int64_t awaited = 0;
  bool answered = false;
  std::size_t found = 0;
  void searchIsReady(const ProxyList& results, DocumentLocation, std::int64_t request) override {
    if (request != awaited) return;
    answered = true;
    found = results.size();
  }
};

void BM_BareWorkspaceSearchIndexed(benchmark::State& state) {
  if (!startICloud()) return state.SkipWithError("the container did not become ready");
  auto listener = std::make_shared<SearchListener>();
  auto& facade = PersistenceController::singleton();
  facade.addListener(listener);
  int k = 0;
  auto search = [&] {
    listener->answered = false;
    listener->awaited = facade.nextSearchRequestID();
    facade.startSearch(QStringLiteral("zq%1zq").arg(k++ % 7), DocumentLocationICloud, listener->awaited);
    pumpUntil([&] { return listener->answered; });
  };
  search();  // indexes every document once
  for (auto _ : state) search();
  state.counters["found"] = static_cast<double>(listener->found);
  facade.removeListener(listener.get());
}
BENCHMARK(BM_BareWorkspaceSearchIndexed)->Unit(benchmark::kMillisecond);

void BM_HomeSearchUntilTheGridShowsResults(benchmark::State& state) {
  if (!startICloud()) return state.SkipWithError("the container did not become ready");
  auto window = std::make_shared<DragSupportWindow>(QSizeF(1172, 760));
  auto home = HomeViewController::create(DocumentLocationICloud, QString());
  window->switchToViewController(home, /*animated=*/false, nullptr);
  window->makeKeyAndOrderFront();
  window->displayIfNeeded();
  int k = 0;
  double longest = 0;
  auto search = [&](double* longestMs) {
    home->topBar()->setCurrentSearchText(QStringLiteral("zq%1zq").arg(k++ % 7));
    home->topBarSearchStatusDidChange(/*final=*/true);
    pumpUntil([&] { return home->state() == kHomeScreenStateResults; }, longestMs);
    window->displayIfNeeded();
  };
  search(nullptr);  // indexes every document once
  for (auto _ : state) search(&longest);
  state.counters["results"] = static_cast<double>(home->ideaListView()->proxies().size());
  state.counters["longest_main_ms"] = longest;
  window->close();
}
BENCHMARK(BM_HomeSearchUntilTheGridShowsResults)->Unit(benchmark::kMillisecond);

// ---- child modes

int runFloorWindow(int argc, char** argv, bool reportMemory) {
  QApplication app(argc, argv);
  struct Window : QWidget {
    bool report = false;
    void paintEvent(QPaintEvent*) override {
      QPainter(this).fillRect(rect(), Qt::white);
      QTimer::singleShot(0, qApp, [this] {
        if (report) std::fprintf(stderr, "resident MB: %.1f\n", residentMegabytes());
        QCoreApplication::exit(0);
      });
    }
  } window;
  window.report = reportMemory;
  window.resize(1172, 760);
  window.show();
  return app.exec();
}

int storeHomeWindow(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  platform::applyApplicationIdentity();
  auto& defaults = platform::UserDefaults::standard();
  defaults.setBool(true, QString::fromLatin1(Globals::kCloudStorageChoiceKey));
  defaults.setString(QStringLiteral("%1.%2").arg(BundleInfo::shortVersionString(), BundleInfo::bundleVersion()),
                     QStringLiteral("CurrentOrreryVersion"));
  const QVariantMap window{{"controllerClass", "HomeViewController"},
                           {"controllerState", QVariantMap{{"location", 2}}},
                           {"windowFrame", "{{100, 100}, {1172, 760}}"}};
  defaults.setObject(QVariantMap{{"controllerStates", QVariantList{window}}}, QStringLiteral("CurrentState"));
  return defaults.flush() ? 0 : 1;
}

int scrollHome(int argc, char** argv) {
  QApplication app(argc, argv);
  platform::applyApplicationIdentity();
  platform::installQtMainQueue();
  gContainer = qEnvironmentVariable("ORRERY_CLOUD_CONTAINER");
  if (!startICloud()) return 1;
  auto window = std::make_shared<DragSupportWindow>(QSizeF(1172, 760));
  auto home = HomeViewController::create(DocumentLocationICloud, QString());
  window->switchToViewController(home, /*animated=*/false, nullptr);
  window->makeKeyAndOrderFront();
  window->displayIfNeeded();
  IdeaListView& grid = *home->ideaListView();
  const double height = grid.contentHeightForWidth(grid.contentWidth());
  for (double y = 0; y <= height; y += 200) {
    grid.scrollToPoint(QPointF(0, y));
    window->displayIfNeeded();
    QCoreApplication::processEvents();
  }
  std::fprintf(stderr, "resident MB: %.1f\n", residentMegabytes());
  std::fflush(stderr);
  window->close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--floor-window") == 0)
      return runFloorWindow(argc, argv, i + 1 < argc && std::strcmp(argv[i + 1], "--report-memory") == 0);
    if (std::strcmp(argv[i], "--store-home-window") == 0) return storeHomeWindow(argc, argv);
    if (std::strcmp(argv[i], "--scroll-home") == 0) return scrollHome(argc, argv);
    // A container to try the program with: --make-container <root> [documents] [ideas].
    if (std::strcmp(argv[i], "--make-container") == 0 && i + 1 < argc) {
      QCoreApplication app(argc, argv);
      makeContainer(QString::fromLocal8Bit(argv[i + 1]), i + 2 < argc ? std::atoi(argv[i + 2]) : 1000,
                    i + 3 < argc ? std::atoi(argv[i + 3]) : 1000);
      return 0;
    }
  }
  // The settings and folders of this process come from a fresh home, never the user's own.
  QTemporaryDir home;
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
    qputenv(name, (home.path() + "/" + name).toUtf8());
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  platform::installQtMainQueue();
  gSelf = QCoreApplication::applicationFilePath();
  gOrrery = QDir(QCoreApplication::applicationDirPath()).filePath("../src/app/orrery");
  QTemporaryDir container;
  gContainer = container.path() + "/container";
  QElapsedTimer made;
  made.start();
  makeContainer(gContainer, envInt("BENCH_HOME_DOCS", 1000), envInt("BENCH_HOME_IDEAS", 1000));
  std::fprintf(stderr, "container made in %.1f s\n", made.nsecsElapsed() / 1e9);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Globals::optForICloud(false);
  PersistenceController::singleton().setWorkspaceFactory({});
  return 0;
}
