#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "foundation/geometry.h"
#include "foundation/logging.h"
#include "foundation/views/view_extensions.h"
#include "solar_test_support.h"

using namespace orrery;
using namespace solartest;

namespace {

// Captures soft assertions for the life of the scope.
struct LogScope {
  LogScope() {
    previous = setLogSink([this](const QString& line) { lines.push_back(line); });
  }
  ~LogScope() { setLogSink(previous); }
  int assertions() const {
    int n = 0;
    for (const auto& l : lines) n += l.contains(QStringLiteral("Assertion failure"));
    return n;
  }
  LogSink previous;
  std::vector<QString> lines;
};

double centreDistance(QPointF a, QPointF b) { return std::hypot(a.x() - b.x(), a.y() - b.y()); }

// The angle at which a planet stands around the sun, in degrees [0, 360).
double standingAngle(Scene& s, std::int64_t i) {
  const QPointF d = s.planetCenter(i) - viewext::center(*s.view->centralView());
  double a = std::atan2(d.y(), d.x()) * 180 / std::numbers::pi;
  return a < 0 ? a + 360 : a;
}

constexpr double kTurn = 2 * std::numbers::pi;

// The angle between two neighbours where the planets stand spread out.
double placeSpacing(const SolarSystem& v) {
  if (!v.isCompressed()) return kTurn / static_cast<double>(v.ideaViewCount());
  return kTurn / static_cast<double>(std::max<std::int64_t>(6, v.elementsFittingRadius(v.radius())));
}

// How far apart two angles in radians are, either way round.
double apart(double a, double b) { return std::abs(SolarSystem::minimumAngle(a, b)); }

// The shown planet, or adder, whose layout angle lies nearest `degrees`.
std::int64_t nearest(const SolarSystem& v, double degrees, bool adder) {
  const std::int64_t n = adder ? v.ideaAdderViewCount() : v.ideaViewCount();
  std::int64_t best = -1;
  double bestApart = kTurn;
  for (std::int64_t i = 0; i < n; ++i) {
    if (adder ? !v.isAdderViewMade(i) || v.ideaAdderViewAtIndex(i)->layer()->isCovered()
              : v.ideaViewAtIndex(i)->isCovered())
      continue;
    const double a = adder ? v.currentAngleForAdderAtIndex(i) : v.currentAngleForIdeaAtIndex(i);
    if (apart(a, radians(degrees)) < bestApart) bestApart = apart(a, radians(degrees)), best = i;
  }
  return best;
}

// Every planet has an adder in the gap after it, the spread part is evenly spaced and full,
// and a press on a shown disc or the pile's top finds it (or one drawn above it).
void expectWholeRing(Scene& s, const std::string& when) {
  const SolarSystem& v = *s.view;
  const std::int64_t n = v.ideaViewCount();
  ASSERT_EQ(v.ideaAdderViewCount(), n) << when;
  const auto& sublayers = v.layer()->sublayers();
  const platform::Layer* bottom = sublayers[sublayers.size() - static_cast<std::size_t>(n)].get();
  std::int64_t first = 0;
  while (v.ideaViewAtIndex(first) != bottom) ++first;
  auto drawnAt = [&](std::int64_t i) { return (i - first + n) % n; };
  std::vector<std::int64_t> pressed;  // the spread part, then the pile's top
  std::int64_t pileTop = -1;
  for (std::int64_t i = 0; i < n; ++i) {
    const bool inPile = std::abs(standingAngle(s, i) - 177.5) <= 6;  // from 172° to 183°
    if (inPile && (pileTop < 0 || drawnAt(i) > drawnAt(pileTop))) pileTop = i;
    if (inPile && v.ideaViewAtIndex(i)->isCovered()) continue;
    const double at = v.currentAngleForIdeaAtIndex(i);
    const double gap = SolarSystem::normalizedAngle(v.currentAngleForIdeaAtIndex((i + 1) % n) - at);
    const double adder = SolarSystem::normalizedAngle(v.currentAngleForAdderAtIndex(i) - at);
    ASSERT_LE(adder, gap) << when << ": adder " << i << " stands outside the gap after its planet";
    if (inPile) continue;
    pressed.push_back(i);
    // The last before the pile may stand 6° farther (343° to 349° stay empty).
    ASSERT_LE(gap, placeSpacing(v) + radians(6.01)) << when << ": the spread part is evenly spaced at " << i;
  }
  EXPECT_GE(std::ssize(pressed), std::min<std::int64_t>(n, std::llround(kTurn / placeSpacing(v)) - 1)) << when;
  if (pileTop >= 0) {
    EXPECT_FALSE(v.ideaViewAtIndex(pileTop)->isCovered()) << when;
    pressed.push_back(pileTop);
  }
  for (const std::int64_t i : pressed) {
    const std::int64_t hit = v.ideaViewAt(s.planetCenter(i));
    ASSERT_GE(hit, 0) << when << ": a press on planet " << i;
    ASSERT_TRUE(hit == i || drawnAt(hit) > drawnAt(i)) << when << ": a press on planet " << i << " found " << hit;
  }
}

}  // namespace

