#include "platform/ui/font_warm_up.h"

#include <QFontDatabase>
#include <QStringList>

#include <fontconfig/fontconfig.h>

namespace platform {

// Qt reads the same process-wide configuration later and finds it read.
FontConfigurationWarmUp::FontConfigurationWarmUp() : mThread([] { FcInit(); }) {}

FontConfigurationWarmUp::~FontConfigurationWarmUp() { wait(); }

void FontConfigurationWarmUp::wait() {
  std::call_once(mJoined, [this] {
    if (mThread.joinable()) mThread.join();
  });
}

// The font database guards itself: the main thread asking meanwhile waits for the load.
FontDatabaseWarmUp::FontDatabaseWarmUp(FontConfigurationWarmUp& configuration)
    : mThread([&configuration] {
        configuration.wait();
        QFontDatabase::families();
      }) {}

FontDatabaseWarmUp::~FontDatabaseWarmUp() {
  if (mThread.joinable()) mThread.join();
}

}  // namespace platform
