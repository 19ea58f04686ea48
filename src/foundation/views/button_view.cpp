#include "foundation/views/button_view.h"

#include "foundation/views/base_image_view.h"
#include "foundation/views/deferred_step.h"

namespace orrery {

namespace {
constexpr int kReleaseDelayMs = 100;
}

ButtonView::ButtonView() { setNeedsDisplay(); }

ButtonView::ButtonView(const QImage& image, const QImage& activeImage) : ButtonView() {
  if (!activeImage.isNull()) addImage(activeImage, ButtonPart::kActive);
  if (!image.isNull()) addImage(image, ButtonPart::kNormal);
  setFrame(QRectF(QPointF(0, 0), image.isNull() ? QSizeF() : image.deviceIndependentSize()));
}

void ButtonView::addImage(const QImage& image, std::uint64_t mask) {
  addView(std::make_shared<BaseImageView>(image), mask);
}

void ButtonView::addView(std::shared_ptr<platform::View> view, std::uint64_t mask, LayoutBlock layout) {
  if (!view) return;
  mParts.push_back({view, mask, std::move(layout)});
  updateViewStateForPart(mParts.back());
  addSubview(std::move(view));
  forceDirtyLayout();
}

void ButtonView::updateViewStateForPart(const ButtonPart& part) { updateViewStateForPart(part, mToggled); }

void ButtonView::updateViewStateForPart(const ButtonPart& part, bool active) {
  if (!part.view) return;
  part.view->setHidden((!active && part.mask == ButtonPart::kActive) || (active && part.mask == ButtonPart::kNormal));
}

void ButtonView::updateAllParts(bool active) {
  for (const ButtonPart& part : mParts) updateViewStateForPart(part, active);
}

void ButtonView::setToggled(bool toggled) {
  ++mOperationCount;
  if (toggled == mToggled) return;
  mToggled = toggled;
  updateAllParts(mToggled);
}

platform::View* ButtonView::hitTest(const QPointF& pointInSuperview) {
  if (isHidden()) return nullptr;
  return frame().contains(pointInSuperview) ? this : nullptr;
}

void ButtonView::applyLayout() {
  const QRectF b = bounds();
  const auto parts = mParts;  // a block may add or remove parts
  for (const ButtonPart& part : parts) {
    if (part.layoutBlock)
      part.layoutBlock(*part.view, b);
    else
      part.view->setFrame(b);
  }
}

void ButtonView::mouseDown(const platform::Event& event) {
  mMouseDownSeen = true;
  if (!mUserInteractionEnabled) return;
  updateAllParts(mIsToggleButton ? !mToggled : true);
  if (mIsToggleButton) {
    mLastEvent = event;
    if (ButtonViewDelegate* d = mDelegate.get()) d->buttonPressed(*this);
  }
}

void ButtonView::mouseUp(const platform::Event& event) {
  if (!mUserInteractionEnabled || !mMouseDownSeen) return;
  mMouseDownSeen = false;
  const std::int64_t operation = ++mOperationCount;
  deferOnMainQueue(*this, kReleaseDelayMs, [this, operation, event] {
    if (operation != mOperationCount) return;
    updateAllParts(mIsToggleButton ? mToggled : false);
    if (mIsToggleButton) return;
    mLastEvent = event;
    if (ButtonViewDelegate* d = mDelegate.get()) d->buttonPressed(*this);
  });
}

}  // namespace orrery
