#include "platform/ui/animation.h"

namespace platform {

void BasicAnimation::resolve(const AnimValue& presentation) {
  if (std::holds_alternative<std::monostate>(mFrom)) mFrom = presentation;
}

AnimValue BasicAnimation::valueAt(double p, const AnimValue& model) const {
  const AnimValue& to = std::holds_alternative<std::monostate>(mTo) ? model : mTo;
  const AnimValue& from = std::holds_alternative<std::monostate>(mFrom) ? model : mFrom;
  return interpolate(from, to, p);
}

AnimValue KeyframeAnimation::valueAt(double p, const AnimValue& model) const {
  const size_t n = mValues.size();
  if (n == 0) return model;
  if (n == 1 || p <= 0) return mValues.front();
  if (p >= 1) return mValues.back();
  auto timeAt = [&](size_t i) {
    return mKeyTimes.size() == n ? mKeyTimes[i] : static_cast<double>(i) / static_cast<double>(n - 1);
  };
  for (size_t i = 1; i < n; ++i) {
    const double t0 = timeAt(i - 1), t1 = timeAt(i);
    if (p <= t1) {
      const double span = t1 - t0;
      return interpolate(mValues[i - 1], mValues[i], span > 0 ? (p - t0) / span : 1.0);
    }
  }
  return mValues.back();
}

}  // namespace platform
