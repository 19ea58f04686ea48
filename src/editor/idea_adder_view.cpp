#include "editor/idea_adder_view.h"

#include <QHash>

#include "foundation/image_extensions.h"
#include "foundation/views/view_extensions.h"
#include "platform/ui/event.h"
#include "platform/ui/tracking_area.h"

namespace orrery {

namespace {

constexpr double kHoverScale = 1.25;

// Every adder shows the same four pictures: they are read once per process, not per adder
// (a map of hundreds of ideas makes hundreds of adders at once).
const QImage& adderImage(const QString& name) {
  static QHash<QString, QImage> cache;
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.insert(name, imageext::deviceImageNamed(name));
  return *it;
}

}  // namespace

IdeaAdderView::IdeaAdderView() : View(QRectF(0, 0, kSide, kSide)) {
  mPlusIcon = adderImage(QStringLiteral("plus_on_circle"));
  mPlusIconActive = adderImage(QStringLiteral("plus_on_circle_hover"));
  mSmallDockIcon = adderImage(QStringLiteral("small_dock"));
  mSmallDockActiveIcon = adderImage(QStringLiteral("small_dock_active"));
  mImageView = std::make_shared<BaseImageView>(QRectF(QPointF(0, 0), mPlusIcon.deviceIndependentSize()));
  viewext::setCenter(*mImageView, viewext::centerPoint(*this));
  viewext::ensureIntegralFrame(*mImageView);
  addSubview(mImageView);
  mAdderState = 1;
  reactToStateChange();
}

void IdeaAdderView::setAdderState(IdeaAdderState state) {
  if (state == mAdderState) return;
  mAdderState = state;
  reactToStateChange();
}

void IdeaAdderView::setInFocus(bool focus) {
  if (focus == mInFocus) return;
  mInFocus = focus;
  reactToStateChange();
}

void IdeaAdderView::reactToStateChange() {
  ++mLookChanges;
  switch (mAdderState) {
    case 1:
      mImageView->setImage(mPlusIcon);
      setHidden(false);
      break;
    case 2:
      mImageView->setImage(mPlusIconActive);
      setHidden(false);
      break;
    case 3:
      mImageView->setImage(mInFocus ? mSmallDockActiveIcon : mSmallDockIcon);
      setHidden(false);
      break;
    default: setHidden(true); break;
  }
}

void IdeaAdderView::performClick() { handleTap(); }

void IdeaAdderView::handleTap() {
  if (IdeaAdderViewDelegate* d = mDelegate.get()) d->handleTapOnIdeaAdderView(*this);
}

void IdeaAdderView::mouseEntered(const platform::Event& event) {
  if (mAdderState == 1 && superview()) {
    const QPointF p = superview()->convertPoint(event.locationInWindow, nullptr);
    if (hitTest(p)) viewext::setScale(*mImageView, kHoverScale);
  }
  View::mouseEntered(event);
}

void IdeaAdderView::mouseExited(const platform::Event& event) {
  viewext::setScale(*mImageView, 1.0);
  if (mAdderState == 1) mImageView->setImage(mPlusIcon);
  View::mouseExited(event);
}

void IdeaAdderView::updateTrackingAreas() {
  if (mTrackingArea) removeTrackingArea(mTrackingArea.get());
  using platform::TrackingArea;
  mTrackingArea = std::make_shared<TrackingArea>(
      bounds(), TrackingArea::MouseEnteredAndExited | TrackingArea::ActiveInKeyWindow | TrackingArea::InVisibleRect,
      this);
  addTrackingArea(mTrackingArea);
}

QPointF IdeaAdderView::center() const { return viewext::center(*this); }

}  // namespace orrery
