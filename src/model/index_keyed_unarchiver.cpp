#include "model/index_keyed_unarchiver.h"

#include "model/index_keyed_archiver.h"

#include "foundation/logging.h"
#include "platform/services/utf8_text.h"

#include <QCborArray>
#include <QCborValue>

#include <limits>

namespace orrery {

std::unique_ptr<KeyedUnarchiver> KeyedUnarchiver::createWithData(const QByteArray& data,
                                                                 QSet<QString> allowedClasses) {
  QCborParserError error;
  const QCborValue root = QCborValue::fromCbor(data, &error);
  if (error.error != QCborError::NoError || !root.isMap()) return nullptr;
  const QCborMap archive = root.toMap();
  if (archive.value(QStringLiteral("$archiver")).toString() != QLatin1String(kKeyedArchiveMark)) return nullptr;
  const QCborValue top = archive.value(QStringLiteral("$top"));
  if (!top.isMap()) return nullptr;
  return std::unique_ptr<KeyedUnarchiver>(new KeyedUnarchiver(top.toMap(), std::move(allowedClasses)));
}

KeyedUnarchiver::KeyedUnarchiver(QCborMap top, QSet<QString> allowedClasses)
    : mAllowedClasses(std::move(allowedClasses)) {
  mMapStack.push_back(std::move(top));
}

QCborValue KeyedUnarchiver::member(CoderKey key) const { return mMapStack.back().value(key.toString()); }

bool KeyedUnarchiver::containsValueForKey(CoderKey key) const {
  return mMapStack.back().contains(key.toString());
}

QString KeyedUnarchiver::decodeStringForKey(CoderKey key) {
  const QCborValue value = member(key);
  return platform::textOfCbor(value);
}

QStringList KeyedUnarchiver::decodeStringsForKey(CoderKey key) {
  const QCborValue value = member(key);
  QStringList result;
  if (!value.isArray()) return result;
  for (const QCborValue& element : value.toArray())
    if (element.isString()) result << platform::textOfCbor(element);
  return result;
}

int32_t KeyedUnarchiver::decodeIntForKey(CoderKey key) {
  const QCborValue value = member(key);
  if (!value.isInteger()) return 0;
  const qint64 wide = value.toInteger();
  if (wide < std::numeric_limits<int32_t>::min() || wide > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(wide);
}

bool KeyedUnarchiver::decodeBoolForKey(CoderKey key) {
  const QCborValue value = member(key);
  return value.isBool() && value.toBool();
}

QByteArray KeyedUnarchiver::decodeDataForKey(CoderKey key) {
  const QCborValue value = member(key);
  return value.isByteArray() ? value.toByteArray() : QByteArray();
}

QDateTime KeyedUnarchiver::decodeDateForKey(CoderKey key) {
  const QCborValue value = member(key);
  return value.isDateTime() ? value.toDateTime().toUTC() : QDateTime();
}

std::shared_ptr<KeyedCodable> KeyedUnarchiver::decodeValue(const QCborValue& value) {
  if (mFailed || !value.isMap()) return nullptr;
  const QCborMap map = value.toMap();
  const QString className = map.value(QStringLiteral("$class")).toString();
  if (!mAllowedClasses.contains(className)) return nullptr;
  const auto factory = KeyedClassRegistry::shared().factoryForName(className);
  if (!factory) return nullptr;
  if (mMapStack.size() > size_t(kMaxKeyedNestingDepth)) {
    logLine(QStringLiteral("KeyedUnarchiver: objects nested deeper than %1 levels are not read")
                .arg(kMaxKeyedNestingDepth));
    mFailed = true;
    return nullptr;
  }
  mMapStack.push_back(map);
  auto object = factory(*this);
  mMapStack.pop_back();
  return mFailed ? nullptr : object;
}

std::shared_ptr<KeyedCodable> KeyedUnarchiver::decodeObjectForKey(CoderKey key) { return decodeValue(member(key)); }

std::vector<std::shared_ptr<KeyedCodable>> KeyedUnarchiver::decodeObjectsForKey(CoderKey key) {
  std::vector<std::shared_ptr<KeyedCodable>> result;
  const QCborValue value = member(key);
  if (!value.isArray()) return result;
  for (const QCborValue& element : value.toArray()) {
    if (auto object = decodeValue(element)) result.push_back(std::move(object));
    if (mFailed) return {};
  }
  return result;
}

}  // namespace orrery
