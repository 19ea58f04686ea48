#include "foundation/views/progress_hud.h"

#include "foundation/globals.h"
#include "foundation/views/animation_group.h"
#include "foundation/views/deferred_step.h"
#include "foundation/views/kit_font.h"
#include "foundation/views/progress_views.h"
#include "foundation/views/spinning_progress_indicator.h"
#include "platform/core/clock.h"
#include "platform/ui/transaction.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

constexpr double kFadeSeconds = 0.3;

int milliseconds(double seconds) { return static_cast<int>(std::ceil(std::max(0.0, seconds) * 1000.0)); }

std::shared_ptr<platform::LabelView> makeLabel(const QRectF& frame) {
  auto label = std::make_shared<platform::LabelView>(frame);
  label->setAlignment(platform::TextAlignment::Center);
  label->setDrawsBackground(false);
  return label;
}

// The single-line size of a text, 0 x 0 when empty; the width with 10 points of room.
QSizeF lineSize(const QString& text, const QFont& font, double maxWidth) {
  if (text.isEmpty()) return QSizeF(0, 0);
  const QFontMetricsF metrics(font);
  double width = metrics.horizontalAdvance(text);
  if (width > 0) width += 10;
  return QSizeF(std::min(width, maxWidth), metrics.height());
}

}  // namespace

ProgressHUD::ProgressHUD(platform::View& view) : View(QRectF(QPointF(0, 0), view.frame().size())) {
  QFont details;
  details.setBold(true);
  mLabelFont = kitFont(Globals::fontAvenirMedium(16), 16);
  mLabelColor = Globals::colorGray26();
  mDetailsLabelFont = kitFont(details, 12);
  mColor = Globals::colorGray95();
  layer()->setOpaque(false);
  platform::withoutActions([&] { setAlphaValue(0); });
  mLabel = makeLabel(bounds());
  mDetailsLabel = makeLabel(bounds());
  updateLabels();
  addSubview(mLabel);
  addSubview(mDetailsLabel);
}

std::shared_ptr<ProgressHUD> ProgressHUD::showHUDAddedTo(platform::View& view, bool animated) {
  auto hud = std::make_shared<ProgressHUD>(view);
  view.addSubview(hud);
  hud->show(animated);
  return hud;
}

// Showing and hiding.

void ProgressHUD::show(bool animated) {
  updateIndicators();
  mUseAnimation = animated;
  if (mGraceTime > 0) {
    const std::uint64_t generation = mTimerGeneration;
    // Only a HUD whose task is in progress appears after its grace time.
    deferOnMainQueue(*this, milliseconds(mGraceTime), [this, generation] {
      if (generation != mTimerGeneration || !mTaskInProgress) return;
      setNeedsDisplay();
      showUsingAnimation(mUseAnimation);
    });
    return;
  }
  changed();
  showUsingAnimation(mUseAnimation);
}

void ProgressHUD::showUsingAnimation(bool animated) {
  mShowStarted = platform::mediaTime();
  setHidden(false);
  if (animated)
    AnimationGroup::run(kFadeSeconds, platform::TimingFunction(platform::TimingFunction::Name::Default),
                        [this](AnimationGroup& group) { group.setAlphaValue(*this, 1.0); }, nullptr);
  else
    platform::withoutActions([&] { setAlphaValue(1.0); });
}

void ProgressHUD::hide(bool animated) {
  mUseAnimation = animated;
  const std::uint64_t generation = ++mTimerGeneration;
  if (mMinShowTime > 0 && mShowStarted) {
    const double elapsed = platform::mediaTime() - *mShowStarted;
    if (elapsed < mMinShowTime) {
      deferOnMainQueue(*this, milliseconds(mMinShowTime - elapsed), [this, generation] {
        if (generation == mTimerGeneration) hideUsingAnimation(mUseAnimation);
      });
      return;
    }
  }
  hideUsingAnimation(mUseAnimation);
}

void ProgressHUD::hideUsingAnimation(bool animated) {
  ++mTimerGeneration;
  if (animated && mShowStarted) {
    mShowStarted.reset();
    platform::WeakRef<ProgressHUD> self(this);
    AnimationGroup::run(kFadeSeconds, platform::TimingFunction(platform::TimingFunction::Name::Default),
                        [this](AnimationGroup& group) { group.setAlphaValue(*this, 0.2); },
                        [self] {
                          if (ProgressHUD* hud = self.get()) hud->done();
                        });
    return;
  }
  mShowStarted.reset();
  platform::withoutActions([&] { setAlphaValue(0.0); });
  done();
}

