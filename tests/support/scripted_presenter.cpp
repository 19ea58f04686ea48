#include "support/scripted_presenter.h"

#include "platform/core/dispatch.h"

namespace testsupport {

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
                                                                 platform::Window* /*window*/) {
  menuLocations.push_back(location);
  if (menuAnswers.empty()) return nullptr;
  const int index = menuAnswers.front();
  menuAnswers.pop_front();
  if (index < 0 || index >= menu.numberOfItems()) return nullptr;
  return menu.items()[static_cast<size_t>(index)];
}

void ScriptedPresenter::beginFilePanel(const platform::FilePanelRequest& request, platform::Window* /*window*/,
                                       std::function<void(platform::FilePanelResult)> completion) {
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

}  // namespace testsupport
