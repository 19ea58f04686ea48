#include "platform/services/localization.h"

#include "platform/core/text_table.h"
#include "platform/services/program_log.h"
#include "platform/services/qt_regular_file.h"
#include "platform/services/resources.h"

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
  std::vector<std::string> skipped;
  for (const auto& entry : texttable::parse(std::string_view(utf8.constData(), size_t(utf8.size())), &skipped))
    table.mEntries.insert(QString::fromStdString(entry.key), unescape(QString::fromStdString(entry.text)));
  for (const std::string& line : skipped)
    qCWarning(platform::programLog, "Skipping localisation line without \"=\": %s", line.c_str());
  return table;
}

LocalizationTable LocalizationTable::fromFile(const QString& path) {
  QByteArray bytes;
  if (path.isEmpty() || readRegularFile(path, kMaxInstalledFileBytes, &bytes) != RegularFileRead::Read) return {};
  return parse(bytes);
}

const LocalizationTable& LocalizationTable::main() {
  static const LocalizationTable table = [] {
    const QString path = pathForResource(QStringLiteral("localizable"), QStringLiteral("txt"));
    if (path.isEmpty()) qCWarning(platform::programLog, "No localisation table found; using default texts");
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
