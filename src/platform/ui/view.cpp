#include "platform/ui/view.h"

#include <QPainter>
#include <algorithm>

#include "platform/ui/compositor.h"
#include "platform/ui/menu.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/window.h"

namespace platform {
namespace {

// Half-open containment, like the platform's mouse-in-rect test.
bool containsPoint(const QRectF& r, const QPointF& p) {
  return p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom();
}

}  // namespace

View::View() : View(QRectF()) {}

View::View(const QRectF& frame) : View(std::shared_ptr<Layer>()) { setFrame(frame); }

View::View(std::shared_ptr<Layer> layer) : mLayer(layer ? layer : std::make_shared<Layer>()) {
  if (!layer) mLayer->setAnchorPoint(QPointF(0, 0));  // the platform's own backing layers
  mLayer->setDelegate(this);
  syncLayerGeometry();
  mLayer->setNeedsDisplay();
}

View::~View() {
  invalidateTracking();
  for (auto& sub : mSubviews) {
    sub->mSuperview = nullptr;
    if (sub->mWindow && sub.use_count() > 1) sub->setWindowRecursively(nullptr);  // it lives on
  }
}

// Geometry.

void View::setFrame(const QRectF& frame) {
  if (frame == mFrame) return;
  const QSizeF oldSize = mFrame.size();
  const double sx = mBounds.width() > 0 && oldSize.width() > 0 ? mBounds.width() / oldSize.width() : 1;
  const double sy = mBounds.height() > 0 && oldSize.height() > 0 ? mBounds.height() / oldSize.height() : 1;
  mFrame = frame;
  mBounds.setSize(QSizeF(frame.width() * sx, frame.height() * sy));
  syncLayerGeometry();
  if (oldSize != frame.size()) {
    if (!isFlipped())
      for (auto& sub : mSubviews) sub->syncLayerGeometry();
    if (!mKnownBlank) mLayer->setNeedsDisplay();
    resizeSubviewsWithOldSize(oldSize);
  }
  noteGeometryChanged();
}

void View::setBoundsOrigin(const QPointF& origin) {
  if (origin == mBounds.topLeft()) return;
  mBounds.moveTopLeft(origin);
  syncLayerGeometry();
  if (!isFlipped())
    for (auto& sub : mSubviews) sub->syncLayerGeometry();
  if (!mKnownBlank) mLayer->setNeedsDisplay();
  noteGeometryChanged();
}

void View::setBoundsSize(const QSizeF& size) {
  if (size == mBounds.size()) return;
  mBounds.setSize(size);
  syncLayerGeometry();
  for (auto& sub : mSubviews) sub->syncLayerGeometry();
  if (!mKnownBlank) mLayer->setNeedsDisplay();
  noteGeometryChanged();
}

QTransform View::localToLayer() const {
  const double sx = mBounds.width() > 0 ? mFrame.width() / mBounds.width() : 1;
  const double sy = mBounds.height() > 0 ? mFrame.height() / mBounds.height() : 1;
  QTransform m = QTransform::fromTranslate(-mBounds.x(), -mBounds.y());
  if (!isFlipped()) m = QTransform(1, 0, 0, -1, 0, 2 * mBounds.y() + mBounds.height()) * m;
  return m * QTransform::fromScale(sx, sy);
}

QRectF View::layerFrameForSubview(const View& subview) const {
  QRectF r = subview.mFrame;
  if (!isFlipped()) r.moveTop(2 * mBounds.y() + mBounds.height() - r.bottom());
  return r;
}

void View::syncLayerGeometry() {
  const QRectF r = mSuperview ? mSuperview->layerFrameForSubview(*this) : mFrame;
  const QPointF anchor = mLayer->anchorPoint();
  mLayer->setBounds(QRectF(QPointF(0, 0), r.size()));
  mLayer->setPosition(QPointF(r.x() + anchor.x() * r.width(), r.y() + anchor.y() * r.height()));
  const double sx = mBounds.width() > 0 ? mFrame.width() / mBounds.width() : 1;
  const double sy = mBounds.height() > 0 ? mFrame.height() / mBounds.height() : 1;
  mLayer->setSublayerTransform(QTransform::fromTranslate(-mBounds.x(), -mBounds.y()) * QTransform::fromScale(sx, sy));
}

void View::noteGeometryChanged() {
  if (mWindow) mWindow->noteViewGeometryChanged();
}

// Hierarchy.

void View::addSubview(std::shared_ptr<View> view) { insertSubviewAt(std::move(view), nullptr, true); }

void View::insertSubviewBelow(std::shared_ptr<View> view, const View* sibling) {
  insertSubviewAt(std::move(view), sibling, false);
}

void View::insertSubviewAbove(std::shared_ptr<View> view, const View* sibling) {
  insertSubviewAt(std::move(view), sibling, true);
}

void View::insertSubviewAt(std::shared_ptr<View> view, const View* sibling, bool above) {
  if (!view || view.get() == this || isDescendantOf(view.get())) return;
  if (view->mSuperview) view->removeFromSuperview();
  if (view->mWindow != mWindow) view->willMoveToWindowRecursively(mWindow);

  // Without a sibling nothing is searched: filling a view with many subviews stays linear.
  auto it = sibling
                ? std::find_if(mSubviews.begin(), mSubviews.end(), [&](const auto& v) { return v.get() == sibling; })
                : mSubviews.end();
  const Layer* siblingLayer = it != mSubviews.end() ? (*it)->mLayer.get() : nullptr;
  if (it == mSubviews.end())
    it = above ? mSubviews.end() : mSubviews.begin();
  else if (above)
    ++it;
  View* raw = view.get();
  mSubviews.insert(it, view);

  if (siblingLayer && above)
    mLayer->insertSublayerAbove(raw->mLayer, siblingLayer);
  else if (siblingLayer)
    mLayer->insertSublayerBelow(raw->mLayer, siblingLayer);
  else if (above)
    mLayer->addSublayer(raw->mLayer);
  else
    mLayer->insertSublayer(raw->mLayer, 0);

  raw->mSuperview = this;
  raw->syncLayerGeometry();
  didAddSubview(raw);
  raw->viewDidMoveToSuperview();
  if (raw->mWindow != mWindow) raw->setWindowRecursively(mWindow);
  noteGeometryChanged();
}

void View::removeFromSuperview() {
  View* parent = mSuperview;
  if (!parent) return;
  auto keep = weak_from_this().lock();
  parent->willRemoveSubview(this);
  if (mSuperview != parent) return;  // the hook moved it already
  if (mWindow) {
    willMoveToWindowRecursively(nullptr);
    mWindow->viewWillLeave(this);
  }
  auto& subs = parent->mSubviews;
  subs.erase(std::remove_if(subs.begin(), subs.end(), [&](const auto& v) { return v.get() == this; }), subs.end());
  mLayer->removeFromSuperlayer();
  mSuperview = nullptr;
  Window* oldWindow = mWindow;
  if (mWindow) setWindowRecursively(nullptr);
  viewDidMoveToSuperview();
  if (oldWindow) oldWindow->noteViewGeometryChanged();
}

bool View::isDescendantOf(const View* ancestor) const {
  for (const View* v = this; v; v = v->mSuperview)
    if (v == ancestor) return true;
  return false;
}

void View::willMoveToWindowRecursively(Window* window) {
  if (ViewController* c = viewController(); c && window != mWindow) {
    if (window)
      c->viewWillAppear();
    else
      c->viewWillDisappear();
  }
  viewWillMoveToWindow(window);
  for (auto& sub : mSubviews) sub->willMoveToWindowRecursively(window);
}

void View::setWindowRecursively(Window* window) {
  Window* old = mWindow;
  mWindow = window;
  if (window) mLayer->setContentsScale(window->backingScaleFactor());
  viewDidMoveToWindow();
  auto subs = mSubviews;
  for (auto& sub : subs) sub->setWindowRecursively(window);
  if (ViewController* c = viewController(); c && old != window) {
    if (window)
      c->viewDidAppear();
    else
      c->viewDidDisappear();
  }
}

// Display.

void View::setHidden(bool hidden) {
  if (hidden == mHidden) return;
  mHidden = hidden;
  mLayer->setHidden(hidden);
  noteGeometryChanged();
}

bool View::isHiddenOrHasHiddenAncestor() const {
  for (const View* v = this; v; v = v->mSuperview)
    if (v->mHidden) return true;
  return false;
}

void View::setNeedsDisplay() {
  mKnownBlank = false;
  mLayer->setNeedsDisplay();
}

void View::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  (void)painter;
  (void)dirtyRect;
  mBaseDrawReached = true;
}

