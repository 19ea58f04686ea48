#include "platform/services/user_defaults.h"

#include "platform/core/notification_center.h"
#include "platform/services/program_log.h"
#include "platform/services/qt_regular_file.h"
#include "platform/services/settings_file_writer.h"
#include "platform/services/standard_folders.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <memory>

namespace platform {

namespace {

constexpr quint32 kMagic = SettingsFileWriter::kMagic;
constexpr quint32 kFormatVersion = SettingsFileWriter::kFormatVersion;
constexpr QDataStream::Version kStreamVersion = SettingsFileWriter::kStreamVersion;

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

// Reading is bounded by the file, not by what it claims: Qt's own container readers reserve a
// stored count up front, so a corrupt count would ask for gigabytes, and nested lists recurse.
// Only the kinds a store holds are read; anything else marks the file unreadable.
constexpr int kMaxNesting = 64;

bool readValue(QDataStream& in, QVariant& out, int depth);

bool readCount(QDataStream& in, quint32& count) {
  in >> count;
  return in.status() == QDataStream::Ok;
}

bool readList(QDataStream& in, QVariantList& list, int depth) {
  quint32 count = 0;
  if (!readCount(in, count)) return false;
  for (quint32 i = 0; i < count; ++i) {
    QVariant value;
    if (!readValue(in, value, depth)) return false;
    list.append(std::move(value));
  }
  return true;
}

bool readMap(QDataStream& in, QVariantMap& map, int depth) {
  quint32 count = 0;
  if (!readCount(in, count)) return false;
  for (quint32 i = 0; i < count; ++i) {
    QString key;
    QVariant value;
    in >> key;
    if (in.status() != QDataStream::Ok || !readValue(in, value, depth)) return false;
    map.insert(key, std::move(value));
  }
  return true;
}

bool readValue(QDataStream& in, QVariant& out, int depth) {
  if (depth > kMaxNesting) return false;
  quint32 typeId = 0;
  qint8 isNull = 0;
  in >> typeId >> isNull;
  if (in.status() != QDataStream::Ok) return false;
  switch (typeId) {
    case QMetaType::QVariantList: {
      QVariantList list;
      if (!readList(in, list, depth + 1)) return false;
      out = std::move(list);
      return true;
    }
    case QMetaType::QVariantMap: {
      QVariantMap map;
      if (!readMap(in, map, depth + 1)) return false;
      out = std::move(map);
      return true;
    }
    case QMetaType::QStringList: {
      quint32 count = 0;
      if (!readCount(in, count)) return false;
      QStringList list;
      for (quint32 i = 0; i < count; ++i) {
        QString item;
        in >> item;
        if (in.status() != QDataStream::Ok) return false;
        list.append(std::move(item));
      }
      out = std::move(list);
      return true;
    }
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::QDateTime:
    case QMetaType::QUrl: {
      const QMetaType type(static_cast<int>(typeId));
      QVariant value(type);
      if (!type.load(in, value.data()) || in.status() != QDataStream::Ok) return false;
      out = std::move(value);
      // Qt reads a time spec it does not know as an offset of zero, which it writes as such and
      // reads back as UTC: held as UTC now, the value saves the same before and after a restart.
      if (typeId == QMetaType::QDateTime) {
        QDateTime& dateTime = *static_cast<QDateTime*>(out.data());
        if (dateTime.timeSpec() == Qt::OffsetFromUTC && dateTime.offsetFromUtc() == 0) dateTime.setTimeSpec(Qt::UTC);
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

UserDefaults::UserDefaults(QString filePath)
    : mFilePath(std::move(filePath)), mWriter(std::make_shared<SettingsFileWriter>(mFilePath)) {
  load();
}

UserDefaults::~UserDefaults() { mWriter->flush(); }

QString UserDefaults::standardFilePath() { return QDir(configFolder()).filePath(QStringLiteral("defaults.dat")); }

UserDefaults& UserDefaults::standard() {
  static UserDefaults* instance = [] {
    auto* store = new UserDefaults(standardFilePath());
    // A process that ends without the application's quit sequence keeps its changes too.
    std::atexit([] { standard().flush(); });
    return store;
  }();
  return *instance;
}

void UserDefaults::load() {
  // Read at start on the main thread: a FIFO in the file's place must not hold the start.
  QFile file;
  if (openRegularFile(file, mFilePath) != RegularFileRead::Read) return;
  QDataStream in(&file);
  in.setVersion(kStreamVersion);
  quint32 magic = 0, version = 0;
  QVariantMap values;
  in >> magic >> version;
  const bool read = magic == kMagic && version == kFormatVersion && readMap(in, values, /*depth=*/0);
  if (!read || in.status() != QDataStream::Ok) {
    qCWarning(programLog, "Ignoring unreadable settings file %s", qPrintable(mFilePath));
    return;
  }
  mValues = std::move(values);
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
    const auto it = mValues.constFind(key);
    const bool stored = it != mValues.constEnd();
    if (value.isValid() ? stored && *it == value && it->typeId() == value.typeId() : !stored) return;
    if (value.isValid())
      mValues.insert(key, value);
    else
      mValues.remove(key);
    mWriter->submit(mValues);
  }
  NotificationCenter::defaultCenter().post(kUserDefaultsDidChangeNotification, this);
}

void UserDefaults::registerDefaults(const QVariantMap& defaults) {
  std::lock_guard lock(mMutex);
  for (auto it = defaults.constBegin(); it != defaults.constEnd(); ++it) mRegistered.insert(it.key(), it.value());
}

bool UserDefaults::synchronize() {
  {
    std::lock_guard lock(mMutex);
    mWriter->submit(mValues);
  }
  return mWriter->lastWriteSucceeded();
}

bool UserDefaults::flush() { return mWriter->flush(); }

}  // namespace platform
