#pragma once
// The keyed archive of the iCloud index: a binary form of our own (CBOR) for object graphs
// written through KeyedEncoder. The archive is a map {"$archiver": "OrreryKeyedArchive",
// "$version": 1, "$top": {root keys}}; every nested object is a map of its keys plus "$class",
// its registered class name, so the class names belong to the format. Dates keep their
// milliseconds; data is stored as bytes. One archiver serves one root on one thread.

#include "model/keyed_coding.h"

#include <QCborMap>

#include <vector>

namespace orrery {

inline constexpr char kKeyedArchiveMark[] = "OrreryKeyedArchive";
inline constexpr int kKeyedArchiveVersion = 1;

class KeyedArchiver final : public KeyedEncoder {
 public:
  KeyedArchiver();

  // Writes the root's own keys as the archive's top object.
  void encodeRootObject(const KeyedCodable& root);
  // The archive; null when nothing was encoded or encoding failed (a circular reference, or
  // nesting beyond kMaxKeyedNestingDepth).
  QByteArray encodedData() const;

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
  bool encodeNested(const KeyedCodable& object, QCborMap& out);
  void put(CoderKey key, const QCborValue& value);
  bool writing() const { return !mFailed && !mMapStack.empty(); }

  std::vector<const KeyedCodable*> mObjectStack;
  std::vector<QCborMap> mMapStack;
  QCborMap mTop;
  bool mHasResult = false;
  bool mFailed = false;
};

}  // namespace orrery
