// The editor built with keys and mouse, end to end: the edit popover, drops decided through the
// window's drag calls, the dock, the context menu, web links, import and pictures.

#include "controller_test_support.h"

#include "editor/dock_area_view.h"
#include "foundation/views/delete_area_view.h"
#include "foundation/views/progress_hud.h"
#include "foundation/views/search_text_field.h"
#include "model/color_theme.h"
#include "panels/edit_idea_view_controller.h"
#include "platform/services/url_opener.h"
#include "platform/ui/menu.h"
#include "platform/ui/popover.h"
#include "platform/ui/web_view.h"

#include <QImage>
#include <QLineEdit>
#include <QTest>

using namespace controllertest;
using orrery::DragInfoForIdea;
using orrery::DragResult;
using orrery::Idea;

namespace {

// Records the titles of every menu it is asked to show.
struct TitlesPresenter : uitest::ScriptedPresenter {
  std::vector<QStringList> menus;
  std::shared_ptr<platform::MenuItem> popUpMenu(platform::Menu& menu, QPointF location,
                                                platform::Window* window) override {
    QStringList titles;
    for (const auto& item : menu.items())
      if (!item->isSeparator()) titles << item->title();
    menus.push_back(titles);
    return ScriptedPresenter::popUpMenu(menu, location, window);
  }
};

// A choice's title as the menu shows it.
QString L(const char* key) { return orrery::Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString()); }
QStringList L(std::initializer_list<const char*> keys) {
  QStringList out;
  for (const char* key : keys) out << L(key);
  return out;
}

// The index of a titled entry among a menu's items (separators count).
int entry(const std::shared_ptr<platform::Menu>& menu, const QString& title) {
  for (int i = 0; i < menu->numberOfItems(); ++i)
    if (menu->items()[static_cast<size_t>(i)]->title() == title) return i;
  return -1;
}

struct CommandsTest : ControllerTest {
  void SetUp() override {
    ControllerTest::SetUp();
    previous = platform::setModalPresenter(menus);
  }
  void TearDown() override {
    editor.reset();
    platform::setModalPresenter(previous);
    ControllerTest::TearDown();
  }
  void open(IdeaPtr root, const QString& name = QStringLiteral("map.orrery")) {
    opened = createLocal(path(name), root);
    ASSERT_GE(opened.token, 1);
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  }
  SolarSystemViewController& c() { return *editor->controller; }
  orrery::DragSupportWindow& window() { return *editor->shown; }
  void key(int code, const QString& chars, uint32_t modifiers = 0) {
    window().sendEvent(platform::Event::key(platform::EventType::KeyDown, code, chars, modifiers, uitest::clock().now()));
  }
  orrery::EditIdeaViewController* panel() {
    if (!c().editPopover()) return nullptr;
    return dynamic_cast<orrery::EditIdeaViewController*>(c().editPopover()->contentViewController().get());
  }
  QLineEdit* titleEdit() { return panel() ? panel()->textTabView()->titleTextField()->field()->lineEdit() : nullptr; }
  // Types a title into the open popover and presses Return there.
  void typeTitle(const QString& text) {
    QLineEdit* edit = titleEdit();
    ASSERT_TRUE(edit) << "a popover is open";
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
  }
  void saved() { ASSERT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); })); }
  QPointF adder(std::int64_t i) {
    return editor->toWindow(editor->radial().ideaAdderViewAtIndex(i)->frame().center());
  }
  // A drag from this window, as the drag window reports it, dropped at `at`. The window's
  // completion may run later (a move out of another document): it lands in lastResult.
  DragResult drop(const IdeaPtr& idea, const QString& docIdentifier, QPointF at,
                  orrery::DragTargetObject from = orrery::kDragTargetStart,
                  orrery::DragSourceKind source = orrery::kDragSourceThisWindow, bool late = false) {
    DragInfoForIdea info;
    info.source = source;
    info.returnTarget.object = from;
    info.ideaIdentifier = idea->identifier();
    info.docIdentifier = docIdentifier;
    EXPECT_TRUE(c().dragOperationStarted(info));
    info.location = at;
    c().dragOperationUpdate(info);
    lastResult = 99;
    endCalls = 0;
    c().dragOperationEnded(info, idea, docIdentifier, [this](DragResult r) {
      lastResult = r;
      ++endCalls;
    });
    if (!late) {
      // A menu closed without a choice answers on a later turn.
      uitest::advance(0.01);
      EXPECT_EQ(endCalls, 1) << "the window hears of every drop once";
    }
    return lastResult;
  }
  QString docId() { return opened.doc->docIdentifier(); }

  DragResult lastResult = 99;
  int endCalls = 0;
  std::shared_ptr<TitlesPresenter> menus = std::make_shared<TitlesPresenter>();
  std::shared_ptr<platform::ModalPresenter> previous;
  Opened opened;
  std::unique_ptr<EditorWindow> editor;
};

