#pragma once
// Keyed coding: a model class writes itself once, as values under keys, to any KeyedEncoder
// and is rebuilt from any KeyedDecoder by the factory registered under its class name. The
// JSON coder pair (json_encoder.h, json_decoder.h) is one implementation; a binary keyed
// archive can be another, and the same class code serves both.
//
// Absent values: a null QString, a null QByteArray, an invalid QDateTime, a null object and an
// empty list are "none" and are not written; reading a missing key, or a member of the wrong
// kind, gives the same neutral values (and 0 or false for numbers and flags).

#include <QAnyStringView>
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace orrery {

class KeyedEncoder;
class KeyedDecoder;

using CoderKey = QAnyStringView;

// Object graphs deeper than this are neither written nor read: a file that nests further is
// refused whole rather than read in part, and recursion stays far from the stack's end.
constexpr int kMaxKeyedNestingDepth = 500;

class KeyedCodable {
 public:
  virtual ~KeyedCodable() = default;
  // The name the class is registered under ("Idea").
  virtual QString className() const = 0;
  virtual void encodeWithCoder(KeyedEncoder& coder) const = 0;
  // A short text for log lines.
  virtual QString description() const { return className(); }
};

// Whether an encoder may enter `object` inside the objects it is encoding (`enclosing`,
// outermost first): not when the object is one of them (the cycle would never end) nor
// kMaxKeyedNestingDepth deep. Logs why not; `writer` names the encoder.
bool mayEncodeNested(std::span<const KeyedCodable* const> enclosing, const KeyedCodable& object, const char* writer);

class KeyedEncoder {
 public:
  virtual ~KeyedEncoder() = default;
  virtual bool allowsKeyedCoding() const { return true; }

  virtual void encodeString(const QString& value, CoderKey key) = 0;
  virtual void encodeStrings(const QStringList& values, CoderKey key) = 0;
  virtual void encodeInt(int32_t value, CoderKey key) = 0;
  virtual void encodeBool(bool value, CoderKey key) = 0;
  virtual void encodeData(const QByteArray& value, CoderKey key) = 0;
  virtual void encodeDate(const QDateTime& value, CoderKey key) = 0;
  // A nested object, written through its own encodeWithCoder.
  virtual void encodeObject(const KeyedCodable* object, CoderKey key) = 0;
  // A list of nested objects; null elements are skipped.
  virtual void encodeObjects(std::span<const KeyedCodable* const> objects, CoderKey key) = 0;

  template <class T>
  void encodeObject(const std::shared_ptr<T>& object, CoderKey key) {
    encodeObject(static_cast<const KeyedCodable*>(object.get()), key);
  }
  template <class T>
  void encodeObjects(const std::vector<std::shared_ptr<T>>& objects, CoderKey key) {
    std::vector<const KeyedCodable*> plain;
    plain.reserve(objects.size());
    for (const auto& object : objects) plain.push_back(object.get());
    encodeObjects(std::span<const KeyedCodable* const>(plain), key);
  }
};

class KeyedDecoder {
 public:
  virtual ~KeyedDecoder() = default;

  // True when the current object has the key, whatever its value.
  virtual bool containsValueForKey(CoderKey key) const = 0;
  virtual QString decodeStringForKey(CoderKey key) = 0;
  virtual QStringList decodeStringsForKey(CoderKey key) = 0;
  virtual int32_t decodeIntForKey(CoderKey key) = 0;
  virtual bool decodeBoolForKey(CoderKey key) = 0;
  virtual QByteArray decodeDataForKey(CoderKey key) = 0;
  virtual QDateTime decodeDateForKey(CoderKey key) = 0;
  // The nested object under the key, of the class the key names (see the coder's rules).
  virtual std::shared_ptr<KeyedCodable> decodeObjectForKey(CoderKey key) = 0;
  virtual std::vector<std::shared_ptr<KeyedCodable>> decodeObjectsForKey(CoderKey key) = 0;

  template <class T>
  std::shared_ptr<T> decodeObjectOfClassForKey(CoderKey key) {
    return std::dynamic_pointer_cast<T>(decodeObjectForKey(key));
  }
  // Elements of other classes are left out.
  template <class T>
  std::vector<std::shared_ptr<T>> decodeObjectsOfClassForKey(CoderKey key) {
    std::vector<std::shared_ptr<KeyedCodable>> objects = decodeObjectsForKey(key);
    std::vector<std::shared_ptr<T>> result;
    result.reserve(objects.size());
    for (auto& object : objects) {
      // A final class is matched by its exact type: cheaper than a cast search, once per
      // element of a list as long as a tree.
      if constexpr (std::is_final_v<T>) {
        if (const KeyedCodable* raw = object.get(); raw && typeid(*raw) == typeid(T))
          result.push_back(std::static_pointer_cast<T>(std::move(object)));
      } else if (auto typed = std::dynamic_pointer_cast<T>(std::move(object))) {
        result.push_back(std::move(typed));
      }
    }
    return result;
  }
};

// Every class whose objects appear in the program's coded files, by class name.
class KeyedClassRegistry {
 public:
  using Factory = std::function<std::shared_ptr<KeyedCodable>(KeyedDecoder&)>;

  static KeyedClassRegistry& shared();

  void registerClass(const QString& className, Factory factory);
  void unregisterClass(const QString& className);
  // Null when no class has the name.
  Factory factoryForName(const QString& className) const;

  // Registers T under T::kClassName with T::createWithCoder as its factory. Call it from a
  // namespace-scope initialiser in T's own source file.
  template <class T>
  static bool add() {
    shared().registerClass(QString::fromLatin1(T::kClassName),
                           [](KeyedDecoder& coder) -> std::shared_ptr<KeyedCodable> {
                             return T::createWithCoder(coder);
                           });
    return true;
  }

 private:
  mutable std::mutex mMutex;
  QHash<QString, Factory> mFactories;
};

}  // namespace orrery
