#include "foundation/views/base_scroll_view.h"

namespace orrery {

BaseScrollView::BaseScrollView() : BaseScrollView(QRectF()) {}

BaseScrollView::BaseScrollView(const QRectF& frame) : ScrollView(frame) {
  setVerticalScroller(std::make_shared<BaseLegacyScroller>(this));
}

}  // namespace orrery
