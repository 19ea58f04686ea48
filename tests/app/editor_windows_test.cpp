#include "app_test_support.h"

#include "editor/controller/editor_screens.h"
#include "editor/controller/solar_system_view_controller.h"
#include "shell/top_bar_view.h"

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
