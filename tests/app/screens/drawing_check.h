#pragma once
// What a user sees go wrong inside a window, beyond what the screen check looks for: discs
// that cover each other where the radial layout does not pile them, text cut off where it
// should not be, text too faint against what lies behind it, and drawings that reach past
// their own view into their neighbours'.

#include "platform/ui/view.h"
#include "platform/ui/window.h"

#include <QImage>
#include <QRectF>
#include <QStringList>

namespace screencheck {

// Planets of a radial view below `root` that cover each other where its layout does not pile
// them: at the even spacing none may, and in the compressed layout only pairs of which one
// stands in the pile just before 183°.
QStringList overlapsOutsideThePile(platform::View& root);

// Texts shown cut off wrongly below `root`: a one-line label or text view cut without an
// ellipsis; a disc title (orbit, sun, parent disc) that is not the beginning of its text in
// whole lines, that ends in an ellipsis, or whose lines run past their room.
QStringList cutTexts(platform::View& root);

// How well a text reads: the contrast ratio between the median pixel of `area` (window
// points) in a picture drawn without the text and the strongest tenth of the pixels the text
// changes in a picture drawn with it. 1 when the text changes nothing.
double textContrast(const QImage& withText, const QImage& withoutText, const QRectF& area, double scale);

// The points of `area` (window points) whose pixels differ between two pictures.
int changedPixels(const QImage& before, const QImage& after, const QRectF& area, double scale);

}  // namespace screencheck
