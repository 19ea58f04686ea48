#pragma once
// Cubic-Bézier pacing of an animation's progress, with the platform's named curves.

#include <QEasingCurve>

namespace platform {

class TimingFunction {
 public:
  enum class Name { Linear, EaseIn, EaseOut, EaseInEaseOut, Default };

  TimingFunction() : TimingFunction(Name::Linear) {}
  explicit TimingFunction(Name name);
  // A curve through (0, 0), (x1, y1), (x2, y2), (1, 1).
  TimingFunction(double x1, double y1, double x2, double y2);

  // The paced progress for a linear progress t in [0, 1].
  double valueAt(double t) const;

 private:
  bool mLinear = true;
  QEasingCurve mCurve;
};

}  // namespace platform
