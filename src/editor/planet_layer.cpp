#include "editor/planet_layer.h"

#include "foundation/logging.h"
#include "foundation/views/view_extensions.h"

#include <QCoreApplication>
#include <QPainter>
#include <QThread>

#include <cmath>

namespace orrery {

namespace {

bool samePicture(const KitImage& a, const KitImage& b) {
  if (a.isNull() || b.isNull()) return a.isNull() == b.isNull();
  return a.cgImage().cacheKey() == b.cgImage().cacheKey();
}

}  // namespace

PlanetLayer::PlanetLayer() {
  setOpaque(false);
  setNeedsDisplay();
}

PlanetLayer::PlanetLayer(PlanetType type) {
  setOpaque(false);
  setPlanetType(type);
  setFrame(QRectF(QPointF(0, 0), mPlanetDrawer->scaledSize()));
}

void PlanetLayer::setPlanetType(PlanetType type) {
  if (!ORRERY_SOFT_ASSERT(!mPlanetDrawer, "-[PlanetLayer setPlanetType:]")) return;
  mPlanetDrawer.emplace(type);
  setNeedsDisplay();
}

void PlanetLayer::updateAppearance() {
  if (!mPlanetDrawer) return;
  const float size = mPlanetDrawer->fontSize();
  const QColor color = mPlanetDrawer->textColor();
  mPlanetDrawer->updateAppearance();
  if (size != mPlanetDrawer->fontSize() || color != mPlanetDrawer->textColor()) setNeedsDisplay();
}

double PlanetLayer::scale() const { return mPlanetDrawer ? mPlanetDrawer->scale() : 1.0; }

void PlanetLayer::setScale(double scale) {
  if (!mPlanetDrawer || static_cast<float>(scale) == mPlanetDrawer->scale()) return;
  mPlanetDrawer->setScale(static_cast<float>(scale));
  setNeedsDisplay();
}

void PlanetLayer::resizeToScale() {
  if (!mPlanetDrawer) return;
  setFrame(QRectF(frame().topLeft(), mPlanetDrawer->scaledSize()));
}

void PlanetLayer::setRadius(float radius) {
  if (!mPlanetDrawer) return;
  const float unscaled = PlanetDrawer::radiusForPlanetType(mPlanetDrawer->planetType());
  setScale(radius / unscaled);
  setFrame(QRectF(QPointF(0, 0), mPlanetDrawer->scaledSize()));
}

float PlanetLayer::radius() const { return mPlanetDrawer ? static_cast<float>(mPlanetDrawer->scaledRadius()) : 0; }

// Content setters: a redraw only when what the disc shows changes.

void PlanetLayer::setBaseColor(ColorPtr color) {
  if (!mPlanetDrawer || mPlanetDrawer->baseColor() == color) return;
  mPlanetDrawer->setBaseColor(std::move(color));
  setNeedsDisplay();
}

ColorPtr PlanetLayer::baseColor() const { return mPlanetDrawer ? mPlanetDrawer->baseColor() : nullptr; }

void PlanetLayer::setImage(const KitImage& image) {
  if (!mPlanetDrawer || samePicture(mPlanetDrawer->image(), image)) return;
  mPlanetDrawer->setImage(image);
  setNeedsDisplay();
}

KitImage PlanetLayer::image() const { return mPlanetDrawer ? mPlanetDrawer->image() : KitImage(); }

void PlanetLayer::setIconImage(IconImagePtr icon) {
  if (!mPlanetDrawer || mPlanetDrawer->iconImage() == icon) return;
  mPlanetDrawer->setIconImage(std::move(icon));
  setNeedsDisplay();
}

IconImagePtr PlanetLayer::iconImage() const { return mPlanetDrawer ? mPlanetDrawer->iconImage() : nullptr; }

void PlanetLayer::setText(const QString& text) {
  if (!mPlanetDrawer) return;
  const QString& shown = mPlanetDrawer->text();
  if (shown == text && shown.isNull() == text.isNull()) return;
  mPlanetDrawer->setText(text);
  setNeedsDisplay();
}

QString PlanetLayer::text() const { return mPlanetDrawer ? mPlanetDrawer->text() : QString(); }

void PlanetLayer::setFontSize(float size) {
  if (!mPlanetDrawer || mPlanetDrawer->fontSize() == size) return;
  mPlanetDrawer->setFontSize(size);
  setNeedsDisplay();
}

float PlanetLayer::fontSize() const { return mPlanetDrawer ? mPlanetDrawer->fontSize() : 0; }

void PlanetLayer::setTextColor(const QColor& color) {
  if (!mPlanetDrawer || mPlanetDrawer->textColor() == color) return;
  mPlanetDrawer->setTextColor(color);
  setNeedsDisplay();
}

QColor PlanetLayer::textColor() const { return mPlanetDrawer ? mPlanetDrawer->textColor() : QColor(); }

void PlanetLayer::setShowOrbit(bool show) {
  if (!mPlanetDrawer || mPlanetDrawer->showOrbit() == show) return;
  mPlanetDrawer->setShowOrbit(show);
  setNeedsDisplay();
}

bool PlanetLayer::showOrbit() const { return mPlanetDrawer && mPlanetDrawer->showOrbit(); }

void PlanetLayer::setShowWebLink(bool show) {
  if (!mPlanetDrawer) return;
  const bool before = mPlanetDrawer->showWebLink();
  mPlanetDrawer->setShowWebLink(show);
  if (before != mPlanetDrawer->showWebLink()) setNeedsDisplay();
}

bool PlanetLayer::showWebLink() const { return mPlanetDrawer && mPlanetDrawer->showWebLink(); }

void PlanetLayer::setIsLink(bool link) {
  if (!mPlanetDrawer || mPlanetDrawer->isLink() == link) return;
  mPlanetDrawer->setIsLink(link);
  setNeedsDisplay();
}

bool PlanetLayer::isLink() const { return mPlanetDrawer && mPlanetDrawer->isLink(); }

void PlanetLayer::setApproximateRendering(bool approximate) {
  // The drawing does not depend on it: no redraw.
  if (mPlanetDrawer) mPlanetDrawer->setApproximateRendering(approximate);
}

bool PlanetLayer::approximateRendering() const { return mPlanetDrawer && mPlanetDrawer->approximateRendering(); }

void PlanetLayer::setNote(const QString& note) {
  mNote = note.isEmpty() ? QString() : note;
  if (!mPlanetDrawer) return;
  const std::int64_t number = mNote.isNull() ? 0 : -1;
  if (mPlanetDrawer->noteNumber() == number) return;
  mPlanetDrawer->setNoteNumber(number);
  setNeedsDisplay();
}

void PlanetLayer::setShadowMode(bool shadow) {
  if (shadow == mShadowMode) return;
  mShadowMode = shadow;
  setOpacity(shadow ? 0.5 : 1.0);
}

bool PlanetLayer::hitsNote(const QPointF& point) const {
  if (!showNote() || !mPlanetDrawer) return false;
  return mPlanetDrawer->hitsNote(point - layerext::centerPoint(*this));
}

void PlanetLayer::drawInContext(QPainter& painter) {
  BaseLayer::drawInContext(painter);
  if (!mPlanetDrawer) return;
  painter.save();
  mPlanetDrawer->drawInCurrentContext(painter);
  painter.restore();
}

QRectF PlanetLayer::drawnArea(const QRectF& bounds) const {
  const platform::LayerDelegate* d = delegate();
  if (!mPlanetDrawer || (d && d->drawsLayer(*this))) return bounds;
  // The dotted link ring at 1.1 radii and half its pen is the farthest the drawing reaches.
  const double reach = 1.1 * mPlanetDrawer->scaledRadius() + 1;
  const QPointF c = mPlanetDrawer->scaledCenter();
  const double k = contentsScale();
  const QRectF area(QPointF(std::floor((c.x() - reach) * k) / k, std::floor((c.y() - reach) * k) / k),
                    QPointF(std::ceil((c.x() + reach) * k) / k, std::ceil((c.y() + reach) * k) / k));
  return area.intersected(bounds);
}

std::optional<DiscLook> PlanetLayer::look() const {
  const platform::LayerDelegate* d = delegate();
  if (!mPlanetDrawer || (d && d->drawsLayer(*this))) return std::nullopt;
  return DiscLook::of(*mPlanetDrawer, drawnArea(bounds()).size(), contentsScale());
}

void PlanetLayer::display() {
  // The cache is the main thread's; a picture drawn on another thread is neither taken nor kept.
  const QCoreApplication* app = QCoreApplication::instance();
  if (app && QThread::currentThread() != app->thread()) {
    BaseLayer::display();
    return;
  }
  // A disc that shows again what it showed before (one the pile uncovers as the ring turns)
  // takes the kept picture instead of drawing it again.
  if (showKeptPicture()) return;
  BaseLayer::display();
  if (const auto shown = look()) DiscPictureCache::shared().keep(*shown, contents());
}

bool PlanetLayer::showKeptPicture() {
  const auto shown = look();
  const QImage* kept = shown ? DiscPictureCache::shared().find(*shown) : nullptr;
  if (!kept) return false;
  setContents(*kept);
  keepContents();
  return true;
}

QImage PlanetLayer::drawPicture() {
  QImage image = makeBackingImage();
  if (image.isNull()) return image;
  {
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    painter.translate(-drawnArea(bounds()).topLeft());
    drawInContext(painter);
  }
  // The compositor reads the scale from contentsScale; a ratio of 1 lets it blit the image.
  image.setDevicePixelRatio(1.0);
  return image;
}

void PlanetLayer::showPicture(const QImage& picture) {
  setContents(picture);
  keepContents();
  if (const auto shown = look()) DiscPictureCache::shared().keep(*shown, picture);
}

std::shared_ptr<PlanetLayer> PlanetLayer::copyForDragging() const {
  auto copy = std::make_shared<PlanetLayer>(0);
  copy->setIdeaIdentifier(mIdeaIdentifier);
  copy->setDocIdentifier(mDocIdentifier);
  copy->setZPosition(1.0);
  copy->setBaseColor(baseColor());
  copy->setImage(image());
  copy->setIconImage(iconImage());
  copy->setNote(mNote);
  copy->setShowWebLink(showWebLink());
  copy->setShowOrbit(showOrbit());
  copy->setIsLink(isLink());
  return copy;
}

void PlanetLayer::updateWithIdea(const IdeaPtr& idea, const QString& docIdentifier) {
  if (!ORRERY_SOFT_ASSERT(idea, "-[PlanetLayer updateWithIdea:withDocIdentifier:]")) {
    setText(QString());
    setBaseColor(nullptr);
    setImage(KitImage());
    setIconImage(nullptr);
    setNote(QString());
    setShowWebLink(false);
    setIdeaIdentifier(QString());
    setShowOrbit(false);
    setIsLink(false);
    setDocIdentifier(docIdentifier);
    return;
  }
  setText(idea->text());
  setBaseColor(idea->color());
  setImage(idea->image());
  setIconImage(idea->iconImage());
  setNote(idea->note());
  setShowWebLink(idea->hasURL());
  setIdeaIdentifier(idea->identifier());
  setShowOrbit(!idea->ideas().empty());
  setIsLink(idea->isLink());
  setDocIdentifier(docIdentifier);
}

}  // namespace orrery
