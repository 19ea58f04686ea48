#pragma once
// The base of the application's own layers: anchored at the centre, drawn at the screen's
// scale. (The kit's presentation values are copies of the model state, so what is on screen
// keeps the same anchor and scale.)

#include "foundation/views/visual_object.h"
#include "platform/ui/layer.h"

namespace orrery {

class BaseLayer : public platform::Layer, public VisualObject {
 public:
  BaseLayer();

  QPointF center() const override;
  QRectF frame() const override { return Layer::frame(); }
};

}  // namespace orrery
