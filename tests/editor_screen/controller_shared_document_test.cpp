// A document others change too: the edit popover closing after another instance changed or
// deleted its idea, and two windows of one file across a Save As in one of them. Checked in the
// files on disk.

#include "controller_test_support.h"

#include "foundation/views/custom_text_field.h"
#include "model/icon_image_collection.h"
#include "panels/edit_idea_view_controller.h"
#include "platform/core/notification_center.h"
#include "platform/ui/popover.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QTest>

using namespace controllertest;
using orrery::EditIdeaViewController;

namespace {

// What the popover edits of an idea.
QString popoverValues(const IdeaPtr& idea) {
  return QStringLiteral("%1|%2|%3|%4|%5")
      .arg(idea->text(), idea->note(), idea->color() ? idea->color()->name() : QStringLiteral("-"))
      .arg(int(idea->colorThemeType()))
      .arg(idea->iconImage() ? idea->iconImage()->name() : QStringLiteral("-"));
}

// The first idea of the tree, in pre-order, titled `text`.
IdeaPtr ideaTitled(const IdeaPtr& tree, const QString& text) {
  IdeaPtr found;
  tree->traverseNaturally(
      [&](const IdeaPtr& idea, qint64) {
        if (!found && idea->text() == text) found = idea;
      },
      0);
  return found;
}

bool holdsText(const IdeaPtr& tree, const QString& text) { return ideaTitled(tree, text) != nullptr; }

struct SharedDocument : ControllerTest {
  void TearDown() override {
    editor.reset();
    ControllerTest::TearDown();
  }
  // A new file for each case, with a window showing the idea titled `shown` (the root when empty).
  void open(const QString& shown = QString()) {
    opened = createLocal(path(QStringLiteral("shared%1.orrery").arg(files++)), makeTree(3));
    ASSERT_GE(opened.token, 1);
    const QString idea = shown.isEmpty() ? QString() : ideaTitled(opened.doc->idea(), shown)->identifier();
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, idea), &app);
    editor->window().makeKeyAndOrderFront();
  }
  SolarSystemViewController& c() { return *editor->controller; }
  // Opens the popover on the idea titled `text` and types `typed` over its title.
  void editTitle(const QString& text, const QString& typed) {
    c().doEditTextualIdea(ideaTitled(c().rootIdea(), text));
    ASSERT_TRUE(c().editPopover() && c().editPopover()->isShown());
    auto* panel = dynamic_cast<EditIdeaViewController*>(c().editPopover()->contentViewController().get());
    ASSERT_NE(panel, nullptr);
    QLineEdit* title = panel->textTabView()->titleTextField()->field()->lineEdit();
    title->selectAll();
    QTest::keyClicks(title, typed);
  }
  // Another instance wrote `theirs` into the file, and this one read it.
  void changedElsewhere(const IdeaPtr& theirs) {
    opened.doc->setIdea(theirs);
    platform::NotificationCenter::defaultCenter().post(orrery::IdeaDocumentChangedNotification, opened.doc.get());
  }
  IdeaPtr closePopoverAndReadFile() {
    c().editPopover()->performClose();
    uitest::advance(0.05);
    EXPECT_FALSE(c().editPopover());
    EXPECT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); }));
    return readTree(opened.doc->filePath());
  }

  Opened opened;
  std::unique_ptr<EditorWindow> editor;
  int files = 0;
};

struct OutsideChange {
  const char* name;
  std::function<void(const IdeaPtr&)> change;
};

TEST_F(SharedDocument, ThePopoverWritesOnlyWhatTheUserChangedOverAnotherInstancesChange) {
  const auto& icons = orrery::IconImageCollection::instance();
  const orrery::IconImagePtr icon = icons.iconImagesByCategory(icons.categories().front()).front();
  const OutsideChange cases[] = {
      {"note", [](const IdeaPtr& i) { i->setNote(QStringLiteral("their note")); }},
      {"colour", [](const IdeaPtr& i) { i->setColor(colour(5)); }},
      {"colouring rule", [](const IdeaPtr& i) { i->setColorThemeType(orrery::ColorThemeTypeVaryingColors); }},
      {"icon", [icon](const IdeaPtr& i) { i->setIconImage(icon); }},
      {"title too: the typed one wins", [](const IdeaPtr& i) { i->setText(QStringLiteral("their title")); }},
  };
  for (const OutsideChange& row : cases) {
    SCOPED_TRACE(row.name);
    open();
    editTitle(QStringLiteral("c1"), QStringLiteral("mine"));
    const IdeaPtr theirs = opened.doc->idea()->snapshotCopy();
    row.change(theirs->ideas()[1]);
    // Taken now: the window edits the tree it was handed.
    IdeaPtr expected = theirs->ideas()[1]->snapshotCopy();
    expected->setText(QStringLiteral("mine"));
    changedElsewhere(theirs);
    const IdeaPtr onDisk = closePopoverAndReadFile();
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(popoverValues(onDisk->ideas()[1]), popoverValues(expected));
    EXPECT_EQ(popoverValues(c().rootIdea()->ideas()[1]), popoverValues(expected)) << "and the window shows it";
    editor.reset();
  }
}

