#pragma once
// Date formatting from templates: a template lists the fields wanted ("yyyyMMdd",
// "MMMdd HHmm"), and the locale's own date formats decide their order, separators and
// suffixes, so "MMMdd" reads "Jan 05" in English, "05. Jan." in German and "1月05日" in Japanese.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

namespace platform {

// The locale's pattern for a template of the fields y (year), M (MM numeric, MMM
// abbreviated name), d (day), H (24-hour hour) and m (minute).
QString datePatternFromTemplate(const QString& dateTemplate, const QLocale& locale);

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
