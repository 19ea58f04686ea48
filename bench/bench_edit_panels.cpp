// The edit popover's content composed into a window picture: the panel with its text tab on
// a first frame, beside a floor of a bare frameless window showing one line edit; a tab's
// first switch (the colour tab made) beside switching to a tab already made; and the
// "Symbols" grid of the icon tab on its first frame beside composing the grid already built.
// Goals: first text-tab frame ≤ 16 ms, first tab switch ≤ 8 ms, first grid frame ≤ 16 ms.

#include "foundation/globals.h"
#include "model/icon_image_collection.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/icon_image_tab_view.h"
#include "platform/services/qt_main_queue.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/window.h"

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

using namespace orrery;

std::shared_ptr<EditIdeaViewController> panelInWindow(platform::Window& window) {
  auto panel = EditIdeaViewController::createForPopover(nullptr);
  panel->setSelectedTitleText(QStringLiteral("Plan the summer trip"));
  panel->setSelectedColor(ColorTheme::standardThemes().front()->colors().front());
  window.setContentView(panel->view());
  panel->editViewTabBarUserSelectedItem(*panel->tabBar(), EditIdeaTabText);
  return panel;
}

void textTabFirstFrame(benchmark::State& state) {
  for (auto _ : state) {
    platform::Window window(QSizeF(320, 123), platform::Window::Borderless);
    auto panel = panelInWindow(window);
    benchmark::DoNotOptimize(window.snapshot());
  }
}

void floorLineEditFrame(benchmark::State& state) {
  for (auto _ : state) {
    platform::Window window(QSizeF(320, 123), platform::Window::Borderless);
    auto root = std::make_shared<platform::View>(QRectF(0, 0, 320, 123));
    auto field = std::make_shared<platform::NativeHostView>(new QLineEdit);
    field->setFrame(QRectF(10, 20, 300, 26));
    root->addSubview(field);
    window.setContentView(root);
    benchmark::DoNotOptimize(window.snapshot());
  }
}

void firstTabSwitch(benchmark::State& state) {
  platform::Window window(QSizeF(320, 483), platform::Window::Borderless);
  for (auto _ : state) {
    state.PauseTiming();
    auto panel = panelInWindow(window);
    state.ResumeTiming();
    panel->editViewTabBarUserSelectedItem(*panel->tabBar(), EditIdeaTabColor);
    benchmark::DoNotOptimize(window.snapshot());
  }
}

void builtTabSwitch(benchmark::State& state) {
  platform::Window window(QSizeF(320, 483), platform::Window::Borderless);
  auto panel = panelInWindow(window);
  panel->editViewTabBarUserSelectedItem(*panel->tabBar(), EditIdeaTabColor);
  for (auto _ : state) {
    panel->editViewTabBarUserSelectedItem(*panel->tabBar(), EditIdeaTabText);
    panel->editViewTabBarUserSelectedItem(*panel->tabBar(), EditIdeaTabColor);
    benchmark::DoNotOptimize(window.snapshot());
  }
}

QString symbols() {
  for (const QString& c : IconImageCollection::instance().categories())
    if (c.trimmed() == QStringLiteral("Symbols")) return c;
  return IconImageCollection::instance().categories().value(0);
}

void symbolsGridFirstFrame(benchmark::State& state) {
  platform::Window window(QSizeF(320, 422), platform::Window::Borderless);
  auto tab = std::make_shared<IconImageTabView>();
  tab->setFrame(QRectF(0, 0, 320, 422));
  window.setContentView(tab);
  const QString category = symbols();
  for (auto _ : state) {
    tab->categorySelected(category);
    tab->iconSelectorView()->setFrame(tab->iconCategoryTableView()->frame());
    benchmark::DoNotOptimize(window.snapshot());
    state.counters["icons"] = double(tab->iconSelectorView()->iconButtons().size());
  }
}

void symbolsGridBuiltFrame(benchmark::State& state) {
  platform::Window window(QSizeF(320, 422), platform::Window::Borderless);
  auto tab = std::make_shared<IconImageTabView>();
  tab->setFrame(QRectF(0, 0, 320, 422));
  window.setContentView(tab);
  tab->categorySelected(symbols());
  tab->iconSelectorView()->setFrame(tab->iconCategoryTableView()->frame());
  for (auto _ : state) {
    tab->iconSelectorView()->setNeedsDisplay();
    benchmark::DoNotOptimize(window.snapshot());
  }
}

}  // namespace

BENCHMARK(textTabFirstFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(floorLineEditFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(firstTabSwitch)->Unit(benchmark::kMillisecond);
BENCHMARK(builtTabSwitch)->Unit(benchmark::kMillisecond);
BENCHMARK(symbolsGridFirstFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(symbolsGridBuiltFrame)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  platform::installQtMainQueue();
  // The catalogue's pictures are drawn before measuring, as a running program has them.
  for (const QString& c : IconImageCollection::instance().categories())
    for (const auto& icon : IconImageCollection::instance().iconImagesByCategory(c)) icon->image();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
