#include "foundation/views/container_view.h"

#include "foundation/image_extensions.h"

#include <utility>

namespace orrery {

ExampleView::ExampleView(const QString& imageName)
    : mReadImage([imageName] { return imageext::deviceImageNamed(imageName); }) {
  setImageSize(imageext::deviceImageSizeNamed(imageName));
  setImageAlignment(platform::ImageAlignment::TopLeft);
  setImageScaling(platform::ImageScaling::None);
  setAlphaValue(0.5);
  setFrame(QRectF(QPointF(0, 0), imageSize()));
}

void ExampleView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  if (mReadImage) setImage(std::exchange(mReadImage, nullptr)());
  BaseImageView::drawRect(painter, dirtyRect);
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
