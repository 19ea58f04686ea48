#pragma once
// The share sheet: a band of seven format tabs above the pane of the chosen format. The
// presenter opens it for one idea and dismisses it when asked; the sheet never changes the
// tree. Main thread only.

#include "export/share_type_view.h"
#include "foundation/views/base_view_controller.h"
#include "foundation/views/blur_view.h"
#include "foundation/views/button_view.h"

#include <QDateTime>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace orrery {

class ColoredView;
class TextLabel;
class BaseImageView;
class SharingViewController;

// One tab: a toggle button, grey with white edges while not selected, white when selected.
class TabItem : public ButtonView {
 public:
  static constexpr double kTitleMinWidth = 162;
  TabItem(const QImage& image, const QString& title, ShareType type);
  ShareType shareType() const { return mShareType; }
  void applyLayout() override;
  const std::shared_ptr<TextLabel>& titleLabel() const { return mTitle; }
  const std::shared_ptr<BaseImageView>& iconView() const { return mIcon; }

 private:
  ShareType mShareType;
  std::shared_ptr<ColoredView> mWhite;
  std::shared_ptr<ColoredView> mGrey;
  std::shared_ptr<BaseImageView> mIcon;
  std::shared_ptr<TextLabel> mTitle;
};

class SharingViewControllerDelegate : public virtual platform::Trackable {
 public:
  virtual void pleaseDismissSharingView(SharingViewController& sheet) = 0;
};

class SharingViewController : public BaseViewController,
                              public ButtonViewDelegate,
                              public Layouter,
                              public ShareTypeViewDelegate,
                              public ScreenProtectorViewDelegate {
 public:
  static constexpr std::int64_t kNotFound = std::numeric_limits<std::int64_t>::max();
  static constexpr double kBandHeight = 112;
  static constexpr double kTabWidth = 180;

  SharingViewController(IdeaPtr idea, QDateTime lastModified);

  void selectShareType(ShareType type);
  SharingViewControllerDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(SharingViewControllerDelegate* delegate) { mDelegate.reset(delegate); }

  void buttonPressed(ButtonView& button) override;
  void pleaseClose() override { handleDismissal(); }
  IdeaPtr idea() const override { return mIdea; }
  QDateTime lastModified() const override { return mLastModified; }
  void screenProtectorWasClicked() override { handleDismissal(); }
  // Asks the presenter once; a dismissed sheet ignores its panes from then on.
  void handleDismissal();
  bool isDismissed() const { return mDismissed; }

  void loadView() override;
  void applyLayout() override;
  void viewDidAppear() override;
  bool acceptsFirstResponder() const override { return true; }

  std::int64_t currentShareTypeIndex() const { return mCurrentShareTypeIdx; }
  const std::vector<std::shared_ptr<TabItem>>& tabButtons() const { return mTabButtons; }
  const std::vector<std::shared_ptr<ShareTypeView>>& shareTypes() const { return mShareTypes; }

 private:
  void addShareType(const std::shared_ptr<ShareTypeView>& pane);

  std::shared_ptr<ColoredView> mTopAreaView;
  std::vector<std::shared_ptr<TabItem>> mTabButtons;
  std::vector<std::shared_ptr<ShareTypeView>> mShareTypes;
  std::int64_t mCurrentShareTypeIdx = kNotFound;
  IdeaPtr mIdea;
  QDateTime mLastModified;
  platform::WeakRef<SharingViewControllerDelegate> mDelegate;
  bool mDismissed = false;
};

}  // namespace orrery
