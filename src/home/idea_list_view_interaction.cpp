// The grid's mouse handling, the drop focus during drags and the automatic scrolling.
#include "home/idea_list_view.h"

#include "foundation/views/view_extensions.h"
#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/ui/window.h"

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

// A fifth of the cell on either side of a disc centre pulls toward the disc.
constexpr float kBoxAHalfWidth = 0.4f * 0.5f * IdeaListView::kColWidth;
constexpr float kBoxBHalfWidth = 0.6f * 0.5f * IdeaListView::kColWidth;
constexpr float kBoxHalfHeight = 0.5f * IdeaListView::kColWidth;
// Drop areas sit in this strip at the right edge; dragging there never scrolls.
constexpr double kNoScrollStrip = 100;

}  // namespace

// ---- mouse and keys

void IdeaListView::mouseDown(const platform::Event& event) {
  BaseScrollView::mouseDown(event);
  if (!mUserInteractionEnabled) return;
  if (platform::Window* w = window()) w->makeFirstResponder(mHugeView.get());
  if (ideaViewAtPoint(mHugeView->convertPoint(event.locationInWindow, nullptr)))
    mLongTapAndDragDetector.mouseDown(event);
}

void IdeaListView::mouseDragged(const platform::Event& event) {
  BaseScrollView::mouseDragged(event);
  mLongTapAndDragDetector.mouseDragged(event);
}

void IdeaListView::mouseUp(const platform::Event& event) {
  BaseScrollView::mouseUp(event);
  mLongTapAndDragDetector.mouseUp(event);
}

void IdeaListView::keyDown(const platform::Event& event) {
  if (scrollForKey(event)) return;
  // Keys stop here, except the Command shortcuts the screen answers (Command-F searches).
  if (!mUserInteractionEnabled || (event.modifierFlags & platform::ModifierFlag::Command)) BaseScrollView::keyDown(event);
}

void IdeaListView::mouseMoved(const platform::Event& event) {
  cursorUpdate(event);
  BaseScrollView::mouseMoved(event);
}

void IdeaListView::cursorUpdate(const platform::Event& event) {
  const bool overItem = viewAtPoint(mHugeView->convertPoint(event.locationInWindow, nullptr)) != nullptr;
  platform::setCursor(overItem ? platform::Cursor::PointingHand : platform::Cursor::Arrow);
}

std::shared_ptr<platform::Menu> IdeaListView::menuForEvent(const platform::Event& event) {
  IdeaViewForIPadListItem* disc = ideaViewAtPoint(mHugeView->convertPoint(event.locationInWindow, nullptr));
  IdeaListViewDelegate* delegate = mDelegate.get();
  return disc && delegate ? delegate->onRightClickAtDocument(disc->docIdentifier()) : nullptr;
}

void IdeaListView::updateTrackingAreas() {
  if (mTrackingArea) removeTrackingArea(mTrackingArea.get());
  mTrackingArea = std::make_shared<platform::TrackingArea>(bounds(), 71u, this);
  addTrackingArea(mTrackingArea);
  BaseScrollView::updateTrackingAreas();
}

IdeaViewForIPadListItem* IdeaListView::ideaViewAtPoint(const QPointF& point) const {
  for (const auto& [key, view] : mVisibleItemsByKey) {
    auto* item = dynamic_cast<NormalIdeaListItemForIPad*>(view.get());
    if (item && item->hitTest(point)) return &item->ideaView();
  }
  return nullptr;
}

platform::View* IdeaListView::viewAtPoint(const QPointF& point) const {
  for (const auto& [key, view] : mVisibleItemsByKey)
    if (platform::View* hit = view->hitTest(point)) return hit;
  return nullptr;
}

// ---- taps

void IdeaListView::singleTap(const QPointF& point) {
  if (!mUserInteractionEnabled) return;
  if (auto* disc = ideaViewAtPoint(mHugeView->convertPoint(point, nullptr))) handleTapOnIdeaView(*disc);
}

void IdeaListView::doubleTap(const QPointF& point) {
  if (!mUserInteractionEnabled) return;
  if (auto* disc = ideaViewAtPoint(mHugeView->convertPoint(point, nullptr))) {
    handleTapOnIdeaView(*disc);
    handleDoubleTapOnIdeaView(*disc);
  }
}

