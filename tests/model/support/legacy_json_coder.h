#pragma once
// The keyed JSON coder pair as earlier versions of the program had it, on QJsonDocument: kept
// for tests only, so that the current reader and writer can be compared with them.

#include "model/document_location.h"
#include "model/idea_document_data_object.h"
#include "model/keyed_coding.h"

#include "foundation/logging.h"
#include "foundation/string_extensions.h"
#include "model/json_date_format.h"
#include "json_keys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace orrery::legacy {

inline const QString kClassMember = QStringLiteral("@class");

class LegacyJSONDecoder final : public KeyedDecoder {
 public:
  static std::unique_ptr<LegacyJSONDecoder> createWithData(const QByteArray& data);
  void addAlias(const QString& memberName, const QString& className);
  std::shared_ptr<KeyedCodable> decodeObject();
  bool containsValueForKey(CoderKey key) const override;
  QString decodeStringForKey(CoderKey key) override;
  QStringList decodeStringsForKey(CoderKey key) override;
  int32_t decodeIntForKey(CoderKey key) override;
  bool decodeBoolForKey(CoderKey key) override;
  QByteArray decodeDataForKey(CoderKey key) override;
  QDateTime decodeDateForKey(CoderKey key) override;
  std::shared_ptr<KeyedCodable> decodeObjectForKey(CoderKey key) override;
  std::vector<std::shared_ptr<KeyedCodable>> decodeObjectsForKey(CoderKey key) override;

 private:
  explicit LegacyJSONDecoder(QJsonObject root);
  QJsonValue member(CoderKey key) const;
  KeyedClassRegistry::Factory classForKey(const QString& name) const;
  std::shared_ptr<KeyedCodable> decodeValue(const QJsonValue& value, const QString& name);
  std::shared_ptr<KeyedCodable> decodeWith(const KeyedClassRegistry::Factory& factory, const QJsonObject& object);
  std::vector<std::shared_ptr<KeyedCodable>> decodeArray(const QJsonArray& array, const QString& name);

  std::vector<QJsonObject> jsonObjectStack;
  QHash<QString, QString> mappingClasses;
  QJsonObject mRoot;
  bool mFailed = false;
};

class LegacyJSONEncoder final : public KeyedEncoder {
 public:
  void encodeObject(const KeyedCodable& root);
  void encodeTopObject(const KeyedCodable& root);
  QByteArray data() const;
  void encodeString(const QString& value, CoderKey key) override;
  void encodeStrings(const QStringList& values, CoderKey key) override;
  void encodeInt(int32_t value, CoderKey key) override;
  void encodeBool(bool value, CoderKey key) override;
  void encodeData(const QByteArray& value, CoderKey key) override;
  void encodeDate(const QDateTime& value, CoderKey key) override;
  void encodeObject(const KeyedCodable* object, CoderKey key) override;
  void encodeObjects(std::span<const KeyedCodable* const> objects, CoderKey key) override;
  using KeyedEncoder::encodeObject;
  using KeyedEncoder::encodeObjects;

 private:
  bool encodeNested(const KeyedCodable& object, QJsonObject& out);
  void put(CoderKey key, const QJsonValue& value);
  bool writing() const { return !mFailed && !jsonObjectStack.empty(); }

  std::vector<const KeyedCodable*> objectStack;
  std::vector<QJsonObject> jsonObjectStack;
  QJsonObject finalJSONObject;
  bool mHasResult = false;
  bool mFailed = false;
};

// The parser drops a U+FEFF that begins a string and keeps one written as an escape. In valid
// JSON its bytes stand only inside strings, so escaping them (except at the start of the text, or
// after an escaping backslash) changes nothing else: texts then read as the current reader reads
// them, and the two differ only where they are meant to.
inline QByteArray keepingLeadingMarks(const QByteArray& data) {
  static const QByteArray mark("\xEF\xBB\xBF");
  QByteArray out;
  qsizetype copied = 0;
  for (qsizetype at = data.indexOf(mark, 1); at >= 0; at = data.indexOf(mark, at + mark.size())) {
    qsizetype backslashes = 0;
    while (at - backslashes > 0 && data.at(at - backslashes - 1) == '\\') ++backslashes;
    if (backslashes % 2 != 0) continue;
    out.append(data.constData() + copied, at - copied).append("\\ufeff");
    copied = at + mark.size();
  }
  return copied == 0 ? data : out.append(data.constData() + copied, data.size() - copied);
}

