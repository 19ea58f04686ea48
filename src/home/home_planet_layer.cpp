#include "home/home_planet_layer.h"

#include "editor/planet_drawer.h"
#include "editor/planet_title.h"
#include "foundation/compact_date_formatter.h"
#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/image_filters.h"
#include "foundation/string_extensions.h"
#include "model/color.h"
#include "model/icon_image.h"
#include "platform/services/font_catalog.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

constexpr PlanetType kHomePlanetType = 6;
constexpr double kFieldLineGap = 14.5;
// A title longer than any band can show is cut before layout, so a hostile index entry
// cannot make a tile lay out megabytes of text.
constexpr qsizetype kMaxTitleLength = 2000;

QFont captionFont(const char* name, double size, double kerning) {
  QFont font = platform::fontNamed(QString::fromLatin1(name), 12).value_or(QFont());
  platform::setFontSizeForDevice(font, size, &PlanetTitle::referenceDevice());
  if (kerning != 0) font.setLetterSpacing(QFont::AbsoluteSpacing, kerning);
  return font;
}

struct TextShadow {
  double blurRadius = 0;
  QColor color;
};

// One line with its baseline starting at `baseline` (y down), or centred on its x; with a
// shadow, the text's alpha blurred and tinted is drawn beneath it.
void drawLine(QPainter& painter, const QString& text, const QFont& font, const QColor& color, QPointF baseline,
              bool centred, const TextShadow* shadow) {
  if (text.isEmpty()) return;
  const QFontMetricsF metrics(font, &PlanetTitle::referenceDevice());
  QPointF origin = baseline;
  if (centred) origin.rx() -= metrics.horizontalAdvance(text) / 2;
  if (shadow && shadow->blurRadius > 0) {
    const QTransform& world = painter.worldTransform();
    const double k = std::max(0.25, std::hypot(world.m11(), world.m12()));
    const QRectF box = metrics.boundingRect(text).adjusted(-1, -1, 1, 1);
    QImage mask(static_cast<int>(std::ceil(box.width() * k)), static_cast<int>(std::ceil(box.height() * k)),
                QImage::Format_ARGB32_Premultiplied);
    if (!mask.isNull()) {
      mask.fill(Qt::transparent);
      {
        QPainter p(&mask);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(k, k);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(QPointF(-box.x(), -box.y()), text);
      }
      const QColor c = shadow->color;
      const QImage tinted = imagefilters::transformImage(mask, c.red(), c.green(), c.blue());
      const imagefilters::FilteredImage blurred =
          imagefilters::gaussianBlur(imagefilters::fromImage(tinted), shadow->blurRadius * k / 2);
      painter.save();
      painter.setOpacity(painter.opacity() * c.alphaF());
      const QRectF target(origin.x() + box.x() + blurred.origin.x() / k, origin.y() + box.y() + blurred.origin.y() / k,
                          blurred.image.width() / k, blurred.image.height() / k);
      painter.drawImage(target, blurred.image);
      painter.restore();
    }
  }
  painter.save();
  painter.setFont(font);
  painter.setPen(color);
  painter.drawText(origin, text);
  painter.restore();
}

}  // namespace

HomePlanetLayer::HomePlanetLayer() {
  setOpaque(false);
  mTextColor = Globals::colorWhite();
  mLabelTextColor = QColor::fromRgbF(0.1f, 0.1f, 0.1f, 1.0f);
}

HomePlanetLayer::HomePlanetLayer(IdeaProxyPtr proxy) : HomePlanetLayer() { updateWithProxy(std::move(proxy)); }

float HomePlanetLayer::fetchNewFontSize() { return PlanetDrawer::fontSizeForPlanetType(kHomePlanetType); }

float HomePlanetLayer::gaugeFill(std::int64_t itemCount) {
  const float n = static_cast<float>(std::clamp<std::int64_t>(itemCount, 0, kFullGaugeCount));
  const float p = 1.0f - n / static_cast<float>(kFullGaugeCount);
  return std::clamp(1.0f - p * p + 0.01f, 0.0f, 1.0f);
}

