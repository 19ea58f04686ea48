#include "foundation/geometry.h"

#include <cmath>

namespace orrery {

namespace {

constexpr float kTwoPiF = 6.2831855f;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

template <typename T>
T clampProgress(T p) {
  return p < 0 ? T(0) : (p > 1 ? T(1) : p);
}

}  // namespace

float Geometry::distanceFrom(const QPointF& from, const QPointF& to) { return length(translationFrom(from, to)); }

float Geometry::length(const QPointF& v) { return std::sqrt(static_cast<float>(v.x() * v.x() + v.y() * v.y())); }

QPointF Geometry::translationFrom(const QPointF& from, const QPointF& to) { return to - from; }

QPointF Geometry::addVectors(const QPointF& first, const QPointF& second) { return first + second; }

float Geometry::angleFrom(const QPointF& from, const QPointF& to) {
  return std::atan2(static_cast<float>(to.y() - from.y()), static_cast<float>(to.x() - from.x()));
}

float Geometry::normalizedAngleFrom(float angle) {
  return std::fmod(std::fmod(angle, kTwoPiF) + kTwoPiF, kTwoPiF);
}

float Geometry::minimumAngleFrom(float from, float to) {
  const float d = normalizedAngleFrom(to) - normalizedAngleFrom(from);
  if (static_cast<double>(d) > kPi) return static_cast<float>(d - kTwoPi);
  if (static_cast<double>(d) < -kPi) return static_cast<float>(d + kTwoPi);
  return d;
}

bool Geometry::isAngle(float angle, float a, float b) {
  const float s = std::fabs(minimumAngleFrom(angle, a)) + std::fabs(minimumAngleFrom(angle, b));
  return std::fabs(minimumAngleFrom(a, b)) >= s;
}

float Geometry::interpolateAngleFrom(float from, float to, float progress) {
  return from + clampProgress(progress) * minimumAngleFrom(from, to);
}

float Geometry::interpolateLinearlyFrom(float from, float to, float progress) {
  return from + clampProgress(progress) * (to - from);
}

double Geometry::interpolateLinearlyFromDouble(double from, double to, double progress) {
  return from + clampProgress(progress) * (to - from);
}

QPointF Geometry::interpolatePointFrom(const QPointF& from, const QPointF& to, float progress) {
  const double p = clampProgress(progress);
  return QPointF(from.x() + p * (to.x() - from.x()), from.y() + p * (to.y() - from.y()));
}

QRectF Geometry::makeIntegralCGRect(const QRectF& rect) {
  return QRectF(std::round(static_cast<float>(rect.x())), std::round(static_cast<float>(rect.y())),
                std::ceil(static_cast<float>(rect.width())), std::ceil(static_cast<float>(rect.height())));
}

}  // namespace orrery
