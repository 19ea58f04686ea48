#include "ui_test_env.h"

#include "platform/core/dispatch.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>

namespace uitest {
namespace {
std::shared_ptr<platform::VirtualClock> gClock;
std::shared_ptr<platform::RunLoop> gLoop;
}  // namespace

platform::VirtualClock& clock() { return *gClock; }
platform::RunLoop& loop() { return *gLoop; }
void advance(double seconds) { gLoop->advance(seconds); }

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
  // Every standard folder points into a fresh temporary folder: no test touches the real home.
  static QTemporaryDir home;
  if (!home.isValid()) return 2;
  const QString root = home.path();
  const std::pair<const char*, QString> folders[] = {
      {"HOME", root}, {"XDG_CONFIG_HOME", root + "/config"}, {"XDG_DATA_HOME", root + "/data"},
      {"XDG_CACHE_HOME", root + "/cache"}, {"TMPDIR", root}};
  for (const auto& [name, path] : folders) {
    QDir().mkpath(path);
    qputenv(name, path.toUtf8());
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");
  uitest::gClock = std::make_shared<platform::VirtualClock>(1000.0);
  uitest::gLoop = std::make_shared<platform::RunLoop>(uitest::gClock);
  platform::setMediaClock(uitest::gClock);
  platform::installMainQueuePoster(uitest::gLoop);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
