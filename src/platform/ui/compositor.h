#pragma once
// Draws layer trees with QPainter: the window's canvas and snapshots share this code.
// Cached contents are re-used; only layers marked with setNeedsDisplay are redrawn.

#include <QImage>
#include <QRectF>

#include <optional>

class QPainter;

namespace platform {

class Layer;

namespace compositor {

struct Options {
  // Evaluate running animations (what is on screen now) rather than model values.
  bool presentation = true;
  double time = 0;  // media time for presentation values; 0 means now
  // What is shown, in device pixels: the painter's clip, else its whole device, when unset.
  // Tiled layers draw only the tiles that meet it.
  std::optional<QRectF> deviceVisible;
};

// Draws `layer` and its sublayers; the painter is in the superlayer's coordinates.
void renderLayer(QPainter& painter, Layer& layer, const Options& options = {});

// Draws a layer's subtree in its own bounds coordinates (its position, transform and
// opacity left out), as snapshots want.
void renderLayerContents(QPainter& painter, Layer& layer, const Options& options = {});

// A picture of the layer's bounds at `scale` pixels per point (device pixel ratio = scale).
QImage renderToImage(Layer& layer, double scale = 1.0, const Options& options = {});

// Redraws the contents of every layer in the tree that is marked for display.
void displayTree(Layer& root);

}  // namespace compositor
}  // namespace platform
