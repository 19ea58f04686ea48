#include "foundation/views/base_image_view.h"

namespace orrery {

BaseImageView::BaseImageView() : BaseImageView(QRectF()) {}

BaseImageView::BaseImageView(const QRectF& frame) : ImageView(frame) {
  setEditable(false);
  unregisterDraggedTypes();
}

BaseImageView::BaseImageView(const QImage& image) : BaseImageView() { setImage(image); }

}  // namespace orrery