inline std::unique_ptr<LegacyJSONDecoder> LegacyJSONDecoder::createWithData(const QByteArray& data) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(keepingLeadingMarks(data), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) {
    const QString details = error.error != QJsonParseError::NoError
                                ? QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset)
                                : QStringLiteral("the root is not an object");
    logLine(QStringLiteral("NSJSONSerialization: Error %1").arg(details));
    return nullptr;
  }
  return std::unique_ptr<LegacyJSONDecoder>(new LegacyJSONDecoder(document.object()));
}

inline LegacyJSONDecoder::LegacyJSONDecoder(QJsonObject root) : mRoot(std::move(root)) {
  jsonObjectStack.push_back(mRoot);
}

inline void LegacyJSONDecoder::addAlias(const QString& memberName, const QString& className) {
  mappingClasses.insert(memberName, className);
}

inline std::shared_ptr<KeyedCodable> LegacyJSONDecoder::decodeObject() {
  if (mRoot.isEmpty()) return nullptr;
  const auto first = mRoot.constBegin();
  auto result = decodeValue(first.value(), first.key());
  return mFailed ? nullptr : result;
}

inline QJsonValue LegacyJSONDecoder::member(CoderKey key) const {
  const QJsonObject& current = jsonObjectStack.back();
  return jsonkey::visit(key, [&](auto name) { return current.value(name); });
}

inline KeyedClassRegistry::Factory LegacyJSONDecoder::classForKey(const QString& name) const {
  const auto alias = mappingClasses.constFind(name);
  const QString className = alias != mappingClasses.constEnd() ? *alias : stringext::capitalizeFirstLetterString(name);
  return KeyedClassRegistry::shared().factoryForName(className);
}

inline std::shared_ptr<KeyedCodable> LegacyJSONDecoder::decodeValue(const QJsonValue& value, const QString& name) {
  if (!value.isObject()) return nullptr;
  const QJsonObject object = value.toObject();
  const QJsonValue named = object.value(kClassMember);
  const auto factory = classForKey(named.isString() ? named.toString() : name);
  return decodeWith(factory, object);
}

