#include "foundation/views/base_layer.h"

#include "foundation/globals.h"
#include "foundation/views/view_extensions.h"

namespace orrery {

BaseLayer::BaseLayer() {
  setAnchorPoint(QPointF(0.5, 0.5));
  setContentsScale(Globals::screenScale());
}

QPointF BaseLayer::center() const { return layerext::center(*this); }

}  // namespace orrery
