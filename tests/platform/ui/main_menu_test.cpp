#include "platform/services/runtime_folder.h"
#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// A responder that handles one action, enabled or not, and counts performances.
class ActionView : public View {
 public:
  ActionView(const QString& action, bool* enabled, int* count) : View(QRectF(0, 0, 100, 100)), mEnabled(enabled) {
    setActionHandler(action, [count](const ActionSender&) { ++*count; });
  }
  bool acceptsFirstResponder() const override { return true; }
  bool validateUserInterfaceItem(const MenuItem& /*item*/) override { return *mEnabled; }
  void keyDown(const Event& e) override {
    ++keysSeen;
    View::keyDown(e);
  }
  int keysSeen = 0;

 private:
  bool* mEnabled;
};

class Delegate : public Responder {
 public:
  Delegate() { setActionHandler(QStringLiteral("cmdNew"), [this](const ActionSender&) { ++news; }); }
  int news = 0;
};

class CountingMenuDelegate : public MenuDelegate {
 public:
  void menuNeedsUpdate(Menu& menu) override {
    ++updates;
    menu.removeAllItems();
    menu.addActionItem(QStringLiteral("Entry %1").arg(updates), QStringLiteral("cmdNew"));
  }
  int updates = 0;
};

Event keyChord(const QString& key, uint32_t modifiers, int code = KeyCode::Unknown) {
  return Event::key(EventType::KeyDown, code, key, modifiers);
}

// Installs a main menu and a delegate for one test and takes both away again.
struct MainMenuScope {
  std::shared_ptr<Menu> menu = std::make_shared<Menu>();
  std::shared_ptr<Menu> file = std::make_shared<Menu>(QStringLiteral("File"));
  Delegate delegate;
  MainMenuScope() {
    auto top = std::make_shared<MenuItem>(QStringLiteral("File"), QString());
    top->setSubmenu(file);
    menu->addItem(top);
    Application::shared().setDelegate(&delegate);
    Application::shared().setMainMenu(menu);
  }
  ~MainMenuScope() {
    Application::shared().setMainMenu(nullptr);
    Application::shared().setDelegate(nullptr);
  }
  std::shared_ptr<MenuItem> add(const QString& title, const QString& action, const QString& key,
                                uint32_t mods = ModifierFlag::Command) {
    auto item = file->addActionItem(title, action, key);
    item->setKeyEquivalentModifierMask(mods);
    Application::shared().mainMenuChanged();
    return item;
  }
};

}  // namespace

TEST(MainMenu, KeyEquivalentsFireValidatedItemsBeforeTheFirstResponderSeesTheKey) {
  MainMenuScope scope;
  bool enabled = true;
  int saves = 0;
  scope.add(QStringLiteral("Save"), QStringLiteral("cmdSave"), QStringLiteral("s"));
  scope.add(QStringLiteral("Save As"), QStringLiteral("cmdSaveAs"), QStringLiteral("s"),
            ModifierFlag::Command | ModifierFlag::Shift);
  scope.add(QStringLiteral("New"), QStringLiteral("cmdNew"), QStringLiteral("n"));
  scope.add(QStringLiteral("Guide"), QStringLiteral("cmdNew"), QStringLiteral("F1"), 0);
  Window window(QSizeF(300, 200));
  auto view = std::make_shared<ActionView>(QStringLiteral("cmdSave"), &enabled, &saves);
  window.contentView()->addSubview(view);
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(window.makeFirstResponder(view.get()));

  window.sendEvent(keyChord(QStringLiteral("s"), ModifierFlag::Command));
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(view->keysSeen, 0) << "a matched equivalent never reaches the first responder";

  // Shift changes the chord: Save As has no handler anywhere, so it is disabled and does nothing.
  window.sendEvent(keyChord(QStringLiteral("S"), ModifierFlag::Command | ModifierFlag::Shift));
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(view->keysSeen, 0);

  enabled = false;
  window.sendEvent(keyChord(QStringLiteral("s"), ModifierFlag::Command));
  EXPECT_EQ(saves, 1) << "an item that does not validate now does not fire";

  // The chain ends at the application delegate.
  window.sendEvent(keyChord(QStringLiteral("n"), ModifierFlag::Command));
  window.sendEvent(keyChord(QString(), 0, KeyCode::functionKey(1)));
  EXPECT_EQ(scope.delegate.news, 2);

  // Plain keys and unknown chords go to the first responder.
  window.sendEvent(keyChord(QStringLiteral("s"), 0));
  window.sendEvent(keyChord(QStringLiteral("k"), ModifierFlag::Command));
  EXPECT_EQ(view->keysSeen, 2);
}

