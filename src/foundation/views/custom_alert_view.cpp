#include "foundation/views/custom_alert_view.h"

#include "platform/ui/modal_presenter.h"

namespace orrery {

CustomAlertView::CustomAlertView(const QString& title, const QString& message)
    : mTitle(title), mText(message) {}

void CustomAlertView::addButton(const QString& title, unsigned buttonType, std::function<void()> onClick) {
  mButtons.push_back({title, buttonType, std::move(onClick)});
}

void CustomAlertView::showFromWindow(platform::Window* window) {
  (void)window;  // application-modal, not a sheet
  platform::AlertRequest request;
  request.messageText = mTitle;
  request.informativeText = mText;
  for (const auto& b : mButtons) {
    auto role = platform::AlertButton::Role::Normal;
    if (b.buttonType == CAVButton::kCancel) role = platform::AlertButton::Role::Cancel;
    if (b.buttonType == CAVButton::kDestructive) role = platform::AlertButton::Role::Destructive;
    request.buttons.push_back({b.title, role});
  }
  mShowing = true;
  int answer = platform::runModalAlert(request);
  if (answer <= 999) answer = platform::kAlertFirstButtonReturn;
  handleResultWithButtonIndex(answer - platform::kAlertFirstButtonReturn);
}

void CustomAlertView::handleResultWithButtonIndex(long index) {
  if (!mShowing) return;
  auto buttons = std::move(mButtons);
  mButtons.clear();
  mShowing = false;
  if (index < 0 || index >= static_cast<long>(buttons.size())) return;
  if (const auto& block = buttons[static_cast<size_t>(index)].block) block();
}

void CustomAlertView::showErrorResult(const MyResultPtr& result) {
  platform::AlertRequest request;
  request.informativeText = result ? result->description() : QString();
  platform::runModalAlert(request);
}

}  // namespace orrery
