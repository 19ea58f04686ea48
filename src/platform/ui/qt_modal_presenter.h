#pragma once
// The presenter the application uses: QMessageBox alerts, QMenu pop-ups and window-modal
// QFileDialog panels, the QPrintDialog.

#include "platform/ui/modal_presenter.h"

class QMenu;

namespace platform {

class QtModalPresenter final : public ModalPresenter {
 public:
  int runAlert(const AlertRequest& request) override;
  std::shared_ptr<MenuItem> popUpMenu(Menu& menu, QPointF locationInWindow, Window* window) override;
  void beginFilePanel(const FilePanelRequest& request, Window* window,
                      std::function<void(FilePanelResult)> completion) override;
  int runPrintPanel(QPrinter& printer) override;
};

// Fills a QMenu from a menu model; chosen actions carry their item (QAction data index).
void fillQMenu(QMenu& qmenu, const Menu& menu, std::vector<std::shared_ptr<MenuItem>>& itemsByIndex);

}  // namespace platform