void ProgressHUD::done() {
  if (mIsFinished) return;
  const auto keep = weak_from_this().lock();  // leaving the superview may release the HUD
  mIsFinished = true;
  platform::withoutActions([&] { setAlphaValue(0.0); });
  setHidden(true);
  if (mRemoveFromSuperViewOnHide) removeFromSuperview();
  if (auto block = std::move(mCompletionBlock)) {
    mCompletionBlock = nullptr;
    block();
  }
}

// Indicators and labels.

void ProgressHUD::updateIndicators() {
  auto replace = [this](std::shared_ptr<platform::View> next) {
    if (mIndicator) mIndicator->removeFromSuperview();
    mIndicator = std::move(next);
    if (mIndicator) addSubview(mIndicator);
  };
  const QRectF spin(0, 0, mSpinsize, mSpinsize);
  switch (mMode) {
    case Indeterminate:
      if (!std::dynamic_pointer_cast<SpinningProgressIndicator>(mIndicator)) {
        auto spinner = std::make_shared<SpinningProgressIndicator>(spin);
        spinner->setColor(Qt::white);
        spinner->setUsesThreadedAnimation(false);
        spinner->startAnimation();
        replace(spinner);
      }
      break;
    case Determinate:
    case AnnularDeterminate: {
      if (!std::dynamic_pointer_cast<RoundProgressView>(mIndicator))
        replace(std::make_shared<RoundProgressView>(spin));
      if (mMode == AnnularDeterminate) std::static_pointer_cast<RoundProgressView>(mIndicator)->setAnnular(true);
      break;
    }
    case DeterminateHorizontalBar: replace(std::make_shared<BarProgressView>()); break;
    case CustomView:
      if (mCustomView != mIndicator) replace(mCustomView);
      break;
    default: replace(nullptr); break;
  }
}

void ProgressHUD::updateLabels() {
  mLabel->setFont(mLabelFont);
  mLabel->setTextColor(mLabelColor);
  mLabel->setStringValue(mLabelText);
  mDetailsLabel->setFont(mDetailsLabelFont);
  mDetailsLabel->setTextColor(mDetailsLabelColor);
  mDetailsLabel->setStringValue(mDetailsLabelText);
}

// Property changes.

void ProgressHUD::onMain(std::function<void(ProgressHUD&)> change) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    change(*this);
    return;
  }
  platform::WeakRef<ProgressHUD> self(this);
  platform::mainQueue().async([self, change = std::move(change)] {
    if (ProgressHUD* hud = self.get()) change(*hud);
  });
}

void ProgressHUD::changed() {
  layoutSubviews();
  setNeedsDisplay();
}

void ProgressHUD::setMode(std::int64_t mode) {
  onMain([mode](ProgressHUD& h) {
    h.mMode = mode;
    h.updateIndicators();
    h.changed();
  });
}

void ProgressHUD::setCustomView(std::shared_ptr<platform::View> view) {
  onMain([view](ProgressHUD& h) {
    h.mCustomView = view;
    h.updateIndicators();
    h.changed();
  });
}

#define ORRERY_HUD_LABEL_SETTER(Setter, Type, field)  \
  void ProgressHUD::Setter(const Type& value) {       \
    onMain([value](ProgressHUD& h) {                  \
      h.field = value;                                \
      h.updateLabels();                               \
      h.changed();                                    \
    });                                               \
  }
ORRERY_HUD_LABEL_SETTER(setLabelText, QString, mLabelText)
ORRERY_HUD_LABEL_SETTER(setDetailsLabelText, QString, mDetailsLabelText)
ORRERY_HUD_LABEL_SETTER(setLabelFont, QFont, mLabelFont)
ORRERY_HUD_LABEL_SETTER(setLabelColor, QColor, mLabelColor)
ORRERY_HUD_LABEL_SETTER(setDetailsLabelFont, QFont, mDetailsLabelFont)
ORRERY_HUD_LABEL_SETTER(setDetailsLabelColor, QColor, mDetailsLabelColor)
#undef ORRERY_HUD_LABEL_SETTER

void ProgressHUD::setProgress(float progress) {
  onMain([progress](ProgressHUD& h) {
    h.mProgress = progress;
    if (auto round = std::dynamic_pointer_cast<RoundProgressView>(h.mIndicator)) round->setProgress(progress);
    if (auto bar = std::dynamic_pointer_cast<BarProgressView>(h.mIndicator)) bar->setProgress(progress);
  });
}

