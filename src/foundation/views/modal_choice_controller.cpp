#include "foundation/views/modal_choice_controller.h"

#include "platform/core/dispatch.h"
#include "platform/ui/view.h"

namespace orrery {

using ChoiceBlock = std::function<void()>;

ModalChoiceController::ModalChoiceController() : mMenu(std::make_shared<platform::Menu>(QString())) {
  mMenu->setDelegate(this);
  mMenu->setAutoenablesItems(false);
}

std::shared_ptr<ModalChoiceController> ModalChoiceController::create() {
  return std::shared_ptr<ModalChoiceController>(new ModalChoiceController());
}

void ModalChoiceController::addButton(const QString& title, std::function<void()> onClick) {
  if (title.isNull()) {
    mCancelBlock = std::move(onClick);
    return;
  }
  auto item = std::make_shared<platform::MenuItem>();
  item->setTitle(title);
  item->setRepresentedObject(ChoiceBlock(std::move(onClick)));
  platform::WeakRef<platform::MenuDelegate> self(this);
  item->setHandler([self](platform::MenuItem& chosen) {
    if (auto* me = dynamic_cast<ModalChoiceController*>(self.get())) me->onMenuItem(chosen);
  });
  mMenu->addItem(item);
}

void ModalChoiceController::showModallyFromRect(const QRectF& rect, platform::View* view) {
  auto keep = shared_from_this();
  mMenu->popUp(QPointF(rect.x() + rect.width() * 0.5, rect.y() + rect.height() * 0.5), view);
}

void ModalChoiceController::onMenuItem(platform::MenuItem& item) {
  mCancelBlock = nullptr;
  if (const auto* block = std::any_cast<ChoiceBlock>(&item.representedObject()); block && *block) {
    ChoiceBlock run = *block;
    run();
  }
}

void ModalChoiceController::menuDidClose(platform::Menu& menu) {
  (void)menu;
  auto self = shared_from_this();
  platform::mainQueue().async([self] {
    auto cancel = std::move(self->mCancelBlock);
    self->mCancelBlock = nullptr;
    if (cancel) cancel();
  });
}

}  // namespace orrery
