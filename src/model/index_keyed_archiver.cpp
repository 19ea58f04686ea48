#include "model/index_keyed_archiver.h"


#include <QCborArray>
#include <QCborValue>

#include <algorithm>

namespace orrery {

KeyedArchiver::KeyedArchiver() = default;

void KeyedArchiver::encodeRootObject(const KeyedCodable& root) {
  QCborMap top;
  if (!encodeNested(root, top)) return;
  top.remove(QStringLiteral("$class"));
  mTop = std::move(top);
  mHasResult = true;
}

QByteArray KeyedArchiver::encodedData() const {
  if (mFailed || !mHasResult) return {};
  QCborMap archive;
  archive.insert(QStringLiteral("$archiver"), QString::fromLatin1(kKeyedArchiveMark));
  archive.insert(QStringLiteral("$version"), kKeyedArchiveVersion);
  archive.insert(QStringLiteral("$top"), mTop);
  return QCborValue(archive).toCbor();
}

bool KeyedArchiver::encodeNested(const KeyedCodable& object, QCborMap& out) {
  if (mFailed) return false;
  if (!mayEncodeNested(mObjectStack, object, "KeyedArchiver")) {
    mFailed = true;
    return false;
  }
  mObjectStack.push_back(&object);
  mMapStack.emplace_back();
  mMapStack.back().insert(QStringLiteral("$class"), object.className());
  object.encodeWithCoder(*this);
  out = std::move(mMapStack.back());
  mMapStack.pop_back();
  mObjectStack.pop_back();
  return !mFailed;
}

void KeyedArchiver::put(CoderKey key, const QCborValue& value) { mMapStack.back().insert(key.toString(), value); }

void KeyedArchiver::encodeString(const QString& value, CoderKey key) {
  if (writing() && !value.isNull()) put(key, value);
}

void KeyedArchiver::encodeStrings(const QStringList& values, CoderKey key) {
  if (writing() && !values.isEmpty()) put(key, QCborArray::fromStringList(values));
}

void KeyedArchiver::encodeInt(int32_t value, CoderKey key) {
  if (writing()) put(key, static_cast<qint64>(value));
}

void KeyedArchiver::encodeBool(bool value, CoderKey key) {
  if (writing()) put(key, value);
}

void KeyedArchiver::encodeData(const QByteArray& value, CoderKey key) {
  if (writing() && !value.isNull()) put(key, value);
}

void KeyedArchiver::encodeDate(const QDateTime& value, CoderKey key) {
  if (writing() && value.isValid()) put(key, QCborValue(value.toUTC()));
}

void KeyedArchiver::encodeObject(const KeyedCodable* object, CoderKey key) {
  if (!writing() || !object) return;
  QCborMap nested;
  if (encodeNested(*object, nested)) put(key, nested);
}

void KeyedArchiver::encodeObjects(std::span<const KeyedCodable* const> objects, CoderKey key) {
  if (!writing()) return;
  QCborArray array;
  for (const KeyedCodable* object : objects) {
    if (!object) continue;
    QCborMap nested;
    if (!encodeNested(*object, nested)) return;
    array.append(nested);
  }
  if (!array.isEmpty()) put(key, array);
}

}  // namespace orrery
