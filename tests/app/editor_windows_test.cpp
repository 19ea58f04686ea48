#include "app_test_support.h"

#include "editor_screen/editor_screens.h"
#include "editor_screen/solar_system_view_controller.h"
#include "foundation/data_extensions.h"
#include "foundation/views/custom_text_field.h"
#include "model/document_limits.h"
#include "panels/idea_text_edit_tab_view.h"
#include "shell/top_bar_view.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>
#include <QWindow>

#include <functional>
#include <iterator>
#include <string>

using namespace orrery;
using apptest::AppFixture;

using EditorWindows = AppFixture;

namespace {
SolarSystemViewController* editorOf(const MainWindowController& c) {
  return dynamic_cast<SolarSystemViewController*>(c.myWindow().controller().get());
}
}  // namespace

TEST_F(EditorWindows, ANewMapAndARestoredOneShowTheEditorUnderItsTopBar) {
  installEditorScreens();
  defaults().setString("1.6.0.160", "CurrentOrreryVersion");
  auto& app = launch();
  ASSERT_EQ(app.windowControllers().size(), 1u);
  auto* editor = editorOf(*app.windowControllers().front());
  ASSERT_NE(editor, nullptr);
  app.windowControllers().front()->myWindow().displayIfNeeded();
  ASSERT_NE(editor->topBar(), nullptr);
  EXPECT_DOUBLE_EQ(editor->topBar()->frame().height(), TopBarView::preferredHeight());
  EXPECT_GT(editor->topBar()->frame().width(), 0);
  EXPECT_EQ(app.windowControllers().front()->myWindow().snapshot().pixel(200, 5), qRgb(232, 232, 233));
  quit();

  auto& again = launch();
  ASSERT_EQ(again.windowControllers().size(), 1u);
  auto& window = again.windowControllers().front()->myWindow();
  uitest::loop().runUntil([&] {
    auto* e = editorOf(*again.windowControllers().front());
    return e && e->solarSystem();
  });
  window.displayIfNeeded();
  auto* restored = editorOf(*again.windowControllers().front());
  ASSERT_NE(restored, nullptr);
  ASSERT_NE(restored->topBar(), nullptr);
  EXPECT_DOUBLE_EQ(restored->topBar()->frame().height(), TopBarView::preferredHeight());
  EXPECT_GT(restored->topBar()->frame().width(), 0) << "the restored editor lays out its top bar";
  EXPECT_EQ(restored->topBar()->window(), &window);
  EXPECT_DOUBLE_EQ(restored->solarSystem()->frame().top(), TopBarView::preferredHeight()) << "the map sits below the bar";
  EXPECT_FALSE(restored->topBar()->isHiddenOrHasHiddenAncestor());
  EXPECT_EQ(window.snapshot().pixel(200, 5), qRgb(232, 232, 233)) << "the bar is drawn";
}

TEST_F(EditorWindows, TheFileMenuReachesTheEditorOfANewMap) {
  installEditorScreens();
  defaults().setString("1.6.0.160", "CurrentOrreryVersion");
  auto& app = launch();
  ASSERT_EQ(app.windowControllers().size(), 1u);
  auto& window = app.windowControllers().front()->myWindow();
  window.makeKeyAndOrderFront();
  uitest::loop().runUntil([&] {
    auto* e = editorOf(*app.windowControllers().front());
    return e && e->solarSystem();
  });
  auto& shared = platform::Application::shared();
  shared.setEventWindow(&window);
  shared.updateMainMenu();
  const auto main = shared.mainMenu();
  ASSERT_NE(main, nullptr);
  // Every File item the editor answers must name the action the editor handles.
  for (const char* action : {"cmdSaveLocalFile", "cmdSaveLocalFileAs", "cmdExport", "cmdPrintIdea"}) {
    auto item = apptest::findItem(*main, QString::fromLatin1(action));
    ASSERT_NE(item, nullptr) << action;
    EXPECT_TRUE(item->isEnabled()) << action << " reaches the editor of a scratch map";
  }
  shared.setEventWindow(nullptr);
}

