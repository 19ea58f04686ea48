#pragma once
// The icon tab of the idea edit popover: a preview planet with the idea's colour, title and
// icon over a list of the icon catalogue's categories, headed by a "Remove Icon" row while the
// idea has an icon. Choosing a category slides a grid of its icons, seven a row, over the
// list. The preview planet holds the chosen icon. Main thread only.

#include "editor/planet_layer.h"
#include "foundation/views/base_scroll_view.h"
#include "foundation/views/base_view.h"
#include "foundation/views/button_view.h"
#include "foundation/views/colored_view.h"
#include "foundation/views/text_label.h"
#include "model/icon_image.h"
#include "panels/edit_idea_view_subordinate.h"
#include "platform/ui/weak_ref.h"

#include <memory>
#include <vector>

namespace orrery {

class EditIdeaViewController;
class IconCategoryTableView;

class IconSelectorViewDelegate : public virtual platform::Trackable {
 public:
  virtual void pleaseDismissIconSelector() = 0;
  virtual void handleIconSelection(const IconImagePtr& icon) = 0;
  virtual IconImagePtr currentIconSelection() = 0;
};

class IconCategoryTableViewDelegate : public virtual platform::Trackable {
 public:
  virtual void categorySelected(const QString& category) = 0;
  virtual bool canRemoveIconSelection() = 0;
  virtual void pleaseRemoveIconSelection() = 0;
};

class IconImageTabViewDelegate : public virtual platform::Trackable {
 public:
  virtual void didMakeChanges() = 0;
  // Asked before a picked icon is taken; a refused one leaves the icon as it was.
  virtual bool mayChooseIcon(const IconImagePtr& /*icon*/) { return true; }
};

// The tiled pattern behind the list's rows.
QBrush iconRowBackground();

class IconCategoryCell : public ColoredView, public ButtonViewDelegate {
 public:
  static constexpr int kMaxSamples = 3;
  explicit IconCategoryCell(IconCategoryTableView* owner);
  // Shows up to three of the icons; a category may have fewer.
  void configureForCategory(const QString& category, const std::vector<IconImagePtr>& icons);
  const std::vector<std::shared_ptr<platform::View>>& imageViews() const { return mImageViews; }
  const std::shared_ptr<TextLabel>& categoryNameLabel() const { return mCategoryNameLabel; }
  const std::shared_ptr<ButtonView>& button() const { return mButton; }
  void buttonPressed(ButtonView& button) override;
  void applyLayout() override;

 private:
  std::vector<std::shared_ptr<platform::View>> mImageViews;
  std::shared_ptr<TextLabel> mCategoryNameLabel;
  std::shared_ptr<ButtonView> mButton;
  platform::WeakRef<platform::View> mOwner;
};

class RemoveIconCell : public ColoredView, public ButtonViewDelegate {
 public:
  explicit RemoveIconCell(IconCategoryTableView* owner);
  const std::shared_ptr<TextLabel>& textLabel() const { return mTextLabel; }
  const std::shared_ptr<ButtonView>& button() const { return mButton; }
  void buttonPressed(ButtonView& button) override;
  void applyLayout() override;

 private:
  std::shared_ptr<TextLabel> mTextLabel;
  std::shared_ptr<ButtonView> mButton;
  platform::WeakRef<platform::View> mOwner;
};

// The kit has no table view: rows of 48 points stacked in a scroll view's document view,
// rebuilt by reload.
class IconCategoryTableView : public BaseView {
 public:
  static constexpr double kRowHeight = 48;
  static constexpr double kFadeSeconds = 0.25;

  IconCategoryTableView();
  IconCategoryTableViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(IconCategoryTableViewDelegate* delegate) { mDelegate.reset(delegate); }

  void reload();
  std::int64_t categoryOffset();
  std::int64_t numberOfRows();
  // A point in the list's coordinates.
  void rowPressedAtLocation(const QPointF& point);
  const std::vector<std::shared_ptr<BaseView>>& rows() const { return mRows; }
  const std::shared_ptr<BaseScrollView>& scrollView() const { return mScrollView; }
  void applyLayout() override;

 private:
  void layoutRows();

