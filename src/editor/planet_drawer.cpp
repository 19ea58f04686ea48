#include "editor/planet_drawer.h"

#include "editor/planet_title.h"
#include "foundation/geometry.h"
#include "foundation/globals.h"
#include "foundation/image_extensions.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace orrery {

namespace {

constexpr double kSubPlanetIndicatorWidth = 10;
constexpr double kNoteIndicatorWidth = 8;
constexpr double kNoteNumberFontSize = 11;
constexpr double kWebLinkSide = 32;

QRectF integral(const QRectF& rect) { return QRectF(rect.toAlignedRect()); }

}  // namespace

// The title as laid out for one set of inputs; a change of any of them lays it out again.
struct PlanetDrawer::TitleLayout {
  QString text;
  float fontSize = 0;
  QColor color;
  bool withIcon = false;
  float scale = 0;
  std::unique_ptr<PlanetTitle> title;

  bool matches(const PlanetDrawer& d) const {
    return text == d.mText && text.isNull() == d.mText.isNull() && fontSize == d.mFontSize &&
           color == d.mTextColor && withIcon == (d.mIconImage != nullptr) && scale == d.mScale;
  }
};

// The marker pictures with the sizes they are drawn at. A missing picture (or one with no
// width to scale by) gets no size and is never drawn.
struct PlanetDrawer::Markers {
  QImage subPlanetIndicator;
  QSizeF subPlanetIndicatorSize;
  QImage noteIndicator;
  QSizeF noteIndicatorSize;
  QImage webLinkIndicator;

  explicit Markers(const PlanetMarkerImages& images) : webLinkIndicator(images.webLinkIndicator) {
    const QImage& dots = images.subPlanetIndicator;
    if (!dots.isNull() && dots.width() > 0) {
      subPlanetIndicator = dots;
      subPlanetIndicatorSize =
          QSizeF(kSubPlanetIndicatorWidth, std::trunc(kSubPlanetIndicatorWidth * dots.height() / dots.width()));
    }
    const QImage& note = images.noteIndicator;
    if (!note.isNull() && note.width() > 0) {
      noteIndicator = note;
      noteIndicatorSize = QSizeF(kNoteIndicatorWidth, kNoteIndicatorWidth * note.height() / note.width());
    }
  }
};

const PlanetMarkerImages& PlanetMarkerImages::standard() {
  static const PlanetMarkerImages images{imageext::deviceImageNamed(QStringLiteral("3_dots")),
                                         imageext::deviceImageNamed(QStringLiteral("planet_note_indicator")),
                                         imageext::deviceImageNamed(QStringLiteral("web_link_icon"))};
  return images;
}

PlanetDrawer::PlanetDrawer(PlanetType type)
    : PlanetDrawer(type, [] {
        static const auto standard = std::make_shared<const Markers>(PlanetMarkerImages::standard());
        return standard;
      }()) {}

PlanetDrawer::PlanetDrawer(PlanetType type, const PlanetMarkerImages& markers)
    : PlanetDrawer(type, std::make_shared<const Markers>(markers)) {}

PlanetDrawer::PlanetDrawer(PlanetType type, std::shared_ptr<const Markers> markers)
    : mMarkers(std::move(markers)), mPlanetType(type), mRadius(radiusForPlanetType(type)) {
  updateAppearance();
}

PlanetDrawer::~PlanetDrawer() = default;

float PlanetDrawer::radiusForPlanetType(PlanetType type) {
  switch (type) {
    case 1: return 76;
    case 2: return 35;
    case 3: return 12;
    case 4: return 76;
    case 6: return 93;
    default: return 56;
  }
}

float PlanetDrawer::fontSizeForPlanetType(PlanetType type) {
  return fontSizeForPlanetType(type, Globals::fontSizeFactor());
}

float PlanetDrawer::fontSizeForPlanetType(PlanetType type, std::int32_t f) {
  const int column = f < 4 ? 0 : f >= 7 ? 4 : f - 3;
  static constexpr float kSun[] = {12, 13, 15, 16.5f, 19.5f};
  static constexpr float kPreview[] = {7, 8, 10, 11.5f, 14.5f};
  static constexpr float kTile[] = {11, 12, 14, 15, 17.5f};
  static constexpr float kPlanet[] = {9, 10, 11, 12.5f, 14.5f};
  switch (type) {
    case 1:
    case 4: return kSun[column];
    case 2: return kPreview[column];
    case 6: return kTile[column];
    default: return kPlanet[column];
  }
}

QColor PlanetDrawer::titleColorOn(const ColorPtr& background) {
  // The setting is read only where it matters: every disc of a crowded orbit asks.
  if (background && background->isBright() && Globals::highContrastText())
    return QColor::fromRgbF(0.33f, 0.33f, 0.33f, 1.0f);
  return Globals::colorWhite();
}

