#pragma once
// What a user sees go wrong inside a window, beyond what the screen check looks for: discs
// that cover each other, text cut off without an ellipsis, text too faint against what lies
// behind it, and drawings that reach past their own view into their neighbours'.

#include "platform/ui/view.h"
#include "platform/ui/window.h"

#include <QImage>
#include <QRectF>
#include <QStringList>

namespace screencheck {

// Discs of the radial view's planets that overlap another planet's disc.
QStringList overlappingDiscs(platform::View& root);

// Texts shown cut off, across or down, without an ellipsis where they are cut: labels, text
// views and disc titles below `root`.
QStringList cutTexts(platform::View& root);

// How well a text reads: the contrast ratio between the median pixel of `area` (window
// points) in a picture drawn without the text and the strongest tenth of the pixels the text
// changes in a picture drawn with it. 1 when the text changes nothing.
double textContrast(const QImage& withText, const QImage& withoutText, const QRectF& area, double scale);

// The points of `area` (window points) whose pixels differ between two pictures.
int changedPixels(const QImage& before, const QImage& after, const QRectF& area, double scale);

}  // namespace screencheck
