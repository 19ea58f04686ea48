#include "model/json_decoder.h"

#include "foundation/logging.h"
#include "foundation/string_extensions.h"
#include "model/json_date_format.h"
#include "model/json_keys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace orrery {

namespace {

const QString kClassMember = QStringLiteral("@class");

}  // namespace

std::unique_ptr<JSONDecoder> JSONDecoder::createWithData(const QByteArray& data) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(data, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) {
    const QString details = error.error != QJsonParseError::NoError
                                ? QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset)
                                : QStringLiteral("the root is not an object");
    logLine(QStringLiteral("NSJSONSerialization: Error %1").arg(details));
    return nullptr;
  }
  return std::unique_ptr<JSONDecoder>(new JSONDecoder(document.object()));
}

JSONDecoder::JSONDecoder(QJsonObject root) : mRoot(std::move(root)) {
  jsonObjectStack.push_back(mRoot);
}

void JSONDecoder::addAlias(const QString& memberName, const QString& className) {
  mappingClasses.insert(memberName, className);
}

std::shared_ptr<KeyedCodable> JSONDecoder::decodeObject() {
  if (mRoot.isEmpty()) return nullptr;
  const auto first = mRoot.constBegin();
  auto result = decodeValue(first.value(), first.key());
  return mFailed ? nullptr : result;
}

QJsonValue JSONDecoder::member(CoderKey key) const {
  const QJsonObject& current = jsonObjectStack.back();
  return jsonkey::visit(key, [&](auto name) { return current.value(name); });
}

KeyedClassRegistry::Factory JSONDecoder::classForKey(const QString& name) const {
  const auto alias = mappingClasses.constFind(name);
  const QString className = alias != mappingClasses.constEnd() ? *alias : stringext::capitalizeFirstLetterString(name);
  return KeyedClassRegistry::shared().factoryForName(className);
}

std::shared_ptr<KeyedCodable> JSONDecoder::decodeValue(const QJsonValue& value, const QString& name) {
  if (!value.isObject()) return nullptr;
  const QJsonObject object = value.toObject();
  const QJsonValue named = object.value(kClassMember);
  const auto factory = classForKey(named.isString() ? named.toString() : name);
  return decodeWith(factory, object);
}

std::shared_ptr<KeyedCodable> JSONDecoder::decodeWith(const KeyedClassRegistry::Factory& factory,
                                                       const QJsonObject& object) {
  if (!factory || mFailed) return nullptr;
  if (jsonObjectStack.size() > size_t(kMaxKeyedNestingDepth)) {
    logLine(QStringLiteral("JSONDecoder: objects nested deeper than %1 levels are not read")
                .arg(kMaxKeyedNestingDepth));
    mFailed = true;
    return nullptr;
  }
  jsonObjectStack.push_back(object);
  auto result = factory(*this);
  jsonObjectStack.pop_back();
  return mFailed ? nullptr : result;
}

std::vector<std::shared_ptr<KeyedCodable>> JSONDecoder::decodeArray(const QJsonArray& array,
                                                                    const QString& name) {
  if (array.isEmpty()) return {};
  const auto arrayClass = classForKey(name);
  const QJsonObject first = array.first().toObject();

  // Either the elements themselves, or the wrapped form: the array's one object, whose only
  // member holds them. An array of several elements is never wrapped, so a damaged first
  // element cannot hide the others.
  QJsonArray elements;
  QString elementName = QStringLiteral("object");
  const bool unknownClass = !arrayClass && first.size() == 1 &&
                            first.constBegin().key() != QLatin1String("string") &&
                            !classForKey(first.constBegin().key());
  if (array.size() > 1 || first.size() >= 2 || unknownClass) {
    elements = array;
  } else {
    if (first.isEmpty()) return {};
    const auto only = first.constBegin();
    elementName = only.key();
    elements = only.value().isArray() ? only.value().toArray() : QJsonArray{only.value()};
  }

  const auto elementClass = arrayClass ? arrayClass : classForKey(elementName);
  std::vector<std::shared_ptr<KeyedCodable>> result;
  result.reserve(size_t(elements.size()));
  for (const QJsonValue& element : elements) {
    if (!element.isObject()) continue;
    const QJsonObject object = element.toObject();
    const QJsonValue named = object.value(kClassMember);
    auto decoded = decodeWith(named.isString() ? classForKey(named.toString()) : elementClass, object);
    if (mFailed) return {};
    if (decoded) result.push_back(std::move(decoded));
  }
  return result;
}

bool JSONDecoder::containsValueForKey(CoderKey key) const { return !member(key).isUndefined(); }

QString JSONDecoder::decodeStringForKey(CoderKey key) {
  const QJsonValue value = member(key);
  return value.isString() ? value.toString() : QString();
}

QStringList JSONDecoder::decodeStringsForKey(CoderKey key) {
  const QJsonValue value = member(key);
  QStringList result;
  if (!value.isArray()) return result;
  for (const QJsonValue& element : value.toArray())
    if (element.isString()) result.append(element.toString());
  return result;
}

int32_t JSONDecoder::decodeIntForKey(CoderKey key) {
  const QJsonValue value = member(key);
  if (value.isBool()) return value.toBool() ? 1 : 0;
  if (value.isDouble()) {
    const double number = value.toDouble();
    if (!std::isfinite(number) || number <= -2147483649.0 || number >= 2147483648.0) return 0;
    return static_cast<int32_t>(number);
  }
  if (value.isString()) {
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : 0;
  }
  return 0;
}

bool JSONDecoder::decodeBoolForKey(CoderKey key) {
  const QJsonValue value = member(key);
  if (value.isBool()) return value.toBool();
  if (value.isDouble()) return value.toDouble() != 0.0;
  if (value.isString()) {
    // A text counts as true when, after blanks, a sign and zeros, it starts with Y, T or 1-9.
    const QString text = value.toString();
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace()) ++i;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) ++i;
    while (i < text.size() && text.at(i) == u'0') ++i;
    return i < text.size() && QStringLiteral("YyTt123456789").contains(text.at(i));
  }
  return false;
}

QByteArray JSONDecoder::decodeDataForKey(CoderKey key) {
  const QJsonValue value = member(key);
  if (!value.isString()) return {};
  // Characters outside the Base64 alphabet (line breaks included) are skipped.
  return QByteArray::fromBase64(value.toString().toLatin1());
}

QDateTime JSONDecoder::decodeDateForKey(CoderKey key) {
  const QJsonValue value = member(key);
  return value.isString() ? jsondate::parse(value.toString()) : QDateTime();
}

std::shared_ptr<KeyedCodable> JSONDecoder::decodeObjectForKey(CoderKey key) {
  const QJsonValue value = member(key);
  if (!value.isObject()) return nullptr;
  return decodeValue(value, key.toString());
}

std::vector<std::shared_ptr<KeyedCodable>> JSONDecoder::decodeObjectsForKey(CoderKey key) {
  const QJsonValue value = member(key);
  if (!value.isArray()) return {};
  return decodeArray(value.toArray(), key.toString());
}

}  // namespace orrery
