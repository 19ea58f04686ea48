#include "solar_test_support.h"

#include "editor/idea_view.h"
#include "foundation/geometry.h"
#include "foundation/views/view_extensions.h"

#include <QPainter>

#include <functional>
#include <numbers>
#include <typeinfo>

#include <gtest/gtest.h>

using namespace orrery;
using namespace solartest;

namespace {

const QSizeF kWindow(1440, 900);

double distance(QPointF a, QPointF b) { return std::hypot(a.x() - b.x(), a.y() - b.y()); }

double standingDegrees(const SolarSystem& v, std::int64_t i) { return degrees(v.currentAngleForIdeaAtIndex(i)); }

std::vector<LineLayer*> lines(SolarSystem& view) {
  std::vector<LineLayer*> found;
  for (const auto& l : view.layer()->sublayers())
    if (auto* line = dynamic_cast<LineLayer*>(l.get())) found.push_back(line);
  return found;
}

// The new view of a drill into planet `index` of `scene`, filled with three planets.
std::shared_ptr<SolarSystem> newViewFor(Scene& scene, int index) {
  auto view = SolarSystem::create(QRectF(QPointF(0, 0), kWindow), QStringLiteral("temp:/doc"));
  scene.shown.containerView->addSubview(view);
  auto sun = scene.root->ideas()[static_cast<size_t>(index)];
  view->setParentIdea(scene.root, false);
  view->startUpdate();
  view->setCentralIdea(sun);
  for (int i = 0; i < 3; ++i) view->addIdea(idea(QStringLiteral("grandchild %1").arg(i)));
  view->endUpdate();
  view->applyLayout();
  return view;
}

}  // namespace

TEST(RadialDrill, TheDownPictureEndsWithThePlanetAsTheNewSunAtTheOldCentre) {
  Scene s(kWindow);
  s.fill(6, /*withParent=*/true);
  s.view->setCurrentAngle(0.3f);
  s.view->updateView();
  s.view->setAnimating(true);
  auto down = s.view->prepareDrillDownAnimation(2, /*simulated=*/false);
  ASSERT_EQ(lines(*s.view).size(), 2u) << "the coming connector line";
  LineLayer* newLine = lines(*s.view)[0] == s.view->lineLayer() ? lines(*s.view)[1] : lines(*s.view)[0];

  down(0.4f);
  EXPECT_NEAR(s.view->orbitLayer().opacity(), 0.5, 1e-5);
  EXPECT_NEAR(newLine->opacity(), 0.5, 1e-5);
  down(0.8f);
  EXPECT_NEAR(s.view->orbitLayer().opacity(), 0, 1e-6) << "clear from 80 %";
  EXPECT_NEAR(newLine->opacity(), 1, 1e-6);
  down(1.0f);
  PlanetLayer* planet = s.view->ideaViewAtIndex(2);
  EXPECT_LE(distance(planet->position(), QPointF(720, 450)), 0.5);
  EXPECT_NEAR(planet->transform().m11(), 76.0 / 56.0, 1e-5);
  EXPECT_EQ(viewext::center(*s.view->centralView()), QPointF(0, 0)) << "the old sun becomes the parent";
  const QPointF T = QPointF(0, 0) - QPointF(720, 450);
  EXPECT_EQ(s.view->parentView()->frame().topLeft(), T);
}

TEST(RadialDrill, TheCollapsedViewHidesItsSunParentAndLineUntilTheLastPercent) {
  Scene s(kWindow);
  s.fill(4, true);
  const float r0 = s.view->radius();
  s.view->setAnimating(true);
  auto collapse = s.view->prepareCollapseAnimation();
  collapse(1.0f);
  EXPECT_FLOAT_EQ(s.view->radius(), r0 / 2);
  EXPECT_NEAR(s.view->ideaViewAtIndex(0)->transform().m11(), 0.5, 1e-6);
  EXPECT_TRUE(s.view->centralView()->isHidden() && s.view->parentView()->isHidden() && s.view->lineLayer()->isHidden());
  collapse(0.0101f);
  EXPECT_TRUE(s.view->centralView()->isHidden());
  collapse(0.0099f);
  EXPECT_FALSE(s.view->centralView()->isHidden() || s.view->parentView()->isHidden() || s.view->lineLayer()->isHidden());
}

