#include "platform/ui/scroll_view.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace platform {
namespace {

// One line of the application's text: the unit of the desktop's wheel step.
double lineHeight() { return QFontMetricsF(QApplication::font()).lineSpacing(); }

}  // namespace

Scroller::Scroller(ScrollView* owner, bool vertical) : mOwner(owner), mVertical(vertical) {}

void Scroller::setKnob(double position, double proportion) {
  position = std::clamp(position, 0.0, 1.0);
  proportion = std::clamp(proportion, 0.0, 1.0);
  if (position == mPosition && proportion == mProportion) return;
  mPosition = position;
  mProportion = proportion;
  setNeedsDisplay();
}

double Scroller::track() const { return mVertical ? bounds().height() : bounds().width(); }

QRectF Scroller::knobRect() const {
  const double length = std::max(20.0, track() * mProportion);
  const double offset = (track() - length) * mPosition;
  return mVertical ? QRectF(3, offset + 2, bounds().width() - 6, length - 4)
                   : QRectF(offset + 2, 3, length - 4, bounds().height() - 6);
}

void Scroller::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  (void)dirtyRect;
  painter.fillRect(bounds(), QColor(250, 250, 250));
  if (mProportion >= 1) return;
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 0, 90));
  const QRectF knob = knobRect();
  const double r = (mVertical ? knob.width() : knob.height()) / 2;
  painter.drawRoundedRect(knob, r, r);
}

void Scroller::mouseDown(const Event& event) {
  const QPointF p = convertPoint(event.locationInWindow, nullptr);
  const QRectF knob = knobRect();
  const double along = mVertical ? p.y() : p.x();
  const double knobStart = mVertical ? knob.y() : knob.x();
  const double knobLength = mVertical ? knob.height() : knob.width();
  if (knob.contains(p)) {
    mGrabOffset = along - knobStart;
  } else {
    mGrabOffset = knobLength / 2;
    mouseDragged(event);
  }
}

void Scroller::mouseDragged(const Event& event) {
  if (mGrabOffset < 0) return;
  const QPointF p = convertPoint(event.locationInWindow, nullptr);
  const double along = mVertical ? p.y() : p.x();
  const double length = std::max(20.0, track() * mProportion);
  const double room = track() - length;
  if (room <= 0) return;
  mOwner->scrollerMoved(mVertical, (along - mGrabOffset - 2) / room);
}

void Scroller::mouseUp(const Event& event) {
  (void)event;
  mGrabOffset = -1;
}

ScrollView::ScrollView() : ScrollView(QRectF()) {}

ScrollView::ScrollView(const QRectF& frame) : View(frame) {
  mClip = std::make_shared<View>();
  mClip->layer()->setMasksToBounds(true);
  addSubview(mClip);
  mVertical = std::make_shared<Scroller>(this, true);
  mHorizontal = std::make_shared<Scroller>(this, false);
  tile();
}

void ScrollView::setDocumentView(std::shared_ptr<View> view) {
  if (mDocument) mDocument->removeFromSuperview();
  mDocument = std::move(view);
  if (mDocument) mClip->addSubview(mDocument);
  scrollToPoint(QPointF(0, 0));
}

void ScrollView::setHasVerticalScroller(bool has) {
  mHasVertical = has;
  tile();
}

void ScrollView::setHasHorizontalScroller(bool has) {
  mHasHorizontal = has;
  tile();
}

void ScrollView::setAutohidesScrollers(bool v) {
  mAutohides = v;
  tile();
}

void ScrollView::setVerticalScroller(std::shared_ptr<Scroller> scroller) {
  if (mVertical) mVertical->removeFromSuperview();
  mVertical = scroller ? std::move(scroller) : std::make_shared<Scroller>(this, true);
  tile();
}

QSizeF ScrollView::contentSize() const { return mClip->frame().size(); }

QRectF ScrollView::documentVisibleRect() const {
  if (!mDocument) return mClip->bounds();
  return mDocument->convertRect(mClip->bounds(), mClip.get());
}

QPointF ScrollView::scrollPosition() const { return mClip->bounds().topLeft(); }

QPointF ScrollView::clampedOrigin(QPointF origin) const {
  const QSizeF visible = mClip->bounds().size();
  const QSizeF doc = mDocument ? mDocument->frame().size() : QSizeF();
  origin.setX(std::clamp(origin.x(), 0.0, std::max(0.0, doc.width() - visible.width())));
  origin.setY(std::clamp(origin.y(), 0.0, std::max(0.0, doc.height() - visible.height())));
  return origin;
}

void ScrollView::scrollToPoint(const QPointF& point) {
  mClip->setBoundsOrigin(clampedOrigin(point));
  reflectScrolledClipView();
}

void ScrollView::setMagnification(double magnification, const QPointF& center) {
  magnification = std::clamp(magnification, mMinMagnification, mMaxMagnification);
  const QRectF before = mClip->bounds();
  const QPointF onScreen((center.x() - before.x()) * mMagnification, (center.y() - before.y()) * mMagnification);
  mMagnification = magnification;
  mClip->setBoundsSize(mClip->frame().size() / magnification);
  scrollToPoint(QPointF(center.x() - onScreen.x() / magnification, center.y() - onScreen.y() / magnification));
}

