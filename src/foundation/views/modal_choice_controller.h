#pragma once
// A short list of choices popped up at the centre of a rectangle. A choice runs its block at
// once; a menu closed without a choice runs the cancel block exactly once, on a later turn of
// the main queue, and a choice always suppresses it.

#include "platform/ui/menu.h"

#include <QRectF>
#include <QString>

#include <functional>
#include <memory>

namespace platform {
class View;
}

namespace orrery {

class ModalChoiceController : public platform::MenuDelegate,
                              public std::enable_shared_from_this<ModalChoiceController> {
 public:
  static std::shared_ptr<ModalChoiceController> create();

  // A titled choice, or with an empty (null) title the cancel block, replacing an earlier one.
  void addButton(const QString& title, std::function<void()> onClick);
  // Returns once the menu has closed.
  void showModallyFromRect(const QRectF& rect, platform::View* view);

  void onMenuItem(platform::MenuItem& item);
  void menuDidClose(platform::Menu& menu) override;
  const std::shared_ptr<platform::Menu>& menu() const { return mMenu; }

 private:
  ModalChoiceController();
  std::shared_ptr<platform::Menu> mMenu;
  std::function<void()> mCancelBlock;
};

}  // namespace orrery
