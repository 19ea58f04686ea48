// A planet dragged 1 000 steps over a 1440 × 900 window showing a home grid of 100 tiles or a
// sun of 100 planets: per step the window's drag update (the floating copy follows and the
// screen's drop focus moves) and a composition of the window, for the grid also without its
// drop focus following. The floor of each screen, measured in the same run, moves a copy
// alike over the same screen and composes, with no drag calls. Goals: each step ≤ 4 ms and
// ≤ 1.25× its floor. Counter: redraws of the copy's contents per run (0 after the first).
// At the screen's scale: 1× here, QT_SCALE_FACTOR=2 for 2×, so every picture is drawn at the
// scale it is shown at, as on such a screen.

#include "editor/simple_idea_view.h"
#include "editor/solar_system.h"
#include "foundation/views/base_view_controller.h"
#include "foundation/views/container_view.h"
#include "foundation/views/view_extensions.h"
#include "home/idea_list_view.h"
#include "model/color.h"
#include "model/idea.h"
#include "platform/core/clock.h"
#include "platform/core/run_loop.h"
#include "platform/core/dispatch.h"
#include "platform/ui/dragging.h"
#include "platform/ui/transaction.h"
#include "shell/my_window.h"

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

using namespace orrery;

namespace {

constexpr int kSteps = 1000;
const QSizeF kWindowSize(1440, 900);

IdeaProxyPtr makeProxy(int i) {
  auto p = std::make_shared<IdeaProxy>();
  p->setDocIdentifier(QStringLiteral("file:///c/doc-%1.orrx").arg(i));
  p->setText(QStringLiteral("Document %1").arg(i));
  p->setItemCount(i % 40);
  p->setColor(std::make_shared<Color>(QStringLiteral("c"), QColor(40 + i % 200, 90, 160)));
  p->setDateCreated(QDateTime(QDate(2024, 1, 1), QTime(9, 0)));
  p->setDateModified(QDateTime(QDate(2025, 6, 1), QTime(17, 30)));
  return p;
}

// The home screen's drag side as far as the grid goes: its drop focus follows the drag.
class GridScreen : public BaseViewController, public DragSupportDelegate {
 public:
  std::shared_ptr<IdeaListView> grid = std::make_shared<IdeaListView>();
  // Off: the screen answers without moving the grid's focus, which isolates the window's path.
  bool followFocus = true;
  void loadView() override {
    BaseViewController::loadView();
    grid->setFrame(QRectF(QPointF(0, 0), kWindowSize));
    for (int i = 0; i < 100; ++i) grid->appendProxy(makeProxy(i), true);
    grid->updateView();
    view()->addSubview(grid);
  }
  bool dragOperationStarted(const DragInfo& info) override {
    if (followFocus) grid->startTrackingFocusAt(info.location, nullptr);
    return true;
  }
  DragReturnTarget dragOperationUpdate(const DragInfo& info) override {
    if (followFocus) grid->trackFocusAt(info.location, nullptr);
    platform::View* focus = grid->viewAtFocus();
    if (!focus || !focus->superview()) return {};
    return {kDragTargetContent, focus->superview()->convertRectToView(focus->frame(), nullptr), 0};
  }
  void dragOperationExited() override { grid->stopTrackingFocus(); }
  void dragOperationEnded(const DragInfo&, const IdeaPtr&, const QString&, ResultCompletion done) override {
    done(kDragResultRefused);
  }
  void dragOperationEndedWithResult(const DragInfo*, DragResult) override { grid->stopTrackingFocus(); }
};

// The editor's drag side as far as the radial view goes: its focus follows the drag over a
// sun of 100 planets.
class SunScreen : public BaseViewController, public DragSupportDelegate {
 public:
  std::shared_ptr<SolarSystem> radial;
  void loadView() override {
    BaseViewController::loadView();
    radial = SolarSystem::create(QRectF(QPointF(0, 0), kWindowSize), QStringLiteral("temp:/bench"));
    IdeaPtr root = Idea::createWithText(QStringLiteral("The sun"));
    radial->startUpdate();
    radial->setCentralIdea(root);
    for (int i = 0; i < 100; ++i) {
      IdeaPtr child = Idea::createWithText(QStringLiteral("Planet %1").arg(i));
      root->addIdea(child);
      radial->addIdea(child);
    }
    radial->endUpdate();
    radial->applyLayout();
    view()->addSubview(radial);
  }
  bool dragOperationStarted(const DragInfo&) override {
    radial->stopFocusing();
    radial->setDockingMode(true);
    return true;
  }
  DragReturnTarget dragOperationUpdate(const DragInfo& info) override {
    radial->updateFocusBasedOnPoint(radial->convertPoint(info.location, nullptr), radial.get());
    const auto& focus = radial->currentFocusObject();
    if (!focus) return {};
    return {kDragTargetContent, radial->convertRectToView(focus->focusRect(), nullptr), 0};
  }
  void dragOperationExited() override { radial->stopFocusing(); }
  void dragOperationEnded(const DragInfo&, const IdeaPtr&, const QString&, ResultCompletion done) override {
    done(kDragResultRefused);
  }
  void dragOperationEndedWithResult(const DragInfo*, DragResult) override { radial->setDockingMode(false); }
};

// Starts the drag on a press.
class Source : public BaseView {
 public:
  Source(DragSupportWindow& window, std::shared_ptr<SimpleIdeaView> example)
      : BaseView(QRectF(0, 0, 10, 10)), mWindow(window), mExample(std::move(example)) {}
  void mouseDown(const platform::Event& e) override {
    mWindow.startDragForEvent(e, *this, mExample, {kDragTargetStart, QRectF(0, 0, 10, 10), 0});
  }

