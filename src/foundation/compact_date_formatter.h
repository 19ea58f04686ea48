#pragma once
// The shortest date text that is still clear relative to today: the time alone for today,
// month and day for other days of this year, the full date for other years. Formats follow
// the locale through templates.

#include "platform/services/date_formatter.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <functional>

namespace orrery {

class CompactDateTimeFormatter {
 public:
  using NowFunction = std::function<QDateTime()>;

  // The clock and locale are fixed here so tests can pin them; `now` defaults to the
  // current time and is read on every call.
  explicit CompactDateTimeFormatter(const QLocale& locale = QLocale(),
                                    const QTimeZone& zone = QTimeZone::systemTimeZone(), NowFunction now = {});

  // The shared formatter for the user's locale and time zone, made on first use.
  static CompactDateTimeFormatter& singleton();
  static platform::DateFormatter createFormatterFromTemplate(const QString& dateTemplate,
                                                             const QLocale& locale = QLocale(),
                                                             const QTimeZone& zone = QTimeZone::systemTimeZone());

  // Empty for an invalid (absent) date.
  QString formatDateTime(const QDateTime& date, bool showAlwaysTime) const;
  QString formatDateOnly(const QDateTime& date) const;

 private:
  enum class Relation { Today, ThisYear, OtherYear };
  Relation relationToNow(const QDateTime& date) const;

  QTimeZone mZone;
  NowFunction mNow;
  platform::DateFormatter mDateFormatterYearMonthDay;
  platform::DateFormatter mDateFormatterMonthDay;
  platform::DateFormatter mDateFormatterTime;
  platform::DateFormatter mDateFormatterYearMonthDayTime;
  platform::DateFormatter mDateFormatterMonthDayTime;
};

}  // namespace orrery