struct DeletedElsewhere {
  const char* name;
  const char* shown;   // the window's central idea ("" for the root)
  const char* edited;  // the idea whose popover is open, which another instance deletes
  QStringList rootAfter;
};

TEST_F(SharedDocument, ATitleTypedIntoAnIdeaDeletedElsewhereIsKeptWhereItStood) {
  const DeletedElsewhere cases[] = {
      {"a planet", "", "c1", {"c0", "mine", "c2"}},
      {"the sun", "c0", "c0", {"mine", "c1", "c2"}},
  };
  for (const DeletedElsewhere& row : cases) {
    SCOPED_TRACE(row.name);
    open(QString::fromLatin1(row.shown));
    editTitle(QString::fromLatin1(row.edited), QStringLiteral("mine"));
    const IdeaPtr theirs = opened.doc->idea()->snapshotCopy();
    const IdeaPtr gone = ideaTitled(theirs, QString::fromLatin1(row.edited));
    gone->parent()->detachIdea(gone->identifier());
    changedElsewhere(theirs);
    const IdeaPtr onDisk = closePopoverAndReadFile();
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(texts(onDisk->ideas()), row.rootAfter);
    const IdeaPtr kept = ideaTitled(onDisk, QStringLiteral("mine"));
    ASSERT_TRUE(kept);
    EXPECT_NE(kept->identifier(), gone->identifier()) << "a new idea";
    EXPECT_EQ(kept->color(), gone->color()) << "with what the popover showed";
    uitest::advance(0.25);
    bool told = false;
    for (auto* hud : notices(*editor)) told = told || hud->labelText().contains(QStringLiteral("deleted"));
    EXPECT_TRUE(told) << "the user hears where the typing went";
    editor.reset();
  }
}

struct SaveAsWithTwoWindows {
  const char* name;
  const char* shownBySaving;  // the central idea of the window that saves as ("" for the root)
  const char* shownByOther;
};

TEST_F(SharedDocument, AfterSaveAsEachWindowsEditsGoToTheFileItsTitleNames) {
  const SaveAsWithTwoWindows cases[] = {
      {"both at the root", "", ""},
      {"the saving window drilled down", "c0", ""},
      {"the other window drilled down", "", "c1"},
  };
  int n = 0;
  for (const SaveAsWithTwoWindows& row : cases) {
    SCOPED_TRACE(row.name);
    const QString file = path(QStringLiteral("old%1.orrery").arg(n));
    const QString newFile = path(QStringLiteral("new%1.orrery").arg(n++));
    Opened first = createLocal(file, makeTree(3));
    Opened second = openAgain(first.doc);
    auto shown = [&](const char* text) {
      const QString t = QString::fromLatin1(text);
      return t.isEmpty() ? QString() : ideaTitled(first.doc->idea(), t)->identifier();
    };
    EditorWindow saving(SolarSystemViewController::create(first.doc, first.token, shown(row.shownBySaving)), &app);
    EditorWindow other(SolarSystemViewController::create(first.doc, second.token, shown(row.shownByOther)), &app);

    presenter->panelAnswers = {chose(newFile)};
    saving.controller->cmdSaveLocalFileAs();
    ASSERT_TRUE(waitFor([&] { return saving.controller->document() != first.doc; }));
    EXPECT_TRUE(presenter->alerts.empty());

    saving.controller->addNewIdeaAfterIndex(0, idea(QStringLiteral("from the saving window")), nullptr);
    other.controller->addNewIdeaAfterIndex(0, idea(QStringLiteral("from the other window")), nullptr);
    ASSERT_TRUE(
        waitFor([&] { return !saving.controller->isUpdatingDocument() && !other.controller->isUpdatingDocument(); }));
    EXPECT_EQ(saving.planets(), saving.children()) << "the saving window shows what it edits";

    const std::pair<EditorWindow*, QString> windows[] = {{&saving, QStringLiteral("from the saving window")},
                                                         {&other, QStringLiteral("from the other window")}};
    for (const auto& [window, mine] : windows) {
      const QString title = window->window().title();
      SCOPED_TRACE(title.toStdString());
      const IdeaPtr named = readTree(path(title));
      ASSERT_TRUE(named) << "the title names a file of the folder";
      EXPECT_TRUE(holdsText(named, mine));
      const QString theirs =
          window == &saving ? QStringLiteral("from the other window") : QStringLiteral("from the saving window");
      EXPECT_FALSE(holdsText(named, theirs));
    }
    EXPECT_EQ(saving.window().title(), QFileInfo(newFile).fileName());
    EXPECT_EQ(other.window().title(), QFileInfo(file).fileName());
  }
}

}  // namespace