bool View::drawsLayer(const Layer& layer) const { return &layer == mLayer.get(); }

void View::drawLayer(Layer& layer, QPainter& painter) {
  if (&layer != mLayer.get()) return;
  mBaseDrawReached = false;
  painter.save();
  painter.setTransform(localToLayer(), true);
  // A tile of a tall layer asks for its own part only.
  drawRect(painter, painter.hasClipping() ? mBounds.intersected(painter.clipBoundingRect()) : mBounds);
  painter.restore();
}

bool View::drawingMayBeBlank(const Layer& layer) const { return &layer == mLayer.get() && mBaseDrawReached; }

void View::drawingWasBlank(const Layer& layer, bool blank) {
  if (&layer == mLayer.get()) mKnownBlank = blank;
}

LayerAction View::actionForLayer(Layer& layer, const QString& key) {
  (void)layer;
  (void)key;
  return LayerAction::none();
}

// Layout.

void View::setNeedsLayout() {
  mNeedsLayout = true;
  if (mWindow) mWindow->setNeedsDisplay();
}

void View::layoutSubtreeIfNeeded() {
  if (mNeedsLayout) {
    mNeedsLayout = false;
    if (ViewController* c = viewController()) c->viewWillLayout();
    layout();
  }
  auto subs = mSubviews;
  for (auto& sub : subs) sub->layoutSubtreeIfNeeded();
}