TEST(RadialLayout, OrbitRadiusGrowsFromTheSeventhPlanetUpToTheMaximum) {
  Scene s;  // 1000 × 800: minimum 202, maximum 280
  s.fill(0);
  EXPECT_FLOAT_EQ(s.view->radius(), 202);
  ASSERT_EQ(s.view->ideaAdderViewCount(), 4);
  const QPointF sun = viewext::center(*s.view->centralView());
  EXPECT_EQ(sun, QPointF(500, 400));
  for (int i = 0; i < 4; ++i) {
    const float expected = radians(45 + 90 * i);
    EXPECT_NEAR(s.view->currentAngleForAdderAtIndex(i), expected, 1e-5);
    EXPECT_NEAR(centreDistance(s.adderCenter(i), sun), 202, 1.5) << "frames rounded down to whole points";
  }
  for (int n = 1; n <= 6; ++n) {
    s.view->addIdea(idea(QStringLiteral("p%1").arg(n)));
    EXPECT_FLOAT_EQ(s.view->radius(), 202) << n << " planets";
  }
  s.view->addIdea(idea(QStringLiteral("p7")));
  EXPECT_NEAR(s.view->radius(), 202.0 / 6 * 7, 1e-3);
  for (int n = 8; n <= 12; ++n) s.view->addIdea(idea(QStringLiteral("p%1").arg(n)));
  EXPECT_NEAR(s.view->radius(), 280, 1e-3);
  for (int i = 0; i < s.view->ideaViewCount(); ++i)
    EXPECT_NEAR(centreDistance(s.planetCenter(i), sun), 280, 1.0) << "integral frames move centres by under a point";
}

TEST(RadialLayout, SmallViewsScaleByThreeQuartersAndLayNinePlanetsOutCompressed) {
  Scene s(QSizeF(600, 800));
  s.fill(3);
  EXPECT_DOUBLE_EQ(s.view->scalingFactor(), 0.75);
  EXPECT_DOUBLE_EQ(s.view->minRadius(), 151.5);
  EXPECT_NEAR(s.view->maxRadius(), 209.99999, 1e-4);
  EXPECT_FLOAT_EQ(s.view->radius(), 151.5);
  EXPECT_DOUBLE_EQ(s.view->ideaViewAtIndex(0)->scale(), 0.75);
  EXPECT_DOUBLE_EQ(s.view->centralView()->scale(), 0.75);
  for (int i = 3; i < 9; ++i) s.view->addIdea(idea(QStringLiteral("more")));
  EXPECT_DOUBLE_EQ(s.view->radiusAllowing(9), 227.25);
  EXPECT_NEAR(s.view->radius(), 210, 1e-3);
  EXPECT_EQ(s.view->currentAngleForIdeaAtIndex(3), s.view->scaleAngleForElementAtIndex(3, 9, s.view->currentAngle()));
}

TEST(RadialLayout, NinePlanetsInAThousandByEightHundredStandInRunsAndAPile) {
  Scene s;
  s.fill(9);
  s.view->setCurrentAngle(0);
  s.view->updateView();
  EXPECT_EQ(s.view->elementsFittingRadius(s.view->radius()), 7);
  const double expected[] = {3, 54.4, 105.9, 157.3, 174.7, 179.6, 208.7, 260.1, 311.6};
  for (int i = 0; i < 9; ++i) {
    EXPECT_NEAR(degrees(s.view->currentAngleForIdeaAtIndex(i)), expected[i], 0.1) << "planet " << i;
    EXPECT_NEAR(standingAngle(s, i), expected[i], 0.3) << "planet " << i << " on screen";
  }
}

