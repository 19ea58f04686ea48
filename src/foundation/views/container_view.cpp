#include "foundation/views/container_view.h"

#include "foundation/image_extensions.h"

namespace orrery {

ExampleView::ExampleView(const QString& imageName) {
  const QImage image = imageext::deviceImageNamed(imageName);
  setImage(image);
  setImageAlignment(platform::ImageAlignment::TopLeft);
  setImageScaling(platform::ImageScaling::None);
  setAlphaValue(0.5);
  setFrame(QRectF(QPointF(0, 0), imageSize()));
}

ContainerView::ContainerView(ConstructionToken) {}

ContainerView::ContainerView(ConstructionToken, const QString& namedView) {
  mExampleView = std::make_shared<ExampleView>(namedView);
  mExampleView->setHidden(true);
  addSubview(mExampleView);
}

void ContainerView::applyLayout() {
  if (mExampleView) mExampleView->setFrame(bounds());
  BaseView::applyLayout();
}

}  // namespace orrery
