#include "shell/main_layout_view.h"

#include "foundation/globals.h"

namespace orrery {

MainLayoutView::MainLayoutView() : ColoredView(QBrush(Globals::colorWhite())) {}

void MainLayoutView::setTopBar(std::shared_ptr<platform::View> bar) {
  if (bar == mTopBar) return;
  if (mTopBar) mTopBar->removeFromSuperview();
  mTopBar = std::move(bar);
  if (mTopBar) addSubview(mTopBar);
}

void MainLayoutView::setContentView(std::shared_ptr<platform::View> view) {
  if (view != mContentView) {
    if (mContentView) mContentView->removeFromSuperview();
    mContentView = std::move(view);
    if (mContentView) addSubview(mContentView);
  }
  forceDirtyLayout();
}

void MainLayoutView::applyLayout() {
  QRectF rest = bounds();
  if (mTopBar) {
    const double h = std::min(mTopBar->frame().height(), rest.height());
    mTopBar->setFrame(QRectF(rest.left(), rest.top(), rest.width(), h));
    rest.setTop(rest.top() + h);
  }
  if (mContentView) mContentView->setFrame(rest);
}

}  // namespace orrery