void IdeaListView::startDragGestureIfPossible(const QPointF& point) {
  if (!mUserInteractionEnabled || mReadOnly) return;
  IdeaViewForIPadListItem* disc = ideaViewAtPoint(mHugeView->convertPoint(point, nullptr));
  IdeaListViewDelegate* delegate = mDelegate.get();
  const auto& event = mLongTapAndDragDetector.lastEvent();
  if (disc && delegate && event)
    delegate->startDragForIdea(disc->ideaIdentifier(), disc->docIdentifier(), disc->frame(), *event);
}

void IdeaListView::handleTapOnIdeaView(IdeaViewForIPadListItem& disc) {
  mDoubleTapDetected = false;
  mSingleTapPending = true;
  disc.startTapAnimation();
  // The document is taken now: a list change or a scroll may hand this disc view to another
  // document before the delayed open runs.
  const QString docIdentifier = disc.docIdentifier();
  std::weak_ptr<platform::View> weakSelf = weak_from_this();
  std::weak_ptr<platform::View> weakDisc = disc.weak_from_this();
  auto endPress = [weakDisc] {
    if (auto d = std::dynamic_pointer_cast<IdeaView>(weakDisc.lock())) d->stopTapAnimation();
  };
  platform::mainQueue().async([this, weakSelf, docIdentifier, endPress] {
    if (!weakSelf.lock()) return;
    if (mDoubleTapDetected) {
      mSingleTapPending = false;
      endPress();
      return;
    }
    platform::mainQueue().afterSeconds(kSingleClickDelay, [this, weakSelf, docIdentifier, endPress] {
      if (!weakSelf.lock()) return;
      if (!mDoubleTapDetected)
        if (auto* delegate = mDelegate.get()) delegate->onDrillDownTo(docIdentifier, false);
      mSingleTapPending = false;
      endPress();
    });
  });
}

void IdeaListView::handleDoubleTapOnIdeaView(IdeaViewForIPadListItem& disc) {
  if (!mSingleTapPending) return;
  mDoubleTapDetected = true;
  if (auto* delegate = mDelegate.get()) delegate->onDrillDownTo(disc.docIdentifier(), true);
}

// ---- drop focus

void IdeaListView::startTrackingFocusAt(const QPointF& point, const platform::View* view) {
  if (mDockingMode) return;
  doToggleDockMode();
  addAnyMissingItems();
  updateFocusAtPoint(convertPoint(point, view));
}

void IdeaListView::trackFocusAt(const QPointF& point, const platform::View* view) {
  if (mDockingMode) updateFocusAtPoint(convertPoint(point, view));
}

void IdeaListView::stopTrackingFocus() {
  if (mDockingMode) {
    doToggleDockMode();
    addAnyMissingItems();
    updateItemPositionsAndRemoveLeftOvers();
  } else {
    updateView();
  }
}

float IdeaListView::calculateStrenghtAt(const QPointF& point, const QPointF& centre, float halfWidth,
                                      float halfHeight) {
  const double dx = std::abs(point.x() - centre.x());
  const double dy = std::abs(point.y() - centre.y());
  if (dx > halfWidth || dy > halfHeight) return 0;
  return static_cast<float>(1.0 - std::max(dx / halfWidth, dy / halfHeight));
}

void IdeaListView::updateFocusAtPoint(const QPointF& point) {
  float strength = -1;
  auto consider = [&](const std::shared_ptr<platform::View>& view, float halfWidth, std::uint64_t adder,
                      std::uint64_t tile) {
    const QPointF centre = convertPoint(viewext::center(*view), view->superview());
    const float s = calculateStrenghtAt(point, centre, halfWidth, kBoxHalfHeight);
    if (s <= strength) return;
    strength = s;
    mIdeaAdderAtFocus = adder;
    mIdeaViewAtFocus = tile;
    mViewAtFocus = view;
  };
  consider(mDeleteAreaView, kBoxAHalfWidth, kNotFound, kNotFound);
  consider(mDockAreaView, kBoxAHalfWidth, kNotFound, kNotFound);
  for (const auto& [key, view] : mVisibleItemsByKey) {
    if (key == dockKey()) {
      consider(view, kBoxBHalfWidth, mIdeaProxies.size(), kNotFound);
      continue;
    }
    auto* item = dynamic_cast<NormalIdeaListItemForIPad*>(view.get());
    if (!item) continue;
    const std::int64_t index = indexOfProxy(key);
    if (index < 0) continue;
    const auto i = static_cast<std::uint64_t>(index);
    consider(std::static_pointer_cast<platform::View>(item->ideaView().shared_from_this()), kBoxAHalfWidth, kNotFound, i);
    consider(std::static_pointer_cast<platform::View>(item->smallDock().shared_from_this()), kBoxBHalfWidth, i, kNotFound);
  }
  if (strength <= 0) {
    mIdeaAdderAtFocus = kNotFound;
    mIdeaViewAtFocus = kNotFound;
    mViewAtFocus = nullptr;
    strength = 0;
  }
  mFocusStrength = strength;
  updateView();
}

