// The edit popover through a real editor and a real document file: every tab edits a planet
// with the mouse and the keys, the file keeps every change after it is reopened, typing in the
// note undoes through the Edit menu's keys, a note closed untouched writes nothing whatever it
// holds, the note hover leaves the keys with the editor, and a press on the search field closes
// either popover and takes the typing.

#include "controller_test_support.h"
#include "../foundation/log_capture.h"

#include "editor/note_hover_utility.h"
#include "model/icon_image_collection.h"
#include "model/document_limits.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/icon_image_tab_view.h"
#include "panels/idea_text_edit_tab_view.h"
#include "panels/note_display_view_controller.h"
#include "panels/picture_view_controller.h"
#include "platform/services/file_presenter.h"
#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/popover.h"
#include "foundation/views/search_text_field.h"
#include "shell/top_bar_view.h"
#include "support/fake_pointer.h"
#include "support/window_manager_child.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>
#include <QTextEdit>
#include <QWindow>

#include <atomic>
#include <tuple>

using namespace controllertest;
using orrery::EditIdeaViewController;

namespace {

namespace Mod = platform::ModifierFlag;

// What the panel edits of an idea, and its children's texts and colours.
QString edited(const IdeaPtr& idea) {
  auto colour = [](const IdeaPtr& i) { return i->color() ? i->color()->name() : QStringLiteral("-"); };
  QString out = QStringLiteral("%1|%2|%3|%4|%5")
                    .arg(idea->text(), idea->note(), colour(idea))
                    .arg(int(idea->colorThemeType()))
                    .arg(idea->iconImage() ? idea->iconImage()->name() : QStringLiteral("-"));
  for (const IdeaPtr& child : idea->ideas()) out += QStringLiteral(" [%1 %2]").arg(child->text(), colour(child));
  return out;
}

// The Edit menu's undo and redo keys, as the application installs them; the menu that was there
// comes back after the test.
struct EditMenuScope {
  EditMenuScope() : previous(platform::Application::shared().mainMenu()) {
    auto main = std::make_shared<platform::Menu>();
    auto edit = std::make_shared<platform::Menu>(QStringLiteral("Edit"));
    edit->addActionItem(QStringLiteral("Undo"), QStringLiteral("cmdUndo"), QStringLiteral("z"))
        ->setKeyEquivalentModifierMask(Mod::Command);
    edit->addActionItem(QStringLiteral("Redo"), QStringLiteral("cmdRedo"), QStringLiteral("z"))
        ->setKeyEquivalentModifierMask(Mod::Command | Mod::Shift);
    auto holder = std::make_shared<platform::MenuItem>(QStringLiteral("Edit"), QString());
    holder->setSubmenu(edit);
    main->addItem(holder);
    platform::Application::shared().setMainMenu(main);
  }
  ~EditMenuScope() { platform::Application::shared().setMainMenu(previous); }
  std::shared_ptr<platform::Menu> previous;
};

struct EditPanelsTest : ControllerTest {
  void TearDown() override {
    editor.reset();
    ControllerTest::TearDown();
  }
  void open(const QString& name = QStringLiteral("map.orrery"), const IdeaPtr& tree = makeTree(3)) {
    opened = createLocal(path(name), tree);
    show();
  }
  // The map `tree` in the file `name` as the program writes it, then opened from the file.
  void openFile(const QString& name, const IdeaPtr& tree) {
    const QDateTime date = QDateTime::currentDateTimeUtc();
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_GT(file.write(orrery::DocumentSnapshot::of(tree, date, date).encode(/*compressed=*/true)), 0);
    file.close();
    opened = openAgain(IdeaDocument::createWithFileName(path(name), orrery::DocumentLocationLocalFile));
    show();
  }
  void show() {
    ASSERT_GE(opened.token, 1);
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
    editor->window().makeKeyAndOrderFront();
  }
  SolarSystemViewController& c() { return *editor->controller; }
  EditIdeaViewController* panel() {
    if (!c().editPopover()) return nullptr;
    return dynamic_cast<EditIdeaViewController*>(c().editPopover()->contentViewController().get());
  }
  platform::Window& popoverWindow() { return *c().editPopover()->window(); }
  // A click on a view of the popover, and the turns its button or slide takes.
  void click(platform::View& view, QPointF local = QPointF(-1, -1)) {
    if (local.x() < 0) local = view.bounds().center();
    const QPointF p = view.convertPointToView(local, nullptr);
    popoverWindow().sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, p, uitest::clock().now(), 1));
    popoverWindow().sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, p, uitest::clock().now(), 1));
    uitest::advance(0.5);
    if (c().editPopover()) popoverWindow().displayIfNeeded();
  }
  void chooseTab(std::size_t tab) { click(*panel()->tabBar()->tabControls().at(tab)); }
  void doubleClick(QPointF at) {
    for (int clicks : {1, 2}) {
      editor->window().sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, at, uitest::clock().now(), clicks));
      editor->window().sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, at, uitest::clock().now(), clicks));
    }
    uitest::advance(0.05);  // the first tab is chosen on the next turn
  }
  // Keys as the window system delivers them: to whichever window is active.
  void typeIntoActiveWindow(const QString& text) {
    QWindow* focused = QGuiApplication::focusWindow();
    ASSERT_NE(focused, nullptr);
    for (const QChar ch : text) QTest::keyClick(focused, ch.toLatin1());
  }
  bool popoverIsActive() {
    return c().editPopover() && QTest::qWaitFor([&] {
             return QGuiApplication::focusWindow() == popoverWindow().widget()->windowHandle();
           });
  }
  void saved() { ASSERT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); })); }
  // What the document's work queue holds now has run.
  void drained() {
    std::atomic<bool> done{false};
    opened.doc->workQueue().async([&] { done = true; });
    ASSERT_TRUE(waitFor([&] { return done.load(); })) << "the document's work queue did not drain within 10 s";
  }

  Opened opened;
  std::unique_ptr<EditorWindow> editor;
};