TEST_F(CommandsTest, AMapBuiltWithKeysAndMouseIsSavedAndReadsBackWhole) {
  open(idea(QStringLiteral("root")));
  key(platform::KeyCode::Space, QStringLiteral(" "));
  ASSERT_TRUE(c().editPopover() && c().editPopover()->isShown()) << "Space opens the popover";
  EXPECT_TRUE(c().editPopover()->takesKeyboardFocus()) << "the popover holds a field and takes the keys";
  EXPECT_FALSE(c().solarSystem()->userInteractionEnabled()) << "the editor waits for the popover";
  std::weak_ptr<platform::ViewController> closedPanel = c().editPopover()->contentViewController();
  typeTitle(QStringLiteral("Planets"));
  uitest::advance(0.01);
  EXPECT_TRUE(closedPanel.expired()) << "a closed popover and its panel go";
  EXPECT_FALSE(c().editPopover()) << "Return in the title closes it";
  EXPECT_EQ(texts(c().realIdea()->ideas()), QStringList{QStringLiteral("Planets")});
  EXPECT_TRUE(c().solarSystem()->userInteractionEnabled());
  EXPECT_FALSE(c().screenOccupied());

  editor->click(adder(0));
  typeTitle(QStringLiteral("Moons"));
  EXPECT_EQ(texts(c().realIdea()->ideas()), (QStringList{QStringLiteral("Planets"), QStringLiteral("Moons")}));

  // Closing the popover without typing creates nothing.
  key(platform::KeyCode::Space, QStringLiteral(" "));
  ASSERT_TRUE(panel());
  key(platform::KeyCode::Escape, QString());
  EXPECT_FALSE(c().editPopover());
  EXPECT_EQ(c().realIdea()->ideas().size(), 2u);

  // Drill into "Planets", add a grandchild, Escape drills back up.
  editor->click(editor->planet(0));
  uitest::advance(1.0);
  ASSERT_EQ(c().ownIdea()->text(), QStringLiteral("Planets"));
  key(platform::KeyCode::Space, QStringLiteral(" "));
  typeTitle(QStringLiteral("Mars"));
  key(platform::KeyCode::Escape, QString());
  uitest::advance(1.0);
  EXPECT_EQ(c().ownIdea()->text(), QStringLiteral("root"));
  key(platform::KeyCode::Escape, QString());
  uitest::advance(1.0);
  EXPECT_EQ(c().ownIdea()->text(), QStringLiteral("root")) << "Escape at the root does nothing";

  // Double-click "Moons" to rename it: its title is in the field, Return keeps the new one.
  editor->window().sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, editor->planet(1), uitest::clock().now(), 1));
  editor->window().sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, editor->planet(1), uitest::clock().now(), 1));
  editor->window().sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, editor->planet(1), uitest::clock().now(), 2));
  editor->window().sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, editor->planet(1), uitest::clock().now(), 2));
  ASSERT_TRUE(titleEdit());
  EXPECT_EQ(titleEdit()->text(), QStringLiteral("Moons"));
  titleEdit()->clear();
  typeTitle(QStringLiteral("Satellites"));
  EXPECT_EQ(c().realIdea()->ideas()[1]->text(), QStringLiteral("Satellites"));

  // Move "Satellites" in front of "Planets" through the drag calls, choosing "Choice.MoveHere".
  key(platform::KeyCode::Space, QStringLiteral(" "));
  typeTitle(QStringLiteral("Stars"));
  const IdeaPtr satellites = c().realIdea()->ideas()[1];
  menus->menuAnswers.push_back(0);
  EXPECT_EQ(drop(satellites, docId(), adder(2)), orrery::kDragResultMoved);
  ASSERT_FALSE(menus->menus.empty());
  EXPECT_EQ(menus->menus.back().front(), L("Choice.MoveHere"));
  EXPECT_EQ(texts(c().realIdea()->ideas()),
            (QStringList{QStringLiteral("Planets"), QStringLiteral("Stars"), QStringLiteral("Satellites")}));

  // Right-click "Stars", "Delete"; it has a note, so the confirmation is answered.
  c().realIdea()->ideas()[1]->setNote(QStringLiteral("bright"));
  auto menu = c().onRightClickAtIdea(c().realIdea()->ideas()[1]->identifier());
  menus->menuAnswers.push_back(entry(menu, QStringLiteral("Delete")));
  menus->alertAnswers.push_back(platform::kAlertFirstButtonReturn);
  editor->window().sendEvent(platform::Event::mouse(platform::EventType::RightMouseDown, editor->planet(1), uitest::clock().now(), 1));
  EXPECT_EQ(texts(c().realIdea()->ideas()), (QStringList{QStringLiteral("Planets"), QStringLiteral("Satellites")}));
  ASSERT_EQ(menus->alerts.size(), 1u) << "the delete is confirmed";

  ASSERT_TRUE(window().firstResponder()->tryToPerform(QStringLiteral("cmdSaveLocalFile")));
  saved();
  const IdeaPtr expected = c().rootIdea()->snapshotCopy();
  window().performClose();
  ASSERT_TRUE(waitFor([&] { return editor->closed; }));
  editor.reset();
  Opened again = openAgain(opened.doc);
  ASSERT_GE(again.token, 1);
  EXPECT_EQ(opened.doc->idea()->debugDescription(), expected->debugDescription());
  EXPECT_EQ(texts(opened.doc->idea()->ideas()[0]->ideas()), QStringList{QStringLiteral("Mars")});
  const IdeaPtr onDisk = readTree(path(QStringLiteral("map.orrery")));
  ASSERT_TRUE(onDisk);
  EXPECT_EQ(onDisk->debugDescription(), expected->debugDescription());
  orrery::PersistenceController::singleton().releaseDocument(opened.doc, again.token, nullptr);
}

