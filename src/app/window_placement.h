#pragma once
// Where main windows go, as pure functions of screen rectangles (top-left coordinates, y
// down, the desktop's origin wherever the screens put it): the size and place of a new
// window, the cascade of a window opened over the main one, and the fitting of a stored
// frame back onto the screens there are now.

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

namespace orrery::placement {

inline constexpr double kMinimumWidth = 640;
inline constexpr double kMinimumHeight = 520;

// A new window: 640..1172 wide, 520..(760, the area's height − 60) high, centred in the
// available area and raised 26 points. An empty area gives the minimum size at the origin.
QRectF newWindowFrame(const QRectF& availableArea);

// A window opened while `mainFrame` is the main window: moved 30 points right of and below
// the main window's top left when that window's top is less than 300 points below the
// screen's top, kept inside the screen (5 points above its bottom, never above its top);
// none when it keeps the frame it was made with.
std::optional<QRectF> cascadedFrame(const QRectF& screen, const QRectF& mainFrame, const QRectF& newFrame);

// A stored frame made usable: a size that is not a finite positive number becomes the
// minimum; the frame is at least `minimum`, at most the available area of the screen holding
// its centre (else the first area, the primary screen's), and moved inside that area.
QRectF fittedStoredFrame(const QRectF& stored, const QList<QRectF>& availableAreas, const QSizeF& minimum);

// A frame inside an available area: at least `minimum`, at most the area's size (the minimum
// wins over a smaller area), moved inside it as far as its size allows.
QRectF fittedFrame(const QRectF& frame, const QRectF& area, const QSizeF& minimum);

// Where a window goes so that it does not lie exactly over another: while its top left is
// within 2 points of the top left of one of `others`, it steps 30 points right and down,
// starting again at the area's left or top edge when a step would take it past the other one.
// A frame that has no room to step keeps its place.
QRectF uncoveredFrame(const QRectF& frame, const QList<QRectF>& others, const QRectF& area);

// The origin that centres `size` in an available area, the area's own origin added; the
// origin itself when there is no screen.
QPointF centredOrigin(const QSizeF& size, const QRectF& availableArea);

}  // namespace orrery::placement