 private:
  DragSupportWindow& mWindow;
  std::shared_ptr<SimpleIdeaView> mExample;
};

QPointF stepPoint(int i) {
  return QPointF(720 + 600 * std::sin(i * 0.013), 450 + 380 * std::cos(i * 0.017));
}

template <class ScreenType>
struct Scene {
  std::shared_ptr<DragSupportWindow> window = std::make_shared<DragSupportWindow>(kWindowSize);
  std::shared_ptr<ScreenType> screen = std::make_shared<ScreenType>();
  QImage target;
  Scene() : target((kWindowSize * qApp->devicePixelRatio()).toSize(), QImage::Format_ARGB32_Premultiplied) {
    window->switchToViewController(screen, nullptr);
    window->displayIfNeeded();
    target.setDevicePixelRatio(qApp->devicePixelRatio());
  }
  void compose() {
    window->displayIfNeeded();
    QPainter painter(&target);
    window->compose(painter, QRectF(QPointF(0, 0), kWindowSize));
  }
};

std::shared_ptr<SimpleIdeaView> makePlanet() {
  auto planet = std::make_shared<SimpleIdeaView>(QStringLiteral("Dragged idea"), 3);
  planet->setIdeaIdentifier(QStringLiteral("idea"));
  return planet;
}

template <class ScreenType>
void dragSteps(benchmark::State& state, Scene<ScreenType>& scene) {
  platform::DraggingSession::setWindowLocator([&scene](const QPointF&) { return scene.window.get(); });
  auto source = std::make_shared<Source>(*scene.window, makePlanet());
  scene.window->containerView()->addSubview(source);
  scene.window->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, QPointF(5, 5)));
  scene.compose();
  auto* copy = dynamic_cast<SimpleIdeaView*>(&scene.window->floatingCopy()->planetView());
  const int drawsBefore = copy ? copy->layer()->displayCount() : -1;
  int i = 0;
  for (auto _ : state) {
    scene.window->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDragged, stepPoint(i++ % kSteps)));
    scene.compose();
  }
  state.counters["copy_redraws"] = copy ? copy->layer()->displayCount() - drawsBefore : -1;
  scene.window->sendEvent(platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Escape, "\x1b"));
  platform::DraggingSession::setWindowLocator(nullptr);
}

void BM_DragOverHomeGrid(benchmark::State& state) {
  Scene<GridScreen> scene;
  scene.screen->followFocus = state.range(0) != 0;
  dragSteps(state, scene);
}
// Argument: whether the grid's drop focus follows.
BENCHMARK(BM_DragOverHomeGrid)->ArgName("focus")->Arg(1)->Arg(0)->Iterations(kSteps)->Unit(benchmark::kMicrosecond);

void BM_DragOverSunOfAHundredPlanets(benchmark::State& state) {
  Scene<SunScreen> scene;
  dragSteps(state, scene);
}
BENCHMARK(BM_DragOverSunOfAHundredPlanets)->Iterations(kSteps)->Unit(benchmark::kMicrosecond);

template <class ScreenType>
void floorSteps(benchmark::State& state) {
  Scene<ScreenType> scene;
  auto copy = makePlanet();
  copy->setScale(0.75);
  scene.window->containerView()->addSubview(copy);
  scene.compose();
  const int drawsBefore = copy->layer()->displayCount();
  int i = 0;
  for (auto _ : state) {
    platform::withoutActions([&] { viewext::setCenter(*copy, stepPoint(i++ % kSteps)); });
    scene.compose();
  }
  state.counters["copy_redraws"] = copy->layer()->displayCount() - drawsBefore;
}
void BM_FloorMoveCopyOverHomeGrid(benchmark::State& state) { floorSteps<GridScreen>(state); }
BENCHMARK(BM_FloorMoveCopyOverHomeGrid)->Iterations(kSteps)->Unit(benchmark::kMicrosecond);
void BM_FloorMoveCopyOverSun(benchmark::State& state) { floorSteps<SunScreen>(state); }
BENCHMARK(BM_FloorMoveCopyOverSun)->Iterations(kSteps)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  qputenv("TMPDIR", home.path().toUtf8());
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  auto clock = std::make_shared<platform::VirtualClock>(1000.0);
  auto loop = std::make_shared<platform::RunLoop>(clock);
  platform::setMediaClock(clock);
  platform::installMainQueuePoster(loop);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
