#pragma once
// The idea edit popover's content: the panel in which the user edits one text idea. The panel
// never touches an Idea: its presenter fills the five selected… values, shows the popover,
// and when the delegate hears editIdeaViewDidClose reads them back (with didChange) and
// applies them. It closes on Return in the title, on Escape and on a click outside (the
// popover is semi-transient). A tab bar switches between the text, colour and icon tabs. Given
// the room of its edit in the map, the panel refuses, where it is made, a change the map has no
// room for, saying why. Main thread only.

#include "foundation/views/base_view.h"
#include "model/color.h"
#include "model/color_theme.h"
#include "model/icon_image.h"
#include "model/idea_edit_room.h"
#include "panels/color_selection_tab_view.h"
#include "panels/edit_view_tab_bar.h"
#include "panels/icon_image_tab_view.h"
#include "panels/idea_text_edit_tab_view.h"
#include "platform/ui/popover.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/weak_ref.h"

#include <QString>

#include <functional>
#include <memory>

namespace orrery {

class EditIdeaViewControllerDelegate : public virtual platform::Trackable {
 public:
  // Sent once per close, after the selected… values were refreshed from the panel.
  virtual void editIdeaViewDidClose() = 0;
};

class EditIdeaViewController : public platform::ViewController,
                               public platform::PopoverDelegate,
                               public IdeaTextEditTabViewDelegate,
                               public EditViewTabBarDelegate,
                               public ColorSelectionTabViewDelegate,
                               public IconImageTabViewDelegate,
                               public Layouter {
 public:
  static constexpr double kWidth = 320;

  // The panel as the popover's content and the popover's delegate; the popover animates. The
  // caller keeps the popover.
  static std::shared_ptr<EditIdeaViewController> createForPopover(const std::shared_ptr<platform::Popover>& popover);
  ~EditIdeaViewController() override;

  // Nil and empty texts are equal; two non-empty texts compare as they are.
  static bool textEquality(const QString& a, const QString& b);

  const QString& selectedTitleText() const { return mSelectedTitleText; }
  void setSelectedTitleText(const QString& text) { mSelectedTitleText = text; }
  const QString& selectedNoteText() const { return mSelectedNoteText; }
  void setSelectedNoteText(const QString& text) { mSelectedNoteText = text; }
  const ColorPtr& selectedColor() const { return mSelectedColor; }
  void setSelectedColor(ColorPtr color) { mSelectedColor = std::move(color); }
  ColorThemeType selectedColorThemeType() const { return mSelectedColorThemeType; }
  void setSelectedColorThemeType(ColorThemeType type) { mSelectedColorThemeType = type; }
  const IconImagePtr& selectedIconImage() const { return mSelectedIconImage; }
  void setSelectedIconImage(IconImagePtr icon) { mSelectedIconImage = std::move(icon); }
  bool didRecolor() const { return mDidRecolor; }
  bool didChange() const;
  // Which of the values the user changed since the popover showed: only those go back onto
  // the idea, so values another instance changed meanwhile stay.
  bool didChangeTitle() const { return !textEquality(mSelectedTitleText, mOriginalTitleText); }
  bool didChangeNote() const { return !textEquality(mSelectedNoteText, mOriginalNoteText); }
  bool didChangeColor() const;
  bool didChangeColorThemeType() const { return mSelectedColorThemeType != mOriginalColorThemeType; }
  bool didChangeIcon() const;
  // Gives `idea` the values the user changed (a recolouring of its children is the presenter's).
  void storeChangesInto(Idea& idea) const;

  // The room the edit of an existing idea takes in its map; none for a new idea, whose room its
  // presenter asks for when it adds it.
  void setEditRoom(std::shared_ptr<IdeaEditRoom> room) { mEditRoom = std::move(room); }

  EditIdeaViewControllerDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(EditIdeaViewControllerDelegate* delegate) { mDelegate.reset(delegate); }
  std::shared_ptr<platform::Popover> popover() const { return mPopover.lock(); }
  IdeaTextEditTabView* textTabView() const { return mTextTabView.get(); }
  ColorSelectionTabView* colorTabView() const { return mColorTabView.get(); }
  IconImageTabView* iconTabView() const { return mIconImageTabView.get(); }
  EditViewTabBar* tabBar() const { return mEditViewTabBar.get(); }
  // The tab on screen, or -1 before the first selection.
  std::int64_t currentTab() const { return mCurrentTab; }
  double currentDesiredHeight() const { return mCurrentDesiredHeight; }

  void loadView() override;
  void applyLayout() override;
  // Undo and Redo are enabled while the focused title or note has a step to take.
  bool validateUserInterfaceItem(const platform::MenuItem& item) override;
  void dismissView() { closeButtonPressed(); }
  void closeButtonPressed();

  // PopoverDelegate.
  void popoverWillShow(platform::Popover& popover) override;
  void popoverDidShow(platform::Popover& popover) override;
  void popoverDidClose(platform::Popover& popover) override;

  // IdeaTextEditTabViewDelegate.
  void pleaseUpdateIdeaTextEditTabViewHeight() override;
  void pleaseCloseEditView() override { closeButtonPressed(); }
  QString refuseTitle(const QString& text) override;
  QString refuseNote(const QString& text) override;
  // EditViewTabBarDelegate.
  void editViewTabBarUserSelectedItem(EditViewTabBar& bar, std::int64_t item) override;
  // ColorSelectionTabViewDelegate and IconImageTabViewDelegate.
  void didMakeChanges() override { reloadDataFromSubViews(); }
  bool mayChooseColors(const ColorPtr& color, ColorThemeType type, bool recolor) override;
  bool mayChooseIcon(const IconImagePtr& icon) override;

 private:
  struct Private {};

 public:
  EditIdeaViewController(Private, std::shared_ptr<platform::Popover> popover);

 private:
  void reloadDataFromSubViews();
  void updateFrameWithHeight(double height);
  BaseView* tabViewAt(std::int64_t tab) const;
  EditIdeaViewSubordinate* subordinateAt(std::int64_t tab) const;
  double preferredHeightOf(std::int64_t tab) const;
  void reloadTab(std::int64_t tab, bool isInitialLoad);
  // Empty when the map has room for the idea's `part` as `change` makes it, else why not.
  QString refuse(IdeaEditRoom::Part part, const std::function<void(Idea&)>& change, bool recolor = false);

  // The popover holds the panel as its content; whoever presents it keeps the popover (a shown
  // popover keeps itself alive).
  std::weak_ptr<platform::Popover> mPopover;
  std::shared_ptr<IdeaTextEditTabView> mTextTabView;
  std::shared_ptr<ColorSelectionTabView> mColorTabView;
  std::shared_ptr<IconImageTabView> mIconImageTabView;
  std::int64_t mCurrentTab = -1;
  std::shared_ptr<EditViewTabBar> mEditViewTabBar;
  float mCurrentDesiredHeight = 0;
  QString mOriginalTitleText;
  QString mOriginalNoteText;
  ColorPtr mOriginalColor;
  ColorThemeType mOriginalColorThemeType = ColorThemeTypeLighterColor;
  IconImagePtr mOriginalIconImage;
  QString mSelectedTitleText;
  QString mSelectedNoteText;
  ColorPtr mSelectedColor;
  ColorThemeType mSelectedColorThemeType = ColorThemeTypeLighterColor;
  IconImagePtr mSelectedIconImage;
  bool mDidRecolor = false;
  std::shared_ptr<IdeaEditRoom> mEditRoom;
  platform::WeakRef<EditIdeaViewControllerDelegate> mDelegate;
};

}  // namespace orrery
