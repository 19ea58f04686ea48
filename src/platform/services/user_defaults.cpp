#include "platform/services/user_defaults.h"

#include "platform/core/notification_center.h"
#include "platform/services/standard_folders.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <memory>

namespace platform {

namespace {

constexpr quint32 kMagic = 0x4F524446;  // "ORDF"
constexpr quint32 kFormatVersion = 1;
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_4;

bool isKind(const QVariant& v, QMetaType::Type type) { return v.typeId() == type; }

bool isNumber(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
      return true;
    default:
      return false;
  }
}

}  // namespace

UserDefaults::UserDefaults(QString filePath) : mFilePath(std::move(filePath)) { load(); }

QString UserDefaults::standardFilePath() { return QDir(configFolder()).filePath(QStringLiteral("defaults.dat")); }

UserDefaults& UserDefaults::standard() {
  static UserDefaults* instance = new UserDefaults(standardFilePath());
  return *instance;
}

void UserDefaults::load() {
  QFile file(mFilePath);
  if (!file.open(QIODevice::ReadOnly)) return;
  QDataStream in(&file);
  in.setVersion(kStreamVersion);
  quint32 magic = 0, version = 0;
  QVariantMap values;
  in >> magic >> version;
  if (magic == kMagic && version == kFormatVersion) in >> values;
  if (magic != kMagic || version != kFormatVersion || in.status() != QDataStream::Ok) {
    qWarning("Ignoring unreadable settings file %s", qPrintable(mFilePath));
    return;
  }
  mValues = std::move(values);
}

bool UserDefaults::writeLocked() {
  QDir().mkpath(QFileInfo(mFilePath).absolutePath());
  QSaveFile file(mFilePath);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QDataStream out(&file);
  out.setVersion(kStreamVersion);
  out << kMagic << kFormatVersion << mValues;
  if (out.status() != QDataStream::Ok) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

QVariant UserDefaults::objectForKey(const QString& key) const {
  std::lock_guard lock(mMutex);
  auto it = mValues.constFind(key);
  if (it != mValues.constEnd()) return *it;
  return mRegistered.value(key);
}

qint64 UserDefaults::integerForKey(const QString& key) const {
  QVariant v = objectForKey(key);
  if (isNumber(v)) return v.toLongLong();
  if (isKind(v, QMetaType::QString)) return v.toString().trimmed().toLongLong();
  return 0;
}

bool UserDefaults::boolForKey(const QString& key) const {
  QVariant v = objectForKey(key);
  if (isNumber(v)) return v.toDouble() != 0.0;
  if (isKind(v, QMetaType::QString)) {
    const QString s = v.toString().trimmed().toLower();
    return s == QLatin1String("yes") || s == QLatin1String("true") || s.toLongLong() != 0;
  }
  return false;
}

double UserDefaults::doubleForKey(const QString& key) const {
  QVariant v = objectForKey(key);
  if (isNumber(v)) return v.toDouble();
  if (isKind(v, QMetaType::QString)) return v.toString().trimmed().toDouble();
  return 0.0;
}

QString UserDefaults::stringForKey(const QString& key) const {
  QVariant v = objectForKey(key);
  if (isKind(v, QMetaType::QString) || isNumber(v)) return v.toString();
  return {};
}

QVariantList UserDefaults::arrayForKey(const QString& key) const {
  QVariant v = objectForKey(key);
  if (isKind(v, QMetaType::QVariantList) || isKind(v, QMetaType::QStringList)) return v.toList();
  return {};
}

QStringList UserDefaults::stringArrayForKey(const QString& key) const {
  QStringList out;
  for (const QVariant& item : arrayForKey(key)) {
    if (!isKind(item, QMetaType::QString)) return {};
    out << item.toString();
  }
  return out;
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const {
  QVariant v = objectForKey(key);
  if (isKind(v, QMetaType::QVariantMap)) return v.toMap();
  return {};
}

void UserDefaults::setObject(const QVariant& value, const QString& key) {
  {
    std::lock_guard lock(mMutex);
    if (value.isValid())
      mValues.insert(key, value);
    else
      mValues.remove(key);
    if (!writeLocked()) qWarning("Failed to save settings to %s", qPrintable(mFilePath));
  }
  NotificationCenter::defaultCenter().post(kUserDefaultsDidChangeNotification, this);
}

void UserDefaults::registerDefaults(const QVariantMap& defaults) {
  std::lock_guard lock(mMutex);
  for (auto it = defaults.constBegin(); it != defaults.constEnd(); ++it) mRegistered.insert(it.key(), it.value());
}

bool UserDefaults::synchronize() {
  std::lock_guard lock(mMutex);
  return writeLocked();
}

}  // namespace platform