TEST(RadialLayout, TheFittingCountFollowsTheRadiusAndNeverFallsBelowSix) {
  const struct {
    QSizeF size;
    float radius;
    std::int64_t fitting;
  } cases[] = {
      {QSizeF(1000, 800), 202, 6},       {QSizeF(1000, 800), 280, 7},  {QSizeF(1000, 800), 300, 8},
      {QSizeF(1000, 800), 340, 9},       {QSizeF(1000, 800), 606, 15}, {QSizeF(600, 800), 151.5f, 6},
      {QSizeF(600, 800), 209.99998f, 7}, {QSizeF(600, 800), 100, 6},   {QSizeF(1000, 800), 0, 6},
  };
  for (const auto& c : cases) {
    Scene s(c.size);
    EXPECT_EQ(std::max<std::int64_t>(6, s.view->elementsFittingRadius(c.radius)), c.fitting)
        << c.size.width() << " × " << c.size.height() << " at radius " << c.radius;
  }
}

TEST(RadialEdits, InsertingIntoACrowdedOrbitLandsThePlanetInItsGap) {
  // Nine planets in 1000 × 800 stand compressed; the tenth goes where the tapped adder was.
  for (int after : {0, 2, 6, 8}) {
    Scene s;
    s.fill(9);
    ASSERT_GT(s.view->radiusAllowing(9), s.view->radius()) << "laid out compressed";
    const float gap = s.view->currentAngleForAdderAtIndex(after);
    auto added = idea(QStringLiteral("new"));
    s.view->insertIdea(added, after);
    ASSERT_EQ(s.view->ideaViewAtIndex(after + 1)->ideaIdentifier(), added->identifier());
    EXPECT_NEAR(Geometry::minimumAngleFrom(s.view->currentAngleForIdeaAtIndex(after + 1), gap), 0, 0.03)
        << "after planet " << after << ", gap at " << degrees(gap) << "°";
  }
}

TEST(RadialLayout, TheCompressedLayoutSkipsTheGapBeforeTheTurn) {
  Scene s;
  s.fill(40);
  for (int n = 7; n <= 40; ++n)
    for (int i = 0; i < n; ++i)
      for (float offset : {0.0f, 0.3f, 2.0f, 5.9f}) {
        const double before = std::fmod(degrees(s.view->scaleAngleForElementAtIndex(i, n, offset)) - 183 + 720, 360);
        EXPECT_FALSE(before > 343.001 && before < 348.999) << n << " elements, #" << i << " at " << before;
      }
}

TEST(RadialLayout, TheMaximumSearchStaysInsideItsRange) {
  auto peak = [](double x) { return -std::abs(x - 0.07); };
  EXPECT_NEAR(SolarSystem::findMaxValueLocation(0, 0.15, 20, peak), 0.07, 0.005);
  const double coarse = SolarSystem::findMaxValueLocation(0, 0.15, 0, peak);
  EXPECT_TRUE(coarse == 0 || coarse == static_cast<double>(0.15f)) << "only the ends without check points";
  EXPECT_EQ(SolarSystem::findMaxValueLocation(0.1, 0.15, -1, peak), 0.1) << "negative: only the start";
  EXPECT_EQ(SolarSystem::findMaxValueLocation(0, 1, 9, [](double) { return 1.0; }), 0) << "ties keep the earlier";
}

// The layout reduces every angle it places; a reduction off by one step of a double moves a
// planet of a crowded ring to another pixel and breaks the pile's covering.
TEST(RadialLayout, AngleReductionIsTheExactRemainderOfATurn) {
  const double below = std::nextafter(kTurn, 0.0), above = std::nextafter(kTurn, 10.0);
  for (const double a : {0.0, -0.0, 1e-300, 1.0, below, kTurn, above, kTurn + 3, 2 * kTurn - 1e-12, 2 * kTurn,
                         std::nextafter(2 * kTurn, 20.0), 3 * kTurn, -1e-300, -1.0, -kTurn, -7 * kTurn - 0.5, 1e9}) {
    const double turn = std::fmod(a, kTurn), wrapped = turn < 0 ? turn + kTurn : turn;
    EXPECT_EQ(SolarSystem::normalizedAngle(a), wrapped < kTurn ? wrapped : 0.0) << std::hexfloat << a;
  }
}