TEST_F(EditPanelsTest, EveryTabEditsAPlanetAndTheReopenedFileKeepsIt) {
  EditMenuScope menu;
  open();
  const IdeaPtr before = c().realIdea()->ideas()[0]->snapshotCopy();  // "c0" with "g0" and "g1"
  doubleClick(editor->planet(0));
  ASSERT_TRUE(panel()) << "a double click opens the popover on the planet";
  ASSERT_TRUE(popoverIsActive()) << "the popover takes the keys";
  EXPECT_EQ(panel()->currentTab(), orrery::EditIdeaTabText);

  // Title: the field holds the old one with the caret at its end; typing goes to it.
  QLineEdit* title = panel()->textTabView()->titleTextField()->field()->lineEdit();
  EXPECT_EQ(title->text(), QStringLiteral("c0"));
  QTest::keyClick(title, Qt::Key_Backspace);
  QTest::keyClick(title, Qt::Key_Backspace);
  typeIntoActiveWindow(QStringLiteral("Jupiter"));
  EXPECT_EQ(title->text(), QStringLiteral("Jupiter"));

  // Tab opens the note; a typed line is undone and redone with the menu's keys, Return is a new line.
  QTest::keyClick(title, Qt::Key_Tab);
  uitest::advance(0.05);
  popoverWindow().displayIfNeeded();
  ASSERT_TRUE(popoverIsActive()) << "the popover, grown, keeps the keys";
  QTextEdit* note = panel()->textTabView()->noteEdit();
  ASSERT_TRUE(note) << "Tab opens the note area";
  EXPECT_EQ(c().editPopover()->contentSize(), QSizeF(320, 381));
  EXPECT_EQ(title->text(), QStringLiteral("Jupiter")) << "Tab is no text in the title";
  typeIntoActiveWindow(QStringLiteral("Gas giant"));
  QTest::keyClick(note, Qt::Key_Return);
  typeIntoActiveWindow(QStringLiteral("oops"));
  ASSERT_EQ(note->toPlainText(), QStringLiteral("Gas giant\noops"));
  QTest::keyClick(note, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_FALSE(note->toPlainText().contains(QStringLiteral("oops"))) << "Ctrl+Z undoes the typing in the note";
  EXPECT_TRUE(note->toPlainText().startsWith(QStringLiteral("Gas giant")));
  QTest::keyClick(note, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(note->toPlainText(), QStringLiteral("Gas giant\noops")) << "Ctrl+Shift+Z redoes it";
  QTest::keyClick(note, Qt::Key_Z, Qt::ControlModifier);
  note->moveCursor(QTextCursor::End);
  typeIntoActiveWindow(QStringLiteral("Moons"));
  const QString typedNote = note->toPlainText();
  EXPECT_TRUE(typedNote.startsWith(QStringLiteral("Gas giant\n"))) << typedNote.toStdString();
  EXPECT_TRUE(typedNote.endsWith(QStringLiteral("Moons")));
  EXPECT_EQ(opened.doc->idea()->ideas()[0]->text(), QStringLiteral("c0")) << "nothing reaches the idea before the close";

  // Colour: a colour of the bright palette, then "Varying" for the children.
  chooseTab(orrery::EditIdeaTabColor);
  orrery::ColorSelectionTabView* colours = panel()->colorTabView();
  ASSERT_TRUE(colours);
  EXPECT_EQ(c().editPopover()->contentSize(), QSizeF(320, 483));
  EXPECT_EQ(colours->mainPlanetLayer()->text(), QStringLiteral("Jupiter")) << "the preview shows the typed title";
  click(*colours->ownThemeSelector()->elements().at(1));
  const auto& grid = *colours->colorSelector();
  click(*colours->colorSelector(), grid.centerOf(3, 2));
  const orrery::ColorPtr picked = orrery::ColorTheme::brightColorThemes()[3]->colors()[2];
  EXPECT_EQ(colours->selectedColor(), picked);
  click(*colours->childThemeSelector()->elements().at(0));  // "Define child theme" opens the choices
  ASSERT_EQ(colours->childThemeSelector()->numElements(), 3);
  click(*colours->childThemeSelector()->elements().at(1));  // "Varying"
  EXPECT_TRUE(colours->didRecolor());

  // Icon: a category's grid slides in; its fourth icon is picked.
  chooseTab(orrery::EditIdeaTabIcon);
  orrery::IconImageTabView* icons = panel()->iconTabView();
  ASSERT_TRUE(icons);
  auto& list = *icons->iconCategoryTableView();
  ASSERT_FALSE(list.rows().empty());
  EXPECT_EQ(list.categoryOffset(), 0) << "no icon yet: no \"Remove Icon\" row";
  const QString category = orrery::IconImageCollection::instance().categories().front();
  const auto& inCategory = orrery::IconImageCollection::instance().iconImagesByCategory(category);
  ASSERT_GE(inCategory.size(), 4u);
  click(*list.rows().front());
  ASSERT_TRUE(icons->iconSelectorView());
  EXPECT_EQ(icons->iconSelectorView()->frame().topLeft(), list.frame().topLeft()) << "the grid slid in";
  click(*icons->iconSelectorView()->iconButtons().at(3));
  EXPECT_EQ(icons->selectedIconImage(), inCategory[3]);

  // Back on the text tab everything typed is still there; the done button closes.
  chooseTab(orrery::EditIdeaTabText);
  EXPECT_EQ(panel()->textTabView()->titleTextField()->field()->lineEdit()->text(), QStringLiteral("Jupiter"));
  ASSERT_TRUE(panel()->textTabView()->noteEdit());
  EXPECT_EQ(panel()->textTabView()->noteEdit()->toPlainText(), typedNote);
  click(*panel()->tabBar()->doneButton());
  uitest::advance(0.05);
  EXPECT_FALSE(c().editPopover()) << "done closes the popover";
  saved();

  // What the editor shows now and what the reopened file holds: the edit and the recoloured children.
  IdeaPtr expected = before->snapshotCopy();
  expected->setText(QStringLiteral("Jupiter"));
  expected->setNote(typedNote);
  expected->setColor(picked);
  expected->setColorThemeType(orrery::ColorThemeTypeVaryingColors);
  expected->setIconImage(inCategory[3]);
  expected->applyColorTheme();
  EXPECT_EQ(edited(c().realIdea()->ideas()[0]), edited(expected));
  ASSERT_EQ(expected->ideas().size(), 2u);
  EXPECT_NE(expected->ideas()[0]->color(), expected->ideas()[1]->color()) << "varying colours";
  editor->window().performClose();
  ASSERT_TRUE(waitFor([&] { return editor->closed; }));
  editor.reset();

  const IdeaPtr onDisk = readTree(path(QStringLiteral("map.orrery")));
  ASSERT_TRUE(onDisk);
  const IdeaPtr jupiter = onDisk->ideas()[0];
  EXPECT_EQ(edited(jupiter), edited(expected));
  EXPECT_EQ(jupiter->text(), QStringLiteral("Jupiter"));
  EXPECT_EQ(jupiter->note(), typedNote);
  EXPECT_EQ(jupiter->color(), picked);
  EXPECT_EQ(jupiter->colorThemeType(), orrery::ColorThemeTypeVaryingColors);
  ASSERT_TRUE(jupiter->iconImage());
  EXPECT_EQ(jupiter->iconImage()->name(), inCategory[3]->name());
  for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(jupiter->ideas()[i]->color(), expected->ideas()[i]->color()) << i;

  // Reopened in an editor, the popover shows the kept values and closing it untouched changes nothing.
  Opened again = openAgain(opened.doc);
  ASSERT_GE(again.token, 1);
  editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, again.token, QString()), &app);
  doubleClick(editor->planet(0));
  ASSERT_TRUE(panel());
  EXPECT_EQ(panel()->textTabView()->titleTextField()->field()->lineEdit()->text(), QStringLiteral("Jupiter"));
  ASSERT_TRUE(panel()->textTabView()->noteEdit()) << "a note opens the note area";
  EXPECT_EQ(panel()->textTabView()->noteEdit()->toPlainText(), typedNote);
  chooseTab(orrery::EditIdeaTabColor);
  EXPECT_EQ(panel()->colorTabView()->colorSelector()->selectedColor(), picked) << "ringed on the bright palette";
  chooseTab(orrery::EditIdeaTabIcon);
  EXPECT_EQ(panel()->iconTabView()->iconCategoryTableView()->categoryOffset(), 1) << "\"Remove Icon\" heads the list";
  editor->window().sendEvent(
      platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Escape, QString(), 0, uitest::clock().now()));
  uitest::advance(0.05);
  EXPECT_FALSE(c().editPopover());
  EXPECT_FALSE(panel());
  EXPECT_FALSE(c().isUpdatingDocument()) << "an untouched panel saves nothing";
  EXPECT_EQ(edited(c().realIdea()->ideas()[0]), edited(expected));
}

