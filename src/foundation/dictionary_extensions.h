#pragma once
// Rectangles kept in dictionaries (window frames in the stored window state) as the text
// "{{x, y}, {width, height}}".

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVariantMap>

namespace orrery::dictext {

QString stringFromRect(const QRectF& rect);
// Reads the numbers of the text in order; missing ones are 0.
QRectF rectFromString(const QString& text);

void setRect(QVariantMap& dictionary, const QRectF& rect, const QString& key);
// The zero rectangle when the key is absent.
QRectF rectForKey(const QVariantMap& dictionary, const QString& key);

}  // namespace orrery::dictext

namespace orrery::dictext {
// Points as the text "{x, y}"; missing numbers are 0.
QString stringFromPoint(const QPointF& point);
QPointF pointFromString(const QString& text);
}  // namespace orrery::dictext