TEST(RadialEdits, InsertingOnAnEmptyOrbitLandsOnTheChosenAdder) {
  for (int k : {-1, 0, 1, 2, 3}) {
    Scene s;
    s.fill(0);
    const int target = (4 + k) % 4;
    const float adderAngle = s.view->currentAngleForAdderAtIndex(target);
    s.view->insertIdea(idea(QStringLiteral("first")), k);
    ASSERT_EQ(s.view->ideaViewCount(), 1);
    EXPECT_EQ(s.view->ideaAdderViewCount(), 1) << "the four empty-orbit adders give way";
    EXPECT_NEAR(Geometry::minimumAngleFrom(s.view->currentAngleForIdeaAtIndex(0), adderAngle), 0, 0.02)
        << "after adder " << k;
  }
}

TEST(RadialEdits, InsertingBetweenPlanetsTurnsTheRingOnlyOutsideABatch) {
  Scene s;
  s.fill(4);
  EXPECT_FLOAT_EQ(s.view->currentAngle(), 0) << "planets added inside the fill batch keep offset 0";
  const float gap = s.view->currentAngleForAdderAtIndex(1);
  auto added = idea(QStringLiteral("new"));
  s.view->insertIdea(added, 1);
  EXPECT_EQ(s.view->ideaViewAtIndex(2)->ideaIdentifier(), added->identifier());
  EXPECT_NEAR(Geometry::minimumAngleFrom(s.view->currentAngleForIdeaAtIndex(2), gap), 0, 0.02);

  s.view->startUpdate();
  const double before = s.view->currentAngle();
  s.view->insertIdea(idea(QStringLiteral("batched")), 0);
  EXPECT_EQ(s.view->currentAngle(), before);
  s.view->endUpdate();
}

TEST(RadialEdits, RemovingClosesTheGapAroundThePlaceAndTheLastLeavesFourAdders) {
  Scene s;
  s.fill(5);
  s.view->setCurrentAngle(0.4f);
  s.view->updateView();
  const float removedAt = s.view->currentAngleForIdeaAtIndex(2);
  s.view->removeIdeaAtIndex(2);
  ASSERT_EQ(s.view->ideaViewCount(), 4);
  EXPECT_EQ(s.view->ideaAdderViewCount(), 4);
  const float middle = Geometry::interpolateAngleFrom(s.view->currentAngleForIdeaAtIndex(1),
                                                      s.view->currentAngleForIdeaAtIndex(2), 0.5f);
  EXPECT_NEAR(Geometry::minimumAngleFrom(middle, removedAt), 0, 1e-4);

  Scene single;
  single.fill(1);
  const double angle = single.view->currentAngle();
  single.view->removeIdeaAtIndex(0);
  EXPECT_EQ(single.view->ideaViewCount(), 0);
  EXPECT_EQ(single.view->ideaAdderViewCount(), 4);
  EXPECT_EQ(single.view->currentAngle(), angle);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(single.view->ideaAdderViewAtIndex(i)->objectTag(), nullptr);
}

TEST(RadialEdits, MovingEitherWayPutsThePlanetBetweenItsDropNeighbours) {
  for (auto [from, position] : {std::pair{0, 3}, std::pair{4, 1}}) {
    Scene s;
    s.fill(6);
    const QString moved = s.view->ideaViewAtIndex(from)->ideaIdentifier();
    const int gap = position - 1;  // the adder between the planets position - 1 and position
    const float dropAngle = s.view->currentAngleForAdderAtIndex((6 + gap) % 6);
    s.view->moveIdea(nullptr, from, position);
    const std::int64_t to = position > from ? position - 1 : position;
    EXPECT_EQ(s.view->ideaViewAtIndex(to)->ideaIdentifier(), moved) << "the index of its idea after the move";
    EXPECT_NEAR(Geometry::minimumAngleFrom(s.view->currentAngleForIdeaAtIndex(to), dropAngle), 0, 0.02)
        << "from " << from << " to position " << position << ": where the drop gap was";
    for (int i = 0; i < 6; ++i)
      EXPECT_NEAR(std::abs(Geometry::minimumAngleFrom(s.view->currentAngleForIdeaAtIndex(i),
                                                      s.view->currentAngleForIdeaAtIndex((i + 1) % 6))),
                  radians(60), 1e-4);
  }
}