// A note the note editor holds otherwise (no-break spaces, a line and a paragraph separator, a
// Windows line end), opened from the file and closed with the done button untouched, is no
// change: nothing is written, not even when the window closes.
TEST_F(EditPanelsTest, ANoteClosedUntouchedIsNoChangeWhateverItHolds) {
  int n = 0;
  for (const auto& [what, note] :
       {std::pair{"no-break spaces and separators", QStringLiteral("Prix\u00a0: 10\u00a0€\u2028ligne deux\u2029fin")},
        {"a Windows line end", QStringLiteral("un\r\ndeux")}}) {
    SCOPED_TRACE(what);
    const QString name = QStringLiteral("note%1.orrery").arg(n++), file = path(name);
    const auto bytesOf = [&file] {
      QFile in(file);
      return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    IdeaPtr tree = makeTree(3);
    tree->ideas()[0]->setNote(note);
    openFile(name, tree);
    const QByteArray bytes = bytesOf();
    const platform::FileStamp stamp = platform::FileStamp::of(file);
    ASSERT_FALSE(bytes.isEmpty());
    doubleClick(editor->planet(0));
    ASSERT_TRUE(panel());
    ASSERT_TRUE(panel()->textTabView()->noteEdit()) << "a note opens the note area";
    const std::shared_ptr<platform::ViewController> shown = c().editPopover()->contentViewController();
    const auto* closed = dynamic_cast<const EditIdeaViewController*>(shown.get());
    click(*panel()->tabBar()->doneButton());
    ASSERT_TRUE(waitFor([&] { return !c().editPopover(); })) << "done did not close the popover within 10 s";
    EXPECT_FALSE(closed->didChange());
    EXPECT_EQ(closed->selectedNoteText().toStdString(), note.toStdString());
    saved();
    drained();
    EXPECT_EQ(c().realIdea()->ideas()[0]->note().toStdString(), note.toStdString());
    EXPECT_TRUE(platform::FileStamp::of(file) == stamp) << "the file was written";
    editor->window().performClose();
    ASSERT_TRUE(waitFor([&] { return editor->closed; })) << "the window did not close within 10 s";
    editor.reset();
    drained();
    EXPECT_TRUE(platform::FileStamp::of(file) == stamp) << "the file was written at the close";
    EXPECT_TRUE(bytesOf() == bytes) << "the file's bytes changed";
  }
}

// A note takes as long a text as a map holds, typed or pasted, and the map opens again with it;
// beyond that nothing goes in, the tab says why, and the note stays as it was.
TEST_F(EditPanelsTest, TheNoteTakesTheLongestTextAMapHoldsAndRefusesMoreSayingWhy) {
  open();
  doubleClick(editor->planet(0));
  ASSERT_TRUE(panel());
  ASSERT_TRUE(popoverIsActive());
  QTest::keyClick(panel()->textTabView()->titleTextField()->field()->lineEdit(), Qt::Key_Tab);
  uitest::advance(0.05);
  orrery::IdeaTextEditTabView* tab = panel()->textTabView();
  QTextEdit* note = tab->noteEdit();
  ASSERT_TRUE(note);
  const qsizetype limit = orrery::DocumentLimits::kMaxTextLength;
  // A log of lines, one character short of the limit.
  QString log;
  while (log.size() < limit - 1) log += QStringLiteral("%1 a line of the log\n").arg(log.size(), 7);
  log.truncate(limit - 1);
  QGuiApplication::clipboard()->setText(log);
  QTest::keyClick(note, Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(note->toPlainText().size(), limit - 1);
  QTest::keyClick(note, Qt::Key_Return);
  uitest::advance(0.05);
  EXPECT_EQ(note->toPlainText().size(), limit) << "a line break fits";
  EXPECT_TRUE(presenter->alerts.empty());

  QTest::keyClick(note, Qt::Key_A);
  uitest::advance(0.05);
  EXPECT_EQ(note->toPlainText().size(), limit) << "a typed letter does not";
  ASSERT_EQ(presenter->alerts.size(), 1u) << "and says so";
  const QString told = presenter->alerts[0].informativeText;
  EXPECT_TRUE(told.contains(QStringLiteral("1000000")) && told.contains(QStringLiteral("not added"))) << told.toStdString();
  QGuiApplication::clipboard()->setText(QStringLiteral("more"));
  QTest::keyClick(note, Qt::Key_V, Qt::ControlModifier);
  uitest::advance(0.05);
  EXPECT_EQ(note->toPlainText().size(), limit) << "nor does a paste";
  EXPECT_EQ(presenter->alerts.size(), 2u);
  EXPECT_TRUE(c().editPopover() && c().editPopover()->isShown()) << "the popover stays for the user to go on";
  // Nor does a key whose text is no letter: an emoji, a joiner, a character typed with AltGr,
  // nor one typed on the keypad with Ctrl held.
  const Qt::KeyboardModifiers ctrlKeypad = Qt::ControlModifier | Qt::KeypadModifier;
  for (const auto& [key, typed, modifiers] :
       {std::tuple{Qt::Key_unknown, QStringLiteral("😀"), Qt::KeyboardModifiers()},
        {Qt::Key_unknown, QString(QChar(0x200D)), Qt::KeyboardModifiers()},
        {Qt::Key_unknown, QStringLiteral("€"), Qt::ControlModifier | Qt::AltModifier},
        {Qt::Key_1, QStringLiteral("1"), ctrlKeypad},
        {Qt::Key_0, QStringLiteral("0"), ctrlKeypad},
        {Qt::Key_Period, QStringLiteral("."), ctrlKeypad},
        {Qt::Key_Asterisk, QStringLiteral("*"), ctrlKeypad}}) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, typed);
    QCoreApplication::sendEvent(note, &press);
    EXPECT_EQ(note->toPlainText().size(), limit) << typed.toStdString();
  }
  // In place of as much, a paste fits.
  QTest::keyClick(note, Qt::Key_Home, Qt::ControlModifier);
  for (int i = 0; i < 4; ++i) QTest::keyClick(note, Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClick(note, Qt::Key_V, Qt::ControlModifier);
  const QString kept = note->toPlainText();
  ASSERT_EQ(kept.size(), limit);
  EXPECT_TRUE(kept.startsWith(QStringLiteral("more")));

  click(*panel()->tabBar()->doneButton());
  uitest::advance(0.05);
  saved();
  EXPECT_TRUE(c().document()->lastUserFriendlyError().isEmpty()) << c().document()->lastUserFriendlyError().toStdString();
  const IdeaPtr onDisk = readTree(path(QStringLiteral("map.orrery")));
  ASSERT_TRUE(onDisk) << "the map opens again";
  EXPECT_EQ(onDisk->ideas()[0]->note(), kept);
}

// A new idea typed into a map that has no room left is not added: the alert says why, and what
// was typed waits in the dock, from where it can go into another map.
TEST_F(EditPanelsTest, ANewIdeaAMapHasNoRoomForIsToldAndWaitsInTheDock) {
  open();
  // What came in since the file was written has filled the map but for a few bytes.
  ASSERT_TRUE(opened.doc->makeRoomFor(
      orrery::DocumentSize{orrery::DocumentLimits::kMaxJSONBytes - opened.doc->storedSize().jsonBytes - 64, 0, 0}));
  const QStringList before = editor->children();
  c().onAddNewIdeaAfterIndex(0, editor->radial().bounds());
  uitest::advance(0.05);
  ASSERT_TRUE(panel());
  ASSERT_TRUE(popoverIsActive());
  typeIntoActiveWindow(QStringLiteral("Comet"));
  QTest::keyClick(panel()->textTabView()->titleTextField()->field()->lineEdit(), Qt::Key_Return);
  uitest::advance(0.05);
  EXPECT_FALSE(c().editPopover());
  EXPECT_EQ(editor->children(), before) << "the map keeps what it had";
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].informativeText.toStdString(), orrery::DocumentLimits::documentFullMessage().toStdString());
  const IdeaPtr docked = editor->shown->currentDockedIdea();
  ASSERT_TRUE(docked);
  EXPECT_EQ(docked->text(), QStringLiteral("Comet"));
}

