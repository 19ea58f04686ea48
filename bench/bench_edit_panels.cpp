// The edit popover's content composed into a window picture, at 1×:
// - Space on a planet in a real editor up to the popover's first frame with its text tab
//   (goal ≤ 16 ms), and the panel alone put in a window, beside a floor of a bare frameless
//   window showing one line edit;
// - a tab's first switch (the colour tab made, goal ≤ 8 ms) beside switching to a tab already
//   made;
// - the "Symbols" grid of the icon tab on its first frame (goal ≤ 16 ms) beside composing the
//   grid already built;
// - each frame of the grid's slide over the category list (goal ≤ 4 ms): the animation moved
//   one 60 Hz step and the tab composed, beside composing the same half-slid tab again;
// - a note of the most a map holds pasted into an empty note area until the window shows it,
//   as one line without a space or break (goal ≤ 2×) in turns with the same number of
//   characters in lines of 80 (its floor), and keys typed at the end of each until the window
//   shows them (goal ≤ 250 ms); then, the note emptied, Ctrl+Z bringing it back, and, undone to
//   the empty note, a redo of the paste, each until the window shows it (goal ≤ 2× the same
//   for the lines). Also at a tenth of the size, where a layout of the line in the word wrap
//   takes seconds rather than minutes.
// The main queue is a run loop on a virtual clock, so deferred steps and the slide run when
// the benchmark says.

#include "interleaved_floor.h"

#include "editor_screen/solar_system_view_controller.h"
#include "foundation/globals.h"
#include "model/icon_image_collection.h"
#include "model/document_limits.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/icon_image_tab_view.h"
#include "panels/idea_text_edit_tab_view.h"
#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/core/run_loop.h"
#include "platform/ui/event.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/popover.h"
#include "platform/ui/window.h"
#include "shell/my_window.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextEdit>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace orrery;

std::shared_ptr<platform::RunLoop> gLoop;

bool waitFor(const std::function<bool()>& condition) { return gLoop->runUntil(condition, platform::Millis(60000)); }

// A scratch document of a sun and eight planets in an editor in a program window.
struct EditorInWindow {
  EditorInWindow() : window(QSizeF(1000, 800)) {
    const auto& colours = ColorTheme::standardThemes().front()->colors();
    IdeaPtr root = Idea::createWithText(QStringLiteral("Summer"));
    root->setColor(colours[0]);
    for (int i = 0; i < 8; ++i) {
      IdeaPtr planet = Idea::createWithText(QStringLiteral("Planet %1").arg(i));
      planet->setColor(colours[static_cast<std::size_t>(i + 1) % colours.size()]);
      root->addIdea(planet);
    }
    doc = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
    doc->setIdea(root);
    bool created = false;
    PersistenceController::singleton().createDocument(doc, [&](DocumentToken t) {
      token = t;
      created = true;
    });
    waitFor([&] { return created; });
    editor = SolarSystemViewController::create(doc, token, QString());
    window.switchToViewController(editor, /*animated=*/false, nullptr);
    window.displayIfNeeded();
  }
  ~EditorInWindow() {
    waitFor([&] { return !editor->isUpdatingDocument(); });
    bool released = false;
    PersistenceController::singleton().releaseDocument(doc, token, [&](bool) { released = true; });
    waitFor([&] { return released; });
    window.switchToViewController(nullptr, nullptr);
  }
  void key(int code, const QString& characters) {
    window.sendEvent(platform::Event::key(platform::EventType::KeyDown, code, characters, 0, platform::mediaTime()));
  }

  DragSupportWindow window;
  std::shared_ptr<IdeaDocument> doc;
  DocumentToken token = 0;
  std::shared_ptr<SolarSystemViewController> editor;
};

constexpr double kFrameSeconds = 1.0 / 60;

// Space opens the popover with its text tab and the popover's window composes its first
// visible frame (one 60 Hz step into the fade-in, which draws nothing at its very start),
// the title field drawn in.
void spaceToTextTabFrame(benchmark::State& state) {
  EditorInWindow shown;
  for (auto _ : state) {
    shown.key(platform::KeyCode::Space, QStringLiteral(" "));
    gLoop->advance(kFrameSeconds);
    benchmark::DoNotOptimize(shown.editor->editPopover()->window()->snapshot());
    state.PauseTiming();
    shown.key(platform::KeyCode::Escape, QString());
    gLoop->advance(1.0);
    state.ResumeTiming();
  }
}

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
    state.PauseTiming();
    gLoop->advance(1.0);  // the slide started on the next turn runs out
    state.ResumeTiming();
    state.counters["icons"] = double(tab->iconSelectorView()->iconButtons().size());
  }
}