// Hit testing and conversions.

View* View::hitTest(const QPointF& pointInSuperview) {
  if (mHidden || !containsPoint(mFrame, pointInSuperview)) return nullptr;
  const QPointF local = convertPointFromSuperview(pointInSuperview);
  for (auto it = mSubviews.rbegin(); it != mSubviews.rend(); ++it)
    if (View* hit = (*it)->hitTest(local)) return hit;
  return this;
}

QPointF View::convertPointToSuperview(const QPointF& p) const {
  // Offset from the frame's top-left corner, in points.
  const QPointF inLayer = localToLayer().map(p);
  const bool superFlipped = !mSuperview || mSuperview->isFlipped();
  if (superFlipped) return mFrame.topLeft() + inLayer;
  return QPointF(mFrame.x() + inLayer.x(), mFrame.bottom() - inLayer.y());
}

QPointF View::convertPointFromSuperview(const QPointF& p) const {
  const bool superFlipped = !mSuperview || mSuperview->isFlipped();
  const QPointF inLayer = superFlipped ? p - mFrame.topLeft() : QPointF(p.x() - mFrame.x(), mFrame.bottom() - p.y());
  return localToLayer().inverted().map(inLayer);
}

QPointF View::convertPoint(const QPointF& point, const View* fromView) const {
  QPointF p = point;
  if (fromView == this) return p;
  for (const View* v = fromView; v; v = v->mSuperview) p = v->convertPointToSuperview(p);
  std::vector<const View*> chain;
  for (const View* v = this; v; v = v->mSuperview) chain.push_back(v);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) p = (*it)->convertPointFromSuperview(p);
  return p;
}

QPointF View::convertPointToView(const QPointF& point, const View* toView) const {
  if (toView) return toView->convertPoint(point, this);
  QPointF p = point;
  for (const View* v = this; v; v = v->mSuperview) p = v->convertPointToSuperview(p);
  return p;
}

QRectF View::convertRect(const QRectF& rect, const View* fromView) const {
  const QPointF a = convertPoint(rect.topLeft(), fromView);
  const QPointF b = convertPoint(rect.bottomRight(), fromView);
  return QRectF(a, b).normalized();
}

QRectF View::convertRectToView(const QRectF& rect, const View* toView) const {
  const QPointF a = convertPointToView(rect.topLeft(), toView);
  const QPointF b = convertPointToView(rect.bottomRight(), toView);
  return QRectF(a, b).normalized();
}

QRectF View::visibleRect() const {
  QRectF visible = mBounds;
  for (const View* v = mSuperview; v && !visible.isEmpty(); v = v->mSuperview)
    visible = visible.intersected(convertRect(v->mBounds, v));
  return visible;
}

// Events.

Responder* View::nextResponder() const {
  if (ViewController* c = mViewController.get()) return c;
  if (Responder* explicitNext = Responder::nextResponder()) return explicitNext;
  if (mSuperview) return mSuperview;
  return mWindow;
}

void View::rightMouseDown(const Event& event) {
  if (auto menu = menuForEvent(event)) {
    Menu::popUpContextMenu(menu, event, this);
    return;
  }
  Responder::rightMouseDown(event);
}

void View::addTrackingArea(std::shared_ptr<TrackingArea> area) {
  if (!area) return;
  mTrackingAreas.push_back(std::move(area));
  noteGeometryChanged();
}

void View::removeTrackingArea(const TrackingArea* area) {
  mTrackingAreas.erase(
      std::remove_if(mTrackingAreas.begin(), mTrackingAreas.end(), [&](const auto& a) { return a.get() == area; }),
      mTrackingAreas.end());
  noteGeometryChanged();
}

void View::addCursorRect(const QRectF& rect, Cursor cursor) { mCursorRects.emplace_back(rect, cursor); }

ViewController* View::viewController() const { return mViewController.get(); }

void View::setViewController(ViewController* controller) { mViewController.reset(controller); }

QRectF View::nativeControlCoverRect() const {
  const QColor background = mLayer->backgroundColor();
  return background.isValid() && background.alpha() > 0 ? mBounds : QRectF();
}

// Snapshots.

namespace {
void paintNatives(QPainter& painter, View& root, View& view) {
  if (view.isHidden()) return;
  painter.save();
  const QPointF origin = view.convertPointToView(view.bounds().topLeft(), nullptr) -
                         root.convertPointToView(root.bounds().topLeft(), nullptr);
  painter.translate(origin);
  view.paintNativeContent(painter);
  painter.restore();
  for (auto& sub : view.subviews()) paintNatives(painter, root, *sub);
}
}  // namespace

QImage View::snapshot(double scale) {
  QImage image = compositor::renderToImage(*mLayer, scale);
  if (image.isNull()) return image;
  QPainter painter(&image);
  paintNatives(painter, *this, *this);
  return image;
}

}  // namespace platform
