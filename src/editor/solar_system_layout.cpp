// The radial view's geometry: orbit radius, the angle of every planet and adder (normal and
// compressed), the offset search that turns the ring after an insertion or move, and the
// placement pass.

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <typeinfo>

#include "editor/solar_system.h"
#include "foundation/geometry.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/view_extensions.h"

namespace orrery {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kSmallSideLimit = 640;
constexpr double kMaxRadiusShare = static_cast<double>(0.7f);
constexpr double kFittingFactor = 0.800000011920929;
constexpr std::int64_t kMinimumFitting = 6;
constexpr float k343Degrees = 5.98647928f;
constexpr double kSixDegrees = 0.10471975511965977;
constexpr double kSqueezeBase = 2.8333338295281516;
constexpr double k183Degrees = 3.193952531149623;
constexpr int kCompressionLine = 978;

float finiteOr(float value, float fallback) { return std::isfinite(value) ? value : fallback; }

double normalized(double angle) { return SolarSystem::normalizedAngle(std::isfinite(angle) ? angle : 0.0); }

}  // namespace

double SolarSystem::normalizedAngle(double angle) {
  // The layout asks this for every planet and adder, nearly always of an angle less than two
  // turns: there, one subtraction is exact (the operands lie within a factor of two) and gives
  // what the remainder would, for a fraction of its cost.
  if (angle >= 0 && angle < kTwoPi) return angle;
  if (angle >= kTwoPi && angle <= 2 * kTwoPi) {
    const double once = angle - kTwoPi;
    return once < kTwoPi ? once : 0.0;
  }
  const double turn = std::fmod(angle, kTwoPi);
  const double wrapped = turn < 0 ? turn + kTwoPi : turn;
  return wrapped < kTwoPi ? wrapped : 0.0;
}

double SolarSystem::minimumAngle(double from, double to) {
  return std::remainder(normalizedAngle(to) - normalizedAngle(from), kTwoPi);
}

double SolarSystem::scalingFactor() const {
  return std::min(bounds().width(), bounds().height()) < kSmallSideLimit ? 0.75 : 1.0;
}

double SolarSystem::minRadius() const { return normal_mode_radius() * scalingFactor(); }

double SolarSystem::maxRadius() const {
  const double side = std::max(0.0, std::min(bounds().width(), bounds().height()));
  return std::max(minRadius(), std::min(3 * minRadius(), side * 0.5 * kMaxRadiusShare));
}

double SolarSystem::radiusAllowing(std::int64_t count) const { return minRadius() / 6 * static_cast<double>(count); }

std::int64_t SolarSystem::elementsFittingRadius(float radius) const {
  const double value = (radius - minRadius()) * 6 / minRadius() * kFittingFactor + 6;
  if (!std::isfinite(value)) return kMinimumFitting;
  return static_cast<std::int64_t>(std::trunc(std::clamp(value, -1e9, 1e9)));
}

SolarSystem::Ring SolarSystem::ring(std::int64_t count, double offset, bool compressed) const {
  Ring ring{compressed, count, offset, 0, 0, 0, 0, 0, 0, 0};
  if (count <= 0) return ring;
  ring.step = kTwoPi / static_cast<double>(count);
  if (!ring.compressed) return ring;
  const std::int64_t fit = std::max(kMinimumFitting, elementsFittingRadius(mRadius));
  const double F = static_cast<float>(fit);
  // The two spacings keep their single-precision values. The position is a double: its error
  // comes out count / fit times larger in the angle, and a float's step near 2π is already a
  // tenth of a place on an orbit of a million.
  ring.sn = static_cast<float>(kTwoPi / static_cast<double>(count));
  ring.sf = static_cast<float>(kTwoPi / F);
  ring.half = F * 0.5 * ring.sn;
  ring.squeezeSpan = static_cast<double>(count) * ring.sf - k343Degrees;
  ring.k = static_cast<double>(count - 3);
  // The inner power depends on the count alone: worked out once per count, as the offset
  // search asks for many offsets of the same count.
  if (mSqueezeRoot.first != count) mSqueezeRoot = {count, std::pow(kSqueezeBase, 1 / ring.k)};
  ring.root = mSqueezeRoot.second;
  return ring;
}

