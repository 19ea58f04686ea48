#include "solar_test_support.h"

#include "editor/disc_picture_cache.h"
#include "foundation/geometry.h"
#include "foundation/views/view_extensions.h"

#include <gtest/gtest.h>

using namespace orrery;
using namespace solartest;
using platform::EventType;

namespace {

// A point at `distance` from the sun's centre, at `degrees` on screen.
QPointF around(Scene& s, double distance, double degrees) {
  const QPointF c = viewext::center(*s.view->centralView());
  const float a = radians(degrees);
  return c + QPointF(distance * std::cos(a), distance * std::sin(a));
}

// Press, drag through the angles one event per `step` seconds, then release.
void sweep(Scene& s, double distance, std::vector<double> degrees, double step, double pauseBeforeRelease = 0) {
  s.send(EventType::LeftMouseDown, around(s, distance, degrees.front()));
  for (size_t i = 1; i < degrees.size(); ++i) {
    uitest::advance(step);
    s.send(EventType::LeftMouseDragged, around(s, distance, degrees[i]));
  }
  uitest::advance(pauseBeforeRelease);
  s.send(EventType::LeftMouseUp, around(s, distance, degrees.back()));
}

struct Recorder : SolarRotationAnimatorDelegate {
  std::vector<double> angles;
  int ended = 0;
  void angleUpdate(double angle) override { angles.push_back(angle); }
  void rotationEnded() override { ++ended; }
};

}  // namespace

TEST(RadialRotation, TheRingFollowsADragAcrossZeroTheShortWay) {
  Scene s;
  s.fill(6);
  const double start = s.view->currentAngle();
  const float planet0 = s.view->currentAngleForIdeaAtIndex(0);
  sweep(s, 120, {-10, -5, 0, 5, 10}, 0.016, /*pauseBeforeRelease=*/0.3);
  EXPECT_NEAR(s.view->currentAngle() - start, radians(20), radians(0.5)) << "20° clockwise, not 340° back";
  EXPECT_NEAR(Geometry::minimumAngleFrom(planet0, s.view->currentAngleForIdeaAtIndex(0)), radians(20), radians(0.5));
  const double released = s.view->currentAngle();
  uitest::advance(1.0);
  EXPECT_EQ(s.view->currentAngle(), released) << "a pause over 0.1 s before the release: no coast";
  EXPECT_EQ(s.view->rotationAnimator(), nullptr);
  EXPECT_TRUE(s.delegate.drills.empty() && s.delegate.drags.empty());
}

TEST(RadialRotation, PressesOnTheSunOrFarOutsideNeverRotate) {
  Scene s;
  s.fill(6);
  for (double distance : {30.0, 2 * 202.0 + 6}) {
    sweep(s, distance, {150, 160, 170, 180}, 0.016);
    uitest::advance(1.0);
    EXPECT_EQ(s.view->currentAngle(), 0) << "pressed at " << distance;
  }
  sweep(s, 2 * 202.0 - 6, {150, 160, 170, 180}, 0.016, 0.3);
  EXPECT_NEAR(s.view->currentAngle(), radians(30), radians(0.5)) << "inside twice the radius it turns";

  Scene empty;
  empty.fill(0);
  sweep(empty, 120, {10, 20, 30}, 0.016);
  uitest::advance(1.0);
  EXPECT_EQ(empty.view->currentAngle(), 0) << "no planets: tracked but still";
}

TEST(RadialRotation, AFlickCoastsAndANewGestureStopsTheCoast) {
  Scene s;
  s.fill(6);
  sweep(s, 120, {0, 8, 16, 24}, 0.008);
  const double atRelease = s.view->currentAngle();
  ASSERT_NE(s.view->rotationAnimator(), nullptr);
  EXPECT_GT(s.view->rotationAnimator()->initialVelocity(), 0) << "clockwise flick";
  uitest::advance(0.2);
  const double coasting = s.view->currentAngle();
  EXPECT_GT(coasting, atRelease);

  // A new press and drag takes over: the coast reports nothing more.
  sweep(s, 120, {90, 95, 100}, 0.016, 0.3);
  const double after = s.view->currentAngle();
  uitest::advance(1.0);
  EXPECT_EQ(s.view->currentAngle(), after);
  EXPECT_EQ(s.view->rotationAnimator(), nullptr);
}

