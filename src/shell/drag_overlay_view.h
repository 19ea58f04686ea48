#pragma once
// What a window shows while files from another program hover over it: a blurred picture of
// the window, the accept or refuse picture in the middle and one line of text 28 points below
// it. It covers hosted native controls while it shows. Main thread only.

#include "foundation/kit_image.h"
#include "foundation/views/base_image_view.h"
#include "foundation/views/base_view.h"
#include "foundation/views/blur_view.h"
#include "foundation/views/text_view.h"

#include <memory>

namespace orrery {

class DragOverlayView : public BaseView {
 public:
  // Sized to the screenshot's pixels; "drop_here" with "Drop files here" when accepting,
  // "drop_here_no" with "File type not supported" when refusing.
  DragOverlayView(const KitImage& screenshot, bool accept);

  void applyLayout() override;
  QRectF nativeControlCoverRect() const override { return bounds(); }

  const std::shared_ptr<BaseImageView>& imageView() const { return mImageView; }
  const std::shared_ptr<TextView>& label() const { return mLabel; }
  bool accepts() const { return mAccept; }

 private:
  std::shared_ptr<BlurView> mBlurView;
  std::shared_ptr<BaseImageView> mImageView;
  std::shared_ptr<TextView> mLabel;
  bool mAccept;
};

}  // namespace orrery
