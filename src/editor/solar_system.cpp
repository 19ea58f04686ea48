#include "editor/solar_system.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/geometry.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/view_extensions.h"

namespace orrery {
namespace {

constexpr double kOrbitLayerSide = 3 * 420;

// A modulo whose result has the divisor's sign, so −1 mod 4 is 3.
std::int64_t trueModulo(std::int64_t a, std::int64_t n) { return n > 0 ? ((a % n) + n) % n : 0; }

}  // namespace

SolarSystem::SolarSystem(const QRectF& frame, const QString& docIdentifier)
    : BaseView(frame), mDocIdentifier(docIdentifier), mSolarRotationGestureRecognizer(this) {
  setFrame(frame);
  // The parent disc's centre lies beyond the view's corner, and a drill or a crowded orbit can
  // carry discs past its edges: none of it may cover the top bar or the dock beside the view.
  layer()->setMasksToBounds(true);
  mNoteHoverUtility = std::make_unique<NoteHoverUtility>(this);
  mRadius = static_cast<float>(normal_mode_radius());
  mOrbitLayer = SolarSystemLayer::layer();
  mOrbitLayer->setRadius(mRadius);
  mOrbitLayer->setDelegate(this);
  layerext::setCenter(*mOrbitLayer, viewext::centerPoint(*this));
  mOrbitLayer->setFrame(QRectF(0, 0, kOrbitLayerSide, kOrbitLayerSide));
  layerext::ensureIntegralFrame(*mOrbitLayer);
  layer()->addSublayer(mOrbitLayer);
  ensureIdeaAddersWhenEmpty();
  mLongTapAndDragDetector.setDelegate(this);
  setActionHandler(QStringLiteral("cmdAddNewElement"), [this](const platform::ActionSender&) { cmdAddNewElement(); });
  updateView();
  mAppearanceObserver.observe(GlobalsAppearanceSettingsChangedNotification, nullptr,
                              [this](const platform::Notification&) { appearanceSettingsChanged(); });
}

SolarSystem::~SolarSystem() {
  mAppearanceObserver.stopObserving();
  stopAnimations();
}

void SolarSystem::endUpdate() {
  if (mUpdateSemaphore > 0) --mUpdateSemaphore;
  if (mUpdateSemaphore == 0) updateView();
}

// Layout pass.

void SolarSystem::applyLayout() {
  if (!mAnimating) performLayout();
}

void SolarSystem::performLayout() {
  if (mCentralView) {
    mCentralView->setScale(scalingFactor());
    viewext::setCenter(*mCentralView, viewext::centerPoint(*this));
    if (!mAnimating) viewext::ensureIntegralFrame(*mCentralView);
  }
  layerext::setCenter(*mOrbitLayer, sunCenter());
  if (mParentView) mParentView->setFrameOrigin(QPointF(0, 0));
  if (mLineLayer) mLineLayer->animateToLine(QPointF(0, 0), sunCenter(), /*immediate=*/true);
  // A window's layout pass comes after the view was laid out for the same frame: a crowded
  // orbit is placed once, not once per pass.
  if (!mAnimating && mUpdateSemaphore == 0 && mLaidOutFrom == layoutInputs()) return;
  updateView();
}

QPointF SolarSystem::sunCenter() const {
  return mCentralView ? viewext::center(*mCentralView) : viewext::centerPoint(*this);
}

// Content.

void SolarSystem::setCentralIdea(const IdeaPtr& idea) {
  if (!ORRERY_SOFT_ASSERT(idea, "-[SolarSystem setCentralIdea:]")) return;
  if (!mCentralView) {
    mCentralView = std::make_shared<SimpleIdeaView>(idea->text(), 1);
    addSubview(mCentralView);
    mCentralView->setScale(scalingFactor());
    viewext::setCenter(*mCentralView, viewext::centerPoint(*this));
    viewext::ensureIntegralFrame(*mCentralView);
  }
  mCentralView->changeText(idea->text());
  mCentralView->setIconImage(idea->iconImage());
  mCentralView->setNote(idea->note());
  mCentralView->setHasWebLink(idea->hasURL());
  mCentralView->setBaseColor(idea->color());
  mCentralView->setImage(idea->image());
  mCentralView->setIdeaIdentifier(idea->identifier());
  mCentralView->setDocIdentifier(mDocIdentifier);
  updateLineLayer();
}

void SolarSystem::setParentIdea(const IdeaPtr& idea, bool asLink) {
  if (!ORRERY_SOFT_ASSERT(idea, "-[SolarSystem setParentIdea:asLink:]")) return;
  if (mParentView) mParentView->removeFromSuperview();
  const KitImage picture = idea->image();
  mParentView = picture.isNull() ? std::make_shared<ParentIdeaView>(idea->text(), idea->color())
                                 : std::make_shared<ParentIdeaView>(picture);
  mShowingLink = asLink;
  mParentView->setObjectTag(idea);
  mParentView->setDelegate(this);
  addSubview(mParentView);
  updateLineLayer();
}

void SolarSystem::updateLineLayer() {
  if (mLineLayer) mLineLayer->removeFromSuperlayer();
  mLineLayer.reset();
  if (!mParentView || !mCentralView) return;
  mLineLayer = LineLayer::create(QPointF(0, 0), sunCenter(), mShowingLink);
  mLineLayer->setDelegate(this);
  layer()->insertSublayerBelow(mLineLayer, mOrbitLayer.get());
}

PlanetLayer* SolarSystem::ideaViewAtIndex(std::int64_t index) const {
  if (index < 0 || index >= ideaViewCount()) return nullptr;
  return mIdeaViews[static_cast<std::size_t>(index)].get();
}

IdeaAdderView* SolarSystem::ideaAdderViewAtIndex(std::int64_t index) const {
  if (index < 0 || index >= ideaAdderViewCount()) return nullptr;
  return &adderAt(static_cast<std::size_t>(index));
}

bool SolarSystem::isAdderViewMade(std::int64_t index) const {
  return index >= 0 && index < ideaAdderViewCount() && mIdeaAdderViews[static_cast<std::size_t>(index)];
}

IdeaAdderView& SolarSystem::adderAt(std::size_t index, bool belowPlanets) const {
  auto& adder = mIdeaAdderViews[index];
  if (adder) return *adder;
  auto* self = const_cast<SolarSystem*>(this);
  adder = self->createIdeaAdderView();
  adder->setObjectTag(mAdderTags[index]);
  adder->setDelegate(self);
  adder->setFrame(adderFrame(index));
  if (mAdderScale != 1) viewext::setScale(*adder, mAdderScale);
  if (mObjectAtFocus && mObjectAtFocus->focusType() == SolarFocusObject::kAdder)
    adder->setInFocus(mObjectAtFocus->index() == static_cast<std::int64_t>(index));
  self->addSubview(adder);
  // Below the planets, as if it had been made with them.
  if (belowPlanets)
    for (const auto& sublayer : layer()->sublayers())
      if (sublayer != adder->layer() && isPlanet(*sublayer)) {
        layer()->insertSublayerBelow(adder->layer(), sublayer.get());
        break;
      }
  return *adder;
}

QRectF SolarSystem::popoverRectForIdeaAtIndex(std::int64_t index) const {
  PlanetLayer* planet = ideaViewAtIndex(index);
  return planet ? planet->frame() : QRectF();
}

void SolarSystem::addIdea(const IdeaPtr& idea) { insertIdea(idea, ideaViewCount() - 1); }

namespace {

// Fewer planets fill their pages quickly enough without help.
constexpr std::size_t kPreparedPlanets = 4096;

// Learns what an allocation for a shared planet asks for: the planet with its pointer's count.
template <typename T>
struct FootprintProbe {
  using value_type = T;
  explicit FootprintProbe(std::size_t* s) : seen(s) {}
  template <typename U>
  FootprintProbe(const FootprintProbe<U>& other) : seen(other.seen) {}
  T* allocate(std::size_t n) {
    *seen = n * sizeof(T);
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) { std::allocator<T>().deallocate(p, n); }
  template <typename U>
  bool operator==(const FootprintProbe<U>&) const {
    return true;
  }
  std::size_t* seen;
};

std::size_t planetFootprint() {
  static const std::size_t footprint = [] {
    std::size_t seen = 0;
    std::allocate_shared<PlanetLayer>(FootprintProbe<PlanetLayer>(&seen), 0);
    return seen;
  }();
  return footprint;
}

}  // namespace

void SolarSystem::reservePlanets(std::size_t count) {
  const std::size_t total = mIdeaViews.size() + count;
  mIdeaViews.reserve(total);
  mIdeaAdderViews.reserve(total);
  mAdderTags.reserve(total);
  layer()->reserveSublayers(count);
  mPlanetBlock = count >= kPreparedPlanets ? platform::PreparedBlock::create(count * planetFootprint()) : nullptr;
}

void SolarSystem::insertIdea(const IdeaPtr& idea, std::int64_t afterIndex) {
  if (!ORRERY_SOFT_ASSERT(idea && afterIndex >= -1, "-[SolarSystem insertIdea:afterIndex:]")) return;
  const std::int64_t count = ideaViewCount();
  const std::int64_t adders = ideaAdderViewCount();
  if (!ORRERY_SOFT_ASSERT(adders > 0, "-[SolarSystem insertIdea:afterIndex:]")) return;
  const std::int64_t target = trueModulo(adders + afterIndex, adders);
  const std::int64_t insertion = std::clamp<std::int64_t>(afterIndex + 1, 0, count);
  const double offset = mUpdateSemaphore == 0 ? angleOffsetForShowingElementAtIndex(insertion, count + 1,
                                                                                    currentAngleForAdderAtIndex(target))
                                              : mCurrentAngle;
  // The new planet starts at its adder; in a view of no size yet the layout places it later.
  const bool placed = mAnimating || !bounds().isEmpty();
  const auto& targetAdder = mIdeaAdderViews[static_cast<std::size_t>(target)];
  const QPointF place = !placed       ? QPointF()
                        : targetAdder ? viewext::center(*targetAdder)
                                      : adderFrame(static_cast<std::size_t>(target)).center();
  if (count == 0) {
    for (auto& adder : mIdeaAdderViews)
      if (adder) adder->removeFromSuperview();
    mIdeaAdderViews.clear();
    mAdderTags.clear();
  }

  // The adder's view is made by the layout when it shows, or when asked for.
  mIdeaAdderViews.insert(mIdeaAdderViews.begin() + static_cast<std::ptrdiff_t>(insertion), nullptr);
  mAdderTags.insert(mAdderTags.begin() + static_cast<std::ptrdiff_t>(insertion), idea);

  auto planet = mPlanetBlock ? std::allocate_shared<PlanetLayer>(platform::BlockAllocator<PlanetLayer>(mPlanetBlock), 0)
                             : std::make_shared<PlanetLayer>(0);
  // A full block is let go of: it goes back to the system with its last planet.
  if (mPlanetBlock && mPlanetBlock->size() - mPlanetBlock->used() < planetFootprint()) mPlanetBlock.reset();
  planet->updateWithIdea(idea, mDocIdentifier);  // with the link mark and both identifiers
  if (placed) placePlanet(*planet, place, /*integral=*/true);
  planet->setDelegate(this);  // refuses implicit animations, as for the view's own layer
  layer()->addSublayer(planet);
  mIdeaViews.insert(mIdeaViews.begin() + static_cast<std::ptrdiff_t>(insertion), planet);

  mCurrentAngle = offset;
  updateView();
}

void SolarSystem::removeIdeaAtIndex(std::int64_t index) {
  if (!ORRERY_SOFT_ASSERT(ideaViewAtIndex(index), "-[SolarSystem removeIdeaAtIndex:]")) return;
  const double oldAngle = currentAngleForIdeaAtIndex(index);
  const auto at = static_cast<std::ptrdiff_t>(index);
  mIdeaViews[static_cast<std::size_t>(index)]->removeFromSuperlayer();
  mIdeaViews.erase(mIdeaViews.begin() + at);
  if (index < ideaAdderViewCount()) {
    if (const auto& adder = mIdeaAdderViews[static_cast<std::size_t>(index)]) adder->removeFromSuperview();
    mIdeaAdderViews.erase(mIdeaAdderViews.begin() + at);
    mAdderTags.erase(mAdderTags.begin() + at);
  }
  if (mIdeaAdderViews.empty()) ensureIdeaAddersWhenEmpty();
  const std::int64_t n = ideaViewCount();
  if (n > 0) {
    const std::int64_t before = trueModulo(index - 1 + n, n);
    const std::int64_t after = trueModulo(before + 1 + n, n);
    if (isCompressed()) {
      // There a turn of the offset moves the planets count / fit times as far as itself, one
      // place per 2π / n: the offset that puts the gap (where adder `before` stands) at the
      // removed planet's place lies within two places of the current one, and is searched for
      // there as the offset search does over a turn.
      const double place = 2 * std::numbers::pi / static_cast<double>(n);
      auto f = [&](double x) { return -std::abs(angleForElementAtIndex(before, n, x + place / 2) - oldAngle); };
      constexpr std::int64_t kCheckPoints = 40;
      const double x1 = findMaxValueLocation(mCurrentAngle - 2 * place, mCurrentAngle + 2 * place, kCheckPoints, f);
      const double half = 4 * place / kCheckPoints * 0.5;
      mCurrentAngle = findMaxValueLocation(x1 - half, x1 + half, 20, f);
    } else {
      const double from = currentAngleForIdeaAtIndex(before);
      const double middle = from + 0.5 * minimumAngle(from, currentAngleForIdeaAtIndex(after));
      mCurrentAngle += minimumAngle(middle, oldAngle);
    }
  }
  updateView();
}

void SolarSystem::moveIdea(const IdeaPtr& /*idea*/, std::int64_t fromIndex, std::int64_t afterIndex) {
  const std::int64_t count = ideaViewCount();
  if (!ORRERY_SOFT_ASSERT(ideaViewAtIndex(fromIndex) && afterIndex >= 0 && afterIndex <= count,
                          "-[SolarSystem moveIdea:fromIndex:afterIndex:]"))
    return;
  const std::int64_t adders = ideaAdderViewCount();
  const std::int64_t gap = afterIndex < fromIndex ? afterIndex - 1 : afterIndex;
  const double theta = currentAngleForAdderAtIndex(trueModulo(adders + gap, adders));
  const double offset = angleOffsetForShowingElementAtIndex(afterIndex, count, theta);
  auto planet = mIdeaViews[static_cast<std::size_t>(fromIndex)];
  mIdeaViews.erase(mIdeaViews.begin() + static_cast<std::ptrdiff_t>(fromIndex));
  const std::int64_t to = afterIndex > fromIndex ? afterIndex - 1 : afterIndex;
  mIdeaViews.insert(mIdeaViews.begin() + static_cast<std::ptrdiff_t>(to), planet);
  mCurrentAngle = offset;
  updateView();
}

void SolarSystem::modifyIdea(const IdeaPtr& idea, std::int64_t index) {
  PlanetLayer* planet = ideaViewAtIndex(index);
  if (!ORRERY_SOFT_ASSERT(planet && idea, "-[SolarSystem modifyIdea:atIndex:]")) return;
  planet->updateWithIdea(idea, mDocIdentifier);
  updateView();
}

// Adders.

std::shared_ptr<IdeaAdderView> SolarSystem::createIdeaAdderView() {
  auto adder = std::make_shared<IdeaAdderView>();
  updateStateForIdeaAdderView(*adder);
  return adder;
}

void SolarSystem::updateStateForIdeaAdderView(IdeaAdderView& adder) const { adder.setAdderState(mDockingMode ? 3 : 1); }

void SolarSystem::ensureIdeaAddersWhenEmpty() {
  if (!mIdeaAdderViews.empty()) return;
  for (int i = 0; i < 4; ++i) {
    auto adder = createIdeaAdderView();
    adder->setDelegate(this);
    addSubview(adder);
    mIdeaAdderViews.push_back(adder);
    mAdderTags.push_back(nullptr);
  }
  updateView();
}

void SolarSystem::setDockingMode(bool docking) {
  mDockingMode = docking;
  for (auto& adder : mIdeaAdderViews) {
    if (!adder) continue;  // made in the state of the moment
    adder->setAdderState(docking ? 3 : 1);
    if (!docking) adder->setInFocus(false);
  }
  updateView();
}

void SolarSystem::setShadowForIdeaAtIndex(std::int64_t index) {
  // One planet at most is in shadow: the others are not looked at.
  const std::shared_ptr<PlanetLayer> shadowed =
      index >= 0 && index < ideaViewCount() ? mIdeaViews[static_cast<std::size_t>(index)] : nullptr;
  const std::shared_ptr<PlanetLayer> before = mShadowedPlanet.lock();
  if (before == shadowed) return;
  if (before) before->setShadowMode(false);
  if (shadowed) shadowed->setShadowMode(true);
  mShadowedPlanet = shadowed;
  layoutInputsChanged();
  coverHiddenPlanets();  // a shadow covers nothing
}

void SolarSystem::appearanceSettingsChanged() {
  // Each disc redraws itself when its font size or text colour changed.
  for (auto& planet : mIdeaViews) planet->updateAppearance();
  layoutInputsChanged();  // a disc's size may have changed
}

}  // namespace orrery
