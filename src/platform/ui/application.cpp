#include "platform/ui/application.h"

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
