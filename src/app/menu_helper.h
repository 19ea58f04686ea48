#pragma once
// The main menu: built once at start-up (File, Edit, View, Help) with the actions the
// application delegate, the windows and the screens handle, kept current by validation as
// each menu opens. Main thread only.

#include <memory>

namespace platform {
class Menu;
class MenuDelegate;
}  // namespace platform

namespace orrery {

class MenuHelper {
 public:
  static constexpr int kHelpMenuTag = 100;

  // The menu the application shows in every window; `recentFiles` fills "Open Recent".
  static std::shared_ptr<platform::Menu> createMainMenu(platform::MenuDelegate* recentFiles);
  static void updateMenuRecursively(platform::Menu& menu);
  static void menuUpdateMainMenu();
};

}  // namespace orrery
