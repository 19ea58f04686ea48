#include "shell/welcome_screen_view.h"

#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/views/base_image_view.h"
#include "foundation/views/blur_view.h"
#include "foundation/views/colored_view.h"
#include "foundation/views/kit_font.h"
#include "foundation/views/text_view.h"
#include "foundation/views/view_extensions.h"
#include "platform/ui/window.h"
#include "shell/bundle_info.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace orrery {
using namespace viewext;
using imageext::deviceImageNamed;

namespace {
// The panel is 352 wide around a 300-point column: 326 is the widest a line can be.
constexpr double kMaximumLabelWidth = 326;
}  // namespace

WelcomeScreenView::WelcomeScreenView(const KitImage& screenshot)
    : BaseView(QRectF(QPointF(0, 0), screenshot.pixelSize())) {
  mBlurView = std::make_shared<BlurView>(screenshot);
  addSubview(mBlurView);
  mColoredView = std::make_shared<ColoredView>(QBrush(Globals::colorGray95()));
  mColoredView->layer()->setCornerRadius(2.0);
  mColoredView->layer()->setBorderWidth(1.0);
  mColoredView->layer()->setBorderColor(Globals::colorGray58());
  addSubview(mColoredView);
  mLogoView = std::make_shared<BaseImageView>(deviceImageNamed(QStringLiteral("about_logo")));
  // Its size in points: the double-size picture has twice as many pixels.
  mLogoView->setFrame(QRectF(QPointF(0, 0), mLogoView->imageSize()));
  addSubview(mLogoView);

  mVersionLabel = addPrimaryLabel(QStringLiteral("Orrery version ") + BundleInfo::shortVersionString());
  mVersionLabel->setTextAlignment(platform::TextAlignment::Right);
  mVersionLabel->update();
  mWelcomeLabel = addPrimaryLabel(QStringLiteral("New feature: Presentation / web export!"));
  mListTitleLabel = addSecondaryLabel(QStringLiteral("Other changes:"));
  mItemLabels.push_back(addSecondaryLabel(QStringLiteral("- Updated Dropbox access library")));
  mItemLabels.push_back(addSecondaryLabel(QStringLiteral("- Single click to edit central element")));
  mItemLabels.push_back(addSecondaryLabel(QStringLiteral("- Small improvements / bug fixes")));
  mBottomLabel = addSecondaryLabel(QStringLiteral(""));
  mCloseButtonView = addCloseButton(QStringLiteral("OK - GOT IT!"));
  setNeedsDisplay();
}

std::shared_ptr<TextView> WelcomeScreenView::addLabel(const QString& text, const QColor& color, const QSizeF& size) {
  auto label = std::make_shared<TextView>();
  label->setTextAlignment(platform::TextAlignment::Left);
  label->setTextColor(color);
  QFont font = kitFont(Globals::fontAvenirLight(13), 13);
  // The face standing in for Avenir runs wider: a line that would wrap out of its one-line
  // frame gets the room it needs up to the panel's inner width, and a smaller size beyond it.
  // The text view pads each line on both sides, hence the margin.
  constexpr double kLinePadding = 12;
  double needed = std::ceil(QFontMetricsF(font).horizontalAdvance(text)) + kLinePadding;
  if (needed > kMaximumLabelWidth) {
    const double scale = (kMaximumLabelWidth - kLinePadding) / (needed - kLinePadding);
    if (font.pixelSize() > 0)
      font.setPixelSize(std::max(1, static_cast<int>(std::floor(font.pixelSize() * scale))));
    else
      font.setPointSizeF(font.pointSizeF() * scale * 0.98);
    needed = kMaximumLabelWidth;
  }
  label->setFont(font);
  label->setFrame(QRectF(0, 0, std::max(size.width(), needed), size.height()));
  label->setKern(-0.1);
  label->setText(text);
  addSubview(label);
  return label;
}

std::shared_ptr<TextView> WelcomeScreenView::addPrimaryLabel(const QString& text) {
  return addLabel(text, Globals::colorBlack(), QSizeF(300, 15));
}

std::shared_ptr<TextView> WelcomeScreenView::addSecondaryLabel(const QString& text) {
  return addLabel(text, Globals::colorGray46(), QSizeF(310, 18));
}

std::shared_ptr<RoundedTextButton> WelcomeScreenView::addCloseButton(const QString& title) {
  auto button = std::make_shared<RoundedTextButton>(this, 0);
  button->setButtonTitle(title);
  button->setFrame(QRectF(0, 0, 120, button->preferredHeight()));
  addSubview(button);
  return button;
}

void WelcomeScreenView::takeTheKeys() {
  platform::Window* w = window();
  if (!w) return;
  mKeysBefore.reset(w->firstResponder());
  w->makeFirstResponder(this);
}

void WelcomeScreenView::roundedTextButtonPressed(RoundedTextButton& /*button*/) {
  if (platform::Window* w = window(); w && w->firstResponder() == this) w->makeFirstResponder(mKeysBefore.get());
  removeFromSuperview();
}

void WelcomeScreenView::cursorUpdate(const platform::Event& /*event*/) {
  if (platform::Window* w = window()) w->applyCursor(platform::Cursor::Arrow);
}

void WelcomeScreenView::applyLayout() {
  mBlurView->setFrame(frame());
  const double left = bounds().width() / 2 - 150;
  const double top = bounds().height() / 2 - 195;
  setMiddleTopPosition(*mLogoView, QPointF(left + 150, top + 36));
  double y = bottomFrameLine(*mLogoView) + 24;
  setTopRightCorner(*mVersionLabel, QPointF(rightFrameLine(*mLogoView), y));
  setTopLeftCorner(*mWelcomeLabel, QPointF(left, bottomFrameLine(*mVersionLabel) + 38));
  setTopLeftCorner(*mListTitleLabel, QPointF(left, bottomFrameLine(*mWelcomeLabel) + 20));
  y = bottomFrameLine(*mListTitleLabel) + 20;
  for (const auto& item : mItemLabels) {
    setTopLeftCorner(*item, QPointF(left, y));
    y = bottomFrameLine(*item) + 2;
  }
  y -= 2;
  if (mBottomLabel) {
    y += 16;
    setTopLeftCorner(*mBottomLabel, QPointF(left, y));
    y = bottomFrameLine(*mBottomLabel);
  }
  y += 26;
  setTopRightCorner(*mCloseButtonView, QPointF(left + 300, y));
  mColoredView->setFrame(QRectF(left - 26, top, 352, bottomFrameLine(*mCloseButtonView) + 36 - top));
}

}  // namespace orrery