TEST_F(CommandsTest, ClosingTheWindowWithThePopoverOpenSavesWhatWasTyped) {
  open(makeTree(2));
  key(platform::KeyCode::Space, QStringLiteral(" "));
  ASSERT_TRUE(titleEdit());
  QTest::keyClicks(titleEdit(), QStringLiteral("Typed late"));
  window().performClose();
  ASSERT_TRUE(waitFor([&] { return editor->closed; }));
  editor.reset();
  IdeaPtr onDisk = readTree(path(QStringLiteral("map.orrery")));
  ASSERT_TRUE(onDisk);
  EXPECT_EQ(texts(onDisk->ideas()).back(), QStringLiteral("Typed late"));
}

TEST_F(CommandsTest, AnEditLandsOnTheIdeaOfTheCurrentTreeOrInANewOne) {
  IdeaPtr root = makeTree(3);
  open(root);
  const QString c1 = root->ideas()[1]->identifier();
  c().onEditIdea(c1);
  ASSERT_TRUE(titleEdit());
  // Another instance's change replaces the tree while the popover is open.
  IdeaPtr reloaded = root->snapshotCopy();
  c().modelDidChangeWithNewRootIdea(reloaded);
  titleEdit()->selectAll();
  typeTitle(QStringLiteral("renamed"));
  EXPECT_EQ(c().rootIdea()->findIdeaInSubTreeWithIdentifier(c1)->text(), QStringLiteral("renamed"));

  saved();
  c().onEditIdea(c().realIdea()->ideas()[2]->identifier());
  const QString c2 = c().realIdea()->ideas()[2]->identifier();
  IdeaPtr without = c().rootIdea()->snapshotCopy();
  without->removeIdea(c2);
  c().modelDidChangeWithNewRootIdea(without);
  titleEdit()->selectAll();
  typeTitle(QStringLiteral("lost?"));
  EXPECT_FALSE(c().rootIdea()->findIdeaInSubTreeWithIdentifier(c2)) << "a gone idea is not brought back";
  EXPECT_EQ(texts(c().realIdea()->ideas()).count(QStringLiteral("lost?")), 1)
      << "what was typed is kept, in a new idea";
  saved();
}

