// An edit whose save failed: the window keeps the unsaved mark until a save succeeds, and
// closing the window asks with the file and the reason, offering Save As beside giving the edit
// up; asked at a quit, the editor answers whether the quit may go on.

#include "controller_test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QMainWindow>

using namespace controllertest;

namespace {

using UnsavedEdit = ControllerTest;

enum class Ask { Close, Quit };
enum Answer { kSaveAs = 1000, kDoNotSave = 1001, kCancel = 1002 };

struct UnsavedEditCase {
  const char* name;
  Ask ask;
  int answer;
  bool mayGo;  // the window closes, or the quit goes on
};

TEST_F(UnsavedEdit, TheWindowKeepsTheMarkAndEachAnswerToTheQuestionDoesWhatItSays) {
  const UnsavedEditCase cases[] = {
      {"close, save as", Ask::Close, kSaveAs, true},
      {"close, do not save", Ask::Close, kDoNotSave, true},
      {"close, cancel", Ask::Close, kCancel, false},
      {"quit, save as", Ask::Quit, kSaveAs, true},
      {"quit, do not save", Ask::Quit, kDoNotSave, true},
      {"quit, cancel", Ask::Quit, kCancel, false},
  };
  int n = 0;
  for (const UnsavedEditCase& row : cases) {
    SCOPED_TRACE(row.name);
    const QString file = path(QStringLiteral("full%1.orrery").arg(n));
    const QString elsewhere = path(QStringLiteral("elsewhere%1.orrery").arg(n++));
    Opened opened = createLocal(file, makeTree(2));
    EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
    auto& c = *editor.controller;
    EXPECT_FALSE(editor.window().widget()->isWindowModified());
    // A folder where the file was: no write can replace it, whoever runs the test.
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkdir(file));
    c.addNewIdeaAfterIndex(1, idea(QStringLiteral("unsaved")), nullptr);
    ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
    uitest::advance(3.0);  // long after the short notice went
    EXPECT_TRUE(editor.window().widget()->isWindowModified()) << "the failed save stays visible";
    EXPECT_TRUE(editor.window().widget()->windowTitle().contains(QLatin1Char('*')));

    presenter->alertAnswers = {row.answer};
    if (row.answer == kSaveAs) presenter->panelAnswers = {chose(elsewhere)};
    int answers = 0;
    bool mayQuit = false;
    if (row.ask == Ask::Close) {
      editor.window().performClose();
    } else {
      c.askBeforeQuitting([&](bool may) {
        ++answers;
        mayQuit = may;
      });
    }
    ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; })) << "the save is retried, then asked";
    const platform::AlertRequest& asked = presenter->alerts[0];
    EXPECT_EQ(asked.messageText, QStringLiteral("Failed to update document"));
    EXPECT_TRUE(asked.informativeText.contains(opened.doc->filePath())) << asked.informativeText.toStdString();
    const QString because = asked.informativeText.section(QStringLiteral("could not be saved: "), 1);
    EXPECT_FALSE(because.trimmed().isEmpty()) << "the reason: " << asked.informativeText.toStdString();
    ASSERT_EQ(asked.buttons.size(), 3u);
    EXPECT_EQ(asked.buttons[0].title, QStringLiteral("Save As…"));

    if (row.ask == Ask::Close && row.mayGo) {
      EXPECT_TRUE(waitFor([&] { return editor.closed; }));
    } else if (row.ask == Ask::Close) {
      uitest::advance(0.5);
      EXPECT_FALSE(editor.closed);
    } else {
      ASSERT_TRUE(waitFor([&] { return answers > 0; }));
      uitest::advance(0.1);
      EXPECT_EQ(answers, 1);
      EXPECT_EQ(mayQuit, row.mayGo);
    }
    const IdeaPtr savedAs = readTree(elsewhere);
    EXPECT_EQ(bool(savedAs), row.answer == kSaveAs);
    if (savedAs) {
      EXPECT_EQ(texts(savedAs->ideas()), (QStringList{"c0", "c1", "unsaved"}));
    }
    if (row.answer == kCancel) {
      EXPECT_TRUE(editor.window().widget()->isWindowModified());
      // Once the file can be written again, the next save clears the mark.
      ASSERT_TRUE(QDir().rmdir(file));
      c.addNewIdeaAfterIndex(2, idea(QStringLiteral("next")), nullptr);
      ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
      EXPECT_FALSE(editor.window().widget()->isWindowModified());
      ASSERT_TRUE(readTree(file));
      EXPECT_EQ(texts(readTree(file)->ideas()), (QStringList{"c0", "c1", "unsaved", "next"}));
    }
    presenter->alerts.clear();
  }
}

TEST_F(UnsavedEdit, AQuitWithEverythingSavedAsksNothing) {
  Opened opened = createLocal(path(QStringLiteral("fine.orrery")), makeTree(2));
  EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  editor.controller->addNewIdeaAfterIndex(1, idea(QStringLiteral("saved")), nullptr);
  int answers = 0;
  bool mayQuit = false;
  // Asked while the save is in flight: answered once it is written.
  editor.controller->askBeforeQuitting([&](bool may) {
    ++answers;
    mayQuit = may;
  });
  ASSERT_TRUE(waitFor([&] { return answers == 1; }));
  EXPECT_TRUE(mayQuit);
  EXPECT_TRUE(presenter->alerts.empty());
  ASSERT_TRUE(readTree(path(QStringLiteral("fine.orrery"))));
  EXPECT_EQ(texts(readTree(path(QStringLiteral("fine.orrery")))->ideas()), (QStringList{"c0", "c1", "saved"}));
}

}  // namespace
