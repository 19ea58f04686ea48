#include "foundation/geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using orrery::Geometry;

constexpr float kPi = 3.14159265f;
constexpr float kTwoPi = 6.2831855f;

TEST(GeometryTest, DistancesVectorsAndAngles) {
  EXPECT_FLOAT_EQ(Geometry::distanceFrom({1, 1}, {4, 5}), 5.0f);
  EXPECT_FLOAT_EQ(Geometry::length({-3, 4}), 5.0f);
  EXPECT_EQ(Geometry::translationFrom({1, 2}, {4, 0}), QPointF(3, -2));
  EXPECT_EQ(Geometry::addVectors({1, 2}, {0.5, -4}), QPointF(1.5, -2));
  EXPECT_FLOAT_EQ(Geometry::angleFrom({0, 0}, {1, 0}), 0.0f);
  EXPECT_FLOAT_EQ(Geometry::angleFrom({0, 0}, {0, 1}), kPi / 2);  // towards +y
  EXPECT_FLOAT_EQ(Geometry::angleFrom({1, 1}, {0, 1}), kPi);
  EXPECT_FLOAT_EQ(Geometry::angleFrom({0, 0}, {0, -2}), -kPi / 2);
}

TEST(GeometryTest, NormalisedAnglesLieInTheHalfOpenCircle) {
  const struct {
    float in, out;
  } cases[] = {{0, 0}, {1, 1}, {-1, kTwoPi - 1}, {kTwoPi, 0}, {-kTwoPi, 0}, {7, 7 - kTwoPi}, {-20, -20 + 4 * kTwoPi}};
  for (auto c : cases) EXPECT_NEAR(Geometry::normalizedAngleFrom(c.in), c.out, 1e-5) << c.in;
  for (float a = -50; a < 50; a += 0.37f) {
    const float n = Geometry::normalizedAngleFrom(a);
    EXPECT_GE(n, 0.0f);
    EXPECT_LT(n, kTwoPi);
  }
}

TEST(GeometryTest, ShortestTurnsTakeTheShortWayIncludingAcrossZero) {
  const struct {
    float from, to, turn;
  } cases[] = {
      {0.1f, 6.2f, -0.1831853f},      // back over 0, not 6.1 forward
      {6.2f, 0.1f, 0.1831853f},       // forward over 0
      {0, kPi / 2, kPi / 2},          {kPi / 2, 0, -kPi / 2},
      {1, 1, 0},                      {0, kPi, kPi},  // half a turn is not turned round
      {7, 1, 1 - (7 - kTwoPi)},       {-0.5f, 0.5f, 1},
  };
  for (auto c : cases) EXPECT_NEAR(Geometry::minimumAngleFrom(c.from, c.to), c.turn, 1e-5) << c.from << "->" << c.to;
  EXPECT_NEAR(std::fabs(Geometry::minimumAngleFrom(-kPi / 2, kPi / 2)), kPi, 1e-5);
  for (float a = -7; a < 7; a += 0.31f)
    for (float b = -7; b < 7; b += 0.43f) {
      const float d = Geometry::minimumAngleFrom(a, b);
      ASSERT_LE(std::fabs(d), kPi + 1e-5) << a << "," << b;
      ASSERT_NEAR(std::cos(a + d), std::cos(b), 1e-4);
      ASSERT_NEAR(std::sin(a + d), std::sin(b), 1e-4);
    }
}

TEST(GeometryTest, ArcMembershipOnTheShorterArc) {
  EXPECT_TRUE(Geometry::isAngle(0.5f, 0.0f, 1.0f));
  EXPECT_TRUE(Geometry::isAngle(0.5f, 1.0f, 0.0f));  // order of the ends does not matter
  EXPECT_TRUE(Geometry::isAngle(0.0f, 0.0f, 1.0f));  // ends count
  EXPECT_TRUE(Geometry::isAngle(1.0f, 0.0f, 1.0f));
  EXPECT_FALSE(Geometry::isAngle(2.0f, 0.0f, 1.0f));
  EXPECT_FALSE(Geometry::isAngle(0.5f, 0.3f, 0.3f));  // an empty arc
  EXPECT_TRUE(Geometry::isAngle(0.3f, 0.3f, 0.3f));
  // Across zero: the shorter arc from 6.0 to 0.5 passes 0.1 and not 3.
  EXPECT_TRUE(Geometry::isAngle(0.1f, 6.0f, 0.5f));
  EXPECT_TRUE(Geometry::isAngle(-0.1f, 6.0f, 0.5f));
  EXPECT_FALSE(Geometry::isAngle(3.0f, 6.0f, 0.5f));
}

TEST(GeometryTest, InterpolationClampsProgressAndTurnsTheShortWay) {
  EXPECT_FLOAT_EQ(Geometry::interpolateLinearlyFrom(2, 4, -1), 2);
  EXPECT_FLOAT_EQ(Geometry::interpolateLinearlyFrom(2, 4, 2), 4);
  EXPECT_FLOAT_EQ(Geometry::interpolateLinearlyFrom(2, 4, 0.25f), 2.5f);
  EXPECT_DOUBLE_EQ(Geometry::interpolateLinearlyFromDouble(-1, 1, 0.75), 0.5);
  EXPECT_DOUBLE_EQ(Geometry::interpolateLinearlyFromDouble(-1, 1, 7), 1);
  EXPECT_EQ(Geometry::interpolatePointFrom({0, 10}, {10, 0}, 0.5f), QPointF(5, 5));
  EXPECT_EQ(Geometry::interpolatePointFrom({0, 10}, {10, 0}, -3), QPointF(0, 10));

  // From 6.2 to 0.1 goes forward over 0 and is not normalised.
  EXPECT_NEAR(Geometry::interpolateAngleFrom(6.2f, 0.1f, 1), 6.2f + 0.1831853f, 1e-5);
  EXPECT_NEAR(Geometry::interpolateAngleFrom(6.2f, 0.1f, 0.5f), 6.2f + 0.0915927f, 1e-5);
  EXPECT_FLOAT_EQ(Geometry::interpolateAngleFrom(1, 2, 5), 2);
  EXPECT_FLOAT_EQ(Geometry::interpolateAngleFrom(1, 2, -5), 1);
}

TEST(GeometryTest, IntegralRectangles) {
  EXPECT_EQ(Geometry::makeIntegralCGRect({0.4, 0.6, 10.2, 10.0}), QRectF(0, 1, 11, 10));
  EXPECT_EQ(Geometry::makeIntegralCGRect({-0.6, -0.4, 0.1, 0}), QRectF(-1, 0, 1, 0));
  EXPECT_EQ(Geometry::makeIntegralCGRect({2.5, 3.5, 4, 4.0001}), QRectF(3, 4, 4, 5));
}

}  // namespace
