#pragma once
// An image view that neither edits its image nor accepts dropped images.

#include "platform/ui/image_view.h"

namespace orrery {

class BaseImageView : public platform::ImageView {
 public:
  BaseImageView();
  explicit BaseImageView(const QRectF& frame);
  explicit BaseImageView(const QImage& image);
};

}  // namespace orrery
