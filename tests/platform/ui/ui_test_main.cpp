#include "ui_test_env.h"

#include "support/test_home.h"

#include "platform/core/dispatch.h"
#include "platform/core/quit_waiters.h"
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

int ScriptedPresenter::runPrintPanel(QPrinter& printer) {
  ++printPanels;
  if (printAnswers.empty()) return platform::kModalResponseCancel;
  const auto answer = std::move(printAnswers.front());
  printAnswers.pop_front();
  return answer(printer);
}

int ScriptedPresenter::runAlert(const platform::AlertRequest& request) {
  alerts.push_back(request);
  if (alertAnswers.empty()) return platform::kAlertDismissed;
  const int answer = alertAnswers.front();
  alertAnswers.pop_front();
  return answer;
}

std::shared_ptr<platform::MenuItem> ScriptedPresenter::popUpMenu(platform::Menu& menu, QPointF location,
                                                                 platform::Window* window) {
  (void)window;
  menuLocations.push_back(location);
  if (menuAnswers.empty()) return nullptr;
  const int index = menuAnswers.front();
  menuAnswers.pop_front();
  if (index < 0 || index >= menu.numberOfItems()) return nullptr;
  return menu.items()[static_cast<size_t>(index)];
}

void ScriptedPresenter::beginFilePanel(const platform::FilePanelRequest& request, platform::Window* window,
                                       std::function<void(platform::FilePanelResult)> completion) {
  (void)window;
  panels.push_back(request);
  platform::FilePanelResult result;
  if (!panelAnswers.empty()) {
    result = panelAnswers.front();
    panelAnswers.pop_front();
  }
  platform::mainQueue().async([completion, result] { completion(result); });
}

PresenterScope::PresenterScope() : mPresenter(std::make_shared<ScriptedPresenter>()) {
  mPrevious = platform::setModalPresenter(mPresenter);
}

PresenterScope::~PresenterScope() { platform::setModalPresenter(mPrevious); }

}  // namespace uitest

int main(int argc, char** argv) {
  static QTemporaryDir home;
  if (!home.isValid() || !testsupport::redirectStandardFolders(home.path())) return 2;
  platform::prepareWebEngineBeforeApplication();
  QApplication app(argc, argv);
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