void ProgressHUD::setColor(const QColor& color) {
  mColor = color;
  setNeedsDisplay();
}

void ProgressHUD::setOpacity(float opacity) {
  mOpacity = opacity;
  setNeedsDisplay();
}

void ProgressHUD::setXOffset(float offset) {
  mXOffset = offset;
  changed();
}

void ProgressHUD::setYOffset(float offset) {
  mYOffset = offset;
  changed();
}

void ProgressHUD::setMargin(float margin) {
  mMargin = margin;
  changed();
}

void ProgressHUD::setCornerRadius(float radius) {
  mCornerRadius = radius;
  setNeedsDisplay();
}

void ProgressHUD::setMinSize(const QSizeF& size) {
  mMinSize = size;
  changed();
}

void ProgressHUD::setSquare(bool square) {
  mSquare = square;
  changed();
}

void ProgressHUD::setDimBackground(bool dim) {
  mDimBackground = dim;
  setNeedsDisplay();
}

// Layout and drawing.

void ProgressHUD::layout() {
  View::layout();
  if (platform::View* parent = superview()) {
    const QSizeF size = parent->bounds().size();
    if (frame() != QRectF(QPointF(0, 0), size)) setFrame(QRectF(QPointF(0, 0), size));
  }
  layoutSubviews();
}

void ProgressHUD::layoutSubviews() {
  const double W = bounds().width();
  const double H = bounds().height();
  const double margin = mMargin;
  // A view narrower than four margins leaves no room for content, never a negative one.
  const double maxWidth = std::max(0.0, W - 4 * margin);

  QSizeF indicator = mIndicator ? mIndicator->bounds().size() : QSizeF(0, 0);
  indicator.setWidth(std::min(indicator.width(), maxWidth));
  const QSizeF label = lineSize(mLabelText, mLabelFont, maxWidth);
  const QSizeF details = lineSize(mDetailsLabelText, mDetailsLabelFont, maxWidth);

  double boxWidth = std::max({indicator.width(), label.width(), details.width()}) + 2 * margin;
  double boxHeight = indicator.height() + label.height() + details.height() + 2 * margin;
  mBoxHeightBeforeSquare = boxHeight;
  if (mSquare) {
    const double side = std::max(boxWidth, boxHeight);
    if (side <= W - 2 * margin) boxWidth = side;
    if (side <= H - 2 * margin) boxHeight = side;
  }
  mSize = QSizeF(std::max(mMinSize.width(), boxWidth), std::max(mMinSize.height(), boxHeight));

  // y grows upwards: the details label at the bottom, the label on it, the indicator on top.
  double y = std::round((H - mBoxHeightBeforeSquare) / 2) + margin - mYOffset;
  auto place = [&](platform::View* view, const QSizeF& size) {
    if (view) view->setFrame(QRectF(std::round((W - size.width()) / 2) + mXOffset, y, size.width(), size.height()));
    y += size.height();
  };
  place(mDetailsLabel.get(), details);
  place(mLabel.get(), label);
  place(mIndicator.get(), indicator);
}

QRectF ProgressHUD::boxRect() const {
  const double W = bounds().width();
  const double H = bounds().height();
  return QRectF(std::round((W - mSize.width()) / 2) + mXOffset, std::round((H - mSize.height()) / 2) - mYOffset,
                mSize.width(), mSize.height());
}

void ProgressHUD::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  View::drawRect(painter, dirtyRect);
  const QRectF b = bounds();
  if (mDimBackground) {
    QRadialGradient gradient(b.center(), std::min(b.width(), b.height()));
    gradient.setColorAt(0, QColor(0, 0, 0, 0));
    gradient.setColorAt(1, QColor(0, 0, 0, 191));
    gradient.setSpread(QGradient::PadSpread);
    painter.fillRect(b, gradient);
  }
  QColor fill = mColor;
  if (!fill.isValid()) fill = QColor::fromRgbF(0, 0, 0, std::clamp(mOpacity, 0.0f, 1.0f));
  QPainterPath box;
  box.addRoundedRect(boxRect(), mCornerRadius, mCornerRadius);
  painter.fillPath(box, fill);
}

void ProgressHUD::mouseDown(const platform::Event& event) {
  if (mIsFinished) View::mouseDown(event);
}

}  // namespace orrery