TEST(MainMenu, EveryWindowShowsTheMenuInItsOwnBarValidatedWhenItOpens) {
  MainMenuScope scope;
  bool enabled = false;
  int saves = 0;
  scope.add(QStringLiteral("Save"), QStringLiteral("cmdSave"), QStringLiteral("s"));
  Window first(QSizeF(300, 200));
  Window second(QSizeF(300, 200));
  ASSERT_NE(first.menuBar(), nullptr);
  ASSERT_NE(second.menuBar(), nullptr);
  EXPECT_NE(first.menuBar(), second.menuBar());
  auto view = std::make_shared<ActionView>(QStringLiteral("cmdSave"), &enabled, &saves);
  first.contentView()->addSubview(view);
  first.makeKeyAndOrderFront();
  first.makeFirstResponder(view.get());
  EXPECT_EQ(first.contentSize().height(), 200) << "the bar does not take the content's room";

  QMenu* fileMenu = first.menuBar()->actions().at(0)->menu();
  ASSERT_NE(fileMenu, nullptr);
  emit fileMenu->aboutToShow();
  QAction* save = fileMenu->actions().at(0);
  EXPECT_EQ(save->text(), QStringLiteral("Save\tCtrl+S"));
  EXPECT_FALSE(save->isEnabled());
  EXPECT_TRUE(save->shortcut().isEmpty()) << "Qt shortcuts would compete with the first responder";
  enabled = true;
  emit fileMenu->aboutToShow();
  save = fileMenu->actions().at(0);
  EXPECT_TRUE(save->isEnabled());
  save->trigger();
  EXPECT_EQ(saves, 1);

  // A renamed item shows in every bar after itemChanged.
  scope.file->items().at(0)->setTitle(QStringLiteral("Save Now"));
  scope.file->itemChanged(scope.file->items().at(0).get());
  QMenu* secondFile = second.menuBar()->actions().at(0)->menu();
  EXPECT_TRUE(secondFile->actions().at(0)->text().startsWith(QStringLiteral("Save Now")));
}

TEST(MainMenu, MenuDelegatesRebuildTheirItemsBeforeValidation) {
  MainMenuScope scope;
  auto recent = std::make_shared<Menu>(QStringLiteral("Open Recent"));
  CountingMenuDelegate menuDelegate;
  recent->setDelegate(&menuDelegate);
  auto holder = std::make_shared<MenuItem>(QStringLiteral("Open Recent"), QString());
  holder->setSubmenu(recent);
  scope.file->addItem(holder);
  Application::shared().updateMainMenu();
  ASSERT_EQ(recent->numberOfItems(), 1);
  EXPECT_EQ(recent->items()[0]->title(), QStringLiteral("Entry 1"));
  EXPECT_TRUE(recent->items()[0]->isEnabled()) << "validated by the application delegate";
}

TEST(MainMenu, ChordsTypedIntoAHostedControlReachTheMenuAndPlainTypingDoesNot) {
  MainMenuScope scope;
  Window window(QSizeF(300, 200));
  auto field = std::make_shared<NativeHostView>(new QLineEdit);
  field->setFrame(QRectF(10, 10, 200, 24));
  window.contentView()->addSubview(field);
  window.makeKeyAndOrderFront();
  window.displayIfNeeded();
  bool enabled = true;
  int saves = 0;
  auto host = std::make_shared<ActionView>(QStringLiteral("cmdSave"), &enabled, &saves);
  window.contentView()->addSubview(host);
  window.makeFirstResponder(host.get());
  scope.add(QStringLiteral("Save"), QStringLiteral("cmdSave"), QStringLiteral("s"));
  auto* edit = static_cast<QLineEdit*>(field->widget());
  QKeyEvent chord(QEvent::KeyPress, Qt::Key_S, Qt::ControlModifier, QStringLiteral("\x13"));
  QApplication::sendEvent(edit, &chord);
  EXPECT_EQ(saves, 1);
  QKeyEvent plain(QEvent::KeyPress, Qt::Key_S, Qt::NoModifier, QStringLiteral("s"));
  QApplication::sendEvent(edit, &plain);
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(edit->text(), QStringLiteral("s"));
}

namespace {
class AppearanceController : public ViewController {
 public:
  void viewWillAppear() override { log.push_back("willAppear"); }
  void viewDidAppear() override { log.push_back(view()->window() ? "didAppear" : "didAppear-nowindow"); }
  void viewWillDisappear() override { log.push_back("willDisappear"); }
  void viewDidDisappear() override { log.push_back("didDisappear"); }
  void viewWillLayout() override { log.push_back("willLayout"); }
  std::vector<std::string> log;
};
}  // namespace

TEST(ViewControllerAppearance, ControllersHearTheirViewEnterAndLeaveAWindowAndLayOut) {
  Window window(QSizeF(300, 200));
  auto controller = std::make_shared<AppearanceController>();
  auto view = controller->view();
  window.contentView()->addSubview(view);
  EXPECT_EQ(controller->log, (std::vector<std::string>{"willAppear", "didAppear"}));
  controller->log.clear();
  view->setNeedsLayout();
  window.displayIfNeeded();
  EXPECT_EQ(controller->log, (std::vector<std::string>{"willLayout"}));
  controller->log.clear();
  view->removeFromSuperview();
  EXPECT_EQ(controller->log, (std::vector<std::string>{"willDisappear", "didDisappear"}));
}

TEST(RuntimeFolder, TakesOnlyAPrivateFolderOfOurOwn) {
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  QTemporaryDir dir;
  QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
  EXPECT_EQ(runtimeFolder(), QFileInfo(dir.path()).absoluteFilePath());
  QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                        QFileDevice::WriteOther | QFileDevice::ExeOther);
  EXPECT_NE(runtimeFolder(), QFileInfo(dir.path()).absoluteFilePath()) << "others could answer for us";
  EXPECT_FALSE(runtimeFolder().isEmpty()) << "the private temporary folder stands in";
  qputenv("XDG_RUNTIME_DIR", "relative/path");
  EXPECT_NE(runtimeFolder(), QStringLiteral("relative/path"));
  if (saved.isNull())
    qunsetenv("XDG_RUNTIME_DIR");
  else
    qputenv("XDG_RUNTIME_DIR", saved);
}
