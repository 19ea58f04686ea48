#include "shell/drag_overlay_view.h"

#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/views/view_extensions.h"

#include <algorithm>

namespace orrery {

namespace {
constexpr double kLabelGap = 28;
constexpr double kLabelWidth = 400;
constexpr double kLabelHeight = 40;
constexpr double kLabelMargin = 20;
}  // namespace

DragOverlayView::DragOverlayView(const KitImage& screenshot, bool accept) : mAccept(accept) {
  mBlurView = std::make_shared<BlurView>(screenshot);
  addSubview(mBlurView);
  mImageView = std::make_shared<BaseImageView>(
      imageext::deviceImageNamed(accept ? QStringLiteral("drop_here") : QStringLiteral("drop_here_no")));
  // Its size in points: the double-size picture has twice as many pixels.
  mImageView->setFrame(QRectF(QPointF(0, 0), mImageView->imageSize()));
  addSubview(mImageView);
  mLabel = std::make_shared<TextView>();
  mLabel->setTextAlignment(platform::TextAlignment::Center);
  mLabel->setTextColor(Globals::colorGray26());
  mLabel->setFont(Globals::fontAvenirLight(32));
  mLabel->setFrame(QRectF(0, 0, kLabelWidth, kLabelHeight));
  const QString text = accept ? QStringLiteral("Drop files here") : QStringLiteral("File type not supported");
  mLabel->setText(Globals::normalLocalizedStringForKey(QString(), text));
  addSubview(mLabel);
  setFrame(QRectF(QPointF(0, 0), screenshot.pixelSize()));
  setNeedsDisplay();
}

void DragOverlayView::applyLayout() {
  BaseView::applyLayout();
  if (!mLabel) return;  // still being made
  mBlurView->setFrame(bounds());
  viewext::setCenter(*mImageView, bounds().center());
  const QRectF picture = mImageView->frame();
  // The label takes the lines its text needs at the width the window leaves: a narrow window
  // or a wide face wraps it rather than cutting it off.
  mLabel->sizeToFitWidth(std::max(kLabelHeight, bounds().width() - 2 * kLabelMargin));
  const QPointF topMiddle(picture.center().x(), picture.bottom() + kLabelGap);
  mLabel->setFrameOrigin(QPointF(topMiddle.x() - mLabel->frame().width() / 2, topMiddle.y()));
}

}  // namespace orrery
