#include "app_test_support.h"

#include "app/menu_helper.h"
#include "foundation/globals.h"
#include "foundation/views/search_text_field.h"
#include "platform/ui/event.h"

#include <QLineEdit>
#include <QTest>

#include <functional>

using namespace orrery;
using apptest::AppFixture;
using apptest::findItem;
using platform::Event;
using platform::EventType;
namespace Mod = platform::ModifierFlag;

namespace {

Event chord(const char* key, uint32_t mods = Mod::Command, int code = platform::KeyCode::Unknown) {
  return Event::key(EventType::KeyDown, code, QString::fromLatin1(key), mods);
}

// The editor's map view takes the keyboard.
class FocusableView : public platform::View {
 public:
  bool acceptsFirstResponder() const override { return true; }
};

// A screen that handles the editor's commands, as the editor will.
class EditorLike : public BaseViewController {
 public:
  void loadView() override { setView(std::make_shared<FocusableView>()); }
  EditorLike() {
    for (const char* action : {"cmdSaveLocalFile", "cmdSaveLocalFileAs", "cmdExport", "cmdPrintIdea", "cmdToggleMindmap"})
      setActionHandler(action, [this, action](const platform::ActionSender&) { performed.push_back(action); });
  }
  std::vector<std::string> performed;
};

}  // namespace

using Menus = AppFixture;

TEST_F(Menus, EveryItemSendsItsActionAndItsShortcutDoesTheSame) {
  auto& app = launch();
  const auto main = platform::Application::shared().mainMenu();
  ASSERT_NE(main, nullptr);
  auto& window = app.windowControllers().front()->myWindow();
  window.makeKeyAndOrderFront();

  // New by shortcut, then by the item.
  window.sendEvent(chord("n"));
  settle(2);
  ASSERT_EQ(app.windowControllers().size(), 2u);
  platform::Application::shared().updateMainMenu();
  findItem(*main, "cmdNewLocalFile")->perform();
  settle(3);
  EXPECT_EQ(app.windowControllers().size(), 3u);

  // Open… asks the panel for native documents and outlines.
  auto& key = app.windowControllers().back()->myWindow();
  key.makeKeyAndOrderFront();
  key.sendEvent(chord("o"));
  uitest::advance(0);
  ASSERT_EQ(presenter->panels.size(), 1u);
  EXPECT_TRUE(presenter->panels[0].allowedFileTypes.contains("opml"));
  EXPECT_TRUE(presenter->panels[0].allowedFileTypes.contains("orrery"));
  findItem(*main, "cmdImportLocalFile")->perform();
  uitest::advance(0);
  ASSERT_EQ(presenter->panels.size(), 2u);
  EXPECT_EQ(presenter->panels[1].allowedFileTypes, QStringList{"opml"});

  // The editor's commands reach the screen that handles them, by shortcut and by item.
  auto editor = std::make_shared<EditorLike>();
  key.switchToViewController(editor, nullptr);
  ASSERT_TRUE(key.makeFirstResponder(editor->view().get()));
  key.sendEvent(chord("s"));
  key.sendEvent(chord("S", Mod::Command | Mod::Shift));
  key.sendEvent(chord("e"));
  key.sendEvent(chord("p"));
  platform::Application::shared().setEventWindow(&key);
  platform::Application::shared().updateMainMenu();
  findItem(*main, "cmdToggleMindmap")->perform();
  platform::Application::shared().setEventWindow(nullptr);
  EXPECT_EQ(editor->performed,
            (std::vector<std::string>{"cmdSaveLocalFile", "cmdSaveLocalFileAs", "cmdExport", "cmdPrintIdea", "cmdToggleMindmap"}));

  // Close Window closes the key window; Quit runs the quit sequence.
  key.sendEvent(chord("w"));
  uitest::advance(0);
  EXPECT_EQ(app.windowControllers().size(), 2u);
  app.windowControllers().front()->myWindow().sendEvent(chord("q"));
  EXPECT_EQ(exits, 1);
}

