#pragma once
// Rebuilds objects from JSON written by JSONEncoder. The class of a nested object follows from
// the member name that holds it: an alias added with addAlias, else the registered class whose
// name is the member name with its first letter capitalised ("iconImage" finds IconImage); an
// object carrying an "@class" member names its class itself. Every member is type-checked: a
// value of the wrong JSON kind reads as absent. One decoder serves one root on one thread.

#include "model/keyed_coding.h"

#include <QJsonObject>
#include <QJsonValue>

#include <memory>
#include <vector>

namespace orrery {

class JSONDecoder final : public KeyedDecoder {
 public:
  // Parses UTF-8 JSON whose root is an object; on failure logs "NSJSONSerialization: Error …"
  // and returns null. The root object is then the current object.
  static std::unique_ptr<JSONDecoder> createWithData(const QByteArray& data);

  void addAlias(const QString& memberName, const QString& className);
  template <class T>
  void addAlias(const QString& memberName) {
    addAlias(memberName, QString::fromLatin1(T::kClassName));
  }

  // Decodes the root: the one member of the root object, whose name gives the class. Null when
  // the root holds no such object or the file nests deeper than kMaxKeyedNestingDepth.
  std::shared_ptr<KeyedCodable> decodeObject();
  template <class T>
  std::shared_ptr<T> decodeObjectOfClass() {
    return std::dynamic_pointer_cast<T>(decodeObject());
  }
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
  explicit JSONDecoder(QJsonObject root);

  QJsonValue member(CoderKey key) const;
  KeyedClassRegistry::Factory classForKey(const QString& name) const;
  std::shared_ptr<KeyedCodable> decodeValue(const QJsonValue& value, const QString& name);
  std::shared_ptr<KeyedCodable> decodeWith(const KeyedClassRegistry::Factory& factory,
                                           const QJsonObject& object);
  std::vector<std::shared_ptr<KeyedCodable>> decodeArray(const QJsonArray& array,
                                                         const QString& name);

  // The objects being decoded, innermost last; the root object first, so that a file written
  // with encodeTopObject is read with the ...ForKey calls straight away.
  std::vector<QJsonObject> jsonObjectStack;
  QHash<QString, QString> mappingClasses;
  QJsonObject mRoot;
  bool mFailed = false;
};

}  // namespace orrery