TEST_F(CommandsTest, NewChildrenStartWithTheThemesNextColour) {
  const auto& standard = orrery::ColorTheme::standardThemes();
  IdeaPtr root = idea(QStringLiteral("root"));
  root->setColor(nullptr);
  open(root);
  EXPECT_EQ(c().presetColorForNewChild(), standard[1 % standard.size()]->colors().front())
      << "no colour: the first colour of standard theme (n + 1) mod count";

  const auto& bright = orrery::ColorTheme::brightColorThemes();
  auto seven = std::find_if(bright.begin(), bright.end(), [](const auto& t) { return t->colors().size() == 7; });
  ASSERT_NE(seven, bright.end());
  c().realIdea()->setColor((*seven)->colors()[3]);
  const auto theme = c().realIdea()->colorTheme();
  ASSERT_TRUE(theme);
  EXPECT_EQ(c().presetColorForNewChild(), theme->colors()[1]);
  for (int i = 0; i < 6; ++i) c().realIdea()->addIdea(idea(QStringLiteral("n")));
  EXPECT_EQ(c().presetColorForNewChild(), theme->colors()[0]) << "(6 + 1) mod 7";

  // A colour that belongs to no theme: the standard rule, never a division by an empty theme.
  auto stray = std::make_shared<orrery::Color>(QStringLiteral("stray"), QColor(10, 20, 30));
  c().realIdea()->setColor(stray);
  EXPECT_EQ(c().presetColorForNewChild(), standard[7 % standard.size()]->colors().front());

  key(platform::KeyCode::Space, QStringLiteral(" "));
  ASSERT_TRUE(panel());
  EXPECT_EQ(panel()->selectedColorThemeType(), orrery::ColorThemeTypeLighterColor);
  typeTitle(QStringLiteral("x"));
  const auto added = std::find_if(c().realIdea()->ideas().begin(), c().realIdea()->ideas().end(),
                                  [](const IdeaPtr& i) { return i->text() == QStringLiteral("x"); });
  ASSERT_NE(added, c().realIdea()->ideas().end());
  EXPECT_EQ((*added)->color(), standard[7 % standard.size()]->colors().front());
  saved();
}

