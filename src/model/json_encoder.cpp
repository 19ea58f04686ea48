#include "model/json_encoder.h"

#include "foundation/logging.h"
#include "foundation/string_extensions.h"
#include "model/json_date_format.h"
#include "model/json_keys.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace orrery {

void JSONEncoder::encodeObject(const KeyedCodable& root) {
  QJsonObject body;
  if (!encodeNested(root, body)) return;
  finalJSONObject = QJsonObject{{stringext::camelcaseString(root.className()), body}};
  mHasResult = true;
}

void JSONEncoder::encodeTopObject(const KeyedCodable& root) {
  QJsonObject body;
  if (!encodeNested(root, body)) return;
  finalJSONObject = std::move(body);
  mHasResult = true;
}

QByteArray JSONEncoder::data() const {
  if (mFailed || !mHasResult) return {};
  return QJsonDocument(finalJSONObject).toJson(QJsonDocument::Compact);
}

bool JSONEncoder::encodeNested(const KeyedCodable& object, QJsonObject& out) {
  if (mFailed) return false;
  if (std::find(objectStack.begin(), objectStack.end(), &object) != objectStack.end()) {
    logLine(QStringLiteral("Circular Reference Not Allowed: Found circular reference for %1 ")
                .arg(object.description()));
    mFailed = true;
    return false;
  }
  if (objectStack.size() >= size_t(kMaxKeyedNestingDepth)) {
    logLine(QStringLiteral("JSONEncoder: objects nested deeper than %1 levels are not written")
                .arg(kMaxKeyedNestingDepth));
    mFailed = true;
    return false;
  }
  objectStack.push_back(&object);
  jsonObjectStack.emplace_back();
  object.encodeWithCoder(*this);
  out = std::move(jsonObjectStack.back());
  jsonObjectStack.pop_back();
  objectStack.pop_back();
  return !mFailed;
}

void JSONEncoder::put(CoderKey key, const QJsonValue& value) {
  QJsonObject& target = jsonObjectStack.back();
  jsonkey::visit(key, [&](auto name) { return target.insert(name, value); });
}

void JSONEncoder::encodeString(const QString& value, CoderKey key) {
  if (writing() && !value.isNull()) put(key, value);
}

void JSONEncoder::encodeStrings(const QStringList& values, CoderKey key) {
  if (writing() && !values.isEmpty()) put(key, QJsonArray::fromStringList(values));
}

void JSONEncoder::encodeInt(int32_t value, CoderKey key) {
  if (writing()) put(key, value);
}

void JSONEncoder::encodeBool(bool value, CoderKey key) {
  if (writing()) put(key, value);
}

void JSONEncoder::encodeData(const QByteArray& value, CoderKey key) {
  if (writing() && !value.isNull()) put(key, QString::fromLatin1(value.toBase64()));
}

void JSONEncoder::encodeDate(const QDateTime& value, CoderKey key) {
  if (writing() && value.isValid()) put(key, jsondate::format(value));
}

void JSONEncoder::encodeObject(const KeyedCodable* object, CoderKey key) {
  if (!writing() || !object) return;
  QJsonObject nested;
  if (encodeNested(*object, nested)) put(key, nested);
}

void JSONEncoder::encodeObjects(std::span<const KeyedCodable* const> objects, CoderKey key) {
  if (!writing()) return;
  QJsonArray array;
  for (const KeyedCodable* object : objects) {
    if (!object) continue;
    QJsonObject nested;
    if (!encodeNested(*object, nested)) return;
    array.append(nested);
  }
  if (!array.isEmpty()) put(key, array);
}

}  // namespace orrery
