#include "platform/services/localization.h"

#include "platform/services/resources.h"

#include <QFile>

namespace platform {

namespace {

QString unescape(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    QChar c = text[i];
    if (c == QLatin1Char('\\') && i + 1 < text.size()) {
      QChar n = text[++i];
      if (n == QLatin1Char('n'))
        out += QLatin1Char('\n');
      else if (n == QLatin1Char('t'))
        out += QLatin1Char('\t');
      else if (n == QLatin1Char('\\'))
        out += QLatin1Char('\\');
      else
        out += QLatin1Char('\\') + QString(n);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

LocalizationTable LocalizationTable::parse(const QByteArray& utf8) {
  LocalizationTable table;
  const QString text = QString::fromUtf8(utf8);
  static const QString kSeparator = QStringLiteral(" = ");
  for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#'))) continue;
    const qsizetype at = line.indexOf(kSeparator);
    if (at <= 0) {
      qWarning("Skipping localisation line without \" = \": %s", qPrintable(line.toString()));
      continue;
    }
    table.mEntries.insert(line.left(at).trimmed().toString(), unescape(line.mid(at + kSeparator.size()).toString()));
  }
  return table;
}

LocalizationTable LocalizationTable::fromFile(const QString& path) {
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return {};
  return parse(file.readAll());
}

const LocalizationTable& LocalizationTable::main() {
  static const LocalizationTable table = [] {
    const QString path = pathForResource(QStringLiteral("localizable"), QStringLiteral("txt"));
    if (path.isEmpty()) qWarning("No localisation table found; using default texts");
    return fromFile(path);
  }();
  return table;
}

QString LocalizationTable::localizedString(const QString& key, const QString& defaultText) const {
  auto it = mEntries.constFind(key);
  if (it != mEntries.constEnd()) return *it;
  if (!defaultText.isNull()) return defaultText;
  return key;
}

QString localizedString(const QString& key, const QString& defaultText) {
  return LocalizationTable::main().localizedString(key, defaultText);
}

}  // namespace platform
