#include "platform/ui/menu.h"

#include "platform/ui/application.h"
#include "platform/ui/key_matching.h"
#include "platform/ui/modal_presenter.h"
#include "platform/ui/view.h"
#include "platform/ui/window.h"

#include <algorithm>

namespace platform {

std::shared_ptr<MenuItem> MenuItem::separator() {
  auto item = std::make_shared<MenuItem>();
  item->mSeparator = true;
  item->mEnabled = false;
  return item;
}

void MenuItem::perform(Responder* chainStart) {
  if (mHandler) {
    Handler handler = mHandler;
    handler(*this);
    return;
  }
  if (mAction.isEmpty()) return;
  if (!mTarget && chainStart) {
    if (Responder* target = chainStart->targetForAction(mAction)) target->performAction(mAction, {this, nullptr});
    return;
  }
  Application::shared().sendAction(mAction, mTarget.get(), {this, nullptr});
}

bool MenuItem::matchesKeyEquivalent(const Event& event) const {
  if (mKeyEquivalent.isEmpty() || mSeparator) return false;
  if (eventMatchesKeySequence(event, keySequenceFor(mKeyEquivalent, mModifiers))) return true;
  for (const QString& key : mAlternateKeys)
    if (eventMatchesKeySequence(event, keySequenceFor(key, mModifiers))) return true;
  return false;
}

void Menu::itemChanged(const MenuItem* /*item*/) { Application::shared().mainMenuChanged(); }

std::shared_ptr<MenuItem> Menu::addItem(std::shared_ptr<MenuItem> item) {
  if (!item) return item;
  item->mMenu = this;
  mItems.push_back(item);
  return item;
}

std::shared_ptr<MenuItem> Menu::addItem(QString title, MenuItem::Handler handler, QString keyEquivalent) {
  return addItem(std::make_shared<MenuItem>(std::move(title), std::move(handler), std::move(keyEquivalent)));
}

std::shared_ptr<MenuItem> Menu::addActionItem(QString title, QString action, QString keyEquivalent) {
  return addItem(std::make_shared<MenuItem>(std::move(title), std::move(action), std::move(keyEquivalent)));
}

void Menu::insertItem(std::shared_ptr<MenuItem> item, int index) {
  if (!item) return;
  item->mMenu = this;
  index = std::clamp(index, 0, numberOfItems());
  mItems.insert(mItems.begin() + index, std::move(item));
}

void Menu::removeItem(const MenuItem* item) {
  mItems.erase(std::remove_if(mItems.begin(), mItems.end(), [&](const auto& i) { return i.get() == item; }),
               mItems.end());
}

void Menu::removeAllItems() { mItems.clear(); }

std::shared_ptr<MenuItem> Menu::itemWithTag(int tag) const {
  for (const auto& i : mItems)
    if (i->tag() == tag) return i;
  return nullptr;
}

int Menu::indexOfItem(const MenuItem* item) const {
  for (size_t i = 0; i < mItems.size(); ++i)
    if (mItems[i].get() == item) return static_cast<int>(i);
  return -1;
}

void Menu::update(Responder* start) {
  if (MenuDelegate* d = mDelegate.get()) d->menuNeedsUpdate(*this);
  auto items = mItems;  // the delegate may have changed the list
  for (auto& item : items) {
    if (item->submenu()) item->submenu()->update(start);
    if (!mAutoenables || item->isSeparator() || item->handler() || item->action().isEmpty()) continue;
    Responder* target = item->target();
    if (target && !target->respondsToAction(item->action())) target = nullptr;
    if (!item->target()) target = start ? start->targetForAction(item->action())
                                        : Application::shared().targetForAction(item->action());
    item->setEnabled(target && target->validateUserInterfaceItem(*item));
  }
}

bool Menu::popUp(QPointF location, View* view) {
  auto keep = shared_from_this();
  Window* window = view ? view->window() : Application::shared().keyWindow();
  const QPointF inWindow = view ? view->convertPointToView(location, nullptr) : location;
  // Validated and performed along the same chain: the one of the window the menu belongs to.
  Responder* chainStart = window ? window->firstResponder() : nullptr;
  update(chainStart);
  if (MenuDelegate* d = mDelegate.get()) d->menuWillOpen(*this);
  std::shared_ptr<MenuItem> chosen = modalPresenter().popUpMenu(*this, inWindow, window);
  if (MenuDelegate* d = mDelegate.get()) d->menuDidClose(*this);
  if (chosen && chosen->isEnabled() && !chosen->isSeparator()) {
    chosen->perform(chainStart);
    return true;
  }
  return false;
}

void Menu::popUpContextMenu(const std::shared_ptr<Menu>& menu, const Event& event, View* view) {
  if (!menu) return;
  const QPointF location = view ? view->convertPoint(event.locationInWindow, nullptr) : event.locationInWindow;
  menu->popUp(location, view);
}

}  // namespace platform