// A map at a limit takes no edit of an existing idea that would take it beyond: the key, the
// paste, the chosen icon, the replaced picture is refused where it is made, with the alert that
// says why, and nothing else is lost: what fits is saved when the panel closes, and the file
// opens again.
TEST_F(EditPanelsTest, AnEditTheMapHasNoRoomForIsRefusedWhereItIsMadeAndTheRestIsSaved) {
  const QString full = orrery::DocumentLimits::documentFullMessage();
  QImage blue(300, 200, QImage::Format_RGB32);
  blue.fill(Qt::blue);
  // A picture of detail, which takes more room than the plain one it replaces.
  QImage green(300, 200, QImage::Format_RGB32);
  for (int y = 0; y < green.height(); ++y)
    for (int x = 0; x < green.width(); ++x)
      green.setPixel(x, y, qRgb((x * 7 ^ y) & 63, 192 + (x ^ y) % 64, x * y & 63));
  ASSERT_TRUE(green.save(path(QStringLiteral("green.png"))));
  const QString category = orrery::IconImageCollection::instance().categories().front();
  const auto& inCategory = orrery::IconImageCollection::instance().iconImagesByCategory(category);
  ASSERT_GE(inCategory.size(), 4u);

  // Picks the fourth icon of the first category in the popover open on c0.
  auto pickIcon = [&] {
    chooseTab(orrery::EditIdeaTabIcon);
    orrery::IconImageTabView* icons = panel()->iconTabView();
    const auto& rows = icons->iconCategoryTableView()->rows();
    click(*rows.at(std::size_t(icons->iconCategoryTableView()->categoryOffset())));
    ASSERT_TRUE(icons->iconSelectorView());
    click(*icons->iconSelectorView()->iconButtons().at(3));
  };
  auto typeTitle = [&](const QString& text) {
    chooseTab(orrery::EditIdeaTabText);
    QLineEdit* title = panel()->textTabView()->titleTextField()->field()->lineEdit();
    title->selectAll();
    QTest::keyClicks(title, text);
  };
  auto closePopover = [&] {
    click(*panel()->tabBar()->doneButton());
    uitest::advance(0.05);
    EXPECT_FALSE(c().editPopover());
    saved();
  };
  enum Limit { Bytes, Objects };
  struct Row {
    std::string what;
    Limit limit;
    IdeaPtr tree;
    std::function<void()> edit;
    int alerts;                                                           // refusals the edit meets
    std::function<void(const IdeaPtr& c0, const IdeaPtr& picture)> kept;  // in the file reopened
  };
  IdeaPtr uncoloured = makeTree(3);
  for (const IdeaPtr& child : uncoloured->ideas()[0]->ideas()) child->setColor(nullptr);
  IdeaPtr withPicture = makeTree(3);
  withPicture->addIdea(orrery::Idea::createWithOriginalImage(orrery::KitImage(blue)));
  const std::vector<Row> rows = {
      {"an icon at the object limit", Objects, makeTree(3),
       [&] {
         doubleClick(editor->planet(0));
         ASSERT_TRUE(popoverIsActive());
         pickIcon();
         EXPECT_FALSE(panel()->iconTabView()->selectedIconImage()) << "the preview keeps no icon";
         for (const auto& button : panel()->iconTabView()->iconSelectorView()->iconButtons())
           EXPECT_FALSE(button->toggled()) << "nor does the grid show one chosen";
         typeTitle(QStringLiteral("Io"));
         closePopover();
       },
       1,
       [&](const IdeaPtr& c0, const IdeaPtr&) {
         EXPECT_EQ(c0->text(), QStringLiteral("Io")) << "what was typed before and after is kept";
         EXPECT_FALSE(c0->iconImage());
       }},
      {"a title and a note at the byte limit", Bytes, makeTree(3),
       [&] {
         doubleClick(editor->planet(0));
         ASSERT_TRUE(popoverIsActive());
         QLineEdit* title = panel()->textTabView()->titleTextField()->field()->lineEdit();
         typeIntoActiveWindow(QStringLiteral("a"));
         EXPECT_EQ(title->text(), QStringLiteral("c0"));
         QTest::keyClick(title, Qt::Key_Tab);
         uitest::advance(0.05);
         QTextEdit* note = panel()->textTabView()->noteEdit();
         ASSERT_TRUE(note);
         typeIntoActiveWindow(QStringLiteral("b"));
         QGuiApplication::clipboard()->setText(QStringLiteral("more"));
         QTest::keyClick(note, Qt::Key_V, Qt::ControlModifier);
         EXPECT_TRUE(note->toPlainText().isEmpty());
         typeTitle(QStringLiteral("X"));
         EXPECT_EQ(title->text(), QStringLiteral("X")) << "a shorter title takes no more room";
         closePopover();
       },
       2,  // the title's; then one for the note's key and paste, told on the same turn
       [&](const IdeaPtr& c0, const IdeaPtr&) {
         EXPECT_EQ(c0->text(), QStringLiteral("X"));
         EXPECT_TRUE(c0->note().isEmpty());
       }},
      {"a child rule that recolours at the byte limit", Bytes, uncoloured,
       [&] {
         doubleClick(editor->planet(0));
         ASSERT_TRUE(popoverIsActive());
         chooseTab(orrery::EditIdeaTabColor);
         orrery::ColorSelectionTabView* colours = panel()->colorTabView();
         click(*colours->childThemeSelector()->elements().at(0));  // "Define child theme"
         click(*colours->childThemeSelector()->elements().at(1));  // "Varying" colours g0 and g1
         EXPECT_FALSE(colours->didRecolor());
         EXPECT_TRUE(colours->childThemeSelector()->elements().at(0)->toggled()) << "\"No change\" shows again";
         closePopover();
       },
       1,
       [&](const IdeaPtr& c0, const IdeaPtr&) {
         for (const IdeaPtr& child : c0->ideas()) EXPECT_FALSE(child->color()) << "the children keep no colour";
       }},
      {"a picture at the byte limit", Bytes, withPicture,
       [&] {
         c().onEditIdea(c().realIdea()->ideas().back()->identifier());
         orrery::PictureViewController* picturePanel = nullptr;
         for (const auto& presented : c().presentedViewControllers())
           if (auto* p = dynamic_cast<orrery::PictureViewController*>(presented.get())) picturePanel = p;
         ASSERT_TRUE(picturePanel);
         presenter->panelAnswers.push_back(chose(path(QStringLiteral("green.png"))));
         picturePanel->pleaseStartImageChange();
         ASSERT_TRUE(waitFor([&] { return !presenter->alerts.empty(); }));
         EXPECT_FALSE(picturePanel->didChangeImage());
         picturePanel->tryToPerform(platform::Actions::cancelOperation);
         uitest::advance(1.0);
         EXPECT_FALSE(c().isUpdatingDocument()) << "nothing changed, nothing to save";
       },
       1,
       [&](const IdeaPtr&, const IdeaPtr& picture) {
         ASSERT_TRUE(picture);
         const QImage big = picture->bigImage().nsImage();
         EXPECT_GT(big.pixelColor(big.width() / 2, big.height() / 2).blue(), 200);
       }},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const QString name = QStringLiteral("limit%1.orrery").arg(n++);
    open(name, row.tree);
    presenter->alerts.clear();
    // What came in since the file was written has filled the map to the limit.
    const orrery::DocumentSize now = opened.doc->storedSize().changedBy(opened.doc->growth());
    ASSERT_TRUE(opened.doc->makeRoomFor(
        row.limit == Bytes ? orrery::DocumentSize{orrery::DocumentLimits::kMaxJSONBytes - now.jsonBytes, 0, 0}
                           : orrery::DocumentSize{0, orrery::DocumentLimits::kMaxObjects - now.objects, 0}));
    row.edit();
    uitest::advance(0.05);
    ASSERT_EQ(presenter->alerts.size(), std::size_t(row.alerts));
    for (const auto& alert : presenter->alerts) EXPECT_EQ(alert.informativeText.toStdString(), full.toStdString());
    EXPECT_TRUE(c().document()->lastUserFriendlyError().isEmpty())
        << c().document()->lastUserFriendlyError().toStdString();
    const orrery::DocumentSize after = opened.doc->storedSize().changedBy(opened.doc->growth());
    EXPECT_TRUE(opened.doc->makeRoomFor(orrery::DocumentSize{orrery::DocumentLimits::kMaxJSONBytes - after.jsonBytes,
                                                             orrery::DocumentLimits::kMaxObjects - after.objects, 0}))
        << "the closed panel holds no room";
    editor->window().performClose();
    ASSERT_TRUE(waitFor([&] { return editor->closed; }));
    editor.reset();
    const IdeaPtr onDisk = readTree(path(name));
    ASSERT_TRUE(onDisk) << "the map opens again";
    row.kept(onDisk->ideas()[0],
             onDisk->ideas().back()->ideaType() == orrery::IdeaTypeImage ? onDisk->ideas().back() : nullptr);
  }

  // A map taken beyond a limit by no way in at all is not written; its save, and the copy a
  // quit would keep of the edit, both say why.
  open(QStringLiteral("beyond.orrery"));
  c().realIdea()->ideas()[0]->setNote(QString(orrery::DocumentLimits::kMaxTextLength + 1, QChar(u'n')));
  c().updateSolarSystemAndSaveDocument();
  saved();
  EXPECT_TRUE(c().document()->lastUserFriendlyError().contains(QStringLiteral("a text of 1000001 characters")))
      << c().document()->lastUserFriendlyError().toStdString();
  LogCapture log;
  c().keepEditNotOnDisk();
  ASSERT_FALSE(log.lines().isEmpty());
  EXPECT_TRUE(log.lines().back().contains(QStringLiteral("could not be kept: a text of 1000001 characters")))
      << log.lines().back().toStdString();
}

