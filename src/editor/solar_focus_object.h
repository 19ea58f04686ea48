#pragma once
// One drop-focus target of the radial view while an idea is dragged over it: the parent idea
// (type 0), a planet (2, index = child index) or an adder (3, index = adder number). The sun
// is never a target.

#include "foundation/views/visual_object.h"

#include <QRectF>

#include <cstdint>
#include <memory>

namespace orrery {

// 0 the parent idea view, 2 a planet, 3 an adder (1 is not used).
using SolarFocusType = std::uint64_t;

class SolarFocusObject {
 public:
  static constexpr SolarFocusType kParent = 0;
  static constexpr SolarFocusType kPlanet = 2;
  static constexpr SolarFocusType kAdder = 3;

  SolarFocusObject(std::shared_ptr<const VisualObject> object, SolarFocusType type, std::int64_t index)
      : mObject(std::move(object)), mFocusType(type), mIndex(index) {}

  SolarFocusType focusType() const { return mFocusType; }
  std::int64_t index() const { return mIndex; }
  const std::shared_ptr<const VisualObject>& object() const { return mObject; }
  // A planet's frame less 20 % of its size on each side; the others' frames; empty without
  // an object. The drop target the controller reports to the window.
  QRectF focusRect() const;

 private:
  std::shared_ptr<const VisualObject> mObject;
  SolarFocusType mFocusType;
  std::int64_t mIndex;
};

}  // namespace orrery
