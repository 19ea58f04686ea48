#pragma once
// Rebuilds objects from JSON written by JSONEncoder. The class of a nested object follows from
// the member name that holds it: an alias added with addAlias, else the registered class whose
// name is the member name with its first letter capitalised ("iconImage" finds IconImage); an
// object carrying an "@class" member names its class itself. Every member is type-checked: a
// value of the wrong JSON kind reads as absent. A member named twice reads as its last value.
// One decoder serves one root on one thread.
//
// The text is parsed at once with a SIMD parser; texts it refuses are read with the lenient
// grammar of json_text.h. Objects are then decoded straight from the parsed values.

#include "model/json_text.h"
#include "model/keyed_coding.h"

#include <memory>
#include <vector>

namespace orrery {

class JSONDecoder final : public KeyedDecoder {
 public:
  // What one decoder may build: a file beyond either is refused whole (tooLarge()).
  struct Limits {
    qint64 maxObjects = -1;         // nested objects made, all classes together; -1: no bound
    qsizetype maxStringLength = -1;  // characters of one string (UTF-16); -1: no bound
  };

  // Parses UTF-8 JSON whose root is an object; on failure logs "NSJSONSerialization: Error …"
  // and returns null, with `nesting` filled when nesting deeper than kMaxJSONNesting is what
  // stopped it (json_text.h). The root object is then the current object. Allocation failure
  // while parsing propagates as std::bad_alloc.
  static std::unique_ptr<JSONDecoder> createWithData(const QByteArray& data, jsontext::NestingCount* nesting = nullptr);
  ~JSONDecoder() override;

  void addAlias(const QString& memberName, const QString& className);
  template <class T>
  void addAlias(const QString& memberName) {
    addAlias(memberName, QString::fromLatin1(T::kClassName));
  }
  void setLimits(const Limits& limits) { mLimits = limits; }
  // True once the text went beyond the limits or kMaxKeyedNestingDepth; decoding then yields
  // nothing.
  bool tooLarge() const { return mExcess != Excess::None; }
  // Which bound it went beyond, and for a text its length.
  enum class Excess { None, Nesting, Objects, Text };
  Excess excess() const { return mExcess; }
  qsizetype excessTextLength() const { return mExcessTextLength; }
  // The objects decoded so far, as the limits count them.
  qint64 objectsMade() const { return mObjectsMade; }
  // The bytes of strict JSON parsed: the text itself, or its rewriting when it was lenient.
  qsizetype parsedBytes() const { return mParsedBytes; }

  // Decodes the root: the one member of the root object, whose name gives the class. Null when
  // the root holds no such object, the file nests deeper than kMaxKeyedNestingDepth or goes
  // beyond the limits.
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
  friend class JSONDecoderAccess;
  struct Impl;
  explicit JSONDecoder(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> mImpl;
  // Member name to class name: a few at most, looked through in order.
  std::vector<std::pair<QString, QString>> mappingClasses;
  Limits mLimits;
  qint64 mObjectsMade = 0;
  qsizetype mParsedBytes = 0;
  bool mFailed = false;
  Excess mExcess = Excess::None;
  qsizetype mExcessTextLength = 0;
};

}  // namespace orrery