double SolarSystem::Ring::angleAt(std::int64_t index) const {
  if (count <= 0) return normalized(offset);
  if (!compressed) return normalized(offset + static_cast<double>(index) * step);
  const double a = normalized(offset + static_cast<double>(index) * sn + half);
  double b = a / sn * sf;
  if (b >= k343Degrees) {
    // The elements past 343° are squeezed into the last 17° of the circle, ever closer.
    const double t = (b - k343Degrees) / squeezeSpan;
    const double v = std::pow(root, t * k);
    const double extra = v * kSixDegrees;
    if (extra < 0)
      softAssertionFailed(kCompressionLine, "-[SolarSystem scaleAngleForElementAtIndex:numElements:offset:]");
    b = k343Degrees + extra;
  }
  return normalized(b + k183Degrees);
}

double SolarSystem::normalAngleForElementAtIndex(std::int64_t index, std::int64_t count, double offset) const {
  return ring(count, offset, false).angleAt(index);
}

double SolarSystem::scaleAngleForElementAtIndex(std::int64_t index, std::int64_t count, double offset) const {
  return ring(count, offset, true).angleAt(index);
}

bool SolarSystem::isCompressed() const { return radiusAllowing(ideaViewCount()) > mRadius; }

double SolarSystem::angleForElementAtIndex(std::int64_t index, std::int64_t count, double offset) const {
  return ring(count, offset, isCompressed()).angleAt(index);
}

SolarSystem::Ring SolarSystem::planetRing() const { return ring(ideaViewCount(), mCurrentAngle, isCompressed()); }

SolarSystem::Ring SolarSystem::adderRing() const {
  const std::int64_t adders = ideaAdderViewCount();
  if (adders <= 0) return ring(0, mCurrentAngle, false);
  return ring(adders, mCurrentAngle + std::numbers::pi / static_cast<double>(adders), isCompressed());
}

double SolarSystem::currentAngleForIdeaAtIndex(std::int64_t index) const { return planetRing().angleAt(index); }

double SolarSystem::currentAngleForAdderAtIndex(std::int64_t index) const { return adderRing().angleAt(index); }

double SolarSystem::findMaxValueLocation(double from, double to, std::int64_t checkPoints,
                                         const std::function<double(double)>& function) {
  double best = function(from);
  double location = from;
  for (std::int64_t j = 0; j <= checkPoints; ++j) {
    const double progress = static_cast<double>(j + 1) / static_cast<double>(checkPoints + 1);
    const double x = j == checkPoints ? to : Geometry::interpolateLinearlyFromDouble(from, to, progress);
    const double value = function(x);
    if (value > best) {
      best = value;
      location = x;
    }
  }
  return location;
}

double SolarSystem::angleOffsetForShowingElementAtIndex(std::int64_t index, std::int64_t count, double target) const {
  if (count <= 0) return normalized(mCurrentAngle);
  const std::int64_t fit = std::max(kMinimumFitting, elementsFittingRadius(mRadius));
  // The range count × 2π / fit (at least a whole turn, which one or two planets need to reach
  // every gap) sets how many check points the coarse pass has.
  const double span = std::max(static_cast<double>(count) * (kTwoPi / static_cast<double>(fit)), kTwoPi);
  auto f = [&](double x) { return -std::abs(angleForElementAtIndex(index, count, x) - target); };
  const auto coarse = static_cast<std::int64_t>(span * 5);
  // The layout repeats with every whole turn of the offset, and on a compressed orbit a turn of
  // 2π / count moves each planet one place on (count / fit times as far as the offset). The
  // check points are therefore spread over one turn: over the whole range their places modulo
  // a turn bunch up, for some counts leaving holes of more than a planet's place, and half a
  // check point's step there spans thousands of places on a crowded orbit. The fine pass may
  // reach past either end of the turn.
  const double x1 = findMaxValueLocation(0, kTwoPi, coarse, f);
  const double half = coarse > 0 ? kTwoPi / static_cast<double>(coarse) * 0.5 : kTwoPi;
  return normalized(findMaxValueLocation(x1 - half, x1 + half, 20, f));
}

// Placement.

