#include "editor/solar_focus_object.h"

namespace orrery {

QRectF SolarFocusObject::focusRect() const {
  if (!mObject) return QRectF();
  const QRectF frame = mObject->frame();
  if (mFocusType != kPlanet) return frame;
  const double dx = frame.width() * static_cast<double>(0.2f);
  const double dy = frame.height() * static_cast<double>(0.2f);
  return frame.adjusted(dx, dy, -dx, -dy);
}

}  // namespace orrery
