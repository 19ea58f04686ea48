#pragma once
// The small frame vocabulary every view and layer shares: named points of the frame in
// top-left coordinates, integral frames, subview ordering, scale and move transforms on the
// backing layer, removal of running animations and pictures of layers.

#include "platform/ui/layer.h"
#include "platform/ui/view.h"

#include <QImage>

namespace orrery::viewext {

using platform::View;

QPointF center(const View& view);
void setCenter(View& view, const QPointF& p);
QPointF centerPoint(const View& view);
QPointF topLeftCorner(const View& view);
void setTopLeftCorner(View& view, const QPointF& p);
void setTopRightCorner(View& view, const QPointF& p);
void setBottomLeftCorner(View& view, const QPointF& p);
QPointF middleBottomPosition(const View& view);
void setMiddleTopPosition(View& view, const QPointF& p);
void setMiddleLeftPosition(View& view, const QPointF& p);
void setMiddleRightPosition(View& view, const QPointF& p);
float bottomFrameLine(const View& view);
float rightFrameLine(const View& view);
void ensureFrameHeightAsMultipleOf(View& view, double step);
// Origin down to whole device pixels of the screen scale, size up to whole points.
void ensureIntegralFrame(View& view);
void ensureIntegralFrame(View& view, double screenScale);

// Removes the view and adds it again on top of its siblings.
void bringSubviewToFront(View& superview, const std::shared_ptr<View>& subview);
void insertSubviewBelow(View& superview, const std::shared_ptr<View>& view, const View* sibling);
void removeAnimationsAlsoFromSubviews(View& view);
void setScale(View& view, double scale);
void transformToScale(View& view, double scale, double rotation);

}  // namespace orrery::viewext

namespace orrery::layerext {

using platform::Layer;

QPointF center(const Layer& layer);
void setCenter(Layer& layer, const QPointF& p);
QPointF centerPoint(const Layer& layer);
// Only with an identity transform: origin rounded to whole points, size up to whole points.
void ensureIntegralFrame(Layer& layer);

// Scales about the bounds centre, whatever the anchor point.
void transformToScale(Layer& layer, double scale);
// Drawn scaled by `scale` about its centre; the rotation is not applied.
void transformToScale(Layer& layer, double scale, double rotation);
void transformToPoint(Layer& layer, const QPointF& point, double scale);
void transformToPoint(Layer& layer, const QPointF& point, double rotation, double scale);
// A flag would silently pass as a scale to the form above: the animated move has its own name.
void transformToPoint(Layer& layer, const QPointF& point, double scale, bool animated) = delete;
// Adds an animation (key "transformToPoint:finalScale:animated") that brings the centre to
// `point` at `finalScale` without changing the model; only the animated form exists.
void animateTransformToPoint(Layer& layer, const QPointF& point, double finalScale, bool animated);

void setAlphaValue(Layer& layer, double alpha);
// A picture of the layer at one pixel per point; null (and a soft assertion) when empty.
QImage createBitmap(Layer& layer);
QImage createImage(Layer& layer);

}  // namespace orrery::layerext