void SolarSystem::updateView() {
  if (mUpdateSemaphore > 0) return;
  if (!mAnimating) {
    const double wanted = std::max(std::min(radiusAllowing(ideaViewCount()), maxRadius()), minRadius());
    mRadius = finiteOr(static_cast<float>(wanted), static_cast<float>(minRadius()));
    if (mCentralView) {
      mCentralView->setScale(scalingFactor());
      viewext::setCenter(*mCentralView, viewext::centerPoint(*this));
    }
    mOrbitLayer->setRadius(mRadius);
    layerext::setCenter(*mOrbitLayer, sunCenter());
    if (mCentralView) viewext::ensureIntegralFrame(*mCentralView);
    // A view of no size shows none of its orbit (a screen fills it before it is hosted): the
    // planets are placed once it has a size.
    if (bounds().isEmpty() && !mIdeaViews.empty()) {
      mLaidOutFrom.reset();
      return;
    }
  }
  updateViewScaled();
  if (mAnimating)
    mLaidOutFrom.reset();
  else
    mLaidOutFrom = layoutInputs();
}

SolarSystem::LayoutInputs SolarSystem::layoutInputs() const {
  return {bounds(),
          sunCenter(),
          mCurrentAngle,
          mIdeaViews.size(),
          mIdeaAdderViews.size(),
          layer()->sublayers().size(),
          Globals::screenScale(),
          mAdderScale,
          mLayoutGeneration};
}

void SolarSystem::placePlanet(PlanetLayer& planet, const QPointF& center, bool integral) const {
  if (!std::isfinite(center.x()) || !std::isfinite(center.y())) return;
  const QSizeF size = planet.planetDrawer() ? planet.planetDrawer()->scaledSize() : planet.bounds().size();
  if (planet.bounds().size() != size) planet.setBounds(QRectF(QPointF(0, 0), size));
  // The anchor is the centre: the position is the centre whatever the transform.
  QPointF position = center;
  if (integral && planet.transform().isIdentity()) {
    const QPointF origin(std::round(static_cast<float>(center.x() - size.width() / 2)),
                         std::round(static_cast<float>(center.y() - size.height() / 2)));
    position =
        origin + QPointF(std::ceil(static_cast<float>(size.width())), std::ceil(static_cast<float>(size.height()))) / 2;
  }
  if (planet.position() != position) planet.setPosition(position);
}

void SolarSystem::orderPlanetsFrom(std::size_t first) {
  // Later planets (clockwise from the first) are drawn above earlier ones, above every other
  // layer of the view; only a changed order touches the layer tree, and then in one pass.
  const auto& sublayers = layer()->sublayers();
  const std::size_t n = mIdeaViews.size();
  const std::size_t before = mDrawFirst < n ? mDrawFirst : 0;
  mDrawFirst = first;
  if (planetsDrawnFrom(first)) return;
  // Still in their last order, in one run: the run is turned in place, leaving every planet
  // untouched (at a million planets each look is a miss in the cache).
  if (n > 0) {
    const auto begin = sublayers.begin();
    const auto base = static_cast<std::size_t>(std::find(begin, sublayers.end(), mIdeaViews[before]) - begin);
    bool run = base + n <= sublayers.size();
    for (std::size_t k = 0; run && k < n; ++k) run = sublayers[base + k] == mIdeaViews[(before + k) % n];
    for (std::size_t j = 0; run && j < sublayers.size(); ++j)
      run = (j >= base && j < base + n) || !isPlanet(*sublayers[j]);
    if (run) {
      // Layers above the run go below it, then the run turns to start at the first planet.
      const std::size_t top = sublayers.size() - n;
      if (base < top) layer()->rotateSublayers(base, base + n);
      layer()->rotateSublayers(top, top + (first + n - before) % n);
      return;
    }
  }
  std::vector<std::shared_ptr<platform::Layer>> order;
  order.reserve(sublayers.size());
  // The planets mostly still stand in their last order: those are known without a look at
  // their kind.
  std::size_t next = 0;
  for (const auto& sublayer : sublayers) {
    if (next < n && sublayer == mIdeaViews[(before + next) % n]) {
      ++next;
      continue;
    }
    if (!isPlanet(*sublayer)) order.push_back(sublayer);
  }
  for (std::size_t k = 0; k < n; ++k) order.push_back(mIdeaViews[(first + k) % n]);
  layer()->reorderSublayers(std::move(order));
}