TEST_F(CommandsTest, TheContextMenuOffersWhatFitsTheIdea) {
  IdeaPtr root = makeTree(2);
  root->addIdea(Idea::createWithURL(QStringLiteral("https://example.org/page"), orrery::KitImage()));
  open(root);
  auto titles = [](const std::shared_ptr<platform::Menu>& menu) {
    QStringList out;
    for (const auto& item : menu->items())
      if (!item->isSeparator()) out << item->title();
    return out;
  };
  EXPECT_EQ(titles(c().onRightClickAtIdea(QString())), QStringList{QStringLiteral("Edit")}) << "the sun";
  const QStringList child = titles(c().onRightClickAtIdea(root->ideas()[0]->identifier()));
  EXPECT_EQ(child, (QStringList{"Open", "Open in New Window", "Edit", "Delete"}));
  EXPECT_EQ(titles(c().onRightClickAtIdea(root->ideas()[2]->identifier())),
            (QStringList{"Open", "Open in New Window", "Edit", "Delete", "Open in Browser"}));

  editor->click(editor->planet(0));
  uitest::advance(1.0);
  EXPECT_EQ(titles(c().onRightClickAtIdea(root->identifier())), (QStringList{"Open", "Open in New Window"}))
      << "the parent";
  // "Open" on the parent drills up.
  auto parentMenu = c().onRightClickAtIdea(root->identifier());
  parentMenu->items()[0]->perform();
  uitest::advance(1.0);
  EXPECT_EQ(c().ownIdea(), root);
}

