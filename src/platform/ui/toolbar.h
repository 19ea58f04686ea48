#pragma once
// A window's toolbar: items made by its delegate from identifiers, shown as a fixed QToolBar at
// the top of the window, text under the icon. Items whose identifiers the delegate calls
// selectable are checkable and at most one of them is checked: the selected identifier. An
// item naming an action is validated like a menu item, along the window's responder chain,
// whenever the window becomes key, its first responder changes, or validateVisibleItems runs.
// Main thread only.

#include "platform/ui/responder.h"
#include "platform/ui/weak_ref.h"

#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QToolBar;

namespace platform {

class Toolbar;
class Window;

// The identifier of a space that takes whatever width the other items leave.
inline const QString kToolbarFlexibleSpaceItemIdentifier = QStringLiteral("FlexibleSpaceItem");

class ToolbarItem {
 public:
  using Handler = std::function<void(ToolbarItem&)>;

  explicit ToolbarItem(QString itemIdentifier);
  ~ToolbarItem();
  ToolbarItem(const ToolbarItem&) = delete;
  ToolbarItem& operator=(const ToolbarItem&) = delete;

  const QString& itemIdentifier() const { return mIdentifier; }
  QString label() const;
  void setLabel(const QString& label);
  QIcon image() const;
  void setImage(const QIcon& image);
  int tag() const { return mTag; }
  void setTag(int tag) { mTag = tag; }
  bool isEnabled() const;
  void setEnabled(bool enabled);

  // What a click does: the handler when there is one, else the action sent to the target, or
  // along the window's chain from its first responder.
  const Handler& handler() const { return mHandler; }
  void setHandler(Handler handler) { mHandler = std::move(handler); }
  const QString& action() const { return mAction; }
  void setAction(QString action) { mAction = std::move(action); }
  Responder* target() const { return mTarget.get(); }
  void setTarget(Responder* target) { mTarget.reset(target); }

  Toolbar* toolbar() const { return mToolbar; }
  bool isFlexibleSpace() const { return mIdentifier == kToolbarFlexibleSpaceItemIdentifier; }
  // The Qt action showing the item; owned by it.
  QAction* qAction() const { return mQAction; }

 private:
  friend class Toolbar;
  Responder* resolvedTarget() const;

  QString mIdentifier;
  QAction* mQAction = nullptr;  // owned here; a flexible space's action owns its spacer widget
  Handler mHandler;
  QString mAction;
  WeakRef<Responder> mTarget;
  int mTag = 0;
  Toolbar* mToolbar = nullptr;  // the toolbar holding the item; cleared when it lets the item go
};

class ToolbarDelegate : public virtual Trackable {
 public:
  virtual QStringList toolbarAllowedItemIdentifiers(Toolbar& toolbar) = 0;
  virtual QStringList toolbarDefaultItemIdentifiers(Toolbar& toolbar) = 0;
  virtual QStringList toolbarSelectableItemIdentifiers(Toolbar& /*toolbar*/) { return {}; }
  // A new item for an allowed identifier, or null; the flexible space is made by the toolbar.
  virtual std::shared_ptr<ToolbarItem> toolbarItemForItemIdentifier(Toolbar& toolbar, const QString& identifier,
                                                                     bool willBeInsertedIntoToolbar) = 0;
};

class Toolbar {
 public:
  explicit Toolbar(QString identifier);
  ~Toolbar();
  Toolbar(const Toolbar&) = delete;
  Toolbar& operator=(const Toolbar&) = delete;

  const QString& identifier() const { return mIdentifier; }
  ToolbarDelegate* delegate() const { return mDelegate.get(); }
  // A toolbar without items fills itself with the delegate's default identifiers.
  void setDelegate(ToolbarDelegate* delegate);

  const std::vector<std::shared_ptr<ToolbarItem>>& items() const { return mItems; }
  const std::vector<std::shared_ptr<ToolbarItem>>& visibleItems() const { return mItems; }
  // Asks the delegate for the item (identifiers it does not allow are refused) and places it at
  // `index`, limited to the end.
  void insertItemWithItemIdentifier(const QString& identifier, int index);
  void removeItemAtIndex(int index);

  // Empty when no selectable item is selected. Selecting an identifier that is not selectable
  // leaves the selection as it is.
  QString selectedItemIdentifier() const { return mSelected; }
  void setSelectedItemIdentifier(const QString& identifier);

  // Enables each action item whose target (explicit or along the chain) exists and accepts it.
  void validateVisibleItems();

  Window* window() const { return mWindow; }
  QToolBar* widget() const;

 private:
  friend class Window;
  void attach(Window* window);
  void itemTriggered(ToolbarItem& item);
  void showSelection();

  QString mIdentifier;
  WeakRef<ToolbarDelegate> mDelegate;
  std::vector<std::shared_ptr<ToolbarItem>> mItems;
  QString mSelected;
  Window* mWindow = nullptr;  // the window showing the toolbar; it clears this when it goes
  QPointer<QToolBar> mWidget;  // owned here until a window's frame adopts it
};

}  // namespace platform
