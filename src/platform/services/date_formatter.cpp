#include "platform/services/date_formatter.h"

#include <QRegularExpression>
#include <QStringList>

namespace platform {

namespace {

struct DateOrder {
  QString fields;     // "y", "M", "d" in the locale's order
  QString separator;  // between numeric fields
};

// Reads the field order and separator of the locale's short date format ("M/d/yy",
// "dd.MM.yy", "yyyy/MM/dd").
DateOrder dateOrder(const QLocale& locale) {
  const QString format = locale.dateFormat(QLocale::ShortFormat);
  DateOrder order;
  bool inQuote = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c == QLatin1Char('\'')) inQuote = !inQuote;
    if (inQuote) continue;
    if ((c == QLatin1Char('y') || c == QLatin1Char('M') || c == QLatin1Char('d')) && !order.fields.contains(c)) {
      order.fields += c;
    } else if (!c.isLetter() && order.separator.isEmpty() && !order.fields.isEmpty() && order.fields.size() < 3) {
      qsizetype end = i;
      while (end < format.size() && !format[end].isLetter() && format[end] != QLatin1Char('\'')) ++end;
      order.separator = format.mid(i, end - i).trimmed();
      if (order.separator.isEmpty()) order.separator = QStringLiteral(" ");
    }
  }
  for (QChar f : {QLatin1Char('y'), QLatin1Char('M'), QLatin1Char('d')})
    if (!order.fields.contains(f)) order.fields += f;
  if (order.separator.isEmpty()) order.separator = QStringLiteral("/");
  return order;
}

QString timeSeparator(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::ShortFormat);
  const qsizetype h = format.indexOf(QRegularExpression(QStringLiteral("[hH]")));
  if (h < 0) return QStringLiteral(":");
  qsizetype i = h;
  while (i < format.size() && (format[i] == QLatin1Char('h') || format[i] == QLatin1Char('H'))) ++i;
  qsizetype end = i;
  while (end < format.size() && !format[end].isLetter()) ++end;
  const QString sep = format.mid(i, end - i);
  return sep.isEmpty() ? QStringLiteral(":") : sep;
}

QString datePart(bool year, int monthWidth, bool day, const QLocale& locale) {
  const DateOrder order = dateOrder(locale);
  QStringList parts;
  if (monthWidth >= 3) {
    // A month name reads with spaces; a day written "5." keeps its point.
    const bool dayPoint = order.separator.startsWith(QLatin1Char('.'));
    for (QChar f : order.fields) {
      if (f == QLatin1Char('y') && year) parts << QStringLiteral("yyyy");
      if (f == QLatin1Char('M')) parts << QStringLiteral("MMM");
      if (f == QLatin1Char('d') && day) parts << (dayPoint ? QStringLiteral("dd.") : QStringLiteral("dd"));
    }
    QString joined = parts.join(QLatin1Char(' '));
    // Month-first locales put a comma between the day and the year ("Jan 05, 2023").
    if (order.fields.startsWith(QLatin1Char('M')) && year && day && order.fields.indexOf(QLatin1Char('y')) == 2)
      joined.replace(QStringLiteral("dd yyyy"), QStringLiteral("dd, yyyy"));
    return joined;
  }
  for (QChar f : order.fields) {
    if (f == QLatin1Char('y') && year) parts << QStringLiteral("yyyy");
    if (f == QLatin1Char('M') && monthWidth > 0) parts << QStringLiteral("MM");
    if (f == QLatin1Char('d') && day) parts << QStringLiteral("dd");
  }
  return parts.join(order.separator);
}

}  // namespace

QString datePatternFromTemplate(const QString& dateTemplate, const QLocale& locale) {
  const bool year = dateTemplate.contains(QLatin1Char('y'));
  const int monthWidth = static_cast<int>(dateTemplate.count(QLatin1Char('M')));
  const bool day = dateTemplate.contains(QLatin1Char('d'));
  const bool hour = dateTemplate.contains(QLatin1Char('H'));
  const bool minute = dateTemplate.contains(QLatin1Char('m'));

  const QString date = (year || monthWidth > 0 || day) ? datePart(year, monthWidth, day, locale) : QString();
  QString time;
  if (hour && minute)
    time = QStringLiteral("HH") + timeSeparator(locale) + QStringLiteral("mm");
  else if (hour)
    time = QStringLiteral("HH");
  else if (minute)
    time = QStringLiteral("mm");
  if (date.isEmpty()) return time;
  if (time.isEmpty()) return date;
  return date + QLatin1Char(' ') + time;
}

DateFormatter DateFormatter::fromTemplate(const QString& dateTemplate, const QLocale& locale, const QTimeZone& zone) {
  return DateFormatter(datePatternFromTemplate(dateTemplate, locale), locale, zone);
}

QString DateFormatter::stringFromDate(const QDateTime& date) const {
  if (!date.isValid()) return {};
  return mLocale.toString(date.toTimeZone(mZone), mPattern);
}

}  // namespace platform
