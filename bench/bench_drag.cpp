// A planet dragged 1 000 steps over a 1440 × 900 window showing a home grid of 100 tiles or a
// sun of 100 planets: per step the window's drag update (the floating copy follows and the
// screen's drop focus moves) and a composition of the window, for the grid also without its
// drop focus following. The floor of each screen moves a copy alike over the same screen and
// composes, with no drag calls, one floor step right before each drag step ("floor_us",
// "ratio"). Goals: each step ≤ 4 ms and ≤ 1.25× its floor. Counter: redraws of the copy's
// contents per run (0 after the first).
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

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <type_traits>

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

// The drag's side of a step: the window's drag update, then a composition.
template <class ScreenType>
class DragSteps {
 public:
  explicit DragSteps(bool followFocus = true) {
    if constexpr (std::is_same_v<ScreenType, GridScreen>) mScene.screen->followFocus = followFocus;
    platform::DraggingSession::setWindowLocator([this](const QPointF&) { return mScene.window.get(); });
    auto source = std::make_shared<Source>(*mScene.window, makePlanet());
    mScene.window->containerView()->addSubview(source);
    mScene.window->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, QPointF(5, 5)));
    mScene.compose();
    mCopy = dynamic_cast<SimpleIdeaView*>(&mScene.window->floatingCopy()->planetView());
    mDrawsBefore = mCopy ? mCopy->layer()->displayCount() : -1;
  }
  ~DragSteps() {
    mScene.window->sendEvent(platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Escape, "\x1b"));
    platform::DraggingSession::setWindowLocator(nullptr);
  }
  void step(int i) {
    mScene.window->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDragged, stepPoint(i % kSteps)));
    mScene.compose();
  }
  int copyRedraws() const { return mCopy ? mCopy->layer()->displayCount() - mDrawsBefore : -1; }

 private:
  Scene<ScreenType> mScene;
  SimpleIdeaView* mCopy = nullptr;
  int mDrawsBefore = 0;
};

// The floor's side: a copy moved alike over the same screen, and a composition, with no drag calls.
template <class ScreenType>
class FloorSteps {
 public:
  FloorSteps() {
    mCopy->setScale(0.75);
    mScene.window->containerView()->addSubview(mCopy);
    mScene.compose();
  }
  void step(int i) {
    platform::withoutActions([&] { viewext::setCenter(*mCopy, stepPoint(i % kSteps)); });
    mScene.compose();
  }

 private:
  Scene<ScreenType> mScene;
  std::shared_ptr<SimpleIdeaView> mCopy = makePlanet();
};

double microsecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

// Each drag step is paired with a floor step right before it, so a load that moves during the
// run moves both: "floor_us" is the floor's mean step, "ratio" the drag's mean over it.
template <class ScreenType>
void pairedSteps(benchmark::State& state, bool followFocus = true) {
  FloorSteps<ScreenType> floor;
  DragSteps<ScreenType> drag(followFocus);
  double floorTotal = 0, dragTotal = 0;
  int i = 0;
  for (auto _ : state) {
    floorTotal += microsecondsOf([&] { floor.step(i); });
    const double us = microsecondsOf([&] { drag.step(i); });
    dragTotal += us;
    state.SetIterationTime(us / 1e6);
    ++i;
  }
  state.counters["copy_redraws"] = drag.copyRedraws();
  state.counters["floor_us"] = i ? floorTotal / i : 0;
  state.counters["ratio"] = floorTotal > 0 ? dragTotal / floorTotal : 0;
}

void BM_DragOverHomeGrid(benchmark::State& state) { pairedSteps<GridScreen>(state, state.range(0) != 0); }
// Argument: whether the grid's drop focus follows.
BENCHMARK(BM_DragOverHomeGrid)
    ->ArgName("focus")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(kSteps)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

void BM_DragOverSunOfAHundredPlanets(benchmark::State& state) { pairedSteps<SunScreen>(state); }
BENCHMARK(BM_DragOverSunOfAHundredPlanets)->Iterations(kSteps)->UseManualTime()->Unit(benchmark::kMicrosecond);

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
