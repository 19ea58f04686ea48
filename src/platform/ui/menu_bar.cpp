#include "platform/ui/menu_bar.h"

#include "platform/ui/application.h"
#include "platform/ui/event.h"
#include "platform/ui/key_matching.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace platform {
namespace {

// "Ctrl+Shift+S": the item's key read as Qt reads it (Command is the Ctrl key).
QString shortcutText(const MenuItem& item) {
  return keySequenceFor(item.keyEquivalent(), item.keyEquivalentModifierMask()).toString(QKeySequence::PortableText);
}

// The title with an Alt+letter mnemonic on its first letter no earlier title took, so that
// the menus open from the keyboard; a literal "&" stays one.
QString titleWithMnemonic(const QString& title, QString& taken) {
  QString text = title;
  text.replace(QLatin1Char('&'), QStringLiteral("&&"));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i).toLower();
    if (!c.isLetterOrNumber() || taken.contains(c)) continue;
    if (i > 0 && text.at(i - 1) == QLatin1Char('&')) continue;
    taken += c;
    return text.insert(i, QLatin1Char('&'));
  }
  return text;
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
  QString mnemonics;
  for (const auto& top : main->items()) {
    if (!top->submenu()) continue;
    QMenu* qmenu = mBar->addMenu(titleWithMnemonic(top->title(), mnemonics));
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