TEST(RadialDrill, DrillingDownPlaysOnceAndHandsOver) {
  for (bool withCompletion : {true, false}) {
    Scene s(kWindow);
    s.fill(6, true);
    auto next = newViewFor(s, 1);
    int completions = 0;
    s.view->animateDrillDownInto(1, next, withCompletion ? std::function<void()>([&] { ++completions; }) : nullptr);
    EXPECT_TRUE(s.view->isAnimating() && next->isAnimating());
    EXPECT_TRUE(next->centralView()->isHidden()) << "folded at once";
    uitest::advance(0.2);
    EXPECT_TRUE(next->centralView()->isHidden());
    EXPECT_EQ(completions, 0);
    uitest::advance(0.3);
    EXPECT_EQ(completions, withCompletion ? 1 : 0);
    EXPECT_FALSE(s.view->isAnimating() || next->isAnimating()) << "flags cleared with or without a completion";
    EXPECT_FALSE(next->centralView()->isHidden());
    EXPECT_NEAR(next->radius(), 202, 1e-3);
    EXPECT_TRUE(next->ideaViewAtIndex(0)->transform().isIdentity());
    uitest::advance(1.0);
    EXPECT_EQ(completions, withCompletion ? 1 : 0);
  }
}

TEST(RadialDrill, DrillingUpMirrorsTheDownPicture) {
  Scene s(kWindow);  // the parent's new view
  s.fill(5, true);
  const QPointF ringPlace = s.planetCenter(3);
  auto old = newViewFor(s, 3);
  int completions = 0;
  s.view->animateDrillUpFrom(3, old, [&] { ++completions; });
  EXPECT_LE(distance(s.planetCenter(3), QPointF(720, 450)), 0.5) << "starts where the old sun was";
  EXPECT_NEAR(s.view->ideaViewAtIndex(3)->transform().m11(), 76.0 / 56.0, 1e-5);
  EXPECT_EQ(lines(*s.view).size(), 1u) << "no new line when drilling up";
  EXPECT_FALSE(old->centralView()->isHidden());
  uitest::advance(0.1);
  EXPECT_TRUE(old->centralView()->isHidden()) << "the old view folds away";
  uitest::advance(0.4);
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(s.view->isAnimating() || old->isAnimating());
  EXPECT_LE(distance(s.planetCenter(3), ringPlace), 1.0);
  EXPECT_TRUE(s.view->ideaViewAtIndex(3)->transform().isIdentity());
  EXPECT_DOUBLE_EQ(s.view->orbitLayer().opacity(), 1.0);
}

TEST(RadialDrill, ADrillDuringACoastLandsWhereTheDrillPutsIt) {
  Scene s(kWindow);
  s.fill(6, true);
  auto next = newViewFor(s, 2);
  s.view->handleBeginRotationGesture(s.view->rotationRecognizer(), 0);
  s.view->handleEndRotationGesture(s.view->rotationRecognizer(), 6.0f);
  uitest::advance(0.05);
  ASSERT_NE(s.view->currentAngle(), 0) << "coasting";
  const float a0 = s.view->currentAngle();
  const float a1 = a0 + Geometry::minimumAngleFrom(s.view->currentAngleForIdeaAtIndex(2),
                                                   Geometry::angleFrom(QPointF(0, 0), QPointF(720, 450)));
  float atCompletion = 0;
  s.view->animateDrillDownInto(2, next, [&] { atCompletion = s.view->currentAngle(); });
  EXPECT_EQ(s.view->rotationAnimator(), nullptr) << "the drill stops the rotation";
  uitest::advance(0.5);
  EXPECT_FLOAT_EQ(atCompletion, a1);
  uitest::advance(1.0);
  EXPECT_FLOAT_EQ(s.view->currentAngle(), a1) << "no coast frame after the drill";
  EXPECT_FALSE(s.view->isAnimating());

  // Rotation input during a drill does nothing.
  s.view->setAnimating(true);
  s.view->handleBeginRotationGesture(s.view->rotationRecognizer(), 0);
  EXPECT_EQ(s.view->rotationAnimator(), nullptr);
  s.view->setAnimating(false);
}

TEST(RadialDrill, AMissingPlanetStillAnimates) {
  Scene s(kWindow);
  s.fill(2, true);
  auto next = newViewFor(s, 0);
  int completions = 0;
  s.view->animateDrillDownInto(7, next, [&] { ++completions; });
  uitest::advance(0.5);
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(s.view->isAnimating());
}

