#include "editor/dock_area_view.h"

#include "foundation/image_extensions.h"
#include "foundation/views/view_extensions.h"
#include "platform/ui/transaction.h"

namespace orrery {

namespace {
constexpr IdeaViewRole kDragCopyRole = 3;
}  // namespace

DockAreaView::DockAreaView() : BaseImageView(QRectF(0, 0, kSide, kSide)) {
  setImage(imageext::deviceImageNamed(QStringLiteral("dock")), QSizeF(kSide, kSide));
}

void DockAreaView::takeIdeaInside(const IdeaPtr& idea, const QString& docIdentifier) {
  if (!idea) return takeIdeaViewInside(nullptr);
  auto view = std::make_shared<SimpleIdeaView>(kDragCopyRole);
  view->updateWithIdea(idea, docIdentifier);
  takeIdeaViewInside(view);
}

void DockAreaView::takeIdeaViewInside(const std::shared_ptr<SimpleIdeaView>& view) {
  if (mIdeaView) mIdeaView->removeFromSuperview();
  mIdeaView = view;
  if (!view) return;
  // The planet appears in place: it does not slide or grow into the well.
  platform::Transaction::begin();
  platform::Transaction::setDisableActions(true);
  addSubview(view);
  viewext::setCenter(*view, viewext::centerPoint(*this));
  view->layer()->setZPosition(1.0);
  // Scaled about the planet's centre, which is its anchor.
  layerext::transformToScale(*view->layer(), scaleForView(*view));
  platform::Transaction::commit();
}

float DockAreaView::scaleForView(const platform::View& view) const {
  const double height = view.frame().height();
  if (height <= 0) return 0;
  return static_cast<float>(bounds().height() / height * 1.2);
}

void DockAreaView::mouseDown(const platform::Event& event) {
  if (!mUserInteractionEnabled) return BaseImageView::mouseDown(event);
  if (!mIdeaView) return;
  auto taken = std::move(mIdeaView);
  taken->removeFromSuperview();
  if (DockAreaViewDelegate* d = mDelegate.get()) d->dragFromDockAreaWithIdeaView(taken, event);
}

}  // namespace orrery
