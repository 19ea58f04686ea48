#include "platform/ui/font_warm_up.h"

#include <QFontDatabase>
#include <QStringList>

namespace platform {

// The font database guards itself: the main thread asking meanwhile waits for the load.
FontDatabaseWarmUp::FontDatabaseWarmUp() : mThread([] { QFontDatabase::families(); }) {}

FontDatabaseWarmUp::~FontDatabaseWarmUp() {
  if (mThread.joinable()) mThread.join();
}

}  // namespace platform
