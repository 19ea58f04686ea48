#include "model/json_date_format.h"

#include <QRegularExpression>

namespace orrery::jsondate {

QString format(const QDateTime& date) {
  if (!date.isValid()) return {};
  const QDateTime utc = date.toUTC();
  const QDate day = utc.date();
  const QTime time = utc.time();
  return QString::asprintf("%04d-%02d-%02d %02d:%02d:00 GMT", day.year(), day.month(), day.day(),
                           time.hour(), time.minute());
}

QDateTime parse(const QString& text) {
  static const QRegularExpression pattern(QStringLiteral(
      R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):00 (?:GMT|UTC)(?:([+-])(\d{1,2})(?::?(\d{2}))?)?$)"));
  const QRegularExpressionMatch match = pattern.match(text);
  if (!match.hasMatch()) return {};
  auto number = [&](int group) { return match.captured(group).toInt(); };
  const QDate day(number(1), number(2), number(3));
  const QTime time(number(4), number(5));
  if (!day.isValid() || !time.isValid()) return {};
  int offsetSeconds = 0;
  if (match.hasCaptured(6)) {
    const int hours = number(7);
    const int minutes = match.hasCaptured(8) ? number(8) : 0;
    if (hours > 14 || minutes > 59) return {};
    offsetSeconds = (hours * 3600 + minutes * 60) * (match.captured(6) == QLatin1String("-") ? -1 : 1);
  }
  return QDateTime(day, time, Qt::UTC).addSecs(-offsetSeconds);
}

}  // namespace orrery::jsondate
