#include "home/home_list_items.h"

#include "editor/simple_idea_view.h"
#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/views/view_extensions.h"
#include "platform/core/dispatch.h"

#include <QPainter>

namespace orrery {

// ---- IdeaViewForIPadListItem

IdeaViewForIPadListItem::IdeaViewForIPadListItem()
    : IdeaView(kRole, std::make_shared<HomePlanetLayer>()),
      mHomePlanetLayer(std::static_pointer_cast<HomePlanetLayer>(layer())) {
  mHomePlanetLayer->setNeedsDisplay();
}

void IdeaViewForIPadListItem::updateWithProxy(IdeaProxyPtr proxy) {
  setDocIdentifier(proxy ? proxy->docIdentifier() : QString());
  mProxy = std::move(proxy);
  mHomePlanetLayer->updateWithProxy(mProxy);
}

void IdeaViewForIPadListItem::setShadowMode(bool shadow) {
  mHomePlanetLayer->setShadowMode(shadow);
  IdeaView::setShadowMode(shadow);
}

std::shared_ptr<IdeaView> IdeaViewForIPadListItem::copyForDragging() const {
  auto copy = std::make_shared<SimpleIdeaView>(mProxy ? mProxy->text() : QString(), 3);
  if (!mProxy) return copy;
  copy->setDocIdentifier(mProxy->docIdentifier());
  copy->setBaseColor(mProxy->color());
  copy->setImage(mProxy->image());
  copy->setIconImage(mProxy->iconImage());
  // Only the marker shows, so any non-empty note will do.
  copy->setNote(mProxy->hasNote() ? QStringLiteral("note") : QString());
  copy->setHasWebLink(mProxy->hasWebLink());
  copy->setShowOrbit(mProxy->itemCount() >= 2);
  copy->planetLayer().setZPosition(1.0);
  return copy;
}

// ---- SmallDockView

SmallDockView::SmallDockView() : BaseImageView(QRectF(0, 0, kSide, kSide)) {
  mDockImage = imageext::deviceImageNamed(QStringLiteral("small_dock"));
  mActiveDockImage = imageext::deviceImageNamed(QStringLiteral("small_dock_active"));
  setImage(mDockImage, QSizeF(kSide, kSide));
}

void SmallDockView::setHighlighted(bool highlighted) {
  mHighlighted = highlighted;
  setImage(highlighted ? mActiveDockImage : mDockImage, QSizeF(kSide, kSide));
}

// ---- NormalIdeaListItemForIPad

NormalIdeaListItemForIPad::NormalIdeaListItemForIPad()
    : BaseView(QRectF(0, 0, kFrameSide, kFrameSide)),
      mIdeaView(std::make_shared<IdeaViewForIPadListItem>()),
      mSmallDockView(std::make_shared<SmallDockView>()) {
  viewext::setCenter(*mIdeaView, QPointF(kFrameSide / 2, kFrameSide / 2));
  viewext::ensureIntegralFrame(*mIdeaView);
  addSubview(mIdeaView);
  addSubview(mSmallDockView);
  updateView();
}

void NormalIdeaListItemForIPad::setIdeaProxy(IdeaProxyPtr proxy) {
  mIdeaProxy = proxy;
  mIdeaView->updateWithProxy(std::move(proxy));
}

void NormalIdeaListItemForIPad::setDockingMode(bool docking) {
  if (docking == mDockingMode) return;
  mDockingMode = docking;
  if (!docking) mFocusStrength = 0;
  updateView();
}

void NormalIdeaListItemForIPad::setFocusStrength(float strength) {
  if (strength == mFocusStrength) return;
  mFocusStrength = strength;
  updateView();
}

void NormalIdeaListItemForIPad::updateDockingMode(bool docking, float focusStrength) {
  if (docking == mDockingMode && focusStrength == mFocusStrength) return;
  mDockingMode = docking;
  mFocusStrength = focusStrength;
  updateView();
}

platform::View* NormalIdeaListItemForIPad::hitTest(const QPointF& pointInSuperview) {
  platform::View* hit = BaseView::hitTest(pointInSuperview);
  return hit == mIdeaView.get() ? hit : nullptr;
}

void NormalIdeaListItemForIPad::updateView() {
  mSmallDockView->setHidden(!mDockingMode);
  mIdeaView->setScale(mDockingMode ? 0.75 + 0.1 * mFocusStrength : 1.0);
  const QRectF b = bounds();
  viewext::setCenter(*mSmallDockView, QPointF(b.width() / 2 - preferredWidth() / 2, b.height() / 2));
  viewext::ensureIntegralFrame(*mSmallDockView);
}

// ---- BigAdderLayer

BigAdderLayer::BigAdderLayer()
    : mImage(imageext::deviceImageNamed(QStringLiteral("home_view_plus"))),
      mActiveImage(imageext::deviceImageNamed(QStringLiteral("home_view_plus_active"))) {
  setOpaque(false);
}

void BigAdderLayer::setPressed(bool pressed) {
  if (pressed == mPressed) return;
  mPressed = pressed;
  setNeedsDisplay();
}

void BigAdderLayer::display() {
  const Look look{mPressed, bounds().size(), contentsScale()};
  if (look == mDrawn && !contents().isNull()) {
    keepContents();
    return;
  }
  BaseLayer::display();
  mDrawn = look;
}

void BigAdderLayer::drawInContext(QPainter& painter) {
  const QImage& image = mPressed ? mActiveImage : mImage;
  if (image.isNull()) return;
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  imageext::drawInRect(image, bounds(), painter, /*flipped=*/true);
  painter.restore();
}

// ---- BigAdderView

BigAdderView::BigAdderView() : BaseView(std::make_shared<BigAdderLayer>()) {
  mLayer = std::static_pointer_cast<BigAdderLayer>(layer());
  setFrame(QRectF(0, 0, kSide, kSide));
  mLayer->setNeedsDisplay();
}

void BigAdderView::setDockMode(bool dockMode) {
  if (dockMode == mDockMode) return;
  mDockMode = dockMode;
  viewext::setScale(*this, dockMode ? 0.75 : 1.0);
}

void BigAdderView::mouseDown(const platform::Event& /*event*/) {
  if (mUserInteractionEnabled) mLayer->setPressed(true);
}

void BigAdderView::mouseUp(const platform::Event& /*event*/) {
  if (!mUserInteractionEnabled) return;
  const std::int64_t operation = ++mOperationCount;
  std::weak_ptr<platform::View> self = weak_from_this();
  platform::mainQueue().afterSeconds(kPressedLookSeconds, [this, self, operation] {
    if (self.lock() && operation == mOperationCount) mLayer->setPressed(false);
  });
  if (auto* delegate = mDelegate.get()) delegate->pleaseCreateNewIdea();
}

void BigAdderView::mouseEntered(const platform::Event& event) {
  if (mUserInteractionEnabled && superview()) {
    const QPointF p = superview()->convertPoint(event.locationInWindow, nullptr);
    if (hitTest(p) != nullptr) {
      viewext::setScale(*this, 1.02);
      mLayer->setPressed(false);
    }
  }
  BaseView::mouseEntered(event);
}

void BigAdderView::mouseExited(const platform::Event& event) {
  layerext::transformToScale(*mLayer, 1.0);
  mLayer->setPressed(false);
  BaseView::mouseExited(event);
}

void BigAdderView::updateTrackingAreas() {
  if (mTrackingArea) removeTrackingArea(mTrackingArea.get());
  mTrackingArea = std::make_shared<platform::TrackingArea>(bounds(), 545u, this);
  addTrackingArea(mTrackingArea);
  BaseView::updateTrackingAreas();
}

}  // namespace orrery
