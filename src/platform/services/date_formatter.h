#pragma once
// Date formatting from templates: a template lists the fields wanted ("yyyyMMdd",
// "MMMdd HHmm"), and the locale's own formats for those fields (ICU's pattern generator, from
// the same CLDR data as Qt's) decide their order, separators and suffixes, so "MMMdd" reads
// "Jan 05" in English, "05. Jan." in German and "1月05日" in Japanese. Any thread.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

namespace platform {

// The locale's pattern (in Qt's letters) for a template of ICU's skeleton letters: y (year), M
// (MM numeric, MMM abbreviated name), d (day), H (24-hour hour), m (minute) ...; characters
// that are no field are ignored. The first pattern of a locale waits for its generator.
QString datePatternFromTemplate(const QString& dateTemplate, const QLocale& locale);

// Makes the locale's generator on a worker thread, so that the first formatting finds it ready.
void prepareDatePatterns(const QLocale& locale = QLocale());

class DateFormatter {
 public:
  DateFormatter() = default;
  DateFormatter(QString pattern, QLocale locale, QTimeZone zone)
      : mPattern(std::move(pattern)), mLocale(std::move(locale)), mZone(std::move(zone)) {}
  static DateFormatter fromTemplate(const QString& dateTemplate, const QLocale& locale = QLocale(),
                                    const QTimeZone& zone = QTimeZone::systemTimeZone());

  const QString& pattern() const { return mPattern; }
  // Empty for an invalid date.
  QString stringFromDate(const QDateTime& date) const;

 private:
  QString mPattern;
  QLocale mLocale;
  QTimeZone mZone;
};

}  // namespace platform