// The tab with its "Symbols" grid opening: the slide starts on the next turn.
struct SymbolsSlide {
  SymbolsSlide() : window(QSizeF(320, 422), platform::Window::Borderless), picture(320, 422, QImage::Format_ARGB32_Premultiplied) {
    tab = std::make_shared<IconImageTabView>();
    tab->setFrame(QRectF(0, 0, 320, 422));
    window.setContentView(tab);
    window.displayIfNeeded();
  }
  void open() {
    tab->pleaseDismissIconSelector();
    tab->categorySelected(symbols());
    gLoop->runPending();
    elapsed = 0;
  }
  void step(double seconds) {
    gLoop->advance(seconds);
    elapsed += seconds;
  }
  // What the screen does on each frame: lay out, draw what changed, compose the layers.
  void compose() {
    window.displayIfNeeded();
    QPainter painter(&picture);
    window.compose(painter, QRectF(0, 0, 320, 422));
  }

  platform::Window window;
  std::shared_ptr<IconImageTabView> tab;
  QImage picture;
  double elapsed = 0;
};

void symbolsSlideFrame(benchmark::State& state) {
  SymbolsSlide slide;
  slide.open();
  slide.compose();
  for (auto _ : state) {
    if (slide.elapsed >= IconImageTabView::kSlideSeconds) {
      state.PauseTiming();
      slide.open();
      slide.compose();
      state.ResumeTiming();
    }
    slide.step(kFrameSeconds);
    slide.compose();
  }
}

void symbolsSlideFloor(benchmark::State& state) {
  SymbolsSlide slide;
  slide.open();
  slide.step(IconImageTabView::kSlideSeconds / 2);
  slide.compose();
  for (auto _ : state) slide.compose();
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

// The paste leaves room for the keys typed after it: the note ends at the size measured.
constexpr int kKeysTyped = 3;

// The note's `characters`: one line without a space, or lines of 80 letters and a break.
QString noteText(qsizetype characters, bool lined) {
  QString text(characters, QLatin1Char('a'));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const bool lineEnd = lined && i % 81 == 80;
    text[i] = lineEnd ? QLatin1Char('\n') : QLatin1Char(char('a' + i % 26));
  }
  return text;
}

// What a round on one note measured besides its paste, in milliseconds.
struct NoteTimes {
  std::vector<double> keys;
  std::vector<double> undo;
  std::vector<double> redo;
};

// The text tab in a window of the popover's size, its note area opened empty for each paste.
// As in the popover over a map, each text that goes in asks the map's room for it.
struct NoteInWindow {
  NoteInWindow() : window(QSizeF(320, IdeaTextEditTabView::kExtendedHeight), platform::Window::Borderless) {
    tab = std::make_shared<IdeaTextEditTabView>();
    tab->setFrame(QRectF(0, 0, 320, IdeaTextEditTabView::kExtendedHeight));
    window.setContentView(tab);
    window.makeKeyAndOrderFront();
    const IdeaPtr root = Idea::createWithText(QStringLiteral("map"));
    root->addIdea(Idea::createWithText(QStringLiteral("t")));
    map = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
    map->setIdea(root);
    panel = EditIdeaViewController::createForPopover(nullptr);
    panel->setEditRoom(std::make_shared<IdeaEditRoom>(map, root->ideas().front()));
    tab->setDelegate(panel.get());
  }
  // What the screen does before it shows a change: queued work, layout, drawing.
  void show() {
    QCoreApplication::processEvents();
    gLoop->runPending();
    window.displayIfNeeded();
    benchmark::DoNotOptimize(window.snapshot());
  }
  double keyMs(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QTextEdit* note = tab->noteEdit();
    return benchpairs::timeMs([&] {
      QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
      QApplication::sendEvent(note, &press);
      QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
      QApplication::sendEvent(note, &release);
      show();
    });
  }
  // A paste of `text` from the clipboard (as Ctrl+V takes it) into a fresh, empty note until the
  // window shows it; then keys typed at its end, each until the window shows it. Then the note
  // is emptied, and Ctrl+Z brings it back; undone to the empty note, a redo brings the paste
  // and the keys back (typing merges into the paste's step). Answers the paste's milliseconds.
  double roundMs(const QString& text, NoteTimes& times) {
    tab->reloadFrom(QStringLiteral("t"), QString());
    tab->switchToExtendedMode();
    show();
    QGuiApplication::clipboard()->setText(text);
    QTextEdit* note = tab->noteEdit();
    const double pasted = benchpairs::timeMs([&] {
      note->paste();
      show();
    });
    for (int i = 0; i < kKeysTyped; ++i) times.keys.push_back(keyMs(Qt::Key_A, Qt::NoModifier, QStringLiteral("a")));

    note->selectAll();
    keyMs(Qt::Key_Delete, Qt::NoModifier, QString());
    const QString typed = text + QString(kKeysTyped, QLatin1Char('a'));
    times.undo.push_back(keyMs(Qt::Key_Z, Qt::ControlModifier, QString()));
    if (note->toPlainText() != typed) return -1;
    while (!note->document()->isEmpty() && note->document()->isUndoAvailable()) note->undo();
    show();
    times.redo.push_back(keyMs(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, QString()));
    return note->toPlainText() == typed ? pasted : -1;
  }

