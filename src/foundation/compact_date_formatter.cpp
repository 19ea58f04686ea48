#include "foundation/compact_date_formatter.h"

namespace orrery {

CompactDateTimeFormatter::CompactDateTimeFormatter(const QLocale& locale, const QTimeZone& zone, NowFunction now)
    : mZone(zone),
      mNow(now ? std::move(now) : NowFunction([] { return QDateTime::currentDateTimeUtc(); })),
      mDateFormatterYearMonthDay(createFormatterFromTemplate(QStringLiteral("yyyyMMdd"), locale, zone)),
      mDateFormatterMonthDay(createFormatterFromTemplate(QStringLiteral("MMMdd"), locale, zone)),
      mDateFormatterTime(createFormatterFromTemplate(QStringLiteral("HH:mm"), locale, zone)),
      mDateFormatterYearMonthDayTime(createFormatterFromTemplate(QStringLiteral("yyyyMMdd HHmm"), locale, zone)),
      mDateFormatterMonthDayTime(createFormatterFromTemplate(QStringLiteral("MMMdd HHmm"), locale, zone)) {}

CompactDateTimeFormatter& CompactDateTimeFormatter::singleton() {
  static CompactDateTimeFormatter* instance = new CompactDateTimeFormatter();
  return *instance;
}

platform::DateFormatter CompactDateTimeFormatter::createFormatterFromTemplate(const QString& dateTemplate,
                                                                             const QLocale& locale,
                                                                             const QTimeZone& zone) {
  return platform::DateFormatter::fromTemplate(dateTemplate, locale, zone);
}

CompactDateTimeFormatter::Relation CompactDateTimeFormatter::relationToNow(const QDateTime& date) const {
  // Years of the proleptic calendar carry the era in their sign.
  const QDate day = date.toTimeZone(mZone).date();
  const QDate today = mNow().toTimeZone(mZone).date();
  if (day.year() != today.year()) return Relation::OtherYear;
  return day == today ? Relation::Today : Relation::ThisYear;
}

QString CompactDateTimeFormatter::formatDateTime(const QDateTime& date, bool showAlwaysTime) const {
  if (!date.isValid()) return {};
  switch (relationToNow(date)) {
    case Relation::Today:
      return mDateFormatterTime.stringFromDate(date);
    case Relation::ThisYear:
      return (showAlwaysTime ? mDateFormatterMonthDayTime : mDateFormatterMonthDay).stringFromDate(date);
    case Relation::OtherYear:
      break;
  }
  return (showAlwaysTime ? mDateFormatterYearMonthDayTime : mDateFormatterYearMonthDay).stringFromDate(date);
}

QString CompactDateTimeFormatter::formatDateOnly(const QDateTime& date) const {
  if (!date.isValid()) return {};
  return (relationToNow(date) == Relation::OtherYear ? mDateFormatterYearMonthDay : mDateFormatterMonthDay)
      .stringFromDate(date);
}

}  // namespace orrery
