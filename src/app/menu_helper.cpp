#include "app/menu_helper.h"

#include "platform/ui/application.h"
#include "platform/ui/event.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

namespace orrery {
namespace {

using platform::Menu;
using platform::MenuItem;
namespace Mod = platform::ModifierFlag;

std::shared_ptr<MenuItem> item(Menu& menu, const QString& title, const char* action, const QString& key = {},
                               uint32_t modifiers = Mod::Command) {
  auto i = menu.addActionItem(title, QString::fromLatin1(action), key);
  if (!key.isEmpty()) i->setKeyEquivalentModifierMask(key.size() > 1 ? 0 : modifiers);
  return i;
}

std::shared_ptr<Menu> submenu(Menu& main, const QString& title) {
  auto menu = std::make_shared<Menu>(title);
  auto holder = std::make_shared<MenuItem>(title, QString());
  holder->setSubmenu(menu);
  main.addItem(holder);
  return menu;
}

}  // namespace

std::shared_ptr<Menu> MenuHelper::createMainMenu(platform::MenuDelegate* recentFiles) {
  auto main = std::make_shared<Menu>(QStringLiteral("Main"));
  auto file = submenu(*main, QStringLiteral("File"));
  item(*file, QStringLiteral("New"), "cmdNewLocalFile", QStringLiteral("n"));
  item(*file, QStringLiteral("New iCloud Window"), "cmdNewCloudWindow");
  item(*file, QStringLiteral("New Dropbox Window"), "cmdNewDropboxWindow");
  file->addItem(MenuItem::separator());
  item(*file, QStringLiteral("Open…"), "cmdOpenLocalFile", QStringLiteral("o"));
  auto recent = submenu(*file, QStringLiteral("Open Recent"));
  recent->setDelegate(recentFiles);
  item(*file, QStringLiteral("Import…"), "cmdImportLocalFile");
  file->addItem(MenuItem::separator());
  item(*file, QStringLiteral("Save"), "cmdSaveLocalFile", QStringLiteral("s"));
  item(*file, QStringLiteral("Save As…"), "cmdSaveLocalFileAs", QStringLiteral("s"), Mod::Command | Mod::Shift);
  item(*file, QStringLiteral("Export…"), "cmdExport", QStringLiteral("e"));
  item(*file, QStringLiteral("Print…"), "cmdPrintIdea", QStringLiteral("p"));
  file->addItem(MenuItem::separator());
  item(*file, QStringLiteral("Close Window"), "performClose", QStringLiteral("w"));
  item(*file, QStringLiteral("Quit"), "cmdQuit", QStringLiteral("q"));

  auto edit = submenu(*main, QStringLiteral("Edit"));
  item(*edit, QStringLiteral("Undo"), "cmdUndo", QStringLiteral("z"));
  item(*edit, QStringLiteral("Redo"), "cmdRedo", QStringLiteral("z"), Mod::Command | Mod::Shift);
  item(*edit, QStringLiteral("Preferences…"), "cmdOpenPreferences", QStringLiteral(","));

  auto view = submenu(*main, QStringLiteral("View"));
  item(*view, QStringLiteral("Overview Graph"), "cmdToggleMindmap");
  // "=" is the "+" key without Shift on most keyboards: Ctrl+= zooms in as well.
  item(*view, QStringLiteral("Zoom In"), "cmdZoomIn", QStringLiteral("+"))->setAlternateKeyEquivalents({QStringLiteral("=")});
  item(*view, QStringLiteral("Zoom Out"), "cmdZoomOut", QStringLiteral("-"));
  item(*view, QStringLiteral("Zoom to Fit"), "cmdActualSize", QStringLiteral("9"));

  auto help = submenu(*main, QStringLiteral("Help"));
  main->items().back()->setTag(kHelpMenuTag);
  item(*help, QStringLiteral("About Orrery"), "cmdOpenAboutDialog");
  // No user guide, support page or store rating: the product has no web site or store page
  // on Linux, and an item that opens nothing would only mislead.
  return main;
}

void MenuHelper::updateMenuRecursively(Menu& menu) {
  platform::Window* window = platform::Application::shared().eventWindow();
  // Menu::update validates the submenus too.
  menu.update(window ? window->firstResponder() : static_cast<platform::Responder*>(&platform::Application::shared()));
}

void MenuHelper::menuUpdateMainMenu() { platform::Application::shared().updateMainMenu(); }

}  // namespace orrery
