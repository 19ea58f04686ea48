#include "foundation/views/horizontal_selector.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/kit_font.h"
#include "foundation/views/view_extensions.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace orrery {

// The pill.

HorizontalSelectorButton::HorizontalSelectorButton(HorizontalSelectorButtonDelegate* delegate)
    : mDelegate(delegate) {
  updateView();
}

void HorizontalSelectorButton::setButtonTitle(const QString& title) {
  setTitle(title, kitFont(Globals::fontAvenirMedium(10.0), 10.0), /*kern=*/0);
}

void HorizontalSelectorButton::updateView() {
  mButtonLabel->setTextColor(mToggled ? Globals::colorWhite() : Globals::colorGray58());
  setNeedsDisplay();
}

void HorizontalSelectorButton::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  BaseView::drawRect(painter, dirtyRect);
  const QRectF pill = bounds().adjusted(2, 2, -2, -2);
  if (pill.isEmpty()) return;
  QPainterPath path;
  path.addRoundedRect(pill, 13.0, 13.0);
  painter.fillPath(path, mToggled ? Globals::colorNiceGreen() : Globals::colorGray91());
}

void HorizontalSelectorButton::mouseDown(const platform::Event& /*event*/) {
  if (!mUserInteractionEnabled) return;
  setToggled(!mToggled);
  if (HorizontalSelectorButtonDelegate* d = mDelegate.get()) d->selectorButtonPressed(*this);
}

void HorizontalSelectorButton::mouseUp(const platform::Event& /*event*/) {}

// The row.

HorizontalSelector::HorizontalSelector() = default;

void HorizontalSelector::addElement(const QString& title) {
  auto button = std::make_shared<HorizontalSelectorButton>(this);
  button->setButtonTitle(title);
  mElements.push_back(button);
  addSubview(button);
  selectElement(0);
  forceDirtyLayout();
}

void HorizontalSelector::reset() {
  const auto subs = subviews();
  for (const auto& v : subs) v->removeFromSuperview();
  mElements.clear();
  forceDirtyLayout();
}

void HorizontalSelector::selectElement(std::int64_t index) {
  const std::int64_t n = numElements();
  if (!ORRERY_SOFT_ASSERT(index >= 0 && index < n, "-[HorizontalSelector selectElement:]")) return;
  for (std::int64_t i = 0; i < n; ++i) {
    const auto& element = mElements[static_cast<size_t>(i)];
    // Element 1 stays at the back: the first pill overlaps it, as the second overlaps the third.
    if (i != 1) viewext::bringSubviewToFront(*this, element);
    const bool on = n >= 2 && i == index;
    if (element->toggled() != on) element->setToggled(on);
  }
  viewext::bringSubviewToFront(*this, mElements[static_cast<size_t>(index)]);
}

void HorizontalSelector::selectorButtonPressed(HorizontalSelectorButton& button) {
  const std::int64_t index = elementIndexFor(button);
  if (index < 0) return;
  selectElement(index);
  if (HorizontalSelectorDelegate* d = mDelegate.get()) d->horizontalSelectorSelectedElementAtIndex(*this, index);
}

double HorizontalSelector::columnVisibleWidth() const {
  const std::int64_t n = numElements();
  if (n <= 0) return 0;
  long v = static_cast<long>(std::trunc((bounds().width() + 24.0 * double(n - 1)) / double(n)));
  v -= v % 2;
  return double(v);
}

double HorizontalSelector::centerForColumn(std::int64_t index) const {
  const std::int64_t n = numElements();
  const double v = columnVisibleWidth();
  if (index <= 0 || n < 2) return std::trunc(v * 0.5);
  const float step = std::trunc(float(bounds().width() - v) / float(n - 1));
  return std::trunc(step * float(index) + float(v) * 0.5f);
}

std::int64_t HorizontalSelector::elementIndexFor(const HorizontalSelectorButton& button) const {
  for (size_t i = 0; i < mElements.size(); ++i)
    if (mElements[i].get() == &button) return static_cast<std::int64_t>(i);
  return -1;
}

void HorizontalSelector::layoutMyButton(HorizontalSelectorButton& button) {
  const std::int64_t index = elementIndexFor(button);
  if (index < 0) return;
  const double v = columnVisibleWidth();
  button.setFrame(QRectF(centerForColumn(index) - v / 2, 0, v, bounds().height()));
  button.setNeedsLayout();
  viewext::ensureIntegralFrame(button);
}

void HorizontalSelector::applyLayout() {
  for (const auto& element : mElements) layoutMyButton(*element);
}

}  // namespace orrery