// ---- automatic scrolling

void IdeaListView::trackMouseAt(const QPointF& point, const platform::View* view) {
  const QPointF p = convertPoint(point, view);
  ensureAutoScrollTimer();
  mAutoScrollPixelSpeed = 0;
  if (p.x() < contentWidth() - kNoScrollStrip) {
    const double a = p.y() + 5;
    const double d = bounds().height() - p.y();
    if (a > 0 && a < 35)
      mAutoScrollPixelSpeed = static_cast<std::int64_t>(static_cast<float>(std::trunc(-(35 - a))) * 1.5f);
    else if (d > 0 && d < 30)
      mAutoScrollPixelSpeed = static_cast<std::int64_t>(static_cast<float>(std::trunc(30 - d)) * 1.5f);
  }
  if (mAutoScrollPixelSpeed != 0)
    mLastAutoScrollStartTime = 0;
  else if (mLastAutoScrollStartTime <= 0)
    mLastAutoScrollStartTime = platform::mediaTime();
}

void IdeaListView::stopTrackingMouse() { resetAutoScroll(); }

void IdeaListView::ensureAutoScrollTimer() {
  if (mAutoScrollTimer) return;
  mAutoScrollTimer.emplace(std::numeric_limits<std::int64_t>::max() / 2, kAutoScrollInterval);
  mAutoScrollTimer->start();
  scheduleAutoScrollTick(++mAutoScrollGeneration);
}

void IdeaListView::scheduleAutoScrollTick(std::uint64_t generation) {
  // Right on a step (or a rounding hair before it) the wait is the following step, so a
  // tick never reschedules itself for the same instant.
  double wait = mAutoScrollTimer->timeToNextAction();
  if (wait < 0.001) wait += kAutoScrollInterval;
  std::weak_ptr<platform::View> weakSelf = weak_from_this();
  platform::mainQueue().afterSeconds(wait, [this, weakSelf, generation] {
    if (!weakSelf.lock() || generation != mAutoScrollGeneration || !mAutoScrollTimer) return;
    onAutoScrollTimerUpdate();
    if (generation == mAutoScrollGeneration && mAutoScrollTimer) scheduleAutoScrollTick(generation);
  });
}

void IdeaListView::onAutoScrollTimerUpdate() {
  if (!mAutoScrollTimer || mAutoScrollPixelSpeed == 0) return;
  const double now = platform::mediaTime();
  if (now - mLastAutoScrollStartTime <= kAutoScrollStep) return;
  // Catch up in whole steps to within one step of now, computed at once (a cleared step time
  // would otherwise take uptime / step iterations).
  const double steps = std::ceil((now - mLastAutoScrollStartTime - kAutoScrollStep) / kAutoScrollStep);
  mLastAutoScrollStartTime += std::max(1.0, steps) * kAutoScrollStep;
  const double newY = static_cast<double>(mAutoScrollPixelSpeed) + scrollPosition().y();
  const double height = contentHeightForWidth(contentWidth());
  if ((newY > 0 && mAutoScrollPixelSpeed < 0) || (newY < height - bounds().height() && mAutoScrollPixelSpeed > 0))
    scrollToPoint(QPointF(0, newY));
}

void IdeaListView::resetAutoScroll() {
  mAutoScrollTimer.reset();
  ++mAutoScrollGeneration;
  mLastAutoScrollStartTime = 0;
  mAutoScrollPixelSpeed = 0;
}

}  // namespace orrery
