#pragma once
// The edit popover's tab bar: text, colour and icon tabs and a done button, each a quarter of
// the width. A press on a tab selects it and tells the delegate, also when it is already
// selected; the done button asks for the panel to close. Main thread only.

#include "foundation/views/base_view.h"
#include "foundation/views/button_view.h"
#include "platform/ui/weak_ref.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace orrery {

enum EditIdeaTab : std::int64_t { EditIdeaTabText = 0, EditIdeaTabColor = 1, EditIdeaTabIcon = 2 };

class EditViewTabBar;

class EditViewTabBarDelegate : public virtual platform::Trackable {
 public:
  virtual void editViewTabBarUserSelectedItem(EditViewTabBar& bar, std::int64_t item) = 0;
  virtual void pleaseCloseEditView() = 0;
};

class EditViewTabBar : public BaseView, public ButtonViewDelegate {
 public:
  static constexpr float kDesiredHeight = 61.0f;
  static float desiredHeight() { return kDesiredHeight; }

  EditViewTabBar();

  EditViewTabBarDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(EditViewTabBarDelegate* delegate) { mDelegate.reset(delegate); }

  std::int64_t currentSelection() const { return mCurrentSelection; }
  void setCurrentSelection(std::int64_t selection);
  double buttonWidth() const { return bounds().width() * 0.25; }
  void addOption(std::int64_t index, const QString& title);
  std::shared_ptr<ButtonView> addDoneButton(std::int64_t slot);

  const std::vector<std::shared_ptr<ButtonView>>& tabControls() const { return mTabControls; }
  const std::shared_ptr<ButtonView>& doneButton() const { return mDoneButton; }

  void buttonPressed(ButtonView& button) override;
  void applyLayout() override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

 private:
  std::vector<std::shared_ptr<ButtonView>> mTabControls;
  std::int64_t mCurrentSelection = 0;
  std::shared_ptr<ButtonView> mDoneButton;
  platform::WeakRef<EditViewTabBarDelegate> mDelegate;
};

}  // namespace orrery
