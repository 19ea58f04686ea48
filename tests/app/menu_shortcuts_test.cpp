#include "app/menu_helper.h"
#include "platform/ui/application.h"
#include "platform/ui/event.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QAction>
#include <QKeySequence>
#include <QMenuBar>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

using namespace orrery;
using platform::Menu;
using platform::MenuItem;
namespace Mod = platform::ModifierFlag;

namespace {

struct Press {
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
};

// The keys a user presses for a key equivalent on a US keyboard: symbols on a shifted key need
// Shift; "+", "-" and digits can come from the keypad as well.
std::vector<Press> pressesFor(const QString& key, uint32_t flags) {
  Qt::KeyboardModifiers held;
  if (flags & Mod::Command) held |= Qt::ControlModifier;
  if (flags & Mod::Shift) held |= Qt::ShiftModifier;
  if (flags & Mod::Option) held |= Qt::AltModifier;
  if (flags & Mod::Control) held |= Qt::MetaModifier;
  if (key.size() > 1) return {{static_cast<Qt::Key>(Qt::Key_F1 + key.mid(1).toInt() - 1), held}};
  const QChar c = key.at(0);
  const auto qtKey = static_cast<Qt::Key>(c.toUpper().unicode());
  static const QString shiftedSymbols = QStringLiteral("~!@#$%^&*()_+{}|:\"<>?");
  std::vector<Press> presses{{qtKey, shiftedSymbols.contains(c) ? held | Qt::ShiftModifier : held}};
  if (c == QLatin1Char('+') || c == QLatin1Char('-') || c.isDigit()) presses.push_back({qtKey, held | Qt::KeypadModifier});
  return presses;
}

void collectKeyedItems(const Menu& menu, std::vector<std::shared_ptr<MenuItem>>& into) {
  for (const auto& item : menu.items()) {
    if (item->submenu()) collectKeyedItems(*item->submenu(), into);
    else if (!item->keyEquivalent().isEmpty()) into.push_back(item);
  }
}

struct MenuScope {
  std::shared_ptr<Menu> main = MenuHelper::createMainMenu(nullptr);
  MenuScope() { platform::Application::shared().setMainMenu(main); }
  ~MenuScope() { platform::Application::shared().setMainMenu(nullptr); }
};

}  // namespace

TEST(MenuShortcuts, EveryShortcutOfTheMainMenuFiresWithTheKeysAUserPresses) {
  MenuScope scope;
  std::vector<std::shared_ptr<MenuItem>> items;
  collectKeyedItems(*scope.main, items);
  ASSERT_GE(items.size(), 10u);
  QStringList fired;
  for (const auto& item : items)
    item->setHandler([&fired](MenuItem& chosen) { fired.push_back(chosen.title()); });
  platform::Window window(QSizeF(400, 300));
  window.makeKeyAndOrderFront();

  for (const auto& item : items) {
    QStringList keys{item->keyEquivalent()};
    keys += item->alternateKeyEquivalents();
    for (const QString& key : keys) {
      for (const Press& press : pressesFor(key, item->keyEquivalentModifierMask())) {
        fired.clear();
        QTest::keyClick(window.canvas(), press.key, press.modifiers);
        EXPECT_EQ(fired, QStringList{item->title()})
            << item->title().toStdString() << ": " << QKeySequence(press.key | press.modifiers).toString().toStdString();
      }
    }
  }

  // Zooming in answers Ctrl+= too; a plain key or a chord of no item fires nothing.
  for (const Press& press : {Press{Qt::Key_Equal, Qt::ControlModifier}, Press{Qt::Key_Z, Qt::NoModifier},
                             Press{Qt::Key_K, Qt::ControlModifier}, Press{Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier}}) {
    fired.clear();
    QTest::keyClick(window.canvas(), press.key, press.modifiers);
    if (press.key == Qt::Key_Equal)
      EXPECT_EQ(fired, QStringList{QStringLiteral("Zoom In")});
    else
      EXPECT_TRUE(fired.isEmpty()) << QKeySequence(press.key | press.modifiers).toString().toStdString();
  }
}

TEST(MenuShortcuts, EveryMenuOfTheBarOpensWithItsOwnAltLetter) {
  MenuScope scope;
  platform::Window window(QSizeF(400, 300));
  ASSERT_NE(window.menuBar(), nullptr);
  const auto actions = window.menuBar()->actions();
  ASSERT_GE(actions.size(), 4);
  QSet<QKeySequence> seen;
  for (QAction* action : actions) {
    const QKeySequence mnemonic = QKeySequence::mnemonic(action->text());
    EXPECT_FALSE(mnemonic.isEmpty()) << action->text().toStdString();
    EXPECT_FALSE(seen.contains(mnemonic)) << "shared by two menus: " << action->text().toStdString();
    seen.insert(mnemonic);
  }
  // Each title still reads as the menu's name.
  EXPECT_EQ(actions.front()->text().remove(QLatin1Char('&')), scope.main->items().front()->title());
}