TEST(RadialEdits, BatchesNestAndAnUnmatchedEndLaysOut) {
  Scene s;
  s.fill(0);
  s.view->startUpdate();
  s.view->startUpdate();
  for (int i = 0; i < 8; ++i) s.view->addIdea(idea(QStringLiteral("p")));
  s.view->endUpdate();
  EXPECT_FLOAT_EQ(s.view->radius(), 202) << "the inner end does not lay out";
  s.view->endUpdate();
  EXPECT_NEAR(s.view->radius(), 202.0 / 6 * 8, 1e-3);
  s.view->endUpdate();
  EXPECT_EQ(s.view->updateDepth(), 0);
}

TEST(RadialEdits, DockingShadowsAndRefreshesFollowTheCaller) {
  Scene s;
  auto root = s.fill(3);
  s.view->setDockingMode(true);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s.view->ideaAdderViewAtIndex(i)->adderState(), 3u);
  s.view->updateFocusBasedOnPoint(s.adderCenter(1), s.view.get());
  s.view->setDockingMode(true);
  EXPECT_TRUE(s.view->ideaAdderViewAtIndex(1)->inFocus()) << "docking on keeps focus marks";
  s.view->addIdea(idea(QStringLiteral("docked")));
  EXPECT_EQ(s.view->ideaAdderViewAtIndex(3)->adderState(), 3u) << "new adders follow the docking mode";
  s.view->setDockingMode(false);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(s.view->ideaAdderViewAtIndex(i)->adderState(), 1u);
    EXPECT_FALSE(s.view->ideaAdderViewAtIndex(i)->inFocus());
  }

  s.view->setShadowForIdeaAtIndex(1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s.view->ideaViewAtIndex(i)->shadowMode(), i == 1);
  s.view->removeAllShadows();
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(s.view->ideaViewAtIndex(i)->shadowMode());

  root->ideas()[0]->setText(QStringLiteral("renamed"));
  s.view->modifyIdea(root->ideas()[0], 0);
  EXPECT_EQ(s.view->ideaViewAtIndex(0)->text(), QStringLiteral("renamed"));
  EXPECT_EQ(s.view->popoverRectForIdeaAtIndex(0), s.view->ideaViewAtIndex(0)->frame());
}

TEST(RadialEdits, TheParentAndItsLineComeWithTheSun) {
  Scene s;
  auto parent = idea(QStringLiteral("parent"));
  s.view->setParentIdea(parent, /*asLink=*/true);
  EXPECT_EQ(s.view->lineLayer(), nullptr) << "no sun yet, no line";
  s.view->setCentralIdea(idea(QStringLiteral("sun")));
  ASSERT_NE(s.view->lineLayer(), nullptr);
  EXPECT_TRUE(s.view->lineLayer()->usesDash());
  const auto& subs = s.view->layer()->sublayers();
  auto indexOf = [&](const platform::Layer* l) {
    return std::find_if(subs.begin(), subs.end(), [&](const auto& x) { return x.get() == l; }) - subs.begin();
  };
  EXPECT_EQ(indexOf(s.view->lineLayer()) + 1, indexOf(&s.view->orbitLayer())) << "directly below the ring";
  EXPECT_EQ(s.view->parentView()->frame().topLeft(), QPointF(0, 0));
}

TEST(RadialEdits, WrongIndicesAndMissingIdeasChangeNothing) {
  LogScope log;
  Scene s;
  s.fill(3);
  const double angle = s.view->currentAngle();
  s.view->insertIdea(idea(QStringLiteral("x")), -2);
  s.view->removeIdeaAtIndex(3);
  s.view->removeIdeaAtIndex(-1);
  s.view->modifyIdea(idea(QStringLiteral("x")), 7);
  s.view->moveIdea(nullptr, 5, 0);
  s.view->moveIdea(nullptr, 0, 9);
  s.view->setCentralIdea(nullptr);
  s.view->insertIdea(nullptr, 0);
  EXPECT_EQ(s.view->ideaViewCount(), 3);
  EXPECT_EQ(s.view->ideaAdderViewCount(), 3);
  EXPECT_EQ(s.view->currentAngle(), angle);
  EXPECT_EQ(s.view->centralView()->text(), QStringLiteral("sun"));
  EXPECT_EQ(log.assertions(), 8);
}

