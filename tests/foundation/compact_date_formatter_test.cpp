#include "foundation/compact_date_formatter.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

namespace {

using orrery::CompactDateTimeFormatter;

QDateTime utc(int y, int mo, int d, int h = 12, int mi = 0) {
  return QDateTime(QDate(y, mo, d), QTime(h, mi), QTimeZone::utc());
}

// The locale's own abbreviation: month names change between Qt and CLDR versions ("Sep" or
// "Sept"), orders and digits do not.
QString mmm(const char* locale, int month) { return QLocale(locale).monthName(month, QLocale::ShortFormat); }

class CompactDateTest : public ::testing::Test {
 protected:
  CompactDateTimeFormatter formatter(const char* locale, const QTimeZone& zone = QTimeZone::utc()) {
    return CompactDateTimeFormatter(QLocale(locale), zone, [this] { return mNow; });
  }
  QDateTime mNow = utc(2024, 1, 2, 10, 0);
};

TEST_F(CompactDateTest, TodayShowsOnlyTheTimeWhateverTheFlag) {
  auto f = formatter("en_US");
  EXPECT_EQ(f.formatDateTime(utc(2024, 1, 2, 8, 15), false), "08:15");
  EXPECT_EQ(f.formatDateTime(utc(2024, 1, 2, 8, 15), true), "08:15");
  EXPECT_EQ(f.formatDateOnly(utc(2024, 1, 2, 8, 15)), mmm("en_US", 1) + " 02");
}

TEST_F(CompactDateTest, OtherDaysOfThisYearHaveNoYear) {
  auto f = formatter("en_US");
  EXPECT_EQ(f.formatDateTime(utc(2024, 1, 1, 23, 5), false), mmm("en_US", 1) + " 01");
  EXPECT_EQ(f.formatDateTime(utc(2024, 1, 1, 23, 5), true), mmm("en_US", 1) + " 01, 23:05");
  // A future date of this year counts as this year.
  EXPECT_EQ(f.formatDateTime(utc(2024, 11, 30), false), mmm("en_US", 11) + " 30");
  EXPECT_EQ(f.formatDateOnly(utc(2024, 11, 30)), mmm("en_US", 11) + " 30");
}

TEST_F(CompactDateTest, LastDecemberAskedOnSecondJanuaryHasTheYear) {
  auto f = formatter("en_US");
  EXPECT_EQ(f.formatDateTime(utc(2023, 12, 31, 23, 59), false), "12/31/2023");
  EXPECT_EQ(f.formatDateTime(utc(2023, 12, 31, 23, 59), true), "12/31/2023, 23:59");
  EXPECT_EQ(f.formatDateOnly(utc(2023, 12, 31)), "12/31/2023");
  EXPECT_EQ(f.formatDateOnly(utc(2025, 1, 2)), "01/02/2025");
}

TEST_F(CompactDateTest, AbsentDatesGiveEmptyText) {
  auto f = formatter("en_US");
  EXPECT_EQ(f.formatDateTime(QDateTime(), true), "");
  EXPECT_EQ(f.formatDateOnly(QDateTime()), "");
}

TEST_F(CompactDateTest, DaysAreCountedInTheFormattersTimeZone) {
  // 23:30 UTC on 1 January is already 01:30 on 2 January two hours east.
  auto east = formatter("en_US", QTimeZone(2 * 3600));
  EXPECT_EQ(east.formatDateTime(utc(2024, 1, 1, 23, 30), false), "01:30");
  auto west = formatter("en_US", QTimeZone(-11 * 3600));
  // There "now" is still 1 January 23:00, and noon on 2 January UTC is tomorrow.
  EXPECT_EQ(west.formatDateTime(utc(2024, 1, 2, 12, 0), true), mmm("en_US", 1) + " 02, 01:00");
}

TEST_F(CompactDateTest, OrderAndSeparatorsFollowTheLocale) {
  auto de = formatter("de_DE");
  EXPECT_EQ(de.formatDateTime(utc(2023, 12, 31, 23, 59), true), "31.12.2023, 23:59");
  EXPECT_EQ(de.formatDateTime(utc(2024, 1, 1), false).left(4), "01. ");
  auto gb = formatter("en_GB");
  EXPECT_EQ(gb.formatDateOnly(utc(2023, 12, 31)), "31/12/2023");
  EXPECT_EQ(gb.formatDateOnly(utc(2024, 3, 5)), "05 " + mmm("en_GB", 3));
  // The locale's own hour: Finnish writes it without a leading zero, with a point.
  auto fi = formatter("fi_FI");
  EXPECT_EQ(fi.formatDateTime(utc(2024, 1, 2, 7, 5), false), "7.05");
}

TEST_F(CompactDateTest, MonthAndDayReadAsTheLocaleWritesThem) {
  // Suffixes, points and words the locale puts around the day, the month and the time stay,
  // with the hour as the locale writes it and the separator it puts between date and time.
  const struct {
    const char* locale;
    QString monthDay;
    QString monthDayTime;
    QString yearMonthDay;
  } cases[] = {
      {"ja_JP", QStringLiteral("1月05日"), QStringLiteral("1月05日 9:07"), QStringLiteral("2023/03/05")},
      {"zh_CN", QStringLiteral("1月05日"), QStringLiteral("1月05日 09:07"), QStringLiteral("2023/03/05")},
      {"ko_KR", QStringLiteral("1월 05일"), QStringLiteral("1월 05일 09:07"), QStringLiteral("2023. 03. 05.")},
      {"ru_RU", "05 " + mmm("ru_RU", 1), "05 " + mmm("ru_RU", 1) + ", 09:07", QStringLiteral("05.03.2023")},
      {"uk_UA", "05 " + mmm("uk_UA", 1), "05 " + mmm("uk_UA", 1) + ", 09:07", QStringLiteral("05.03.2023")},
      {"hu_HU", mmm("hu_HU", 1) + " 05.", mmm("hu_HU", 1) + " 05. 9:07", QStringLiteral("2023. 03. 05.")},
      {"de_DE", "05. " + mmm("de_DE", 1), "05. " + mmm("de_DE", 1) + ", 09:07", QStringLiteral("05.03.2023")},
      {"en_US", mmm("en_US", 1) + " 05", mmm("en_US", 1) + " 05, 09:07", QStringLiteral("03/05/2023")},
      {"tr_TR", "05 " + mmm("tr_TR", 1), "05 " + mmm("tr_TR", 1) + " 09:07", QStringLiteral("05.03.2023")},
      // A quoted word of the pattern ("klo") is kept as it stands.
      {"fi_FI", "05. " + mmm("fi_FI", 1), "05. " + mmm("fi_FI", 1) + " klo 9.07", QStringLiteral("05.03.2023")},
  };
  mNow = utc(2024, 6, 1);
  for (const auto& c : cases) {
    auto f = formatter(c.locale);
    EXPECT_EQ(f.formatDateOnly(utc(2024, 1, 5)), c.monthDay) << c.locale;
    EXPECT_EQ(f.formatDateTime(utc(2024, 1, 5, 9, 7), true), c.monthDayTime) << c.locale;
    EXPECT_EQ(f.formatDateOnly(utc(2023, 3, 5)), c.yearMonthDay) << c.locale;
  }
}

TEST_F(CompactDateTest, NowIsReadOnEveryCall) {
  auto f = formatter("en_US");
  const QDateTime date = utc(2024, 6, 1, 9, 30);
  EXPECT_EQ(f.formatDateTime(date, false), mmm("en_US", 6) + " 01");
  mNow = utc(2024, 6, 1, 18, 0);
  EXPECT_EQ(f.formatDateTime(date, false), "09:30");
  mNow = utc(2025, 6, 1, 18, 0);
  EXPECT_EQ(f.formatDateTime(date, false), "06/01/2024");
}

}  // namespace
