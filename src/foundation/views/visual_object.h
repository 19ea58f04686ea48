#pragma once
// What focus tracking needs of a view or a layer, and the protocol of screen controllers that
// lay out their own root view.

#include "platform/ui/weak_ref.h"

#include <QPointF>
#include <QRectF>

namespace orrery {

class VisualObject {
 public:
  virtual ~VisualObject() = default;
  virtual QPointF center() const = 0;
  virtual QRectF frame() const = 0;
};

class Layouter : public virtual platform::Trackable {
 public:
  virtual void applyLayout() = 0;
};

}  // namespace orrery
