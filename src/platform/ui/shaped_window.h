#pragma once
// A top-level window drawn as a shape over what lies beneath it (a popover's bubble and arrow).
// Where the display blends translucent windows with what lies beneath (a compositing manager
// on X, every Wayland compositor), the window is translucent and its shape's antialiased edge
// blends too. An X server without a compositing manager shows a translucent window's pixels
// unblended: clear ones black, half-clear ones (a faint outline, an antialiased edge) darkened
// towards black. There the window is opaque, drawn over a plain colour, so its edge blends with
// that colour instead. Either way the window is cut to the pixels its shape touches, so nothing
// around the shape hides what lies beneath. Main thread only.

#include <QColor>

class QPainterPath;
class QWidget;

namespace platform {

class Window;

// Whether the display blends translucent windows with what lies beneath them: on X, while a
// compositing manager holds its selection for the screen `onScreenOf` stands on.
bool blendsTranslucentWindows(const QWidget* onScreenOf);

// Gives a window not yet shown its look for a shape: translucent where the display blends
// (see `blendsTranslucentWindows`), else opaque over `edgeColor`, the colour the shape's
// antialiased edge is drawn on.
void prepareShapedWindow(Window& window, const QWidget* onScreenOf, const QColor& edgeColor);

// Cuts the window to the pixels `outline` touches, stroked with a 1-pixel pen.
void setWindowShape(Window& window, const QPainterPath& outline);

}  // namespace platform