TEST(RadialRotation, ACoastLastsOneOver175SecondsAndTurnsByAThirdAndAHalfOfItsSpeed) {
  for (float omega : {3.5f, -7.0f, 100.0f}) {
    SolarRotationAnimator animator(1.0f);
    Recorder recorder;
    animator.setDelegate(&recorder);
    animator.addAngularRotationWithVelocity(omega);
    uitest::advance(0.56);
    EXPECT_EQ(recorder.ended, 0);
    uitest::advance(0.03);
    EXPECT_EQ(recorder.ended, 1) << "after 1/1.75 s whatever the speed";
    const float capped = std::copysign(std::min(std::abs(omega), SolarRotationAnimator::kMaxVelocity), omega);
    EXPECT_NEAR(animator.currentAngle(), 1.0f + capped / 3.5f, 1e-4) << omega;
    for (size_t i = 1; i < recorder.angles.size(); ++i)
      EXPECT_GE((recorder.angles[i] - recorder.angles[i - 1]) * capped, 0) << "never turns back";
  }
  SolarRotationAnimator still(2.0f);
  Recorder recorder;
  still.setDelegate(&recorder);
  still.addAngularRotationWithVelocity(0);
  still.addAngularRotationWithVelocity(std::numeric_limits<float>::quiet_NaN());
  uitest::advance(1.0);
  EXPECT_EQ(recorder.ended, 2) << "no speed, no coast";
  EXPECT_TRUE(recorder.angles.empty());
  EXPECT_EQ(still.currentAngle(), 2.0f);
}

TEST(RadialRotation, FollowStepsTrailThePointerAndCarryTheRestOver) {
  SolarRotationAnimator animator(0.0f);
  Recorder recorder;
  animator.setDelegate(&recorder);
  animator.addAngle(0.5f);  // 0.5 rad at π rad/s: about 0.16 s
  uitest::advance(0.05);
  ASSERT_FALSE(recorder.angles.empty());
  EXPECT_LT(recorder.angles.back(), 0.5f);
  animator.addAngle(0.25f);
  EXPECT_FLOAT_EQ(animator.targetAngle(), 0.75f) << "what was not yet covered is added";
  uitest::advance(1.0);
  EXPECT_FLOAT_EQ(animator.currentAngle(), 0.75f);
  EXPECT_FLOAT_EQ(animator.angleLeft(), 0);

  // After many turns, a step of one place of an orbit of a million is kept whole.
  const double place = 2 * std::numbers::pi / 999990;
  SolarRotationAnimator turned(123.4);
  turned.addAngle(place);
  uitest::advance(1.0);
  EXPECT_NEAR(turned.currentAngle() - 123.4, place, place / 1000);
}

// A crowded ring turned back and forth draws no disc twice and keeps no picture under the pile.
TEST(RadialRotation, TurningAPileDrawsEachDiscOnceAndKeepsNoPictureUnderIt) {
  DiscPictureCache::shared().clear();
  Scene s;
  s.fill(100);
  s.window().snapshot();
  s.view->handleBeginRotationGesture(s.view->rotationRecognizer(), 0);
  for (int frame = 0; frame < 240; ++frame) {
    s.view->angleUpdate(s.view->currentAngle() + (frame < 120 ? 0.02f : -0.02f));
    s.window().snapshot();
    for (std::int64_t i = 0; i < 100; ++i)
      EXPECT_TRUE(!s.view->ideaViewAtIndex(i)->isCovered() || s.view->ideaViewAtIndex(i)->contents().isNull()) << i;
  }
  s.view->rotationEnded();
  int drawn = 0;
  for (std::int64_t i = 0; i < 100; ++i) {
    drawn += s.view->ideaViewAtIndex(i)->displayCount();
    EXPECT_LE(s.view->ideaViewAtIndex(i)->displayCount(), 1) << "planet " << i << " drawn again";
  }
  EXPECT_GT(drawn, 50) << "discs the turn showed";
}