// A new map opens with its sun's edit popover, whose title takes what the user types, also
// when the window manager activates the new window only after the popover.
TEST_F(EditorWindows, ANewMapOpensTheEditorOfItsSunAndItsTitleTakesTheTyping) {
  installEditorScreens();
  defaults().setString("1.6.0.160", "CurrentOrreryVersion");
  auto& app = launch();
  // The popover fades in on the media clock while the events come.
  const auto until = [](const std::function<bool()>& done) {
    return QTest::qWaitFor([&] {
      uitest::advance(0.02);
      return done();
    });
  };
  const std::function<void()> newMap[] = {
      [] {},  // the first window of a start without stored windows
      [&] {
        platform::Application::shared().updateMainMenu();
        apptest::findItem(*platform::Application::shared().mainMenu(), QStringLiteral("cmdNewLocalFile"))->perform();
        settle(2);
      }};
  for (size_t i = 0; i < std::size(newMap); ++i) {
    SCOPED_TRACE(i == 0 ? "first start" : "File > New");
    newMap[i]();
    ASSERT_EQ(app.windowControllers().size(), i + 1);
    auto& window = app.windowControllers().back()->myWindow();
    SolarSystemViewController* editor = nullptr;
    ASSERT_TRUE(until([&] {
      editor = editorOf(*app.windowControllers().back());
      return editor && editor->editPopover() && editor->editPopover()->isShown();
    })) << "the central idea's editor opens";
    const auto& sun = *editor->solarSystem()->centralView();
    const auto& popover = *editor->editPopover();
    EXPECT_EQ(popover.positioningView()->convertRectToView(popover.positioningRect(), nullptr).center(),
              sun.convertRectToView(sun.bounds(), nullptr).center())
        << "it points at the sun";
    auto* panel = dynamic_cast<EditIdeaViewController*>(editor->editPopover()->contentViewController().get());
    ASSERT_NE(panel, nullptr);
    QLineEdit* title = panel->textTabView()->titleTextField()->field()->lineEdit();
    QWidget* popoverWindow = editor->editPopover()->window()->widget();

    window.widget()->activateWindow();  // the window manager gets round to the new window
    EXPECT_TRUE(until([&] {
      return QGuiApplication::focusWindow() == popoverWindow->windowHandle() && title->hasFocus();
    })) << "the title field has the keyboard and shows its caret";
    QWindow* focused = QGuiApplication::focusWindow();
    ASSERT_NE(focused, nullptr);
    for (const char c : std::string("Saturn")) QTest::keyClick(focused, c);
    QTest::keyClick(focused, Qt::Key_Return);
    ASSERT_TRUE(until([&] { return !editor->editPopover() || !editor->editPopover()->isShown(); }))
        << "Return closes the popover";
    EXPECT_EQ(editor->realIdea()->text(), QStringLiteral("Saturn"));
  }
}

TEST_F(EditorWindows, QuitKeepsTheTitleBeingTypedInTheEditPopover) {
  installEditorScreens();
  defaults().setString("1.6.0.160", "CurrentOrreryVersion");
  const QString file = writeDocument(QStringLiteral("typed.orrery"), QStringLiteral("before"));
  auto& app = launch({file});
  ASSERT_EQ(app.windowControllers().size(), 1u);
  SolarSystemViewController* editor = nullptr;
  ASSERT_TRUE(uitest::loop().runUntil([&] {
    editor = editorOf(*app.windowControllers().front());
    return editor && editor->solarSystem() && editor->realIdea();
  }));
  editor->doEditTextualIdea(editor->realIdea());
  ASSERT_TRUE(editor->editPopover() && editor->editPopover()->isShown());
  auto* panel = dynamic_cast<EditIdeaViewController*>(editor->editPopover()->contentViewController().get());
  ASSERT_NE(panel, nullptr);
  QLineEdit* title = panel->textTabView()->titleTextField()->field()->lineEdit();
  title->selectAll();
  QTest::keyClicks(title, QStringLiteral("typed at quit"));
  quit();

  QFile saved(file);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const IdeaPtr tree = IdeaDocument::treeFromFileBytes(saved.readAll(), /*compressed=*/true);
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->text(), QStringLiteral("typed at quit"));
}

// A map of the last run whose file no longer opens (an earlier version wrote what the reader
// refuses) is named with the reason at the next start; the start's first window stands in and
// the program goes on.
TEST_F(EditorWindows, AStoredMapThatNoLongerOpensIsToldAndTheFirstWindowStandsIn) {
  installEditorScreens();
  defaults().setString("1.6.0.160", "CurrentOrreryVersion");
  const QString stored = QStringLiteral("temp:/id1500000000_7.orrx");
  const QString file = PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer(stored).toLocalFile();
  ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::WriteOnly));
  written.write(*dataext::zlibDeflate(R"({"ideaDocumentDataObject":{"fileFormatVersion":3,"idea":{"text":"Notes","note":")" +
                                      QByteArray(DocumentLimits::kMaxTextLength + 1, 'x') + R"("}}})"));
  written.close();
  defaults().setObject(
      QVariantMap{{"controllerStates",
                   QVariantList{QVariantMap{{"controllerClass", "SolarSystemViewController"},
                                            {"controllerState", QVariantMap{{"docIdentifier", stored}}}}}}},
      "CurrentState");

  auto& app = launch();
  ASSERT_TRUE(uitest::loop().runUntil([&] { return !presenter->alerts.empty(); })) << "the start says so";
  const QString told = presenter->alerts.front().informativeText;
  EXPECT_TRUE(told.contains(QFileInfo(file).fileName()) && told.contains("The document is too large to open"))
      << told.toStdString();
  settle(1);
  uitest::advance(0.5);
  EXPECT_EQ(exits, 0) << "still running";
  ASSERT_EQ(app.windowControllers().size(), 1u);
  auto* standIn = editorOf(*app.windowControllers().front());
  ASSERT_NE(standIn, nullptr);
  ASSERT_TRUE(uitest::loop().runUntil([&] { return standIn->document() != nullptr; }));
  EXPECT_NE(standIn->document()->docIdentifier(), stored) << "a new map";
  EXPECT_EQ(QFile(file).size(), written.size()) << "the file that did not open is kept";
  EXPECT_EQ(presenter->alerts.size(), 1u);
}
