#include "home/home_screens.h"

#include "home/home_view_controller.h"
#include "platform/services/date_formatter.h"
#include "shell/screen_factory.h"

namespace orrery {

void installHomeScreens() {
  // The tiles' dates: the locale's date patterns are made meanwhile, off the main thread.
  platform::prepareDatePatterns();
  // The other screens keep their parts of the factory.
  ScreenFactory factory = screenFactory();
  factory.makeHome = [](DocumentLocation location, const QString& searchText) {
    return std::static_pointer_cast<BaseViewController>(HomeViewController::create(location, searchText));
  };
  factory.makeHomeForRestoration = [] {
    return std::static_pointer_cast<BaseViewController>(HomeViewController::createForRestoration());
  };
  setScreenFactory(std::move(factory));
}

}  // namespace orrery