void ScrollView::setMagnification(double magnification) {
  setMagnification(magnification, documentVisibleRect().center());
}

void ScrollView::tile() {
  const QRectF b = bounds();
  const QSizeF doc = mDocument ? mDocument->frame().size() : QSizeF();
  bool showV = mHasVertical, showH = mHasHorizontal;
  if (mAutohides) {
    showV = showV && doc.height() * mMagnification > b.height();
    showH = showH && doc.width() * mMagnification > b.width();
  }
  const double w = b.width() - (showV ? Scroller::kWidth : 0);
  const double h = b.height() - (showH ? Scroller::kWidth : 0);
  mClip->setFrame(QRectF(0, 0, std::max(0.0, w), std::max(0.0, h)));
  mClip->setBoundsSize(mClip->frame().size() / mMagnification);
  auto place = [&](const std::shared_ptr<Scroller>& s, bool show, const QRectF& r) {
    if (show) {
      if (s->superview() != this) addSubview(s);
      s->setFrame(r);
    } else if (s->superview() == this) {
      s->removeFromSuperview();
    }
  };
  place(mVertical, showV, QRectF(w, 0, Scroller::kWidth, std::max(0.0, h)));
  place(mHorizontal, showH, QRectF(0, h, std::max(0.0, w), Scroller::kWidth));
  scrollToPoint(scrollPosition());
}

void ScrollView::reflectScrolledClipView() {
  const QRectF visible = mClip->bounds();
  const QSizeF doc = mDocument ? mDocument->frame().size() : QSizeF();
  auto knob = [](double pos, double visibleLength, double docLength, double* position) {
    const double room = docLength - visibleLength;
    *position = room > 0 ? pos / room : 0;
    return docLength > 0 ? std::min(1.0, visibleLength / docLength) : 1.0;
  };
  double vp = 0, hp = 0;
  const double vProp = knob(visible.y(), visible.height(), doc.height(), &vp);
  const double hProp = knob(visible.x(), visible.width(), doc.width(), &hp);
  mVertical->setKnob(vp, vProp);
  mHorizontal->setKnob(hp, hProp);
}

void ScrollView::scrollerMoved(bool vertical, double position) {
  const QRectF visible = mClip->bounds();
  const QSizeF doc = mDocument ? mDocument->frame().size() : QSizeF();
  QPointF origin = visible.topLeft();
  if (vertical)
    origin.setY(position * std::max(0.0, doc.height() - visible.height()));
  else
    origin.setX(position * std::max(0.0, doc.width() - visible.width()));
  scrollToPoint(origin);
}

void ScrollView::setFrame(const QRectF& frame) {
  View::setFrame(frame);
  tile();
}

void ScrollView::scrollWheel(const Event& event) {
  // A notch moves as far as the desktop's other programs do: its lines of one text line each.
  const double factor = event.hasPreciseScrollingDeltas ? 1.0 : QApplication::wheelScrollLines() * lineHeight();
  const QPointF delta(event.scrollingDeltaX * factor / mMagnification,
                      event.scrollingDeltaY * factor / mMagnification);
  scrollToPoint(scrollPosition() - delta);
}

bool ScrollView::scrollForKey(const Event& event) {
  if (event.modifierFlags & (ModifierFlag::Command | ModifierFlag::Control | ModifierFlag::Option)) return false;
  const QRectF visible = documentVisibleRect();
  // A page keeps one line of the last one in sight.
  const double page = std::max(visible.height() / 2, visible.height() - lineHeight());
  const double bottom = mDocument ? mDocument->frame().height() : 0;
  double x = visible.x(), y = visible.y();
  // An arrow moves a line, as a notch of the wheel moves its lines.
  switch (event.keyCode) {
    case KeyCode::PageUp: y -= page; break;
    case KeyCode::PageDown: y += page; break;
    case KeyCode::Home: y = 0; break;
    case KeyCode::End: y = bottom; break;
    case KeyCode::UpArrow: y -= lineHeight(); break;
    case KeyCode::DownArrow: y += lineHeight(); break;
    case KeyCode::LeftArrow: x -= lineHeight(); break;
    case KeyCode::RightArrow: x += lineHeight(); break;
    default: return false;
  }
  scrollToPoint(QPointF(x, y));
  return true;
}

void ScrollView::keyDown(const Event& event) {
  if (!scrollForKey(event)) View::keyDown(event);
}

void ScrollView::magnifyWithEvent(const Event& event) {
  if (!mAllowsMagnification) {
    View::magnifyWithEvent(event);
    return;
  }
  const QPointF center = mDocument ? mDocument->convertPoint(event.locationInWindow, nullptr)
                                   : documentVisibleRect().center();
  setMagnification(mMagnification * (1.0 + event.magnification), center);
}

}  // namespace platform