bool SolarSystem::planetsDrawnFrom(std::size_t first) const {
  const auto& sublayers = layer()->sublayers();
  const std::size_t n = mIdeaViews.size();
  if (sublayers.size() < n || first >= std::max<std::size_t>(n, 1)) return false;
  for (std::size_t k = 0; k < n; ++k)
    if (sublayers[sublayers.size() - n + k] != mIdeaViews[(first + k) % n]) return false;
  return true;
}

bool SolarSystem::isPlanet(const platform::Layer& layer) const {
  // Planets alone are PlanetLayers with this view as their delegate (the sun's disc is its
  // view's backing layer).
  return layer.delegate() == this && typeid(layer) == typeid(PlanetLayer);
}

namespace {

// Where a planet's picture lands, to the device pixel, and how it is drawn there: planets of
// one place draw their discs over the same pixels.
struct Place {
  qint64 x, y;
  double width, height, m11, m12, m21, m22, dx, dy;
  float scale;
  bool operator==(const Place& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height && m11 == o.m11 && m12 == o.m12 &&
           m21 == o.m21 && m22 == o.m22 && dx == o.dx && dy == o.dy && scale == o.scale;
  }
};

// What is drawn above a place so far.
struct Cover {
  bool disc = false;  // an opaque disc
  bool ring = false;  // a link's ring
};

// A disc of one colour fills its circle; a picture may leave parts of it clear.
bool hasOpaqueDisc(const PlanetLayer& planet) {
  const PlanetDrawer* drawer = planet.planetDrawer();
  if (!drawer || !drawer->image().isNull()) return false;
  return !drawer->baseColor() || drawer->baseColor()->uiColor().alpha() == 255;
}

}  // namespace

void SolarSystem::coverHiddenPlanets() {
  // A crowded orbit piles planets up: one drawn over another of the same size at the same place
  // hides all of it but the soft rim both share (and a link's ring, unless it has one too).
  // Hidden ones are left out of every composition and keep no picture. From the top down.
  // Planets of one place follow each other in the drawing order (their angles only grow), so
  // a place's cover is kept while the place lasts.
  // The planets are the view's last layers, drawn from the first of the layout's order; in any
  // other order (inside an update batch) every planet is drawn.
  const std::size_t n = mIdeaViews.size();
  const bool ordered = planetsDrawnFrom(mDrawFirst);
  std::optional<Place> run;
  Cover cover;
  for (std::size_t up = n; up-- > 0;) {
    PlanetLayer& planet = *mIdeaViews[(mDrawFirst + up) % n];
    const PlanetDrawer* drawer = planet.planetDrawer();
    if (!ordered) {
      planet.setCovered(false);
      continue;
    }
    if (planet.isHidden() || !drawer) {
      planet.setCovered(false);
      continue;
    }
    const double k = planet.contentsScale();
    const QRectF drawn = planet.drawnArea(planet.bounds());
    const QPointF anchor(planet.bounds().width() * planet.anchorPoint().x(),
                         planet.bounds().height() * planet.anchorPoint().y());
    const QPointF corner = (planet.position() + drawn.topLeft() - anchor) * k;
    const QTransform& t = planet.transform();
    const Place place{static_cast<qint64>(std::floor(corner.x() + 0.5)),
                      static_cast<qint64>(std::floor(corner.y() + 0.5)),
                      drawn.width(),
                      drawn.height(),
                      t.m11(),
                      t.m12(),
                      t.m21(),
                      t.m22(),
                      t.dx(),
                      t.dy(),
                      drawer->scale()};
    if (!run || !(*run == place)) {
      run = place;
      cover = {};
    }
    planet.setCovered(cover.disc && (cover.ring || !drawer->isLink()));
    if (planet.opacity() < 1) continue;
    cover.disc = cover.disc || hasOpaqueDisc(planet);
    cover.ring = cover.ring || drawer->isLink();
  }
}