TEST_F(CommandsTest, OnlyWebPagesOpenInTheBrowser) {
  IdeaPtr root = idea(QStringLiteral("root"));
  for (const char* url : {"https://example.org/a", "file:///etc/passwd", "javascript:alert(1)", "myapp://do", "http:"})
    root->addIdea(Idea::createWithURL(QString::fromLatin1(url), orrery::KitImage()));
  open(root);
  std::vector<QUrl> opened;
  auto previousOpener = platform::setURLOpener([&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  for (const auto& child : root->ideas()) c().onOpenItemInBrowser(child->identifier());
  platform::setURLOpener(previousOpener);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened.front(), QUrl(QStringLiteral("https://example.org/a")));
  uitest::advance(0.3);
  bool notice = false;
  for (const auto& view : window().containerView()->subviews())
    if (auto* hud = dynamic_cast<orrery::ProgressHUD*>(view.get()); hud && hud->labelText() == "Cannot open this link")
      notice = true;
  EXPECT_TRUE(notice) << "a refused link says so";
}

TEST_F(CommandsTest, DropsAreDecidedAsTheWindowWillReportThem) {
  IdeaPtr root = makeTree(4);
  root->addIdea(Idea::createWithLinkToIdea(root->ideas()[0]->ideas()[0]->identifier()));
  open(root);
  const auto kids = root->ideas();
  // On itself: accepted at once, nothing asked, nothing changed.
  EXPECT_EQ(drop(kids[1], docId(), editor->planet(1)), orrery::kDragResultKept);
  EXPECT_TRUE(menus->menus.empty());
  // On a link planet: refused.
  EXPECT_EQ(drop(kids[0], docId(), editor->planet(4)), orrery::kDragResultRefused);
  // Next to itself: copy (no link, it is a child), no move.
  menus->menuAnswers.push_back(-1);
  EXPECT_EQ(drop(kids[1], docId(), adder(1)), orrery::kDragResultRefused) << "a menu closed without a choice";
  EXPECT_EQ(menus->menus.back(), QStringList{L("Choice.CopyHere")});
  // A grandchild on an adder: move, copy and link.
  menus->menuAnswers.push_back(2);
  EXPECT_EQ(drop(kids[0]->ideas()[1], docId(), adder(2)), orrery::kDragResultKept);
  EXPECT_EQ(menus->menus.back(), L({"Choice.MoveHere", "Choice.CopyHere", "Choice.CreateLink"}));
  EXPECT_TRUE(c().realIdea()->ideas()[3]->isLink());
  // An idea of no document: only a copy.
  IdeaPtr loose = idea(QStringLiteral("loose"));
  menus->menuAnswers.push_back(0);
  EXPECT_EQ(drop(loose, QString(), adder(0)), orrery::kDragResultKept);
  EXPECT_EQ(menus->menus.back(), QStringList{L("Choice.CopyHere")});
  EXPECT_EQ(c().realIdea()->ideas()[1]->text(), QStringLiteral("loose"));
  // Onto a planet: move inside.
  const IdeaPtr mover = c().realIdea()->ideas()[2];
  menus->menuAnswers.push_back(0);
  EXPECT_EQ(drop(mover, docId(), editor->planet(0)), orrery::kDragResultMoved);
  EXPECT_EQ(menus->menus.back(), L({"Choice.MoveInside", "Choice.CopyInside"}));
  EXPECT_EQ(c().realIdea()->ideas()[0]->ideas().back()->identifier(), mover->identifier());
  // Nowhere: refused.
  EXPECT_EQ(drop(kids[1], docId(), QPointF(5, 300)), orrery::kDragResultRefused);
  saved();
}

TEST_F(CommandsTest, TheDockTheDeleteAreaAndTheirDistances) {
  IdeaPtr root = makeTree(3);
  open(root);
  orrery::DockAreaView* well = c().dockAreaView();
  orrery::DeleteAreaView* bin = c().deleteAreaView();
  ASSERT_TRUE(well && bin);
  EXPECT_TRUE(well->isHidden()) << "nothing docked";
  EXPECT_EQ(well->frame().center(), QPointF(1000 - 30, 40 + 30)) << "below the top bar at the right";
  const QPointF wellCentre = well->superview()->convertPointToView(well->frame().center(), nullptr);

  // Parked in the dock from this document: its planet is shadowed, the well shows it.
  const IdeaPtr parked = root->ideas()[2];
  EXPECT_EQ(drop(parked, docId(), wellCentre + QPointF(79, 0)), orrery::kDragResultKept);
  EXPECT_EQ(window().currentDockedIdea(), parked);
  EXPECT_EQ(window().currentDockedDocIdentifier(), docId());
  EXPECT_FALSE(well->isHidden());
  ASSERT_TRUE(well->ideaView());
  EXPECT_TRUE(editor->radial().ideaViewAtIndex(2)->shadowMode()) << "the docked idea's planet is a shadow";

  // The delete area wins when both are near.
  orrery::DragInfoForIdea info;
  c().dragOperationStarted(info);
  EXPECT_FALSE(bin->isHidden()) << "shown for a drag from this window";
  info.location = bin->superview()->convertPointToView(bin->frame().center(), nullptr);
  EXPECT_EQ(c().dragOperationUpdate(info).object, orrery::kDragTargetDeleteArea);
  EXPECT_EQ(c().dragOperationUpdate(info).gravityRadius, 80);
  c().dragOperationEndedWithResult(&info, orrery::kDragResultRefused);
  EXPECT_TRUE(bin->isHidden());
  info.source = orrery::kDragSourceOtherWindow;
  c().dragOperationStarted(info);
  EXPECT_TRUE(bin->isHidden()) << "not for a drag from elsewhere";
  c().dragOperationEndedWithResult(&info, orrery::kDragResultRefused);

  // Out of the dock onto the delete area: emptied without a question.
  const QPointF binCentre = bin->superview()->convertPointToView(bin->frame().center(), nullptr);
  EXPECT_EQ(drop(parked, docId(), binCentre, orrery::kDragTargetDock), orrery::kDragResultMoved);
  EXPECT_FALSE(window().currentDockedIdea());
  EXPECT_TRUE(well->isHidden());
  EXPECT_TRUE(menus->menus.empty());
  EXPECT_EQ(root->ideas().size(), 3u);
  // A planet onto the delete area asks "Choice.Delete".
  menus->menuAnswers.push_back(0);
  EXPECT_EQ(drop(root->ideas()[0], docId(), binCentre), orrery::kDragResultMoved);
  EXPECT_EQ(menus->menus.back(), QStringList{L("Choice.Delete")});
  EXPECT_EQ(root->ideas().size(), 2u);
  // From another window onto the delete area: refused.
  EXPECT_EQ(drop(root->ideas()[0], docId(), binCentre, orrery::kDragTargetStart, orrery::kDragSourceOtherWindow),
            orrery::kDragResultRefused);
  saved();
}

TEST_F(CommandsTest, AMoveOutOfAnotherDocumentEndsOnceWhenItsDeletionCompletes) {
  Opened other = createLocal(path(QStringLiteral("other.orrery")), makeTree(2));
  ASSERT_GE(other.token, 1);
  open(makeTree(2));
  const IdeaPtr foreign = other.doc->idea()->ideas()[1];
  const QString foreignId = foreign->identifier();
  menus->menuAnswers.push_back(0);
  drop(foreign, other.doc->docIdentifier(), adder(0), orrery::kDragTargetStart, orrery::kDragSourceOtherWindow,
       /*late=*/true);
  EXPECT_EQ(menus->menus.back().front(), L("Choice.MoveHere"));
  ASSERT_TRUE(waitFor([&] { return endCalls > 0; }));
  uitest::advance(0.5);
  EXPECT_EQ(endCalls, 1);
  EXPECT_EQ(lastResult, orrery::kDragResultMoved);
  EXPECT_EQ(c().realIdea()->ideas()[1]->text(), foreign->text());
  EXPECT_NE(c().realIdea()->ideas()[1]->identifier(), foreignId) << "a copy with new identifiers";
  EXPECT_FALSE(other.doc->idea()->findIdeaInSubTreeWithIdentifier(foreignId)) << "gone from its own document";
  saved();
  orrery::PersistenceController::singleton().releaseDocument(other.doc, other.token, nullptr);
}

TEST_F(CommandsTest, PicturesAndImportsWaitInTheDock) {
  open(makeTree(1));
  QImage picture(30, 20, QImage::Format_ARGB32);
  picture.fill(Qt::red);
  ASSERT_TRUE(picture.save(path(QStringLiteral("red.png"))));
  QFile junk(path(QStringLiteral("junk.png")));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("not a picture at all");
  junk.close();

  // The content button's menu: "Add Image" and "Add Web Link".
  menus->menuAnswers.push_back(0);
  platform::FilePanelResult ok;
  ok.response = platform::kModalResponseOK;
  ok.paths = {path(QStringLiteral("red.png"))};
  menus->panelAnswers.push_back(ok);
  c().topBarAction(orrery::kTopBarActionContent, QRectF(900, 0, 40, 40));
  uitest::advance(0.01);
  ASSERT_FALSE(menus->menus.empty());
  EXPECT_EQ(menus->menus.back(), (QStringList{"Add Image", "Add Web Link"}));
  ASSERT_EQ(menus->panels.size(), 1u);
  EXPECT_EQ(menus->panels.back().allowedFileTypes, orrery::PictureViewController::allowedFileTypes());
  EXPECT_TRUE(menus->panels.back().allowedFileTypes.contains(QStringLiteral("tiff")));
  ASSERT_TRUE(window().currentDockedIdea());
  EXPECT_EQ(window().currentDockedIdea()->ideaType(), orrery::IdeaTypeImage);
  EXPECT_TRUE(window().currentDockedDocIdentifier().isEmpty());
  EXPECT_FALSE(c().dockAreaView()->isHidden());
  EXPECT_EQ(c().realIdea()->ideas().size(), 1u) << "pictures never enter the tree directly";

  // A file that does not decode: a message naming it and why, the dock unchanged.
  const IdeaPtr before = window().currentDockedIdea();
  ok.paths = {path(QStringLiteral("junk.png"))};
  menus->panelAnswers.push_back(ok);
  menus->alertAnswers.push_back(platform::kAlertFirstButtonReturn);
  c().pleaseStartImageAddition();
  uitest::advance(0.01);
  ASSERT_EQ(menus->alerts.size(), 1u);
  const QString said = menus->alerts.back().informativeText;
  EXPECT_TRUE(said.startsWith(QStringLiteral("Failed to open file “junk.png”: "))) << said.toStdString();
  EXPECT_GT(said.section(QStringLiteral("”: "), 1).trimmed().size(), 3) << said.toStdString();
  EXPECT_EQ(window().currentDockedIdea(), before);

  // Import: the file's tree lands in the dock as an idea of no document.
  orrery::BaseViewController::setLocalDocumentFetcher(
      [](const QString& file, orrery::BaseViewController::FetchedDocument done) {
        auto doc = IdeaDocument::createWithFileName(file, orrery::DocumentLocationLocalFile);
        doc->setIdea(idea(QStringLiteral("imported")));
        done(doc, nullptr);
      });
  ok.paths = {path(QStringLiteral("some.opml"))};
  menus->panelAnswers.push_back(ok);
  ASSERT_TRUE(window().firstResponder()->tryToPerform(QStringLiteral("cmdImport")));
  uitest::advance(0.01);
  orrery::BaseViewController::setLocalDocumentFetcher(nullptr);
  ASSERT_TRUE(window().currentDockedIdea());
  EXPECT_EQ(window().currentDockedIdea()->text(), QStringLiteral("imported"));
  ASSERT_TRUE(c().dockAreaView()->ideaView());

  // The docked idea dragged out of the well onto an adder is only copied in, and leaves the dock.
  menus->menuAnswers.push_back(0);
  EXPECT_EQ(drop(window().currentDockedIdea(), QString(), adder(0), orrery::kDragTargetDock), orrery::kDragResultKept);
  EXPECT_EQ(menus->menus.back(), QStringList{L("Choice.CopyHere")});
  EXPECT_EQ(c().realIdea()->ideas().size(), 2u);
  EXPECT_FALSE(window().currentDockedIdea());
  EXPECT_TRUE(c().dockAreaView()->isHidden());
  saved();
}

TEST_F(CommandsTest, CtrlFStartsTheSearchAndAHandedSearchWaitsInTheTopBar) {
  open(makeTree(2));
  key(0, QStringLiteral("f"), platform::ModifierFlag::Command);
  EXPECT_EQ(window().firstResponder(), c().topBar()->searchTextField()->hostedField().get())
      << "the search field takes the keys";
  c().makeSearch(QStringLiteral("moon"));
  EXPECT_EQ(c().topBar()->currentSearchText(), QStringLiteral("moon"));
  c().makeSearch(QString());
  EXPECT_EQ(c().topBar()->currentSearchText(), QStringLiteral("moon")) << "an empty text changes nothing";
}

TEST_F(CommandsTest, WithoutTheWebEngineWebLinksSayWhyAndNothingOpens) {
  // This program never loads the web engine module.
  const QByteArray previous = qgetenv("ORRERY_WEB_MODULE");
  qputenv("ORRERY_WEB_MODULE", "/nonexistent/orrery_web.so");
  IdeaPtr root = makeTree(1);
  IdeaPtr link = orrery::Idea::createWithURL(QStringLiteral("http://example.com/"), orrery::KitImage());
  root->addIdea(link);
  open(root);
  menus->alertAnswers.push_back(platform::kAlertFirstButtonReturn);
  c().onEditIdea(link->identifier());
  menus->alertAnswers.push_back(platform::kAlertFirstButtonReturn);
  c().pleaseStartWebLinkAddition();
  qputenv("ORRERY_WEB_MODULE", previous);
  if (platform::isWebEngineLoaded()) GTEST_SKIP() << "the module was loaded by another test of this program";
  ASSERT_EQ(menus->alerts.size(), 2u);
  EXPECT_TRUE(menus->alerts.front().informativeText.startsWith(QStringLiteral("Web pages cannot be shown")));
  EXPECT_TRUE(c().presentedViewControllers().empty());
  EXPECT_FALSE(c().screenOccupied());
  EXPECT_TRUE(c().solarSystem()->userInteractionEnabled());
}

}  // namespace
