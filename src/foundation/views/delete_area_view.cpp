#include "foundation/views/delete_area_view.h"

#include "foundation/image_extensions.h"

namespace orrery {

DeleteAreaView::DeleteAreaView() {
  setImage(imageext::deviceImageNamed(QStringLiteral("blackhole")), QSizeF(kSide, kSide));
  setFrame(QRectF(0, 0, kSide, kSide));
}

}  // namespace orrery