void PlanetDrawer::updateAppearance() {
  mFontSize = fontSizeForPlanetType(mPlanetType);
  mTextColor = titleColorOn(mBaseColor);
}

void PlanetDrawer::setBaseColor(ColorPtr color) {
  mBaseColor = std::move(color);
  if (mBaseColor) mPlanetUserImage = KitImage();
  updateAppearance();
}

void PlanetDrawer::setImage(const KitImage& image) {
  mPlanetUserImage = image;
  if (!mPlanetUserImage.isNull()) mBaseColor = nullptr;
}

bool PlanetDrawer::showWebLink() const { return mShowWebLink && !mMarkers->webLinkIndicator.isNull(); }

QPointF PlanetDrawer::scaledCenter() const {
  const double side = 2.5 * mRadius;
  return QPointF(side * mScale * 0.5, side * mScale * 0.5);
}

// Drawing.

void PlanetDrawer::drawInCurrentContext(QPainter& painter) {
  if (!mPlanetUserImage.isNull())
    drawPictureDisc(painter);
  else
    drawColorDisc(painter);
}

void PlanetDrawer::drawPictureDisc(QPainter& painter) {
  const QPointF c = scaledCenter();
  const double r = scaledRadius();
  const double s = mScale;
  const QRectF disc(c.x() - r, c.y() - r, 2 * r, 2 * r);

  painter.save();
  painter.setPen(QPen(Globals::colorLightGray(), 1.0));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(disc);
  QPainterPath clip;
  clip.addEllipse(disc);
  painter.setClipPath(clip, Qt::IntersectClip);
  painter.translate(c);
  painter.scale(s, s);
  // Drawn at one point per pixel, centred; only the part under the disc is read, so a huge
  // picture costs no more than the disc.
  const QImage& picture = mPlanetUserImage.cgImage();
  const QSizeF px = mPlanetUserImage.pixelSize();
  const QRectF target = Geometry::makeIntegralCGRect(QRectF(-px.width() / 2, -px.height() / 2, px.width(), px.height()));
  if (s > 0 && !target.isEmpty()) {
    const QRectF discInPicture(-mRadius - 1, -mRadius - 1, 2 * mRadius + 2, 2 * mRadius + 2);
    const QRectF shown = target.intersected(discInPicture);
    if (!shown.isEmpty()) {
      const double kx = picture.width() / target.width();
      const double ky = picture.height() / target.height();
      const QRectF source((shown.x() - target.x()) * kx, (shown.y() - target.y()) * ky, shown.width() * kx,
                          shown.height() * ky);
      painter.drawImage(shown, picture, source);
    }
  }
  painter.restore();

  if (mShowOrbit) drawSubPlanetIndicator(painter, c.y() + 0.9 * r - mMarkers->noteIndicatorSize.height() / 2);
  if (showWebLink()) {
    painter.save();
    const double side = kWebLinkSide * s;
    const QRectF badge = integral(QRectF(c.x() - side / 2, c.y() - r / 2 - side / 2, side, side));
    imageext::drawInRect(mMarkers->webLinkIndicator, badge, painter, QPainter::CompositionMode_Difference, 0.2,
                         /*flipped=*/true);
    painter.restore();
  }
  if (mIsLink) drawLinkIndicator(painter);
  if (mFade) drawFading(painter);
}

void PlanetDrawer::drawColorDisc(QPainter& painter) {
  const QPointF c = scaledCenter();
  const double r = scaledRadius();
  const QRectF disc(c.x() - r, c.y() - r, 2 * r, 2 * r);

  painter.save();
  painter.setPen(QPen(Globals::colorWhite(), 1.0));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(disc);
  painter.restore();

  const QRectF fill = mScale > 0.5f ? integral(disc) : disc;
  QColor fillColor = Globals::colorLightGray();
  if (!mFade && mBaseColor) fillColor = mBaseColor->uiColor();
  painter.save();
  painter.setPen(Qt::NoPen);
  painter.setBrush(fillColor);
  painter.drawEllipse(fill);
  painter.restore();

  if (mIconImage) {
    const double n = std::round(r / 2.5);
    const double side = std::floor(n / 2) * 2;
    const QRectF square = integral(
        QRectF(std::trunc(c.x() - std::trunc(n / 2)), std::trunc(c.y() - 0.85 * r), side, side));
    const QImage icon = mIconImage->image();
    if (!icon.isNull() && !square.isEmpty()) imageext::drawInRect(icon, square, painter, /*flipped=*/true);
  }
  if (mShowOrbit) {
    const double bottom = mNoteNumber != 0 ? c.y() + 0.9 * r : c.y() + 0.9 * r - mMarkers->noteIndicatorSize.height() / 2;
    drawSubPlanetIndicator(painter, bottom);
  }
  if (mNoteNumber != 0) drawNote(painter);
  if (mIsLink) drawLinkIndicator(painter);
  if (!mText.isEmpty()) drawText(painter);
  if (mFade) drawFading(painter);
}

