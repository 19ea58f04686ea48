#pragma once
// The main menu shown in one window's QMenuBar. Private to the kit: the bar is rebuilt from
// the application's menu model whenever the model changes, each menu validates its items
// along the key window's chain before it opens, and a chosen item fires only when it is still
// enabled. Key equivalents are shown as text only: the kit matches them itself, so Qt
// shortcuts never compete with the first responder. Main thread only.

#include <cstdint>
#include <memory>

class QMenu;
class QMenuBar;

namespace platform {

class Menu;
class Window;

class MenuBarBridge {
 public:
  MenuBarBridge(Window& window, QMenuBar* bar);
  // Builds the bar from the main menu unless it is current.
  void rebuild();
  QMenuBar* bar() const { return mBar; }

 private:
  void fill(QMenu* qmenu, const std::shared_ptr<Menu>& menu);
  void populate(QMenu* qmenu, const std::shared_ptr<Menu>& menu);

  Window& mWindow;
  QMenuBar* mBar;  // owned by the window's frame
  std::uint64_t mGeneration = UINT64_MAX;
};

}  // namespace platform
