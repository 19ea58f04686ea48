#pragma once
// A modal presenter that answers alerts, pop-up menus, file panels and print panels from
// queues the test fills, and records what was asked. Any suite on the view kit uses this one
// copy (the kit's, the shell's, the panels', the exports', the application's tests).
// Main thread only.

#include "platform/ui/menu.h"
#include "platform/ui/modal_presenter.h"

#include <QPointF>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QPrinter;

namespace testsupport {

class ScriptedPresenter : public platform::ModalPresenter {
 public:
  std::deque<int> alertAnswers;  // presenter codes (1000 + i, or kAlertDismissed)
  std::deque<int> menuAnswers;   // item index, or -1 for closing without a choice
  std::deque<platform::FilePanelResult> panelAnswers;
  // Each sets up the printer as a user would (a PDF file, orientation, pages) and answers.
  std::deque<std::function<int(QPrinter&)>> printAnswers;
  int printPanels = 0;
  std::vector<platform::AlertRequest> alerts;
  std::vector<QPointF> menuLocations;
  std::vector<platform::FilePanelRequest> panels;

  // With no answer queued: the alert is dismissed, the menu closes without a choice, the file
  // panel and the print panel are cancelled.
  int runAlert(const platform::AlertRequest& request) override;
  std::shared_ptr<platform::MenuItem> popUpMenu(platform::Menu& menu, QPointF location,
                                                platform::Window* window) override;
  // Answers one main-queue turn later, as a sheet would.
  void beginFilePanel(const platform::FilePanelRequest& request, platform::Window* window,
                      std::function<void(platform::FilePanelResult)> completion) override;
  int runPrintPanel(QPrinter& printer) override;
};

// Installs a fresh scripted presenter for the life of the object and puts the previous back.
class PresenterScope {
 public:
  PresenterScope();
  ~PresenterScope();
  PresenterScope(const PresenterScope&) = delete;
  PresenterScope& operator=(const PresenterScope&) = delete;
  ScriptedPresenter& operator*() { return *mPresenter; }
  ScriptedPresenter* operator->() { return mPresenter.get(); }

 private:
  std::shared_ptr<ScriptedPresenter> mPresenter;
  std::shared_ptr<platform::ModalPresenter> mPrevious;
};

}  // namespace testsupport