QPointF HomePlanetLayer::scaledCenter() const {
  const QRectF b = bounds();
  return QPointF(b.width() / 2, b.height() / 2);
}

void HomePlanetLayer::updateWithProxy(IdeaProxyPtr proxy) {
  mProxy = std::move(proxy);
  mLabelTextColor = QColor::fromRgbF(0.1f, 0.1f, 0.1f, 1.0f);
  const IdeaProxy* p = mProxy.get();
  const KitImage picture = p ? p->image() : KitImage();
  if (!picture.isNull() && !picture.pixelSize().isEmpty()) {
    mUserImage = picture;
    mText = QString();
    mIconImage = nullptr;
  } else {
    mUserImage = KitImage();
    mText = p ? p->text().left(kMaxTitleLength) : QString();
    mIconImage = p ? p->iconImage() : nullptr;
    RGBAValues rgb;
    if (p && p->color()) rgb = p->color()->rgba();
    const double luma = 0.114 * rgb.b + 0.587 * rgb.g + 0.299 * rgb.r;
    const float white = luma < 128 ? 0.2f : 0.35f;
    mLabelTextColor = QColor::fromRgbF(white, white, white, 1.0f);
  }
  if (p && p->hasWebLink()) {
    if (mWebLinkIndicatorImage.isNull()) mWebLinkIndicatorImage = imageext::deviceImageNamed(QStringLiteral("web_link_icon"));
  } else {
    mWebLinkIndicatorImage = QImage();
  }
  mElements = p ? p->itemCount() : 0;
  const CompactDateTimeFormatter& formatter = CompactDateTimeFormatter::singleton();
  mDateCreatedText = p ? formatter.formatDateOnly(p->dateCreated()) : QString();
  mDateModifiedText = p ? formatter.formatDateTime(p->dateModified(), false) : QString();
  mSliderPercentage = gaugeFill(mElements);
  updateAppearance();
  setNeedsDisplay();
}

void HomePlanetLayer::updateAppearance() {
  mFontSize = fetchNewFontSize();
  mTextColor = Globals::colorWhite();
  if (Globals::highContrastText() && mProxy && mProxy->color() && mProxy->color()->isBright())
    mTextColor = QColor::fromRgbF(0.33f, 0.33f, 0.33f, 1.0f);
  if (mUserImage.isNull()) setNeedsDisplay();
}

void HomePlanetLayer::setShadowMode(bool shadow) {
  if (shadow == mShadowMode) return;
  mShadowMode = shadow;
  setOpacity(shadow ? 0.5 : 1.0);
}

void HomePlanetLayer::drawInContext(QPainter& painter) {
  const QPointF c = scaledCenter();
  const double r = scaledRadius();
  const double height = bounds().height();
  painter.save();
  painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
  // The disc, gauge and icon are laid out with y up.
  painter.save();
  painter.translate(0, height);
  painter.scale(1, -1);
  const QRectF disc(c.x() - r, c.y() - r, 2 * r, 2 * r);
  if (!mUserImage.isNull()) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0.8f, 0.8f, 0.8f, 1.0f));
    painter.drawEllipse(disc);
    const QRectF inner = disc.adjusted(1, 1, -1, -1);
    painter.save();
    QPainterPath clip;
    clip.addEllipse(inner);
    painter.setClipPath(clip, Qt::IntersectClip);
    mUserImage.drawInRect(inner, painter, /*flipped=*/false);
    painter.restore();
    if (!mWebLinkIndicatorImage.isNull()) {
      painter.save();
      painter.setOpacity(painter.opacity() * 0.2);
      painter.setCompositionMode(QPainter::CompositionMode_Difference);
      imageext::drawInRect(mWebLinkIndicatorImage, QRectF(c.x() - 20, c.y() + r / 2 - 20, 40, 40), painter, false);
      painter.restore();
    }
  } else {
    const QRectF integral(std::floor(disc.x()), std::floor(disc.y()),
                          std::ceil(disc.right()) - std::floor(disc.x()), std::ceil(disc.bottom()) - std::floor(disc.y()));
    painter.setPen(Qt::NoPen);
    painter.setBrush(mProxy && mProxy->color() ? mProxy->color()->uiColor() : Globals::colorLightGray());
    painter.drawEllipse(integral);
  }
  drawGauge(painter, c, r);
  if (mUserImage.isNull()) drawIcon(painter, c, r);
  painter.restore();
  if (mUserImage.isNull()) drawText(painter, QPointF(c.x(), height - c.y()));
  drawCaptions(painter, c, r);
  painter.restore();
}

