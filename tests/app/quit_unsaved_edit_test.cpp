// The quit after an edit that could not be saved asks as closing the window does: the edit
// saved elsewhere or given up lets the quit go on, "Cancel" (or a cancelled save panel) keeps
// the program running with the edit.

#include "app_test_support.h"

#include "editor_screen/editor_screens.h"
#include "editor_screen/solar_system_view_controller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <deque>

using namespace orrery;
using apptest::AppFixture;
using apptest::treeIn;

namespace {

using QuitWithUnsavedEdit = AppFixture;

platform::FilePanelResult chose(const QString& path) {
  platform::FilePanelResult result;
  result.response = platform::kModalResponseOK;
  result.paths = QStringList{path};
  return result;
}

enum class SavePanel { Cancelled, Elsewhere, OwnFile };

struct QuitCase {
  const char* name;
  std::deque<int> answers;  // Save As… 1000, Do Not Save 1001, Cancel 1002
  SavePanel panel;
  bool quits;
  size_t questions;
};

TEST_F(QuitWithUnsavedEdit, TheQuitAsksAndEachAnswerDoesWhatItSays) {
  const QuitCase cases[] = {
      {"save as", {1000}, SavePanel::Elsewhere, true, 1},
      {"save as, then the panel is cancelled", {1000}, SavePanel::Cancelled, false, 1},
      {"save as onto its own file, which still refuses: asked again", {1000, 1002}, SavePanel::OwnFile, false, 2},
      {"do not save", {1001}, SavePanel::Cancelled, true, 1},
      {"cancel", {1002}, SavePanel::Cancelled, false, 1},
  };
  installEditorScreens();
  defaults().setString("1.6.0.160", "CurrentOrreryVersion");
  int n = 0;
  for (const QuitCase& row : cases) {
    SCOPED_TRACE(row.name);
    const QString file = writeDocument(QStringLiteral("full%1.orrery").arg(n), QStringLiteral("root"));
    const QString elsewhere = QDir(mFiles.path()).filePath(QStringLiteral("elsewhere%1.orrery").arg(n++));
    exits = 0;
    // Only this row's file comes up.
    defaults().removeObjectForKey(QStringLiteral("LocalDocumentWindows"));
    defaults().removeObjectForKey(QStringLiteral("CurrentState"));
    auto& app = launch({file});
    ASSERT_EQ(app.windowControllers().size(), 1u);
    SolarSystemViewController* editor = nullptr;
    ASSERT_TRUE(uitest::loop().runUntil([&] {
      editor = dynamic_cast<SolarSystemViewController*>(app.windowControllers().front()->myWindow().controller().get());
      return editor && editor->solarSystem() && editor->realIdea();
    }));
    const QString named = QFileInfo(file).canonicalFilePath();  // as the document names it
    // The disk refuses the write: a folder where the file was, whoever runs the test.
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkdir(file));
    editor->addNewIdeaAfterIndex(0, Idea::createWithText(QStringLiteral("typed")), nullptr);
    ASSERT_TRUE(uitest::loop().runUntil([&] { return !editor->isUpdatingDocument(); }));
    ASSERT_TRUE(editor->hasUnsavedEdit());

    presenter->alerts.clear();
    presenter->alertAnswers = row.answers;
    if (row.panel != SavePanel::Cancelled)
      presenter->panelAnswers = {chose(row.panel == SavePanel::OwnFile ? file : elsewhere)};
    app.terminate();
    ASSERT_TRUE(uitest::loop().runUntil([&] { return !presenter->alerts.empty(); })) << "the quit asks";
    EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Failed to update document"));
    EXPECT_TRUE(presenter->alerts[0].informativeText.contains(named)) << "names the file";
    ASSERT_TRUE(uitest::loop().runUntil([&] { return presenter->alerts.size() >= row.questions; }));
    if (row.quits) {
      ASSERT_TRUE(uitest::loop().runUntil([&] { return exits > 0; }));
    }
    uitest::advance(0.5);
    EXPECT_EQ(exits, row.quits ? 1 : 0);
    EXPECT_EQ(presenter->alerts.size(), row.questions);
    const IdeaPtr savedAs = treeIn(elsewhere);
    EXPECT_EQ(bool(savedAs), row.panel == SavePanel::Elsewhere);
    if (savedAs) {
      ASSERT_EQ(savedAs->ideas().size(), 1u);
      EXPECT_EQ(savedAs->ideas()[0]->text(), QStringLiteral("typed"));
    }
    if (!row.quits) {
      // The program runs on with the edit; once the disk takes it, the next quit asks nothing.
      EXPECT_EQ(app.windowControllers().size(), 1u);
      ASSERT_TRUE(QDir().rmdir(file));
      presenter->alerts.clear();
      quit();
      EXPECT_TRUE(presenter->alerts.empty());
      ASSERT_TRUE(treeIn(file));
      EXPECT_EQ(treeIn(file)->ideas().size(), 1u);
    }
  }
}

}  // namespace
