#include "platform/ui/modal_presenter.h"

#include "platform/ui/qt_modal_presenter.h"

namespace platform {
namespace {

std::shared_ptr<ModalPresenter>& slot() {
  static std::shared_ptr<ModalPresenter> presenter = std::make_shared<QtModalPresenter>();
  return presenter;
}

}  // namespace

ModalPresenter& modalPresenter() { return *slot(); }

std::shared_ptr<ModalPresenter> setModalPresenter(std::shared_ptr<ModalPresenter> presenter) {
  if (!presenter) presenter = std::make_shared<QtModalPresenter>();
  auto old = slot();
  slot() = std::move(presenter);
  return old;
}

int alertEscapeButtonIndex(const AlertRequest& request) {
  for (size_t i = 0; i < request.buttons.size(); ++i)
    if (request.buttons[i].role == AlertButton::Role::Cancel) return static_cast<int>(i);
  return 0;
}

int runModalAlert(const AlertRequest& original) {
  AlertRequest request = original;
  if (request.buttons.empty()) request.buttons.push_back({QStringLiteral("OK"), AlertButton::Role::Normal});
  const int answer = modalPresenter().runAlert(request);
  if (answer == kAlertDismissed) return kAlertFirstButtonReturn + alertEscapeButtonIndex(request);
  return answer;
}

void beginFilePanel(const FilePanelRequest& request, Window* window,
                    std::function<void(FilePanelResult)> completion) {
  modalPresenter().beginFilePanel(request, window, std::move(completion));
}

}  // namespace platform
