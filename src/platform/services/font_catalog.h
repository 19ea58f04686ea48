#pragma once
// The one place where font names the application uses but Linux lacks (Avenir, Helvetica,
// the colour emoji font) are mapped to installed faces.

#include <QFont>
#include <QString>

#include <optional>

namespace platform {

// The installed face that stands for `name` ("Avenir Medium", "Helvetica", "Apple Color
// Emoji", or any installed family), or nothing when no such face is installed.
std::optional<QFont> fontNamed(const QString& name, double pointSize);

// The installed family that `name` maps to (the name itself when it is not mapped).
QString mappedFontFamily(const QString& name);

}  // namespace platform