TEST_F(EditPanelsTest, WhileANoteHoversTheEditorKeepsTheKeysAndTheEditPopoverTakesThem) {
  open();
  const orrery::NoteDisplayFactory previous = orrery::NoteHoverUtility::setNoteDisplayFactory({});
  orrery::NoteDisplayViewController::installAsNoteDisplay();
  QWindow* editorWindow = editor->window().widget()->windowHandle();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == editorWindow; }));

  orrery::NoteHoverUtility& hover = c().solarSystem()->noteHoverUtility();
  const QPointF badge = editor->radial().ideaViewAtIndex(1)->position();
  hover.observeCursorHoveringOver(QStringLiteral("A note to read"), badge);
  hover.showNotePopoverFromRect(QRectF(badge - QPointF(10, 10), QSizeF(20, 20)));
  auto notePopover = hover.notePopover();
  ASSERT_TRUE(notePopover && notePopover->isShown());
  EXPECT_FALSE(notePopover->takesKeyboardFocus()) << "the note is read-only";
  QCoreApplication::processEvents();
  EXPECT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == editorWindow; }));

  // Space, typed as the window system delivers it, reaches the editor: the edit popover opens,
  // takes the keys and the typing lands in its title.
  typeIntoActiveWindow(QStringLiteral(" "));
  uitest::advance(0.05);
  ASSERT_TRUE(panel()) << "Space reached the editor";
  ASSERT_TRUE(popoverIsActive());
  typeIntoActiveWindow(QStringLiteral("Pluto"));
  EXPECT_EQ(panel()->textTabView()->titleTextField()->field()->lineEdit()->text(), QStringLiteral("Pluto"));
  QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
  uitest::advance(0.05);
  EXPECT_FALSE(c().editPopover());
  EXPECT_EQ(texts(c().realIdea()->ideas()).back(), QStringLiteral("Pluto"));
  saved();
  orrery::NoteHoverUtility::setNoteDisplayFactory(previous);
}

