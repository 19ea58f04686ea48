#pragma once
// The date text of every JSON file: "yyyy-MM-dd HH:mm':00' z" in GMT, Gregorian calendar and
// plain digits whatever the user's locale, e.g. "2016-05-03 14:07:00 GMT". Seconds are not
// kept.

#include <QDateTime>
#include <QString>

namespace orrery::jsondate {

// Null for an invalid date.
QString format(const QDateTime& date);
// Invalid when the text does not have the form above ("UTC" and "GMT+02:00"-style zones are
// read too).
QDateTime parse(const QString& text);

}  // namespace orrery::jsondate
