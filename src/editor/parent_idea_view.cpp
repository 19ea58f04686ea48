#include "editor/parent_idea_view.h"

#include "editor/planet_drawer.h"
#include "editor/planet_title.h"
#include "foundation/globals.h"
#include "foundation/image_cache.h"

#include <QPainterPath>

#include <cmath>

namespace orrery {

namespace {

constexpr double kSide = 120;
// How much larger than the disc the artwork is drawn: more than the margin around its circle.
constexpr double kArtworkRimShare = 0.08;

TintColor tintFor(const ColorPtr& color) {
  if (!color) return {};
  return {color->name(), color->rgba().r, color->rgba().g, color->rgba().b};
}

}  // namespace

float ParentIdeaView::defaultRadius() {
  const QPointF o = defaultOrigin();
  const QRectF t = defaultTextFrame();
  const float dx = static_cast<float>(t.width() - o.x());
  const float dy = static_cast<float>(t.height() - o.y());
  return std::sqrt(dx * dx + dy * dy) + 8.0f;
}

ParentIdeaView::ParentIdeaView()
    : BaseView(QRectF(0, 0, kSide, kSide)), mRadius(defaultRadius()), mOrigin(defaultOrigin()) {
  mContentView = std::make_shared<BaseView>(bounds());
  addSubview(mContentView);
}

QRectF ParentIdeaView::discSquare() const {
  return QRectF(mOrigin.x() - mRadius, mOrigin.y() - mRadius, 2 * mRadius, 2 * mRadius);
}

ParentIdeaView::ParentIdeaView(const KitImage& image) : ParentIdeaView() {
  mImage = image.nsImage();
  const QRectF disc = discSquare();
  mImageView = std::make_shared<BaseImageView>(disc);
  mImageView->setImageScaling(platform::ImageScaling::ProportionallyUpOrDown);
  mImageView->setImage(mImage);
  mContentView->addSubview(mImageView);
  QPainterPath mask;
  mask.addEllipse(disc);
  mContentView->layer()->setMaskPath(mask);
}

ParentIdeaView::ParentIdeaView(const QString& text, ColorPtr color)
    : ParentIdeaView() {
  mText = text;
  mColor = std::move(color);
  mImage = ImageCache::cache().deviceImageWithName(QStringLiteral("parent_planet"), tintFor(mColor));
  // The round artwork is cut to the same large disc as a picture is: the corner then shows the
  // disc under the whole title, not a small one that leaves the title's first letters white on
  // the white window. Drawn a little larger than the disc, its own soft rim falls outside the cut.
  const QRectF disc = discSquare();
  const double rim = kArtworkRimShare * mRadius;
  mImageView = std::make_shared<BaseImageView>(disc.adjusted(-rim, -rim, rim, rim));
  mImageView->setImageScaling(platform::ImageScaling::ProportionallyUpOrDown);
  mImageView->setImage(mImage);
  mContentView->addSubview(mImageView);
  QPainterPath mask;
  mask.addEllipse(disc);
  mContentView->layer()->setMaskPath(mask);
  mLabel = std::make_shared<ParentTitleLabel>(defaultTextFrame());
  updateLabel();
  mContentView->addSubview(mLabel);
  mAppearanceObserver.observe(GlobalsAppearanceSettingsChangedNotification, nullptr,
                              [this](const platform::Notification&) { updateLabel(); });
}

void ParentIdeaView::updateLabel() {
  if (!mLabel) return;
  mLabel->setFont(PlanetTitle::titleFont(PlanetDrawer::fontSizeForPlanetType(0)));
  mLabel->setTextColor(PlanetDrawer::titleColorOn(mColor));
  mLabel->setText(mText);
}

platform::View* ParentIdeaView::hitTest(const QPointF& pointInSuperview) {
  if (isHidden()) return nullptr;
  return frame().contains(pointInSuperview) ? this : nullptr;
}

}  // namespace orrery
