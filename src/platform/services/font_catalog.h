#pragma once
// The one place where font names the application uses but Linux lacks (Avenir, Helvetica,
// the colour emoji font) are mapped to installed faces.

#include <QFont>
#include <QPaintDevice>
#include <QString>

#include <optional>

namespace platform {

// The installed face that stands for `name` ("Avenir Medium", "Helvetica", "Apple Color
// Emoji", or any installed family), or nothing when no such face is installed.
std::optional<QFont> fontNamed(const QString& name, double pointSize);

// Sizes `font` so that it draws `points` logical pixels tall on `device`: the application's
// points are logical pixels, while Qt converts points through the device's dpi (12 pt would
// draw 16 px in a 96-dpi image). Without a device the screen's 72-dpi rule is assumed.
void setFontSizeForDevice(QFont& font, double points, const QPaintDevice* device);

// The installed family that `name` maps to (the name itself when it is not mapped).
QString mappedFontFamily(const QString& name);

}  // namespace platform