void PlanetDrawer::drawSubPlanetIndicator(QPainter& painter, double bottom) {
  if (mMarkers->subPlanetIndicator.isNull() || mMarkers->subPlanetIndicatorSize.isEmpty()) return;
  const QSizeF size = mMarkers->subPlanetIndicatorSize;
  const QRectF rect = integral(QRectF(scaledCenter().x() - size.width() / 2, bottom - size.height(), size.width(),
                                      size.height()));
  imageext::drawInRect(mMarkers->subPlanetIndicator, rect, painter, /*flipped=*/true);
}

QRectF PlanetDrawer::noteRect() const {
  const QPointF c = scaledCenter();
  const double s = mScale;
  const double w = mMarkers->noteIndicatorSize.width() * s;
  const double h = mMarkers->noteIndicatorSize.height() * s;
  const double bottom = c.y() + 0.9 * scaledRadius() - mMarkers->subPlanetIndicatorSize.height() * s - 3;
  return integral(QRectF(c.x() - w / 2, bottom - h, w, h));
}

void PlanetDrawer::drawNote(QPainter& painter) {
  const QRectF r = noteRect();
  if (mNoteNumber < 0) {
    if (!mMarkers->noteIndicator.isNull() && !r.isEmpty())
      imageext::drawInRect(mMarkers->noteIndicator, r, painter, /*flipped=*/true);
    return;
  }
  const QString number = QString::asprintf("%03lld", static_cast<long long>(mNoteNumber));
  if (!mNoteNumberFont) mNoteNumberFont = std::make_unique<QFont>(PlanetTitle::titleFont(kNoteNumberFontSize));
  const QFont& font = *mNoteNumberFont;
  const QRectF bounds = QFontMetricsF(font, &PlanetTitle::referenceDevice()).tightBoundingRect(number);
  painter.save();
  painter.translate(r.center());
  painter.scale(mScale, mScale);
  painter.setFont(font);
  painter.setPen(Globals::colorWhite());
  painter.drawText(QPointF(-bounds.width() / 2 - bounds.x(), -bounds.height() / 2 - bounds.y()), number);
  painter.restore();
}

void PlanetDrawer::drawLinkIndicator(QPainter& painter) {
  const double r = 1.1 * scaledRadius();
  painter.save();
  QPen pen(Globals::colorLightGray(), 1.0);
  pen.setDashPattern({1, 2});
  pen.setDashOffset(0);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(scaledCenter(), r, r);
  painter.restore();
}

void PlanetDrawer::drawFading(QPainter& painter) {
  const QPointF c = scaledCenter();
  const double r = scaledRadius();
  painter.save();
  painter.setOpacity(painter.opacity() * 0.5);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Globals::colorLightGray());
  painter.drawEllipse(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r));
  painter.restore();
}

const PlanetDrawer::TitleLayout& PlanetDrawer::titleLayout() {
  if (!mTitle || !mTitle->matches(*this)) {
    auto title = std::make_unique<TitleLayout>();
    title->text = mText;
    title->fontSize = mFontSize;
    title->color = mTextColor;
    title->withIcon = mIconImage != nullptr;
    title->scale = mScale;
    title->title = std::make_unique<PlanetTitle>(mText, mFontSize, std::round(0.95f * mRadius), title->withIcon);
    mTitle = std::move(title);
    ++mTitleLayoutCount;
  }
  return *mTitle;
}

void PlanetDrawer::drawText(QPainter& painter) {
  const double t = std::round(0.95f * mRadius);
  const double s = mScale;
  const QPointF c = scaledCenter();
  const TitleLayout& layout = titleLayout();
  painter.save();
  painter.translate(c.x() - s * t, c.y() - s * t);
  painter.scale(s, s);
  layout.title->draw(painter, mTextColor);
  painter.restore();
}

QString PlanetDrawer::shownTitle() {
  if (mText.isEmpty()) return mText;
  return titleLayout().title->shownText();
}

bool PlanetDrawer::hitsNote(const QPointF& point) const {
  if (mNoteNumber == 0) return false;
  const double s = mScale;
  const QRectF r = noteRect();
  const QRectF enlarged(r.x() - 9 * s, r.y() - 5 * s, r.width() + 16 * s, r.height() + 13 * s);
  return enlarged.contains(Geometry::addVectors(point, scaledCenter()));
}

}  // namespace orrery
