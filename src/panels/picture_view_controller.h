#pragma once
// The picture panel: an image idea's big picture over the whole window, zoomed and scrolled,
// and replaced by another picture file. It never changes the idea; the presenter reads
// `didChangeImage` and `image` after dismissing it. A picture the map has no room for is refused
// as it is chosen. Main thread only.

#include "foundation/kit_image.h"
#include "foundation/views/base_view.h"
#include "foundation/views/base_view_controller.h"
#include "foundation/views/button_view.h"
#include "model/idea_edit_room.h"

#include <QImage>
#include <QSizeF>
#include <memory>

namespace platform {
class ImageView;
class ScrollView;
}  // namespace platform

namespace orrery {

class ColoredView;
class ModalChoiceController;
class PictureViewController;

// The zoomable picture area: fit mode follows the view's size, a zoom step leaves it.
class PictureView : public BaseView {
 public:
  static constexpr double kZoomInFactor = 1.5;
  static constexpr double kZoomOutFactor = 0.75;

  PictureView();
  void setImage(const QImage& image);
  void fitZoomToContent();
  double fittingZoomForSize(const QSizeF& size) const;
  // A negative factor means "fit"; the result is within the scroll view's limits.
  double tentativeZoom(double factor) const;
  void zoomInCenter(double factor);
  void cmdZoomIn() { zoomInCenter(kZoomInFactor); }
  void cmdZoomOut() { zoomInCenter(kZoomOutFactor); }
  void cmdActualSize() { fitZoomToContent(); }
  bool canZoomIn() const;
  bool canZoomOut() const;
  bool canZoomToActualSize() const;
  bool validateUserInterfaceItem(const platform::MenuItem& item) override;
  bool acceptsFirstResponder() const override { return true; }
  void keyDown(const platform::Event& event) override;
  std::shared_ptr<platform::Menu> menuForEvent(const platform::Event& event) override;
  void applyLayout() override;

  bool isFittingExactly() const { return mIsFittingExactly; }
  double magnification() const;
  const std::shared_ptr<platform::ScrollView>& scrollView() const { return mScrollView; }
  const std::shared_ptr<platform::ImageView>& imageView() const { return mImageView; }
  const std::shared_ptr<platform::View>& contentView() const { return mContentView; }

 private:
  void updateViewImage(const QImage& image);

  std::shared_ptr<platform::ImageView> mImageView;
  std::shared_ptr<platform::View> mContentView;
  std::shared_ptr<platform::ScrollView> mScrollView;
  QSizeF mContentSize;
  QImage mImage;
  bool mIsFittingExactly = true;
};

class PictureViewControllerDelegate : public virtual platform::Trackable {
 public:
  virtual void pleaseDismissPictureView(PictureViewController& panel) = 0;
};

class PictureViewController : public BaseViewController, public ButtonViewDelegate, public Layouter {
 public:
  static constexpr double kTopBarHeight = 40;
  // The file name extensions of the picture types this machine opens, in the order the open
  // panels list them.
  static const QStringList& allowedFileTypes();
  // The picture in a file the user chose; when there is none, an alert names the file and
  // says why.
  static KitImage readChosenPicture(const QString& path);

  PictureViewController();
  void setImage(const QImage& image);
  const QImage& image() const { return mImage; }
  bool didChangeImage() const { return mDidChangeImage; }
  PictureViewControllerDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(PictureViewControllerDelegate* delegate) { mDelegate.reset(delegate); }
  void setEditRoom(std::shared_ptr<IdeaEditRoom> room) { mEditRoom = std::move(room); }

  void buttonPressed(ButtonView& button) override;
  void pleaseStartImageChange();
  void handleDismissal();

  void loadView() override;
  void applyLayout() override;
  void viewWillAppear() override;
  void viewDidAppear() override;

  const std::shared_ptr<PictureView>& pictureView() const { return mPictureView; }
  const std::shared_ptr<ButtonView>& closeButton() const { return mCloseButton; }
  const std::shared_ptr<ButtonView>& changeContentButton() const { return mChangeContentButton; }

 private:
  std::shared_ptr<PictureView> mPictureView;
  std::shared_ptr<ColoredView> mTopAreaView;
  std::shared_ptr<ButtonView> mCloseButton;
  std::shared_ptr<ButtonView> mChangeContentButton;
  bool mDidChangeImage = false;
  QImage mImage;
  bool mFirstAppearanceDone = false;
  platform::WeakRef<PictureViewControllerDelegate> mDelegate;
  std::shared_ptr<ModalChoiceController> mChoice;
  std::shared_ptr<IdeaEditRoom> mEditRoom;
};

}  // namespace orrery
