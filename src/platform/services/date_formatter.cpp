#include "platform/services/date_formatter.h"

#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace platform {

namespace {

// A Qt date pattern cut into fields ("MMMM", "d", "yyyy") and the literal text between them
// (separators, quoted words, and unquoted suffixes such as the CJK "年", "月", "日").
struct Token {
  QChar field;  // null for literal text
  qsizetype width = 0;
  QString text;  // the pattern text, quotes included
};

bool isPatternLetter(QChar c) {
  return c == QLatin1Char('y') || c == QLatin1Char('M') || c == QLatin1Char('d') || c == QLatin1Char('H') ||
         c == QLatin1Char('h') || c == QLatin1Char('m') || c == QLatin1Char('s') || c == QLatin1Char('a') ||
         c == QLatin1Char('A') || c == QLatin1Char('t') || c == QLatin1Char('z');
}

std::vector<Token> tokenize(const QString& pattern) {
  std::vector<Token> tokens;
  auto literal = [&tokens](const QString& text) {
    if (tokens.empty() || !tokens.back().field.isNull()) tokens.push_back({QChar(), 0, QString()});
    tokens.back().text += text;
  };
  for (qsizetype i = 0; i < pattern.size();) {
    const QChar c = pattern[i];
    qsizetype end = i + 1;
    if (c == QLatin1Char('\'')) {
      while (end < pattern.size() && pattern[end] != QLatin1Char('\'')) ++end;
      literal(pattern.mid(i, std::min(end + 1, pattern.size()) - i));
      i = end + 1;
    } else if (isPatternLetter(c)) {
      while (end < pattern.size() && pattern[end] == c) ++end;
      tokens.push_back({c, end - i, pattern.mid(i, end - i)});
      i = end;
    } else {
      literal(QString(c));
      i = end;
    }
  }
  return tokens;
}

bool isWeekday(const Token& t) { return t.field == QLatin1Char('d') && t.width >= 3; }
bool isSeparator(QChar c) { return c.isSpace() || c == QLatin1Char(',') || c == QChar(0x060C); }

// The part of a literal that is attached to the field before it: "日" of "日 ", "." of "., ",
// nothing of ", " or " 'de' ".
QString attachedPart(const QString& literal) {
  qsizetype n = 0;
  while (n < literal.size() && !isSeparator(literal[n]) && literal[n] != QLatin1Char('\'')) ++n;
  return literal.left(n);
}

// Takes a field out together with the literal that belongs to it: the one after a leading
// field or one with a word after it ("yyyy年", "yyyy 'г'."), else the one before it, less what
// is attached to the field before that.
void removeField(std::vector<Token>& tokens, std::size_t index) {
  const bool first = index == 0;
  const bool hasAfter = index + 1 < tokens.size() && tokens[index + 1].field.isNull();
  const bool hasBefore = index > 0 && tokens[index - 1].field.isNull();
  const bool wordAfter =
      hasAfter && std::any_of(tokens[index + 1].text.begin(), tokens[index + 1].text.end(), [](QChar c) { return c.isLetter(); });
  if (hasAfter && (first || wordAfter)) {
    tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(index), tokens.begin() + static_cast<std::ptrdiff_t>(index) + 2);
    return;
  }
  tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(index));
  if (!hasBefore) return;
  Token& before = tokens[index - 1];
  before.text = attachedPart(before.text);
  if (before.text.isEmpty()) tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(index) - 1);
}

// The locale's date pattern reduced to the fields asked for: the long format for a month
// name (it orders day, month name and year with their words and suffixes), the short one
// for numbers; years in four digits, days in two, a month name abbreviated.
QString datePart(bool year, int monthWidth, bool day, const QLocale& locale) {
  const bool named = monthWidth >= 3;
  std::vector<Token> tokens = tokenize(locale.dateFormat(named ? QLocale::LongFormat : QLocale::ShortFormat));
  const auto unwanted = [&](const Token& t) {
    return isWeekday(t) || (t.field == QLatin1Char('y') && !year) || (t.field == QLatin1Char('d') && !day) ||
           (t.field == QLatin1Char('M') && monthWidth == 0);
  };
  for (auto it = std::find_if(tokens.rbegin(), tokens.rend(), unwanted); it != tokens.rend();
       it = std::find_if(tokens.rbegin(), tokens.rend(), unwanted))
    removeField(tokens, static_cast<std::size_t>(std::distance(it, tokens.rend()) - 1));
  // What was left of a removed field at either end (a space, a comma) goes too.
  while (!tokens.empty() && tokens.back().field.isNull() && tokens.back().text.trimmed().remove(QLatin1Char(',')).isEmpty())
    tokens.pop_back();
  while (!tokens.empty() && tokens.front().field.isNull() && tokens.front().text.trimmed().remove(QLatin1Char(',')).isEmpty())
    tokens.erase(tokens.begin());
  QString pattern;
  for (const Token& t : tokens) {
    if (t.field == QLatin1Char('y'))
      pattern += QStringLiteral("yyyy");
    else if (t.field == QLatin1Char('d'))
      pattern += QStringLiteral("dd");
    else if (t.field == QLatin1Char('M'))
      // A locale that writes its month as a number with a suffix ("1月") keeps the number.
      pattern += !named ? QStringLiteral("MM") : t.width >= 3 ? QStringLiteral("MMM") : QStringLiteral("M");
    else
      pattern += t.text;
  }
  return pattern;
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
