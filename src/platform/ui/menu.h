#pragma once
// Menus as data: items with a title, an action (a handler, or an action name sent along the
// responder chain), a tag and a represented object. Context and pop-up menus run
// synchronously through the modal presenter; the main menu is shown from the same model.

#include "platform/ui/responder.h"

#include <QPointF>
#include <QString>
#include <QStringList>

#include <any>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class Menu;
class View;

class MenuItem {
 public:
  using Handler = std::function<void(MenuItem&)>;

  MenuItem() = default;
  MenuItem(QString title, Handler handler, QString keyEquivalent = {})
      : mTitle(std::move(title)), mHandler(std::move(handler)), mKeyEquivalent(std::move(keyEquivalent)) {}
  MenuItem(QString title, QString action, QString keyEquivalent = {})
      : mTitle(std::move(title)), mAction(std::move(action)), mKeyEquivalent(std::move(keyEquivalent)) {}
  static std::shared_ptr<MenuItem> separator();

  const QString& title() const { return mTitle; }
  void setTitle(QString t) { mTitle = std::move(t); }
  const QString& action() const { return mAction; }
  void setAction(QString a) { mAction = std::move(a); }
  const Handler& handler() const { return mHandler; }
  void setHandler(Handler h) { mHandler = std::move(h); }
  // An explicit target for the action; none: the responder chain decides.
  Responder* target() const { return mTarget.get(); }
  void setTarget(Responder* t) { mTarget.reset(t); }
  const QString& keyEquivalent() const { return mKeyEquivalent; }
  void setKeyEquivalent(QString k) { mKeyEquivalent = std::move(k); }
  // Further keys that do the same with the same modifiers (Ctrl+= beside Ctrl++); never shown.
  const QStringList& alternateKeyEquivalents() const { return mAlternateKeys; }
  void setAlternateKeyEquivalents(QStringList keys) { mAlternateKeys = std::move(keys); }
  uint32_t keyEquivalentModifierMask() const { return mModifiers; }
  void setKeyEquivalentModifierMask(uint32_t m) { mModifiers = m; }
  int tag() const { return mTag; }
  void setTag(int t) { mTag = t; }
  const std::any& representedObject() const { return mRepresented; }
  void setRepresentedObject(std::any o) { mRepresented = std::move(o); }
  bool isEnabled() const { return mEnabled; }
  void setEnabled(bool e) { mEnabled = e; }
  bool isChecked() const { return mChecked; }
  void setChecked(bool c) { mChecked = c; }
  bool isSeparator() const { return mSeparator; }
  const std::shared_ptr<Menu>& submenu() const { return mSubmenu; }
  void setSubmenu(std::shared_ptr<Menu> m) { mSubmenu = std::move(m); }
  Menu* menu() const { return mMenu; }

  // Runs the handler, else sends the action: to the target, else along the responder chain from
  // `chainStart` (the chain the menu was validated on), else from the key window's first responder.
  void perform(Responder* chainStart = nullptr);
  // Whether a key-down event is this item's key equivalent (or an alternate), matched as Qt
  // matches shortcuts: letters without case, "F1".."F12" by key, a symbol typed with Shift
  // with or without it, the other modifiers exactly.
  bool matchesKeyEquivalent(const Event& event) const;

 private:
  friend class Menu;
  QString mTitle;
  QString mAction;
  Handler mHandler;
  WeakRef<Responder> mTarget;
  QString mKeyEquivalent;
  QStringList mAlternateKeys;
  uint32_t mModifiers = 0;
  int mTag = 0;
  std::any mRepresented;
  bool mEnabled = true;
  bool mChecked = false;
  bool mSeparator = false;
  std::shared_ptr<Menu> mSubmenu;
  Menu* mMenu = nullptr;
};

class MenuDelegate : public virtual Trackable {
 public:
  virtual void menuWillOpen(Menu& menu) { (void)menu; }
  virtual void menuDidClose(Menu& menu) { (void)menu; }
  // Before the menu validates its items: the delegate brings titles and items up to date.
  virtual void menuNeedsUpdate(Menu& /*menu*/) {}
};

class Menu : public std::enable_shared_from_this<Menu> {
 public:
  explicit Menu(QString title = {}) : mTitle(std::move(title)) {}

  const QString& title() const { return mTitle; }
  const std::vector<std::shared_ptr<MenuItem>>& items() const { return mItems; }
  int numberOfItems() const { return static_cast<int>(mItems.size()); }
  std::shared_ptr<MenuItem> addItem(std::shared_ptr<MenuItem> item);
  std::shared_ptr<MenuItem> addItem(QString title, MenuItem::Handler handler, QString keyEquivalent = {});
  std::shared_ptr<MenuItem> addActionItem(QString title, QString action, QString keyEquivalent = {});
  void insertItem(std::shared_ptr<MenuItem> item, int index);
  void removeItem(const MenuItem* item);
  void removeAllItems();
  std::shared_ptr<MenuItem> itemWithTag(int tag) const;
  int indexOfItem(const MenuItem* item) const;

  MenuDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(MenuDelegate* d) { mDelegate.reset(d); }
  bool autoenablesItems() const { return mAutoenables; }
  void setAutoenablesItems(bool v) { mAutoenables = v; }

  // Tells the menu bars showing the main menu that this menu's items changed.
  void itemChanged(const MenuItem* item);

  // Enables action items whose target (explicit or along the chain from `start`) exists
  // and validates them.
  void update(Responder* start);

  // Pops the menu up at `location` in `view` (a null view: window coordinates of the key
  // window) and returns once it has closed; the delegate hears menuDidClose before the
  // chosen item's action runs. True when an item was chosen.
  bool popUp(QPointF location, View* view);
  static void popUpContextMenu(const std::shared_ptr<Menu>& menu, const Event& event, View* view);

 private:
  QString mTitle;
  std::vector<std::shared_ptr<MenuItem>> mItems;
  WeakRef<MenuDelegate> mDelegate;
  bool mAutoenables = true;
};

}  // namespace platform
