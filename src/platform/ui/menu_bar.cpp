#include "platform/ui/menu_bar.h"

#include "platform/ui/application.h"
#include "platform/ui/event.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace platform {
namespace {

// "Ctrl+Shift+S" from the item's key and modifiers (Command is the Ctrl key here).
QString shortcutText(const MenuItem& item) {
  const QString key = item.keyEquivalent();
  if (key.isEmpty()) return {};
  QString text;
  const uint32_t m = item.keyEquivalentModifierMask();
  if (m & ModifierFlag::Command) text += QStringLiteral("Ctrl+");
  if (m & ModifierFlag::Control) text += QStringLiteral("Meta+");
  if (m & ModifierFlag::Option) text += QStringLiteral("Alt+");
  if (m & ModifierFlag::Shift) text += QStringLiteral("Shift+");
  return text + (key.size() == 1 ? key.toUpper() : key);
}

QString actionText(const MenuItem& item) {
  const QString shortcut = shortcutText(item);
  return shortcut.isEmpty() ? item.title() : item.title() + QLatin1Char('\t') + shortcut;
}

}  // namespace

MenuBarBridge::MenuBarBridge(Window& window, QMenuBar* bar) : mWindow(window), mBar(bar) {}

void MenuBarBridge::rebuild() {
  Application& app = Application::shared();
  if (mGeneration == app.mainMenuGeneration()) return;
  mGeneration = app.mainMenuGeneration();
  mBar->clear();
  const auto& main = app.mainMenu();
  if (!main) return;
  for (const auto& top : main->items()) {
    if (!top->submenu()) continue;
    QMenu* qmenu = mBar->addMenu(top->title());
    fill(qmenu, top->submenu());
  }
}

void MenuBarBridge::fill(QMenu* qmenu, const std::shared_ptr<Menu>& menu) {
  std::weak_ptr<Menu> weakMenu = menu;
  // Validated and rebuilt as it opens, so items a delegate added, titles and enabled states
  // are current then.
  QObject::connect(qmenu, &QMenu::aboutToShow, qmenu, [this, qmenu, weakMenu] {
    auto m = weakMenu.lock();
    if (!m) return;
    Application::shared().setKeyWindow(&mWindow);
    Application::shared().updateMainMenu();
    for (QMenu* child : qmenu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) child->deleteLater();
    qmenu->clear();
    populate(qmenu, m);
  });
  populate(qmenu, menu);
}

void MenuBarBridge::populate(QMenu* qmenu, const std::shared_ptr<Menu>& menu) {
  for (const auto& item : menu->items()) {
    if (item->isSeparator()) {
      qmenu->addSeparator();
      continue;
    }
    if (item->submenu()) {
      auto* sub = new QMenu(item->title(), qmenu);
      qmenu->addMenu(sub);
      fill(sub, item->submenu());
      continue;
    }
    QAction* action = qmenu->addAction(actionText(*item));
    action->setEnabled(item->isEnabled());
    if (item->isChecked()) {
      action->setCheckable(true);
      action->setChecked(true);
    }
    std::weak_ptr<MenuItem> weakItem = item;
    QObject::connect(action, &QAction::triggered, action, [weakItem] {
      auto i = weakItem.lock();
      if (!i) return;
      // Validated again at the moment of choice: the state may have changed since it opened.
      Application::shared().updateMainMenu();
      if (i->isEnabled()) i->perform();
    });
  }
}

}  // namespace platform