void HomePlanetLayer::drawGauge(QPainter& painter, QPointF c, double r) const {
  const double radius = std::floor(0.96 * r);
  const double sweep = 310.0 * mSliderPercentage;
  // Qt's arc angles grow counter-clockwise as seen, which is the direction of increasing
  // angle in the y-up space drawn here.
  QPainterPath arc;
  const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
  arc.arcMoveTo(box, -(245.0 - sweep));
  arc.arcTo(box, -(245.0 - sweep), -sweep);
  QPen pen(Qt::white, 1.5);
  pen.setCapStyle(Qt::RoundCap);
  painter.save();
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(arc);
  painter.restore();
}

void HomePlanetLayer::drawIcon(QPainter& painter, QPointF c, double r) const {
  if (!mIconImage) return;
  const int n = static_cast<int>(std::lround(r / 2.5));
  const int half = n / 2;
  const int side = 2 * half;
  const QRectF square(std::floor(c.x() - half), std::floor(c.y() + 0.85 * r - side), side, side);
  const QImage icon = mIconImage->image();
  if (!icon.isNull()) imageext::drawInRect(icon, square, painter, /*flipped=*/false);
}

void HomePlanetLayer::drawText(QPainter& painter, QPointF centreYDown) const {
  if (mText.isEmpty()) return;
  const double t = std::round(kRadius * 0.89);
  const double s = mIconImage ? 0.56 : 0.72;
  const PlanetTitle title(mText, mFontSize, static_cast<float>(t), PlanetTitle::Band{s, 0.1, 0.5 * s});
  painter.save();
  painter.translate(centreYDown.x() - t, centreYDown.y() - t);
  title.draw(painter, mTextColor);
  painter.restore();
}

void HomePlanetLayer::drawCaptions(QPainter& painter, QPointF c, double r) const {
  const bool shadow = !mUserImage.isNull();
  drawField(painter, Globals::narrowLocalizedStringForKey(QStringLiteral("Label.Created"), QString()), mDateCreatedText,
            QPointF(c.x() - r + 27, c.y() - r + 68), false, shadow);
  drawField(painter, Globals::narrowLocalizedStringForKey(QStringLiteral("Label.Modified"), QString()),
            mDateModifiedText, QPointF(c.x() - r + 110, c.y() - r + 68), false, shadow);
  drawField(painter, Globals::normalLocalizedStringForKey(QStringLiteral("Label.Elements"), QString()),
            QString::asprintf("%lld", static_cast<long long>(mElements)), QPointF(bounds().width() / 2, c.y() - r + 24),
            true, shadow);
}

void HomePlanetLayer::drawField(QPainter& painter, const QString& label, const QString& value, QPointF originYUp,
                                bool centred, bool shadow) const {
  static const QFont labelFont = captionFont("HelveticaNeue-Medium", 9.5, 0.3);
  static const QFont valueFont = captionFont("HelveticaNeue", 11.5, 0);
  const double height = bounds().height();
  const QPointF labelBaseline(originYUp.x(), height - originYUp.y());
  const QPointF valueBaseline(originYUp.x(), height - originYUp.y() + kFieldLineGap);
  const TextShadow glow{5.0, QColor::fromRgbF(0.9f, 0.9f, 0.9f, 1.0f)};
  const TextShadow dark{3.0, QColor(Qt::black)};
  drawLine(painter, stringext::localUppercaseString(label), labelFont,
           shadow ? QColor(Qt::black) : mLabelTextColor, labelBaseline, centred, shadow ? &glow : nullptr);
  drawLine(painter, value, valueFont, shadow ? QColor(Qt::white) : QColor::fromRgbF(1, 1, 1, 0.95f), valueBaseline,
           centred, shadow ? &dark : nullptr);
}

}  // namespace orrery