TEST(RadialLayout, OddSizesAndCrowdsNeverGiveNonFinitePlaces) {
  for (QSizeF size : {QSizeF(0, 0), QSizeF(5000, 5000), QSizeF(1, 3000)}) {
    Scene s(size);
    auto root = idea(QStringLiteral("sun"));
    root->setColor(nullptr);
    s.view->startUpdate();
    s.view->setCentralIdea(root);
    for (int i = 0; i < 500; ++i) {
      auto child = i % 7 == 0 ? Idea::createWithLinkToIdea(root->identifier()) : Idea::createWithText(QString());
      s.view->addIdea(child);
    }
    s.view->endUpdate();
    s.view->applyLayout();
    s.view->setCurrentAngle(123.0f);
    s.view->updateView();
    EXPECT_TRUE(std::isfinite(s.view->radius()));
    for (int i = 0; i < s.view->ideaViewCount(); ++i) {
      const QPointF p = s.planetCenter(i);
      ASSERT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y())) << "planet " << i << " in " << size.width();
    }
    for (int i = 0; i < s.view->ideaAdderViewCount(); ++i) {
      const QPointF p = s.adderCenter(i);
      ASSERT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()));
    }
    s.view->insertIdea(idea(QStringLiteral("one more")), 250);
    EXPECT_EQ(s.view->ideaViewCount(), 501);
    s.window().snapshot();
  }
}

TEST(RadialLayout, NoTwoDiscsOverlapWhileTheNormalLayoutApplies) {
  // The radial view of the smallest window and of a 1440 × 900 screen (below the top bar).
  for (const QSizeF size : {QSizeF(520, 480), QSizeF(1440, 860)}) {
    int normalCounts = 0;
    for (int n = 0; n < 24; ++n) {
      Scene s(size);
      s.fill(n);
      // Filled one by one, as the user adds planets: each insertion turns the ring.
      auto extra = idea(QStringLiteral("added"));
      s.root->addIdea(extra);
      s.view->addIdea(extra);
      const std::int64_t count = s.view->ideaViewCount();
      if (s.view->radiusAllowing(count) > s.view->radius()) continue;  // the compressed layout
      ++normalCounts;
      const double diameter = 2 * s.view->ideaViewAtIndex(0)->planetDrawer()->scaledRadius();
      for (std::int64_t i = 0; i < count; ++i)
        for (std::int64_t j = i + 1; j < count; ++j)
          EXPECT_GE(centreDistance(s.planetCenter(i), s.planetCenter(j)), diameter - 1)
              << count << " planets in " << size.width() << " × " << size.height() << ": " << i << " and " << j;
    }
    EXPECT_GE(normalCounts, 6) << "the normal layout was checked at " << size.width() << " × " << size.height();
  }
}