TEST_F(Menus, ItemsValidateAlongTheChainAndDisabledShortcutsDoNothing) {
  auto& app = launch();
  const auto main = platform::Application::shared().mainMenu();
  auto& window = app.windowControllers().front()->myWindow();
  window.makeKeyAndOrderFront();
  platform::Application::shared().updateMainMenu();
  EXPECT_FALSE(findItem(*main, "cmdNewCloudWindow")->isEnabled()) << "iCloud not chosen";
  EXPECT_FALSE(findItem(*main, "cmdNewDropboxWindow")->isEnabled());
  EXPECT_FALSE(findItem(*main, "cmdSaveLocalFile")->isEnabled()) << "no screen handles it";
  EXPECT_FALSE(findItem(*main, "cmdUndo")->isEnabled()) << "focus outside a text field";
  EXPECT_TRUE(findItem(*main, "cmdNewLocalFile")->isEnabled());

  auto help = main->itemWithTag(MenuHelper::kHelpMenuTag);
  ASSERT_TRUE(help && help->submenu());
  EXPECT_TRUE(findItem(*help->submenu(), "cmdOpenAboutDialog")->isEnabled());

  window.sendEvent(chord("s"));
  window.sendEvent(chord("z"));
  window.sendEvent(chord("z", Mod::Command | Mod::Shift));
  uitest::advance(0);
  EXPECT_EQ(app.windowControllers().size(), 1u);
  EXPECT_TRUE(presenter->alerts.empty());

  Globals::optForICloud(true);
  platform::Application::shared().updateMainMenu();
  EXPECT_TRUE(findItem(*main, "cmdNewCloudWindow")->isEnabled());

  // Undo acts on a hosted text field with something to undo.
  auto field = std::make_shared<SearchTextField>(0);
  window.containerView()->addSubview(field);
  window.displayIfNeeded();
  window.makeFirstResponder(field->hostedField().get());
  QTest::keyClicks(field->lineEdit(), "moon");
  platform::Application::shared().setEventWindow(&window);
  platform::Application::shared().updateMainMenu();
  platform::Application::shared().setEventWindow(nullptr);
  EXPECT_TRUE(findItem(*main, "cmdUndo")->isEnabled());
  QTest::keyClick(field->lineEdit(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_NE(field->lineEdit()->text(), QStringLiteral("moon"));
}

// Linux has no store to rate in and the product no web site: every item, and every key
// equivalent, does something here and none hands a web address to the desktop.
TEST_F(Menus, NoItemLeadsToAStoreOrToAPageThatDoesNotExist) {
  auto& app = launch();
  const auto main = platform::Application::shared().mainMenu();
  ASSERT_NE(main, nullptr);
  auto& window = app.windowControllers().front()->myWindow();
  window.makeKeyAndOrderFront();
  platform::Application::shared().updateMainMenu();
  std::vector<std::shared_ptr<platform::MenuItem>> items;
  std::function<void(const platform::Menu&)> collect = [&](const platform::Menu& menu) {
    for (const auto& item : menu.items()) {
      if (item->submenu()) collect(*item->submenu());
      else if (!item->isSeparator()) items.push_back(item);
    }
  };
  collect(*main);
  EXPECT_GT(items.size(), 15u);
  for (const auto& item : items) {
    SCOPED_TRACE(item->title().toStdString());
    EXPECT_FALSE(item->title().contains(QStringLiteral("Store"), Qt::CaseInsensitive));
    EXPECT_FALSE(item->title().contains(QStringLiteral("Rate"), Qt::CaseInsensitive));
    // Quit ends the run; the about window lives for the whole process and its links open
    // only when clicked (tests/app/legal_about_test).
    if (item->action() == QLatin1String("cmdQuit") || item->action() == QLatin1String("cmdOpenAboutDialog")) continue;
    item->perform();
    uitest::advance(0);
  }
  for (int f = 1; f <= 12; ++f) window.sendEvent(chord("", 0, platform::KeyCode::functionKey(f)));
  uitest::advance(0);
  for (const QUrl& url : openedURLs) ADD_FAILURE() << "opened " << url.toString().toStdString();
}

TEST_F(Menus, OpenRecentListsTheRecentFilesAndClearsThem) {
  auto& app = launch();
  const QString a = writeDocument("a.orrery", "A");
  const QString b = writeDocument("b.orrery", "B");
  app.addNewRecentDocumentURL(QUrl::fromLocalFile(a));
  app.addNewRecentDocumentURL(QUrl::fromLocalFile(b));
  const auto main = platform::Application::shared().mainMenu();
  std::shared_ptr<platform::Menu> recent;
  for (const auto& item : main->items().front()->submenu()->items())
    if (item->title() == QStringLiteral("Open Recent")) recent = item->submenu();
  ASSERT_NE(recent, nullptr);
  platform::Application::shared().updateMainMenu();
  ASSERT_EQ(recent->numberOfItems(), 4);  // b, a, separator, Clear Menu
  EXPECT_EQ(recent->items()[0]->title(), QStringLiteral("b.orrery"));
  recent->items()[1]->perform();
  settle(2);
  EXPECT_EQ(app.windowControllers().size(), 2u);
  recent->items()[3]->perform();
  EXPECT_TRUE(defaults().stringArrayForKey("RecentLocalFiles").isEmpty());
  platform::Application::shared().updateMainMenu();
  EXPECT_EQ(recent->numberOfItems(), 1);
  EXPECT_FALSE(recent->items()[0]->isEnabled());
}
