#include "foundation/views/rounded_text_button.h"

#include "foundation/globals.h"
#include "foundation/views/deferred_step.h"
#include "foundation/views/kit_font.h"

#include <QPainter>
#include <QPainterPath>

namespace orrery {

namespace {
constexpr int kReportDelayMs = 100;
constexpr double kTitleSize = 11.5;
}  // namespace

RoundedTextButton::RoundedTextButton(RoundedTextButtonDelegate* delegate, std::uint64_t style)
    : mDelegate(delegate), mStyle(style) {
  updateView();
}

void RoundedTextButton::setButtonTitle(const QString& title) {
  const QFont face = mStyle == 3 ? Globals::fontAvenirHeavy(kTitleSize) : Globals::fontAvenirMedium(kTitleSize);
  setTitle(title, kitFont(face, kTitleSize), /*kern=*/1.0);
}

double RoundedTextButton::preferredHeight() const { return mStyle == 2 ? 22.0 : 28.0; }

void RoundedTextButton::sizeToFit() { sizeToFitHeight(preferredHeight()); }

void RoundedTextButton::updateView() {
  QColor color = Globals::colorGray23();
  if (mToggled || mStyle == 3)
    color = Globals::colorWhite();
  else if (mStyle == 1)
    color = Globals::colorGray46();
  else if (mStyle == 2)
    color = Globals::colorBlack();
  mButtonLabel->setTextColor(color);
  setNeedsDisplay();
}

void RoundedTextButton::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  BaseView::drawRect(painter, dirtyRect);
  const double r = mStyle == 2 ? 11.0 : 13.0;
  QPainterPath path;
  if (mToggled) {
    path.addRoundedRect(bounds().adjusted(1, 1, -1, -1), r, r);
    painter.fillPath(path, Globals::colorNiceGreen());
    return;
  }
  path.addRoundedRect(bounds().adjusted(0.5, 0.5, -0.5, -0.5), r, r);
  switch (mStyle) {
    case 1: painter.fillPath(path, Globals::colorGray91()); break;
    case 3: painter.fillPath(path, Globals::colorDollarGreen()); break;
    default: painter.strokePath(path, QPen(Globals::colorGray23(), 1.0)); break;
  }
}

void RoundedTextButton::mouseDown(const platform::Event& /*event*/) {
  if (mUserInteractionEnabled) setToggled(true);
}

void RoundedTextButton::mouseUp(const platform::Event& /*event*/) {
  if (!mUserInteractionEnabled) return;
  const std::int64_t operation = ++mOperationCount;
  deferOnMainQueue(*this, kReportDelayMs, [this, operation] {
    if (operation != mOperationCount) return;
    platform::WeakRef<RoundedTextButton> self(this);
    if (RoundedTextButtonDelegate* d = mDelegate.get()) d->roundedTextButtonPressed(*this);
    if (self.get()) setToggled(false);
  });
}

}  // namespace orrery