  platform::Window window;
  std::shared_ptr<IdeaTextEditTabView> tab;
  std::shared_ptr<IdeaDocument> map;
  std::shared_ptr<EditIdeaViewController> panel;
};

// The median of the ratios of the measures to their floors, pair by pair.
double medianRatio(const std::vector<double>& measures, const std::vector<double>& floors) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < measures.size() && i < floors.size(); ++i)
    if (floors[i] > 0) ratios.push_back(measures[i] / floors[i]);
  return benchpairs::quantile(ratios, 0.5);
}

void notePasteOneLine(benchmark::State& state) {
  NoteInWindow shown;
  const qsizetype characters = state.range(0) - kKeysTyped;
  const QString oneLine = noteText(characters, /*lined=*/false), lined = noteText(characters, /*lined=*/true);
  NoteTimes oneLineTimes, linedTimes;
  bool held = true;
  benchpairs::runInTurns(
      state,
      [&] {
        const double ms = shown.roundMs(oneLine, oneLineTimes);
        held = held && ms >= 0;
        return ms;
      },
      [&] {
        const double ms = shown.roundMs(lined, linedTimes);
        held = held && ms >= 0;
        return ms;
      });
  state.counters["key_ms"] = benchpairs::quantile(oneLineTimes.keys, 0.5);
  state.counters["key_max_ms"] = benchpairs::quantile(oneLineTimes.keys, 1);
  state.counters["lined_key_ms"] = benchpairs::quantile(linedTimes.keys, 0.5);
  state.counters["lined_key_max_ms"] = benchpairs::quantile(linedTimes.keys, 1);
  state.counters["undo_ms"] = benchpairs::quantile(oneLineTimes.undo, 0.5);
  state.counters["lined_undo_ms"] = benchpairs::quantile(linedTimes.undo, 0.5);
  state.counters["undo_ratio"] = medianRatio(oneLineTimes.undo, linedTimes.undo);
  state.counters["redo_ms"] = benchpairs::quantile(oneLineTimes.redo, 0.5);
  state.counters["lined_redo_ms"] = benchpairs::quantile(linedTimes.redo, 0.5);
  state.counters["redo_ratio"] = medianRatio(oneLineTimes.redo, linedTimes.redo);
  if (!held) state.SkipWithError("the note does not hold what was pasted, typed, undone and redone");
}

}  // namespace

BENCHMARK(spaceToTextTabFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(textTabFirstFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(floorLineEditFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(firstTabSwitch)->Unit(benchmark::kMillisecond);
BENCHMARK(builtTabSwitch)->Unit(benchmark::kMillisecond);
BENCHMARK(symbolsGridFirstFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(symbolsGridBuiltFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(symbolsSlideFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(symbolsSlideFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(notePasteOneLine)
    ->Arg(DocumentLimits::kMaxTextLength / 10)
    ->Arg(DocumentLimits::kMaxTextLength)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  // Settings, documents and scratch files live in a fresh folder, never the user's own.
  QTemporaryDir home;
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"})
    qputenv(name, home.path().toUtf8());
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  auto clock = std::make_shared<platform::VirtualClock>(1000.0);
  platform::setMediaClock(clock);
  gLoop = std::make_shared<platform::RunLoop>(clock);
  platform::installMainQueuePoster(gLoop);
  // The catalogue's pictures are drawn before measuring, as a running program has them.
  for (const QString& c : IconImageCollection::instance().categories())
    for (const auto& icon : IconImageCollection::instance().iconImagesByCategory(c)) icon->image();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
