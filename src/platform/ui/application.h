#pragma once
// The process's application object: the end of every responder chain (its delegate gets
// what nobody else handled), the list of windows, the key window and action sending.

#include "platform/ui/first_frame.h"
#include "platform/ui/responder.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace platform {

class Menu;
class MenuItem;
class Window;

class Application : public Responder {
 public:
  static Application& shared();

  // The application delegate: the last responder of every chain.
  Responder* delegate() const { return mDelegate.get(); }
  void setDelegate(Responder* delegate) { mDelegate.reset(delegate); }
  Responder* nextResponder() const override { return mDelegate.get(); }

  const std::vector<Window*>& windows() const { return mWindows; }
  Window* keyWindow() const { return mKeyWindow; }
  // The window handling the current event, else the key window.
  Window* eventWindow() const { return mEventWindow ? mEventWindow : mKeyWindow; }

  // Sends an action to `target`, or along the key window's chain from its first responder
  // (the application and its delegate last). False when nobody handles it.
  bool sendAction(const QString& action, Responder* target = nullptr, const ActionSender& sender = {});
  Responder* targetForAction(const QString& action, Responder* target = nullptr);

  // Local event monitors see every event a window is about to handle, in the order they were
  // added; one answering true swallows it. Transient panels close on outside clicks this way.
  using EventMonitor = std::function<bool(const Event& event)>;
  int addEventMonitor(EventMonitor monitor);
  void removeEventMonitor(int id);
  // Called by the windows; true when a monitor swallowed the event.
  bool runEventMonitors(const Event& event);

  // The main menu: every window shows it in its own menu bar (there is no global one). Its
  // top-level items' submenus are the bar's menus.
  const std::shared_ptr<Menu>& mainMenu() const { return mMainMenu; }
  void setMainMenu(std::shared_ptr<Menu> menu);
  // The menu bars rebuild from the model (after items were added, removed or retitled).
  void mainMenuChanged();
  // Counts main-menu changes; a menu bar built at an older count rebuilds.
  std::uint64_t mainMenuGeneration() const { return mMainMenuGeneration; }
  // Validates the whole main menu along the event window's (else the key window's) chain, from its first responder to
  // the application delegate; menu delegates are asked to update first.
  void updateMainMenu();
  // Key equivalents are matched before the first responder sees the key: the first item of
  // the main menu whose equivalent matches is validated now and fires when enabled. True when
  // an item matched (a disabled one swallows the key and does nothing).
  bool performKeyEquivalent(const Event& event);
  // The item whose key equivalent matches, or null.
  std::shared_ptr<MenuItem> itemForKeyEquivalent(const Event& event) const;

  // Work the first frame does not need waits for the first frame any window draws.
  FirstFrameWaiters& firstFrame() { return mFirstFrame; }

  // Kept by the windows themselves.
  void addWindow(Window* window);
  void removeWindow(Window* window);
  void setKeyWindow(Window* window) { mKeyWindow = window; }
  void setEventWindow(Window* window) { mEventWindow = window; }

 private:
  WeakRef<Responder> mDelegate;
  std::vector<Window*> mWindows;
  Window* mKeyWindow = nullptr;
  Window* mEventWindow = nullptr;
  std::map<int, EventMonitor> mMonitors;
  std::shared_ptr<Menu> mMainMenu;
  std::uint64_t mMainMenuGeneration = 0;
  int mNextMonitorId = 1;
  FirstFrameWaiters mFirstFrame;
};

}  // namespace platform
