#include "platform/ui/toolbar.h"

#include "platform/ui/responder.h"
#include "platform/ui/window.h"

#include <QAction>
#include <QSizePolicy>
#include <QToolBar>
#include <QWidget>
#include <QWidgetAction>

#include <algorithm>

namespace platform {

ToolbarItem::ToolbarItem(QString itemIdentifier) : mIdentifier(std::move(itemIdentifier)) {
  if (isFlexibleSpace()) {
    auto* space = new QWidgetAction(nullptr);
    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    space->setDefaultWidget(spacer);  // the action owns it
    mQAction = space;
  } else {
    mQAction = new QAction(nullptr);
  }
}

ToolbarItem::~ToolbarItem() { delete mQAction; }

QString ToolbarItem::label() const { return mQAction->text(); }
void ToolbarItem::setLabel(const QString& label) { mQAction->setText(label); }
QIcon ToolbarItem::image() const { return mQAction->icon(); }
void ToolbarItem::setImage(const QIcon& image) { mQAction->setIcon(image); }
bool ToolbarItem::isEnabled() const { return mQAction->isEnabled(); }
void ToolbarItem::setEnabled(bool enabled) { mQAction->setEnabled(enabled); }

Responder* ToolbarItem::resolvedTarget() const {
  if (mAction.isEmpty()) return nullptr;
  if (Responder* target = mTarget.get(); target && target->respondsToAction(mAction)) return target;
  if (mTarget.get()) return nullptr;
  Window* window = mToolbar ? mToolbar->window() : nullptr;
  return window ? window->firstResponder()->targetForAction(mAction) : nullptr;
}

Toolbar::Toolbar(QString identifier) : mIdentifier(std::move(identifier)), mWidget(new QToolBar) {
  mWidget->setObjectName(mIdentifier);
  mWidget->setMovable(false);
  mWidget->setFloatable(false);
  mWidget->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  // The window's context menu would let the user hide a toolbar that has no way back.
  mWidget->toggleViewAction()->setEnabled(false);
  mWidget->setContextMenuPolicy(Qt::PreventContextMenu);
}

Toolbar::~Toolbar() {
  for (auto& item : mItems) item->mToolbar = nullptr;
  mItems.clear();
  delete mWidget.data();
}

void Toolbar::setDelegate(ToolbarDelegate* delegate) {
  mDelegate.reset(delegate);
  if (!delegate || !mItems.empty()) return;
  const QStringList identifiers = delegate->toolbarDefaultItemIdentifiers(*this);
  for (const QString& identifier : identifiers) insertItemWithItemIdentifier(identifier, static_cast<int>(mItems.size()));
}

void Toolbar::insertItemWithItemIdentifier(const QString& identifier, int index) {
  ToolbarDelegate* delegate = mDelegate.get();
  if (!delegate || !delegate->toolbarAllowedItemIdentifiers(*this).contains(identifier)) return;
  std::shared_ptr<ToolbarItem> item =
      identifier == kToolbarFlexibleSpaceItemIdentifier
          ? std::make_shared<ToolbarItem>(identifier)
          : delegate->toolbarItemForItemIdentifier(*this, identifier, /*willBeInsertedIntoToolbar=*/true);
  if (!item || item->mToolbar) return;
  index = std::clamp(index, 0, static_cast<int>(mItems.size()));
  item->mToolbar = this;
  QAction* action = item->qAction();
  action->setCheckable(delegate->toolbarSelectableItemIdentifiers(*this).contains(identifier));
  ToolbarItem* raw = item.get();
  QObject::connect(action, &QAction::triggered, action, [this, raw] { itemTriggered(*raw); });
  QAction* before = index < static_cast<int>(mItems.size()) ? mItems[static_cast<size_t>(index)]->qAction() : nullptr;
  mWidget->insertAction(before, action);
  mItems.insert(mItems.begin() + index, std::move(item));
  showSelection();
  validateVisibleItems();
}

void Toolbar::removeItemAtIndex(int index) {
  if (index < 0 || index >= static_cast<int>(mItems.size())) return;
  auto item = mItems[static_cast<size_t>(index)];
  mItems.erase(mItems.begin() + index);
  mWidget->removeAction(item->qAction());
  QObject::disconnect(item->qAction(), &QAction::triggered, nullptr, nullptr);
  item->mToolbar = nullptr;
}

void Toolbar::setSelectedItemIdentifier(const QString& identifier) {
  ToolbarDelegate* delegate = mDelegate.get();
  if (!delegate || !delegate->toolbarSelectableItemIdentifiers(*this).contains(identifier)) return;
  mSelected = identifier;
  showSelection();
}

void Toolbar::showSelection() {
  for (auto& item : mItems)
    if (item->qAction()->isCheckable()) item->qAction()->setChecked(item->itemIdentifier() == mSelected);
}

void Toolbar::validateVisibleItems() {
  for (auto& item : mItems) {
    if (item->handler() || item->action().isEmpty()) continue;
    Responder* target = item->resolvedTarget();
    item->setEnabled(target && target->validateToolbarItem(*item));
  }
}

void Toolbar::itemTriggered(ToolbarItem& item) {
  auto keep = std::find_if(mItems.begin(), mItems.end(), [&](const auto& each) { return each.get() == &item; });
  if (keep == mItems.end()) return;
  std::shared_ptr<ToolbarItem> held = *keep;
  // A click on a checked item would uncheck it; the selection decides instead.
  if (item.qAction()->isCheckable()) setSelectedItemIdentifier(item.itemIdentifier());
  showSelection();
  if (item.handler()) {
    item.handler()(item);
    return;
  }
  Responder* target = item.resolvedTarget();
  if (target && target->validateToolbarItem(item)) {
    ActionSender sender;
    sender.toolbarItem = &item;
    target->performAction(item.action(), sender);
  }
}

QToolBar* Toolbar::widget() const { return mWidget.data(); }

void Toolbar::attach(Window* window) {
  mWindow = window;
  validateVisibleItems();
}

}  // namespace platform
