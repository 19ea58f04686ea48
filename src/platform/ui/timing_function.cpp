#include "platform/ui/timing_function.h"

#include <QPointF>

#include <algorithm>

namespace platform {

TimingFunction::TimingFunction(Name name) {
  switch (name) {
    case Name::Linear: mLinear = true; break;
    case Name::EaseIn: *this = TimingFunction(0.42, 0.0, 1.0, 1.0); break;
    case Name::EaseOut: *this = TimingFunction(0.0, 0.0, 0.58, 1.0); break;
    case Name::EaseInEaseOut: *this = TimingFunction(0.42, 0.0, 0.58, 1.0); break;
    case Name::Default: *this = TimingFunction(0.25, 0.1, 0.25, 1.0); break;
  }
}

TimingFunction::TimingFunction(double x1, double y1, double x2, double y2)
    : mLinear(false), mCurve(QEasingCurve::BezierSpline) {
  mCurve.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1.0, 1.0));
}

double TimingFunction::valueAt(double t) const {
  t = std::clamp(t, 0.0, 1.0);
  if (mLinear || t <= 0.0 || t >= 1.0) return t;
  return mCurve.valueForProgress(t);
}

}  // namespace platform
