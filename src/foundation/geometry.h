#pragma once
// Points, vectors, angles and interpolation under every animated view. Angles are radians
// in single precision; points and vectors are double precision; progress is 0..1.

#include <QPointF>
#include <QRectF>

namespace orrery {

class Geometry {
 public:
  Geometry() = delete;

  static float distanceFrom(const QPointF& from, const QPointF& to);
  static float length(const QPointF& vector);
  static QPointF translationFrom(const QPointF& from, const QPointF& to);
  static QPointF addVectors(const QPointF& first, const QPointF& second);
  // 0 along +x, growing towards +y.
  static float angleFrom(const QPointF& from, const QPointF& to);
  // Into [0, 2π).
  static float normalizedAngleFrom(float angle);
  // The signed shortest turn from `from` to `to`, in [-π, π].
  static float minimumAngleFrom(float from, float to);
  // Whether `angle` lies on the shorter arc between `a` and `b`, ends included.
  static bool isAngle(float angle, float a, float b);
  // from + p × shortest turn, p clamped to [0, 1]; not normalised.
  static float interpolateAngleFrom(float from, float to, float progress);
  static float interpolateLinearlyFrom(float from, float to, float progress);
  static double interpolateLinearlyFromDouble(double from, double to, double progress);
  static QPointF interpolatePointFrom(const QPointF& from, const QPointF& to, float progress);
  // Origin rounded to whole points, size rounded up.
  static QRectF makeIntegralCGRect(const QRectF& rect);
};

}  // namespace orrery