// A drill changes both rings' radii every frame: the frames stroke them and redraw no picture
// of a ring's square; at rest each ring keeps its picture again.
TEST(RadialDrill, DrillFramesRedrawNoRingPicture) {
  Scene s(kWindow);
  s.fill(6, true);
  auto next = newViewFor(s, 1);
  auto compose = [&] {
    QImage frame(kWindow.toSize(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&frame);
    s.window().compose(painter, QRectF(QPointF(0, 0), kWindow));
  };
  compose();
  auto ringDraws = [&] { return s.view->orbitLayer().displayCount() + next->orbitLayer().displayCount(); };
  s.view->animateDrillDownInto(1, next, nullptr);
  compose();
  const int before = ringDraws();
  for (int frame = 0; frame < 15; ++frame) {
    uitest::advance(1.0 / 60);
    compose();
    EXPECT_TRUE(s.view->orbitLayer().contents().isNull() && next->orbitLayer().contents().isNull());
  }
  EXPECT_EQ(ringDraws(), before);
  uitest::advance(1.0);
  compose();
  EXPECT_FALSE(next->orbitLayer().contents().isNull()) << "the ring at rest is a picture again";
}

// A view drawn before it goes into the window has nothing left to draw there and shows what
// one drawn in the window shows.
TEST(RadialDrill, AViewDrawnBeforeShowingDrawsNothingMoreAndLooksTheSame) {
  Scene s(kWindow);
  s.view->removeFromSuperview();
  auto fresh = [] {
    auto view = SolarSystem::create(QRectF(QPointF(0, 0), kWindow), QStringLiteral("temp:/doc"));
    IdeaPtr parent = idea(QStringLiteral("parent"), 2);
    IdeaPtr sun = idea(QStringLiteral("sun with a title"), 1);
    parent->addIdea(sun);
    view->setParentIdea(parent, false);
    view->startUpdate();
    view->setCentralIdea(sun);
    for (int i = 0; i < 3; ++i) {
      IdeaPtr child = idea(QStringLiteral("child %1").arg(i), i + 3);
      sun->addIdea(child);
      view->addIdea(child);
    }
    view->endUpdate();
    view->applyLayout();
    return view;
  };
  const double scale = s.window().backingScaleFactor();
  auto drawn = fresh();
  drawn->drawViewsBeforeShowing(scale);
  s.shown.containerView->addSubview(drawn);
  int views = 0;
  std::function<void(platform::View&)> nothingLeft = [&](platform::View& view) {
    ++views;
    EXPECT_FALSE(view.layer()->needsDisplay()) << typeid(view).name();
    for (const auto& sub : view.subviews()) nothingLeft(*sub);
  };
  for (const auto& sub : drawn->subviews()) nothingLeft(*sub);
  EXPECT_GE(views, 5) << "the sun, the parent and the adders";
  const QImage shownDrawn = s.window().snapshot(scale);
  drawn->removeFromSuperview();

  s.shown.containerView->addSubview(fresh());
  EXPECT_EQ(s.window().snapshot(scale), shownDrawn);
}

// At any size the drilled planet ends at the centre, turning the short way (never through the
// pile), and plays back to where it started, as the drill up shows it.
class RadialDrillAtAnySize : public testing::TestWithParam<int> {};

TEST_P(RadialDrillAtAnySize, TheDrilledPlanetEndsAtTheCentre) {
  Scene s(kWindow);
  s.fill(GetParam(), true);
  SolarSystem& v = *s.view;
  ASSERT_TRUE(v.isCompressed());
  v.setCurrentAngle(v.currentAngle() + 4 * std::numbers::pi);  // turned round twice by the user
  v.updateView();
  const double a0 = v.currentAngle();
  v.setAnimating(true);
  // Before the centre's direction, past it, far from it, and in the pile.
  for (const double at : {300.0, 60.0, 150.0, 178.0}) {
    const auto off = [&](std::int64_t j) { return std::abs(std::remainder(standingDegrees(v, j) - at, 360)); };
    std::int64_t i = 0;
    for (std::int64_t j = 1; j < v.ideaViewCount(); ++j) i = off(j) < off(i) ? j : i;
    const QPointF from = s.planetCenter(i);
    auto down = v.prepareDrillDownAnimation(i, /*simulated=*/true);
    for (const float t : {0.25f, 0.5f, 0.75f}) {
      down(t);
      EXPECT_TRUE(at == 178.0 || std::abs(standingDegrees(v, i) - 177.5) > 6) << "planet " << i << " from " << at;
    }
    down(1.0f);
    EXPECT_LE(distance(s.planetCenter(i), QPointF(720, 450)), 0.5) << "planet " << i << " from " << at << "°";
    down(0.0f);
    EXPECT_EQ(v.currentAngle(), a0);
    EXPECT_LE(distance(s.planetCenter(i), from), 0.5);
  }
  v.setAnimating(false);
}

INSTANTIATE_TEST_SUITE_P(Planets, RadialDrillAtAnySize, testing::Values(12, 1000, 100000));
