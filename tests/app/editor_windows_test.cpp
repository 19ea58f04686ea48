#include "app_test_support.h"

#include "editor_screen/editor_screens.h"
#include "editor_screen/solar_system_view_controller.h"
#include "foundation/views/custom_text_field.h"
#include "panels/idea_text_edit_tab_view.h"
#include "shell/top_bar_view.h"

#include <QLineEdit>
#include <QTest>

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
