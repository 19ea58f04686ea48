#include "foundation/views/base_view.h"

#include "foundation/views/view_extensions.h"

#include <algorithm>

namespace orrery {

BaseView::BaseView() = default;

BaseView::BaseView(const QRectF& frame) : View(frame) {}

BaseView::BaseView(Layouter* layouter) : mLayouter(layouter) {}

BaseView::BaseView(std::shared_ptr<platform::Layer> customLayer) : View(std::move(customLayer)) {}

void BaseView::beginLayout() { ++mLayoutTransaction; }

void BaseView::endLayout() {
  --mLayoutTransaction;
  if (mLayoutTransaction == 0) applyLayout();
}

void BaseView::applyLayout() {
  if (Layouter* layouter = mLayouter.get()) layouter->applyLayout();
  const QRectF hostBounds = bounds();
  // The list itself is walked; each part is copied before its block runs, so a block that
  // removes a hosted view cannot pull the running block or its view out from under it.
  for (size_t i = 0; i < mParts.size(); ++i) {
    const ViewPart part = mParts[i];
    if (part.layoutBlock)
      part.layoutBlock(*part.view, hostBounds);
    else
      part.view->setFrame(hostBounds);
  }
}

void BaseView::forceDirtyLayout() {
  if (mLayoutTransaction != 0) return;
  const QRectF b = bounds();
  if (b.width() > 0 && b.height() > 0) callApplyLayout();
}

void BaseView::layout() {
  View::layout();
  if (mLayoutTransaction == 0) applyLayout();
}

void BaseView::resizeSubviewsWithOldSize(const QSizeF& oldSize) {
  (void)oldSize;  // subviews move only through applyLayout
  if (mLayoutTransaction == 0) callApplyLayout();
}

void BaseView::addHostedView(std::shared_ptr<platform::View> view, LayoutBlock layout) {
  if (!view) return;
  mParts.push_back({view, std::move(layout)});
  view->setFrame(bounds());
  addSubview(view);
  forceDirtyLayout();
}

void BaseView::removeHostedView(const platform::View* view) {
  const auto parts = mParts;
  for (const auto& part : parts)
    if (part.view.get() == view) part.view->removeFromSuperview();
}

void BaseView::willRemoveSubview(platform::View* subview) {
  View::willRemoveSubview(subview);
  mParts.erase(std::remove_if(mParts.begin(), mParts.end(),
                              [&](const ViewPart& p) { return p.view.get() == subview; }),
               mParts.end());
}

bool BaseView::shouldAllowImplicitAnimations() const {
  if (mDisableAnimations) return false;
  if (auto* parent = dynamic_cast<const BaseView*>(superview())) return parent->shouldAllowImplicitAnimations();
  return true;
}

platform::LayerAction BaseView::actionForLayer(platform::Layer& layer, const QString& key) {
  (void)layer;
  (void)key;
  return shouldAllowImplicitAnimations() ? platform::LayerAction::continueSearch()
                                         : platform::LayerAction::none();
}

void BaseView::mouseDown(const platform::Event& event) {
  if (!mEatMouseEvents) View::mouseDown(event);
}

void BaseView::mouseUp(const platform::Event& event) {
  if (!mEatMouseEvents) View::mouseUp(event);
}

QPointF BaseView::center() const { return viewext::center(*this); }

}  // namespace orrery
