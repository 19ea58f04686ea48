#pragma once
// The localisation table: user-visible texts by key. The table is the resource
// "localizable.txt", UTF-8, one entry a line:
//     key = text
// Lines that are empty or start with "#" are skipped; the key ends at the first " = ";
// "\n", "\t" and "\\" in the text stand for a line feed, a tab and a backslash.

#include <QHash>
#include <QString>

namespace platform {

class LocalizationTable {
 public:
  LocalizationTable() = default;
  static LocalizationTable parse(const QByteArray& utf8);
  static LocalizationTable fromFile(const QString& path);

  // The application's table, read from the resources on first use.
  static const LocalizationTable& main();

  // The entry for `key`; without one, `defaultText`; without a default text (a null
  // string), the key itself.
  QString localizedString(const QString& key, const QString& defaultText) const;

  bool contains(const QString& key) const { return mEntries.contains(key); }
  qsizetype size() const { return mEntries.size(); }

 private:
  QHash<QString, QString> mEntries;
};

// LocalizationTable::main().localizedString(key, defaultText).
QString localizedString(const QString& key, const QString& defaultText);

}  // namespace platform