// A flat map of 100 000 ideas: the orbit fills in one batch, draws its planets clockwise from
// the one at the smallest angle, and only the discs on top of the pile keep a picture, also
// once the ring has turned and others came on top.
TEST(RadialLayout, AHundredThousandPlanetsPileUpAndOnlyTheDiscsOnTopKeepPictures) {
  Scene s(QSizeF(1440, 860));
  s.fill(100000);
  const std::int64_t n = s.view->ideaViewCount();
  ASSERT_EQ(n, 100000);
  ASSERT_EQ(s.view->ideaAdderViewCount(), n);
  auto checkPile = [&](const char* when) {
    std::int64_t first = 0;
    for (std::int64_t i = 1; i < n; ++i)
      if (s.view->currentAngleForIdeaAtIndex(i) < s.view->currentAngleForIdeaAtIndex(first)) first = i;
    const auto& sublayers = s.view->layer()->sublayers();
    ASSERT_GE(static_cast<std::int64_t>(sublayers.size()), n);
    for (std::int64_t k = 0; k < n; ++k)
      ASSERT_EQ(sublayers[sublayers.size() - static_cast<std::size_t>(n - k)].get(),
                s.view->ideaViewAtIndex((first + k) % n))
          << when << ": drawn " << k << "th from the planet at the smallest angle";
    s.window().displayIfNeeded();
    s.window().snapshot();
    std::int64_t onTop = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      PlanetLayer* planet = s.view->ideaViewAtIndex(i);
      ASSERT_EQ(planet->contents().isNull(), planet->isCovered()) << when << ": planet " << i;
      if (planet->isCovered()) continue;
      ++onTop;
      // What a press there meets is a disc on top.
      const std::int64_t hit = s.view->ideaViewAt(planet->position());
      ASSERT_GE(hit, 0);
      EXPECT_FALSE(s.view->ideaViewAtIndex(hit)->isCovered()) << when << ": a press on planet " << i;
    }
    EXPECT_LT(onTop, 200) << when;
    // Each disc without a picture lies under a later-drawn opaque disc of its size at its device pixel.
    std::map<std::tuple<qint64, qint64, double, double>, std::int64_t> lastOpaque;
    auto placeOf = [](const PlanetLayer& p) {
      const QRectF f = p.frame();
      const double k = p.contentsScale();
      return std::tuple{std::llround(f.x() * k), std::llround(f.y() * k), f.width(), f.height()};
    };
    for (std::int64_t k = 0; k < n; ++k) {
      const PlanetLayer& planet = *s.view->ideaViewAtIndex((first + k) % n);
      const PlanetDrawer& drawer = *planet.planetDrawer();
      const bool solid = !drawer.baseColor() || drawer.baseColor()->uiColor().alpha() == 255;
      if (drawer.image().isNull() && solid && planet.opacity() == 1) lastOpaque[placeOf(planet)] = k;
    }
    for (std::int64_t k = 0; k < n; ++k) {
      const PlanetLayer& planet = *s.view->ideaViewAtIndex((first + k) % n);
      if (!planet.isCovered()) continue;
      const auto above = lastOpaque.find(placeOf(planet));
      ASSERT_TRUE(above != lastOpaque.end() && above->second > k) << when << ": planet " << (first + k) % n;
    }
    // Adders under the pile are neither made nor drawn; those beside it are.
    std::int64_t made = 0;
    for (std::int64_t i = 0; i < n; ++i) made += s.view->isAdderViewMade(i);
    EXPECT_LT(made, 400) << when;
    EXPECT_GE(made, 5) << when;
  };
  checkPile("filled");
  s.view->handleBeginRotationGesture(s.view->rotationRecognizer(), 0);
  s.view->angleUpdate(1.3f);
  EXPECT_FLOAT_EQ(s.view->currentAngle(), 1.3f);
  checkPile("turned");
  s.view->rotationEnded();
  // A drag over the pile focuses what lies nearest, an adder made for it if need be.
  const QPointF pile = s.view->ideaViewAtIndex(n / 2)->position();
  EXPECT_LE(s.view->updateFocusBasedOnPoint(pile + QPointF(3, 3), s.view.get()), 60);
  ASSERT_TRUE(s.view->currentFocusObject());
  const auto& focus = *s.view->currentFocusObject();
  if (focus.focusType() == SolarFocusObject::kAdder) {
    EXPECT_TRUE(s.view->ideaAdderViewAtIndex(focus.index())->inFocus());
  }
  s.view->stopFocusing();
  // A drill into the disc on top of the pile carries it to the middle in view, while what goes
  // under keeps no picture.
  const std::int64_t top = s.view->ideaViewAt(pile);
  ASSERT_GE(top, 0);
  PlanetLayer* drilled = s.view->ideaViewAtIndex(top);
  auto frame = s.view->prepareDrillDownAnimation(top, /*simulated=*/true);
  s.view->setAnimating(true);
  for (const float t : {0.3f, 0.7f, 1.0f}) {
    frame(t);
    s.window().displayIfNeeded();
    s.window().snapshot();
    EXPECT_FALSE(drilled->isCovered() || drilled->contents().isNull()) << "at " << t;
    for (std::int64_t i = 0; i < n; ++i)
      if (PlanetLayer* planet = s.view->ideaViewAtIndex(i); planet->isCovered()) {
        ASSERT_TRUE(planet->contents().isNull()) << "planet " << i << " at " << t;
      }
  }
  s.view->setAnimating(false);
}