namespace {

// How far from its centre a planet's disc surely hides what lies below it: a disc of one
// colour, shown whole and only scaled; none otherwise.
double opaqueReach(const PlanetLayer& planet) {
  const QTransform& t = planet.transform();
  if (planet.isHidden() || planet.opacity() < 1 || !hasOpaqueDisc(planet) || !t.isAffine() || t.m12() != 0 ||
      t.m21() != 0 || t.m11() != t.m22() || t.m11() <= 0 || t.dx() != 0 || t.dy() != 0)
    return -std::numeric_limits<double>::infinity();
  return planet.radius() * t.m11() - 1;
}

}  // namespace

void SolarSystem::updateViewScaled() {
  const QPointF c = sunCenter();
  const float r = finiteOr(mRadius, static_cast<float>(minRadius()));
  const auto scale = static_cast<float>(scalingFactor());
  std::size_t smallest = 0;
  double smallestAngle = 0;
  // Where each planet's disc now lies, read once for the adders beside it.
  mPlacedDiscs.resize(mIdeaViews.size());
  const Ring planets = planetRing();
  for (std::size_t i = 0; i < mIdeaViews.size(); ++i) {
    PlanetLayer& planet = *mIdeaViews[i];
    if (!mAnimating) planet.setScale(scale);
    const double alpha = planets.angleAt(static_cast<std::int64_t>(i));
    placePlanet(planet, c + QPointF(r * std::cos(alpha), r * std::sin(alpha)), !mAnimating);
    mPlacedDiscs[i] = {planet.position(), opaqueReach(planet)};
    if (i == 0 || alpha < smallestAngle) {
      smallest = i;
      smallestAngle = alpha;
    }
  }
  const double screenScale = Globals::screenScale();
  const Ring adders = adderRing();
  for (std::size_t i = 0; i < mIdeaAdderViews.size(); ++i) {
    const QRectF placed = adderFrameAround(i, adders, c, screenScale);
    // Planets are drawn above the adders: one wholly under a disc is neither made nor drawn.
    // Made here, it goes below the planets when they are put in order next, all in one pass.
    const bool under = adderUnderPlanet(i, placed);
    if (!mIdeaAdderViews[i] && under) continue;
    IdeaAdderView& adder = adderAt(i, /*belowPlanets=*/mAnimating);
    adder.layer()->setCovered(under);
    if (adder.isHidden() && adder.adderState() != 0) adder.setHidden(false);
    if (placed != adder.frame()) adder.setFrame(placed);
  }
  if (!mAnimating && !mIdeaViews.empty()) orderPlanetsFrom(smallest);
  coverHiddenPlanets();
}

QRectF SolarSystem::adderFrame(std::size_t index) const {
  return adderFrameAround(index, adderRing(), sunCenter(), Globals::screenScale());
}

QRectF SolarSystem::adderFrameAround(std::size_t index, const Ring& adders, const QPointF& sun,
                                     double screenScale) const {
  const float r = finiteOr(mRadius, static_cast<float>(minRadius()));
  const double alpha = adders.angleAt(static_cast<std::int64_t>(index));
  const QPointF center = sun + QPointF(r * std::cos(alpha), r * std::sin(alpha));
  const double side = IdeaAdderView::kSide;
  QRectF placed(center.x() - side / 2, center.y() - side / 2, side, side);
  if (!mAnimating)
    placed.moveTo(std::floor(placed.x() * screenScale) / screenScale,
                  std::floor(placed.y() * screenScale) / screenScale);
  return placed;
}

bool SolarSystem::adderUnderPlanet(std::size_t index, const QRectF& frame) const {
  const std::size_t n = mPlacedDiscs.size();
  if (n == 0 || index >= n) return false;
  // The adder stands between its planet and the next one; its picture stays inside its frame.
  // Asked for every adder of a crowded ring: the frame is a square, and squares spare a root.
  const double reach = frame.width() * (std::numbers::sqrt2 / 2) * mAdderScale;
  const QPointF c = frame.center();
  for (const std::size_t i : {index, (index + 1) % n}) {
    const PlacedDisc& disc = mPlacedDiscs[i];
    const double room = disc.reach - reach, dx = c.x() - disc.center.x(), dy = c.y() - disc.center.y();
    if (room >= 0 && dx * dx + dy * dy <= room * room) return true;
  }
  return false;
}

}  // namespace orrery
