#pragma once
// An application-modal question with a title, a message and buttons, each with its own
// block. Closing it with Escape or the close box answers the cancelling button (type 3),
// and the first button only when there is none, so that a destructive first button ("Delete",
// "Save") never runs by accident.

#include "foundation/my_result.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace platform {
class Window;
}

namespace orrery {

struct CAVButton {
  // Button types as callers use them.
  static constexpr unsigned kOrdinary = 1;
  static constexpr unsigned kDestructive = 2;
  static constexpr unsigned kCancel = 3;

  QString title;
  unsigned buttonType = kOrdinary;
  std::function<void()> block;
};

class CustomAlertView {
 public:
  CustomAlertView(const QString& title, const QString& message);

  void addButton(const QString& title, unsigned buttonType, std::function<void()> onClick);
  const std::vector<CAVButton>& buttons() const { return mButtons; }
  // Shows the alert application-modal (the window is not used) and returns after the chosen
  // button's block has run.
  void showFromWindow(platform::Window* window);
  // Runs the chosen button's block once; later calls do nothing.
  void handleResultWithButtonIndex(long index);
  // Shows the result's text in an alert with one button.
  static void showErrorResult(const MyResultPtr& result);

 private:
  std::vector<CAVButton> mButtons;
  QString mTitle;
  QString mText;
  bool mShowing = false;  // stands for the platform alert while it is on screen
};

}  // namespace orrery