// A screen fills its orbit before its view has a size: the crowd then lands, piles up and is
// drawn as one filled at that size, and a shadow moves from planet to planet.
TEST(RadialLayout, ACrowdFilledWithoutASizeLandsAsOneFilledAtItsSize) {
  const QSizeF size(1000, 800);
  Scene sized(size), unsized(QSizeF(0, 0));
  sized.fill(3000);
  unsized.fill(3000);
  unsized.view->setFrame(QRectF(QPointF(0, 0), size));
  unsized.window().displayIfNeeded();
  const auto& a = sized.view->layer()->sublayers();
  const auto& b = unsized.view->layer()->sublayers();
  ASSERT_EQ(a.size(), b.size());
  std::int64_t covered = 0;
  for (std::int64_t i = 0; i < 3000; ++i) {
    PlanetLayer* p = sized.view->ideaViewAtIndex(i);
    PlanetLayer* q = unsized.view->ideaViewAtIndex(i);
    covered += p->isCovered();
    ASSERT_EQ(p->position(), q->position()) << "planet " << i;
    ASSERT_EQ(p->isCovered(), q->isCovered()) << "planet " << i;
    ASSERT_EQ(sized.view->isAdderViewMade(i), unsized.view->isAdderViewMade(i)) << "adder " << i;
    ASSERT_EQ(a[a.size() - 3000 + static_cast<std::size_t>(i)].get() == p,
              b[b.size() - 3000 + static_cast<std::size_t>(i)].get() == q)
        << "drawn " << i << "th";
  }
  EXPECT_GT(covered, 2000);
  for (const std::int64_t shadow : {5, 2999, -1}) {
    unsized.view->setShadowForIdeaAtIndex(shadow);
    for (std::int64_t i = 0; i < 3000; ++i)
      ASSERT_EQ(unsized.view->ideaViewAtIndex(i)->shadowMode(), i == shadow) << i << " with " << shadow;
  }
}

// At any size: an insertion lands at its adder, a removal closes the gap around its place, a
// move lands in the drop gap, and the ring stays whole through these and a turn.
class RadialEditsAtAnySize : public testing::TestWithParam<int> {};

TEST_P(RadialEditsAtAnySize, TheAffectedPlanetStandsWhereTheUserWorked) {
  Scene s(QSizeF(1440, 860));
  s.fill(GetParam());
  SolarSystem& v = *s.view;
  ASSERT_TRUE(v.isCompressed());
  const double near = placeSpacing(v) / 4;
  auto standing = [&](std::int64_t i) { return radians(standingAngle(s, i)); };
  expectWholeRing(s, "filled");

  const std::int64_t after = nearest(v, 300, /*adder=*/true);
  const double adderAt = v.currentAngleForAdderAtIndex(after);
  auto added = idea(QStringLiteral("new"));
  v.insertIdea(added, after);
  ASSERT_EQ(v.ideaViewAtIndex(after + 1)->ideaIdentifier(), added->identifier());
  EXPECT_LE(apart(standing(after + 1), adderAt), near) << "inserted after " << after;
  EXPECT_FALSE(v.ideaViewAtIndex(after + 1)->isCovered());
  EXPECT_TRUE(v.bounds().contains(s.planetCenter(after + 1))) << "in view";
  expectWholeRing(s, "inserted");

  const std::int64_t removed = nearest(v, 60, /*adder=*/false);
  const double removedAt = standing(removed);
  v.removeIdeaAtIndex(removed);
  const std::int64_t n = v.ideaViewCount();
  const double before = standing((removed - 1 + n) % n);
  const double middle = before + 0.5 * SolarSystem::minimumAngle(before, standing(removed % n));
  EXPECT_LE(apart(middle, removedAt), near) << "the gap closes around planet " << removed << "'s place";
  expectWholeRing(s, "removed");

  // Backward from the lower right into the gap at the top left, and forward again.
  for (const auto& [fromAt, gapAt] : {std::pair{30.0, 250.0}, std::pair{250.0, 30.0}}) {
    const std::int64_t from = nearest(v, fromAt, /*adder=*/false);
    const std::int64_t gap = nearest(v, gapAt, /*adder=*/true);
    const double dropAt = v.currentAngleForAdderAtIndex(gap);
    const QString moved = v.ideaViewAtIndex(from)->ideaIdentifier();
    v.moveIdea(nullptr, from, gap + 1);
    const std::int64_t to = gap + 1 > from ? gap : gap + 1;
    ASSERT_EQ(v.ideaViewAtIndex(to)->ideaIdentifier(), moved);
    EXPECT_LE(apart(standing(to), dropAt), near) << "moved from " << from << " into gap " << gap;
    expectWholeRing(s, "moved");
  }

  v.handleBeginRotationGesture(v.rotationRecognizer(), 0);
  v.angleUpdate(v.currentAngle() + 0.7);
  v.stopAnimations();
  expectWholeRing(s, "turned");
}

INSTANTIATE_TEST_SUITE_P(Planets, RadialEditsAtAnySize, testing::Values(12, 1000, 10000, 100000, 999990));
