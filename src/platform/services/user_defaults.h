#pragma once
// A typed key-value store for the application's settings. Every change is announced at once on
// the default notification centre, so other parts of the program can react to it, and saved
// atomically to one file in the config folder on a background queue (changes in a burst are
// written together; setting a value a key already holds writes nothing). The application's
// store is written out before its process ends; a store made by hand, when it is destroyed.

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <mutex>

namespace platform {

class SettingsFileWriter;

// Posted after every change, with the store as object.
inline constexpr char kUserDefaultsDidChangeNotification[] = "UserDefaultsDidChangeNotification";

class UserDefaults {
 public:
  // A store kept in `filePath`; the file is read now when it exists.
  explicit UserDefaults(QString filePath);
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  // The application's store: "defaults.dat" in the config folder, read on first use.
  static UserDefaults& standard();
  static QString standardFilePath();

  const QString& filePath() const { return mFilePath; }

  // The stored value, else the registered default, else an invalid QVariant.
  QVariant objectForKey(const QString& key) const;
  bool hasObjectForKey(const QString& key) const { return objectForKey(key).isValid(); }

  // Typed reads answer 0, false, an empty string, list or map when the key is absent or
  // holds a value of another kind.
  qint64 integerForKey(const QString& key) const;
  bool boolForKey(const QString& key) const;
  double doubleForKey(const QString& key) const;
  QString stringForKey(const QString& key) const;
  QVariantList arrayForKey(const QString& key) const;
  QStringList stringArrayForKey(const QString& key) const;
  QVariantMap dictionaryForKey(const QString& key) const;

  // An invalid value removes the key.
  void setObject(const QVariant& value, const QString& key);
  void setInteger(qint64 value, const QString& key) { setObject(QVariant(value), key); }
  void setBool(bool value, const QString& key) { setObject(QVariant(value), key); }
  void setDouble(double value, const QString& key) { setObject(QVariant(value), key); }
  void setString(const QString& value, const QString& key) { setObject(QVariant(value), key); }
  void removeObjectForKey(const QString& key) { setObject(QVariant(), key); }

  // Values answered for keys that have nothing stored; never written to the file.
  void registerDefaults(const QVariantMap& defaults);

  // Saves the whole store again, off the calling thread (every change is on its way to the
  // disk already); true unless the last write failed. Never waits for the disk.
  bool synchronize();
  // Writes the changes not yet saved on the calling thread and waits for the disk, for a
  // quit; false when the file could not be replaced.
  bool flush();

 private:
  void load();

  const QString mFilePath;
  const std::shared_ptr<SettingsFileWriter> mWriter;
  mutable std::mutex mMutex;
  QVariantMap mValues;
  QVariantMap mRegistered;
};

}  // namespace platform