// On a real screen, with and without a window manager: a press on the search field closes the
// edit popover or the note, and the typing lands in the field, not in the idea.
TEST_F(EditPanelsTest, APressOnTheSearchFieldClosesThePopoverAndTheTypingLandsThere) {
  if (!testsupport::inWindowManagerChild()) return testsupport::runInWindowManagerChild({false, true});
  testsupport::FakePointer pointer;
  ASSERT_TRUE(pointer.available()) << "no XTest on the X server";
  const orrery::NoteDisplayFactory previous = orrery::NoteHoverUtility::setNoteDisplayFactory({});
  orrery::NoteDisplayViewController::installAsNoteDisplay();
  const struct {
    const char* what;
    std::function<std::shared_ptr<platform::Popover>()> show;
  } rows[] = {
      {"the edit popover on the sun",
       [&] {
         c().onEditIdea(c().realIdea()->identifier());
         EXPECT_TRUE(popoverIsActive());
         return c().editPopover();
       }},
      {"the note popover",
       [&] {
         orrery::NoteHoverUtility& hover = c().solarSystem()->noteHoverUtility();
         const QPointF badge = editor->radial().ideaViewAtIndex(1)->position();
         hover.observeCursorHoveringOver(QStringLiteral("A note to read"), badge);
         hover.showNotePopoverFromRect(QRectF(badge - QPointF(10, 10), QSizeF(20, 20)));
         return hover.notePopover();
       }},
  };
  int file = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    IdeaPtr tree = makeTree(3);
    tree->setText(QStringLiteral("Launch plan"));
    open(QStringLiteral("map%1.orrery").arg(++file), tree);
    testsupport::letTheWindowManagerAnswer(300);
    const std::shared_ptr<platform::Popover> popover = row.show();
    ASSERT_TRUE(popover && popover->isShown());
    testsupport::letTheWindowManagerAnswer(300);

    QLineEdit* search = c().topBar()->searchTextField()->lineEdit();
    EXPECT_TRUE(pointer.click(search));
    const bool settled = QTest::qWaitFor([&] {
      uitest::advance(0);
      return !popover->isShown() && search->hasFocus() &&
             QGuiApplication::focusWindow() == editor->window().widget()->windowHandle();
    });
    EXPECT_TRUE(settled) << "shown: " << popover->isShown() << ", the field has the focus: " << search->hasFocus();
    typeIntoActiveWindow(QStringLiteral("Food"));
    uitest::advance(0.05);
    EXPECT_EQ(search->text(), QStringLiteral("Food"));
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    uitest::advance(0.05);
    EXPECT_FALSE(c().editPopover());
    saved();
    EXPECT_EQ(c().document()->idea()->text(), QStringLiteral("Launch plan"));
    EXPECT_EQ(readTree(path(QStringLiteral("map%1.orrery").arg(file)))->text(), QStringLiteral("Launch plan"));
  }
  orrery::NoteHoverUtility::setNoteDisplayFactory(previous);
}

}  // namespace