  std::shared_ptr<BaseView> mTableView;  // the document view holding the rows
  std::shared_ptr<BaseScrollView> mScrollView;
  std::vector<std::shared_ptr<BaseView>> mRows;
  platform::WeakRef<IconCategoryTableViewDelegate> mDelegate;
};

class TitleRowView : public ColoredView {
 public:
  TitleRowView(ButtonViewDelegate* delegate, const QString& category);
  const std::shared_ptr<ButtonView>& button() const { return mButton; }
  const std::shared_ptr<TextLabel>& categoryNameLabel() const { return mCategoryNameLabel; }
  void applyLayout() override;

 private:
  std::shared_ptr<TextLabel> mCategoryNameLabel;
  std::shared_ptr<ButtonView> mButton;
};

class IconSelectorView : public BaseView, public ButtonViewDelegate {
 public:
  static constexpr int kPerRow = 7;
  static constexpr double kButtonSide = 34;
  static constexpr double kRowStep = 47;
  static constexpr double kTitleHeight = 48;

  IconSelectorView(const QString& category, const std::vector<IconImagePtr>& icons, IconSelectorViewDelegate* delegate);
  const std::vector<std::shared_ptr<ButtonView>>& iconButtons() const { return mIconButtons; }
  const std::shared_ptr<TitleRowView>& titleRow() const { return mTitleRow; }
  const std::shared_ptr<BaseView>& contentView() const { return mContentView; }
  const std::shared_ptr<BaseScrollView>& scrollView() const { return mScrollView; }

  // Toggles on the button of `current` (same name and category) and every other off.
  void showSelection(const IconImagePtr& current);
  void buttonPressed(ButtonView& button) override;
  void applyLayout() override;
  // The grid's empty places are the selector's own: clicks there reach nothing beneath.
  platform::View* hitTest(const QPointF& pointInSuperview) override;
  void mouseDown(const platform::Event& /*event*/) override {}
  void mouseUp(const platform::Event& /*event*/) override {}

 private:
  platform::WeakRef<IconSelectorViewDelegate> mDelegate;
  std::shared_ptr<BaseScrollView> mScrollView;
  std::shared_ptr<BaseView> mContentView;
  std::shared_ptr<TitleRowView> mTitleRow;
  std::vector<std::shared_ptr<ButtonView>> mIconButtons;
};

class IconImageTabView : public BaseView,
                         public IconSelectorViewDelegate,
                         public IconCategoryTableViewDelegate,
                         public EditIdeaViewSubordinate {
 public:
  static constexpr double kPreferredHeight = 422;
  static constexpr double kListTop = 147;
  static constexpr double kSlideSeconds = 0.15;

  IconImageTabView();
  ~IconImageTabView() override;

  IconImageTabViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(IconImageTabViewDelegate* delegate) { mDelegate.reset(delegate); }

  double currentPreferredHeight() const override { return kPreferredHeight; }
  void reloadFrom(const EditIdeaViewController& controller, bool isInitialLoad) override;
  void activate() override;
  void deactivate() override {}

  IconImagePtr selectedIconImage() const { return mMainPlanetLayer->iconImage(); }
  void setSelectedIconImage(const IconImagePtr& icon);

  // IconSelectorViewDelegate.
  void pleaseDismissIconSelector() override;
  void handleIconSelection(const IconImagePtr& icon) override;
  IconImagePtr currentIconSelection() override { return selectedIconImage(); }
  // IconCategoryTableViewDelegate.
  void categorySelected(const QString& category) override;
  bool canRemoveIconSelection() override { return selectedIconImage() != nullptr; }
  void pleaseRemoveIconSelection() override;

  void applyLayout() override;

  const std::shared_ptr<PlanetLayer>& mainPlanetLayer() const { return mMainPlanetLayer; }
  const std::shared_ptr<IconSelectorView>& iconSelectorView() const { return mIconSelectorView; }
  const std::shared_ptr<IconCategoryTableView>& iconCategoryTableView() const { return mIconCategoryTableView; }

 private:
  std::shared_ptr<PlanetLayer> mMainPlanetLayer;
  std::shared_ptr<IconSelectorView> mIconSelectorView;
  std::shared_ptr<IconCategoryTableView> mIconCategoryTableView;
  platform::WeakRef<IconImageTabViewDelegate> mDelegate;
};

}  // namespace orrery
