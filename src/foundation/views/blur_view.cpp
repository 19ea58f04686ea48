#include "foundation/views/blur_view.h"

#include "foundation/image_filters.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

constexpr double kSaturation = 1.5;
constexpr double kBlurRadius = 15.0;
// The blur at reduced resolution keeps at least this deviation in reduced pixels, which
// stays smooth when the picture is stretched back.
constexpr double kReducedRadius = 2.5;

}  // namespace

QImage BlurView::coverPicture(const KitImage& screenshot) {
  const QImage& source = screenshot.cgImage();
  if (source.isNull() || source.width() <= 0 || source.height() <= 0) return {};
  const int factor = std::max(1, std::min({int(kBlurRadius / kReducedRadius), source.width(), source.height()}));
  const QSize reduced((source.width() + factor - 1) / factor, (source.height() + factor - 1) / factor);
  QImage small = factor == 1 ? source
                             : source.scaled(reduced, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  small = imagefilters::colorControls(small, kSaturation);
  imagefilters::FilteredImage blurred =
      imagefilters::gaussianBlur(imagefilters::fromImage(small), kBlurRadius * reduced.width() / source.width());
  blurred = imagefilters::multiplyWithConstantColor(blurred, QColor::fromRgbF(0, 0, 0, 0.1f));
  // Cut away the soft edge the blur grew around the picture.
  return blurred.image.copy(QRect(-blurred.origin, reduced));
}

BlurView::BlurView(const KitImage& screenshot) {
  setNeedsDisplay();
  layer()->setBackgroundColor(QColor::fromRgbF(0.8f, 0.8f, 0.8f, 0.7f));
  mImageView = std::make_shared<BaseImageView>();
  mImageView->setImageScaling(platform::ImageScaling::AxesIndependently);
  const QImage picture = coverPicture(screenshot);
  if (!picture.isNull()) mImageView->setImage(picture, screenshot.pixelSize());
  addSubview(mImageView);
}

void BlurView::applyLayout() { mImageView->setFrame(bounds()); }

void ScreenProtectorView::mouseDown(const platform::Event& /*event*/) {
  if (ScreenProtectorViewDelegate* d = mDelegate.get()) d->screenProtectorWasClicked();
}

}  // namespace orrery
