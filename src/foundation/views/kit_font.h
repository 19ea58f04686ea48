#pragma once
// Fonts for text the kit draws into layer images. The application's font sizes are logical
// pixels; Qt sizes in points through the device's dpi, so every widget sizes its fonts here,
// for the paint device that layer images (and font metrics without a device) use.

#include <QFont>

class QPaintDevice;

namespace orrery {

// A layer image as a paint device, for dpi and measurements. Main thread only.
const QPaintDevice* kitPaintDevice();
// `face` drawn `points` logical pixels tall in the kit's layers.
QFont kitFont(QFont face, double points);
// The logical-pixel size of a font made by kitFont.
double kitFontSize(const QFont& font);

}  // namespace orrery
