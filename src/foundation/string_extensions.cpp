#include "foundation/string_extensions.h"

#include <QLocale>

namespace orrery::stringext {

namespace {

bool dropFromFileName(char32_t cp) {
  if (QChar::isSpace(cp)) return true;
  if (QChar::isNonCharacter(cp) || QChar::isSurrogate(cp)) return true;
  switch (QChar::category(cp)) {
    case QChar::Other_NotAssigned:
    case QChar::Symbol_Math:
    case QChar::Symbol_Currency:
    case QChar::Symbol_Modifier:
    case QChar::Symbol_Other:
      return true;
    default:
      return cp == U':' || cp == U'/';
  }
}

}  // namespace

QString createProperFileNameWithMaxLenght(const QString& title, qsizetype maxLength) {
  QString out;
  const qsizetype n = title.size();
  for (qsizetype i = 0; i < n;) {
    char32_t cp = title[i].unicode();
    qsizetype units = 1;
    if (QChar::isHighSurrogate(cp) && i + 1 < n && title[i + 1].isLowSurrogate()) {
      cp = QChar::surrogateToUcs4(title[i], title[i + 1]);
      units = 2;
    }
    if (!dropFromFileName(cp)) {
      // Stop before a character that would not fit whole.
      if (out.size() + units > maxLength) break;
      out += title.mid(i, units);
    }
    i += units;
  }
  return out;
}

QString concatPath(const QString& first, const QString& second) {
  QString head = first;
  while (head.size() > 1 && head.endsWith(QLatin1Char('/'))) head.chop(1);
  QString tail = second;
  while (tail.startsWith(QLatin1Char('/'))) tail.remove(0, 1);
  QString joined;
  if (head.isEmpty())
    joined = tail;
  else if (tail.isEmpty())
    joined = head;
  else
    joined = head == QLatin1String("/") ? head + tail : head + QLatin1Char('/') + tail;
  while (joined.contains(QLatin1String("//"))) joined.replace(QLatin1String("//"), QLatin1String("/"));
  if (joined.size() > 1 && joined.endsWith(QLatin1Char('/'))) joined.chop(1);
  return joined;
}

bool areEqual(const QString& first, const QString& second) {
  if (first.isNull() || second.isNull()) return first.isNull() && second.isNull();
  return first == second;
}

bool endsWith(const QString& text, const QString& suffix) {
  if (suffix.size() > text.size()) return false;
  return text.endsWith(suffix, Qt::CaseSensitive);
}

QString urlencode(const QString& text) {
  static const char kHex[] = "0123456789ABCDEF";
  QString out;
  for (char ch : text.toUtf8()) {
    const auto byte = static_cast<unsigned char>(ch);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
        byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      out += QLatin1Char(static_cast<char>(byte));
    } else if (byte == ' ') {
      out += QLatin1Char('+');
    } else {
      out += QLatin1Char('%');
      out += QLatin1Char(kHex[byte >> 4]);
      out += QLatin1Char(kHex[byte & 0xF]);
    }
  }
  return out;
}

bool containsStringBackport(const QString& text, const QString& needle) {
  return !needle.isEmpty() && text.contains(needle, Qt::CaseSensitive);
}

QString localUppercaseString(const QString& text) { return QLocale().toUpper(text); }

QString& xmlSimpleEscape(QString& text) {
  // Ampersands first, so the entities added later are not escaped again.
  text.replace(QLatin1String("&"), QLatin1String("&amp;"));
  text.replace(QLatin1String("\""), QLatin1String("&quot;"));
  text.replace(QLatin1String("'"), QLatin1String("&#x27;"));
  text.replace(QLatin1String(">"), QLatin1String("&gt;"));
  text.replace(QLatin1String("<"), QLatin1String("&lt;"));
  return text;
}

QString xmlSimpleEscapeString(const QString& text) {
  QString copy = text;
  return xmlSimpleEscape(copy);
}

QString xmlCharactersOnly(const QString& text) {
  auto allowed = [](char16_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
  };
  QString kept;
  kept.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      kept += c;
      kept += text[++i];
    } else if (allowed(c.unicode())) {
      kept += c;
    }
  }
  return kept;
}

QString camelcaseString(const QString& text) {
  if (text.isEmpty()) return text;
  return text.left(1).toLower() + text.mid(1);
}

QString capitalizeFirstLetterString(const QString& text) {
  if (text.isEmpty()) return text;
  return text.left(1).toUpper() + text.mid(1);
}

}  // namespace orrery::stringext
