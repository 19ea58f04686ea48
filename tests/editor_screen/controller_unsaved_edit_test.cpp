// An edit whose save failed: the window keeps the unsaved mark until a save succeeds, and
// closing the window asks with the file and the reason, offering Save As beside giving the edit
// up. (The quit asks the same question: tests/app.)

#include "controller_test_support.h"

#include <QDir>
#include <QMainWindow>

using namespace controllertest;

namespace {

using UnsavedEdit = ControllerTest;

struct CloseAnswer {
  const char* name;
  int answer;  // Save As… 1000, Do Not Save 1001, Cancel 1002
  bool closes;
};

TEST_F(UnsavedEdit, TheWindowKeepsTheMarkAndEachAnswerToTheCloseQuestionDoesWhatItSays) {
  const CloseAnswer cases[] = {{"save as", 1000, true}, {"do not save", 1001, true}, {"cancel", 1002, false}};
  int n = 0;
  for (const CloseAnswer& row : cases) {
    SCOPED_TRACE(row.name);
    const QString file = path(QStringLiteral("full%1.orrery").arg(n));
    const QString elsewhere = path(QStringLiteral("elsewhere%1.orrery").arg(n++));
    Opened opened = createLocal(file, makeTree(2));
    EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
    auto& c = *editor.controller;
    QWidget& widget = *editor.window().widget();
    EXPECT_FALSE(widget.isWindowModified());
    // A folder where the file was: no write can replace it, whoever runs the test.
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkdir(file));
    c.addNewIdeaAfterIndex(1, idea(QStringLiteral("unsaved")), nullptr);
    ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
    uitest::advance(3.0);  // long after the short notice went
    EXPECT_TRUE(widget.isWindowModified()) << "the failed save stays visible";

    presenter->alerts.clear();
    presenter->alertAnswers = {row.answer};
    presenter->panelAnswers = {chose(elsewhere)};
    editor.window().performClose();
    ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; })) << "the save is retried, then asked";
    const platform::AlertRequest& asked = presenter->alerts[0];
    EXPECT_EQ(asked.messageText, QStringLiteral("Failed to update document"));
    EXPECT_TRUE(asked.informativeText.contains(opened.doc->filePath())) << asked.informativeText.toStdString();
    const QString because = asked.informativeText.section(QStringLiteral("could not be saved: "), 1);
    EXPECT_FALSE(because.trimmed().isEmpty()) << "the reason: " << asked.informativeText.toStdString();
    ASSERT_EQ(asked.buttons.size(), 3u);
    EXPECT_EQ(asked.buttons[0].title, QStringLiteral("Save As…"));
    if (row.closes) {
      ASSERT_TRUE(waitFor([&] { return editor.closed; }));
    }
    uitest::advance(0.5);
    EXPECT_EQ(editor.closed, row.closes);
    const IdeaPtr savedAs = readTree(elsewhere);
    EXPECT_EQ(bool(savedAs), row.answer == 1000);
    if (savedAs) {
      EXPECT_EQ(texts(savedAs->ideas()), (QStringList{"c0", "c1", "unsaved"}));
    }
    if (!row.closes) {
      EXPECT_TRUE(widget.isWindowModified());
      // Once the file can be written again, the next save clears the mark.
      ASSERT_TRUE(QDir().rmdir(file));
      c.addNewIdeaAfterIndex(2, idea(QStringLiteral("next")), nullptr);
      ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
      EXPECT_FALSE(widget.isWindowModified());
    }
  }
}

}  // namespace