inline std::shared_ptr<KeyedCodable> LegacyJSONDecoder::decodeWith(const KeyedClassRegistry::Factory& factory,
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

inline std::vector<std::shared_ptr<KeyedCodable>> LegacyJSONDecoder::decodeArray(const QJsonArray& array,
                                                                    const QString& name) {
  if (array.isEmpty() || !array.first().isObject()) return {};
  const auto arrayClass = classForKey(name);
  const QJsonObject first = array.first().toObject();

  // Either the elements themselves, or the wrapped form: one object whose only member holds them.
  QJsonArray elements;
  QString elementName = QStringLiteral("object");
  const bool unknownClass = !arrayClass && first.size() == 1 &&
                            first.constBegin().key() != QLatin1String("string") &&
                            !classForKey(first.constBegin().key());
  if (first.size() >= 2 || unknownClass) {
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

inline bool LegacyJSONDecoder::containsValueForKey(CoderKey key) const { return !member(key).isUndefined(); }

inline QString LegacyJSONDecoder::decodeStringForKey(CoderKey key) {
  const QJsonValue value = member(key);
  return value.isString() ? value.toString() : QString();
}

inline QStringList LegacyJSONDecoder::decodeStringsForKey(CoderKey key) {
  const QJsonValue value = member(key);
  QStringList result;
  if (!value.isArray()) return result;
  for (const QJsonValue& element : value.toArray())
    if (element.isString()) result.append(element.toString());
  return result;
}

inline int32_t LegacyJSONDecoder::decodeIntForKey(CoderKey key) {
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

inline bool LegacyJSONDecoder::decodeBoolForKey(CoderKey key) {
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

inline QByteArray LegacyJSONDecoder::decodeDataForKey(CoderKey key) {
  const QJsonValue value = member(key);
  if (!value.isString()) return {};
  // Characters outside the Base64 alphabet (line breaks included) are skipped.
  return QByteArray::fromBase64(value.toString().toLatin1());
}

inline QDateTime LegacyJSONDecoder::decodeDateForKey(CoderKey key) {
  const QJsonValue value = member(key);
  return value.isString() ? jsondate::parse(value.toString()) : QDateTime();
}

inline std::shared_ptr<KeyedCodable> LegacyJSONDecoder::decodeObjectForKey(CoderKey key) {
  const QJsonValue value = member(key);
  if (!value.isObject()) return nullptr;
  return decodeValue(value, key.toString());
}

inline std::vector<std::shared_ptr<KeyedCodable>> LegacyJSONDecoder::decodeObjectsForKey(CoderKey key) {
  const QJsonValue value = member(key);
  if (!value.isArray()) return {};
  return decodeArray(value.toArray(), key.toString());
}


inline void LegacyJSONEncoder::encodeObject(const KeyedCodable& root) {
  QJsonObject body;
  if (!encodeNested(root, body)) return;
  finalJSONObject = QJsonObject{{stringext::camelcaseString(root.className()), body}};
  mHasResult = true;
}

inline void LegacyJSONEncoder::encodeTopObject(const KeyedCodable& root) {
  QJsonObject body;
  if (!encodeNested(root, body)) return;
  finalJSONObject = std::move(body);
  mHasResult = true;
}

inline QByteArray LegacyJSONEncoder::data() const {
  if (mFailed || !mHasResult) return {};
  return QJsonDocument(finalJSONObject).toJson(QJsonDocument::Compact);
}

inline bool LegacyJSONEncoder::encodeNested(const KeyedCodable& object, QJsonObject& out) {
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

inline void LegacyJSONEncoder::put(CoderKey key, const QJsonValue& value) {
  QJsonObject& target = jsonObjectStack.back();
  jsonkey::visit(key, [&](auto name) { return target.insert(name, value); });
}

inline void LegacyJSONEncoder::encodeString(const QString& value, CoderKey key) {
  if (writing() && !value.isNull()) put(key, value);
}

inline void LegacyJSONEncoder::encodeStrings(const QStringList& values, CoderKey key) {
  if (writing() && !values.isEmpty()) put(key, QJsonArray::fromStringList(values));
}

inline void LegacyJSONEncoder::encodeInt(int32_t value, CoderKey key) {
  if (writing()) put(key, value);
}

inline void LegacyJSONEncoder::encodeBool(bool value, CoderKey key) {
  if (writing()) put(key, value);
}

inline void LegacyJSONEncoder::encodeData(const QByteArray& value, CoderKey key) {
  if (writing() && !value.isNull()) put(key, QString::fromLatin1(value.toBase64()));
}

inline void LegacyJSONEncoder::encodeDate(const QDateTime& value, CoderKey key) {
  if (writing() && value.isValid()) put(key, jsondate::format(value));
}

inline void LegacyJSONEncoder::encodeObject(const KeyedCodable* object, CoderKey key) {
  if (!writing() || !object) return;
  QJsonObject nested;
  if (encodeNested(*object, nested)) put(key, nested);
}

inline void LegacyJSONEncoder::encodeObjects(std::span<const KeyedCodable* const> objects, CoderKey key) {
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

// How earlier versions answered a document's JSON: 0 when read, else the document error code.
inline int documentReadingCode(const QByteArray& json) {
  auto decoder = LegacyJSONDecoder::createWithData(json);
  if (!decoder) return kDocumentErrorInvalidFormat;
  decoder->addAlias("idea", "Idea");
  decoder->addAlias("ideas", "Idea");
  decoder->addAlias("iconImage", "IconImage");
  auto object = std::dynamic_pointer_cast<IdeaDocumentDataObject>(decoder->decodeObject());
  if (!object || object->fileFormatVersion < 1 || !object->idea) return kDocumentErrorInvalidFormat;
  return object->fileFormatVersion >= 4 ? kDocumentErrorNewerVersion : 0;
}

}  // namespace orrery::legacy
