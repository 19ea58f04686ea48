#include "ui_test_env.h"

#include "support/test_home.h"

#include "platform/core/dispatch.h"
#include "platform/core/quit_waiters.h"
#include "platform/ui/clipboard_text.h"
#include "platform/ui/web_view.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>


namespace uitest {
namespace {
std::shared_ptr<platform::VirtualClock> gClock;
std::shared_ptr<platform::RunLoop> gLoop;
}  // namespace

platform::VirtualClock& clock() { return *gClock; }
platform::RunLoop& loop() { return *gLoop; }
void advance(double seconds) { gLoop->advance(seconds); }

}  // namespace uitest

int main(int argc, char** argv) {
  static QTemporaryDir home;
  if (!home.isValid() || !testsupport::redirectStandardFolders(home.path())) return 2;
  platform::prepareWebEngineBeforeApplication();
  QApplication app(argc, argv);
  // Copies offer their exact text, as in the program.
  platform::offerExactTextOnTheClipboard();
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");
  uitest::gClock = std::make_shared<platform::VirtualClock>(1000.0);
  uitest::gLoop = std::make_shared<platform::RunLoop>(uitest::gClock);
  platform::setMediaClock(uitest::gClock);
  platform::installMainQueuePoster(uitest::gLoop);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  // As the application's quit does: background work that needs the application ends first.
  platform::runQuitWaiters();
  return result;
}
