#pragma once
// Main windows on the screens there are now: each kept inside the available area of its
// screen (what panels and docks leave free) and never exactly over another window, also when
// the window manager adds its decorations after the window was placed.

#include <QList>
#include <QRectF>

namespace platform {
class Window;
}  // namespace platform

namespace orrery::arrangement {

// The available areas of the screens, the primary screen's first.
QList<QRectF> availableAreas();
// The available area of the screen that holds the centre of `frame`, else the primary one's;
// empty without a screen.
QRectF availableAreaFor(const QRectF& frame);

// Moves the window inside its screen's available area, smaller when it does not fit, and off
// the top left of any of `others`.
void keepInsideAndUncovered(platform::Window& window, const QList<QRectF>& others);

// The frame to store for the next run: where the decorations begin, and the size of what
// is inside them. Set on a window that is not decorated yet, it gives the same window again
// once the window manager has put its decorations around it; a frame with the decorations
// would make the window grow by their size with every restart.
QRectF storableFrame(const platform::Window& window);
// Puts the window where a stored frame says, with the decorations known now around it.
void applyStorableFrame(platform::Window& window, const QRectF& frame);

// Fits the window into its area again each time the window manager's decorations around it
// change (they come after the window is shown, and make the frame taller than it was placed).
void refitWhenDecorated(platform::Window& window);

}  // namespace orrery::arrangement
