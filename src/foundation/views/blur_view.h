#pragma once
// A blurred cover: a soft, slightly more colourful and slightly darker picture of a
// screenshot, made once when the cover is created and stretched over its bounds. Where the
// picture does not reach (or without a picture) a translucent light grey shows. The
// ScreenProtectorView also catches every click and reports it. Main thread only.

#include "foundation/kit_image.h"
#include "foundation/views/base_image_view.h"
#include "foundation/views/base_view.h"

namespace orrery {

class BlurView : public BaseView {
 public:
  explicit BlurView(const KitImage& screenshot);

  // The filter chain: saturation 1.5, Gaussian blur 15 (pixels of the screenshot), black at
  // alpha 0.1 multiplied over it, cut to the screenshot's size. It works at a reduced
  // resolution that the blur hides; the picture is meant to be shown at `size`.
  static QImage coverPicture(const KitImage& screenshot);

  const std::shared_ptr<BaseImageView>& imageView() const { return mImageView; }
  // The picture's size in points: the screenshot's pixel size.
  QSizeF pictureSize() const { return mImageView->imageSize(); }

  void applyLayout() override;
  QRectF nativeControlCoverRect() const override { return bounds(); }

 private:
  std::shared_ptr<BaseImageView> mImageView;
};

class ScreenProtectorViewDelegate : public virtual platform::Trackable {
 public:
  virtual void screenProtectorWasClicked() {}
};

class ScreenProtectorView : public BlurView {
 public:
  explicit ScreenProtectorView(const KitImage& screenshot) : BlurView(screenshot) {}

  ScreenProtectorViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(ScreenProtectorViewDelegate* delegate) { mDelegate.reset(delegate); }

  bool acceptsFirstResponder() const override { return true; }
  // Reports the click; nothing beneath the cover receives it.
  void mouseDown(const platform::Event& event) override;

 private:
  platform::WeakRef<ScreenProtectorViewDelegate> mDelegate;
};

}  // namespace orrery
