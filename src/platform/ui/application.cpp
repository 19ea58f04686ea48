#include "platform/ui/application.h"

#include "platform/ui/menu.h"
#include "platform/ui/window.h"

#include <algorithm>

namespace platform {

Application& Application::shared() {
  static Application app;
  return app;
}

Responder* Application::targetForAction(const QString& action, Responder* target) {
  if (target) return target->respondsToAction(action) ? target : nullptr;
  Responder* start = this;
  if (mKeyWindow) start = mKeyWindow->firstResponder();
  return start->targetForAction(action);
}

bool Application::sendAction(const QString& action, Responder* target, const ActionSender& sender) {
  Responder* r = targetForAction(action, target);
  if (!r) return false;
  r->performAction(action, sender);
  return true;
}

void Application::setMainMenu(std::shared_ptr<Menu> menu) {
  mMainMenu = std::move(menu);
  mainMenuChanged();
}

void Application::mainMenuChanged() {
  ++mMainMenuGeneration;
  const auto windows = mWindows;
  for (Window* w : windows) w->mainMenuChanged();
}

void Application::updateMainMenu() {
  if (!mMainMenu) return;
  Window* window = eventWindow();
  mMainMenu->update(window ? window->firstResponder() : static_cast<Responder*>(this));
}

namespace {
std::shared_ptr<MenuItem> findKeyEquivalent(const Menu& menu, const Event& event) {
  for (const auto& item : menu.items()) {
    if (item->submenu()) {
      if (auto found = findKeyEquivalent(*item->submenu(), event)) return found;
    } else if (item->matchesKeyEquivalent(event)) {
      return item;
    }
  }
  return nullptr;
}
}  // namespace

std::shared_ptr<MenuItem> Application::itemForKeyEquivalent(const Event& event) const {
  return mMainMenu ? findKeyEquivalent(*mMainMenu, event) : nullptr;
}

bool Application::performKeyEquivalent(const Event& event) {
  auto item = itemForKeyEquivalent(event);
  if (!item) return false;
  auto keep = mMainMenu;
  updateMainMenu();
  if (item->isEnabled()) item->perform();
  return true;
}

int Application::addEventMonitor(EventMonitor monitor) {
  const int id = mNextMonitorId++;
  mMonitors.emplace(id, std::move(monitor));
  return id;
}

void Application::removeEventMonitor(int id) { mMonitors.erase(id); }

bool Application::runEventMonitors(const Event& event) {
  // Over a copy: a monitor may remove itself or others.
  const auto monitors = mMonitors;
  for (const auto& [id, monitor] : monitors)
    if (mMonitors.count(id) && monitor(event)) return true;
  return false;
}

void Application::addWindow(Window* window) {
  if (std::find(mWindows.begin(), mWindows.end(), window) == mWindows.end()) mWindows.push_back(window);
}

void Application::removeWindow(Window* window) {
  mWindows.erase(std::remove(mWindows.begin(), mWindows.end(), window), mWindows.end());
  if (mKeyWindow == window) mKeyWindow = nullptr;
  if (mEventWindow == window) mEventWindow = nullptr;
}

}  // namespace platform
