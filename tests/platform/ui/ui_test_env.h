#pragma once
// What the view tests share: the virtual media clock and the main-queue loop driven by it,
// and a modal presenter that answers from a script.

#include "platform/core/clock.h"
#include "platform/core/run_loop.h"
#include "platform/ui/menu.h"
#include "platform/ui/modal_presenter.h"

#include <deque>
#include <memory>

namespace uitest {

platform::VirtualClock& clock();
platform::RunLoop& loop();
// Runs what is due and moves the clock forward by `seconds`, firing timers in order.
void advance(double seconds);

// Answers alerts, menus and panels from queues filled by the test; records the requests.
class ScriptedPresenter : public platform::ModalPresenter {
 public:
  std::deque<int> alertAnswers;                // presenter codes (1000 + i, or kAlertDismissed)
  std::deque<int> menuAnswers;                 // item index, or -1 for closing without a choice
  std::deque<platform::FilePanelResult> panelAnswers;
  // Each sets up the printer as a user would (a PDF file, orientation, pages) and answers.
  std::deque<std::function<int(QPrinter&)>> printAnswers;
  int printPanels = 0;
  std::vector<platform::AlertRequest> alerts;
  std::vector<QPointF> menuLocations;
  std::vector<platform::FilePanelRequest> panels;

  int runAlert(const platform::AlertRequest& request) override;
  std::shared_ptr<platform::MenuItem> popUpMenu(platform::Menu& menu, QPointF location,
                                                platform::Window* window) override;
  void beginFilePanel(const platform::FilePanelRequest& request, platform::Window* window,
                      std::function<void(platform::FilePanelResult)> completion) override;
  int runPrintPanel(QPrinter& printer) override;
};

// Installs a fresh scripted presenter for the life of the object.
class PresenterScope {
 public:
  PresenterScope();
  ~PresenterScope();
  ScriptedPresenter& operator*() { return *mPresenter; }
  ScriptedPresenter* operator->() { return mPresenter.get(); }

 private:
  std::shared_ptr<ScriptedPresenter> mPresenter;
  std::shared_ptr<platform::ModalPresenter> mPrevious;
};

}  // namespace uitest
