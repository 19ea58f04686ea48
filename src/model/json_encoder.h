#pragma once
// Writes an object graph as JSON: the root wrapped in a one-member object named after its class
// with a lower-case first letter (or bare, with encodeTopObject), nested objects as plain
// objects of their keys, data as Base64 text, dates as GMT date text (json_date_format.h).
// None values and empty lists are left out. One encoder serves one root on one thread.
//
// The text is written straight into one growing buffer as the objects encode themselves, in
// the order they write their keys.

#include "model/keyed_coding.h"

#include <vector>

namespace orrery {

class JSONEncoder final : public KeyedEncoder {
 public:
  JSONEncoder() = default;

  // {"<className with lower-case first letter>": {...}}.
  void encodeObject(const KeyedCodable& root);
  // The root's own keys as the top object.
  void encodeTopObject(const KeyedCodable& root);
  // The result as compact UTF-8 JSON; null when nothing was encoded or encoding failed (a
  // circular reference, or nesting beyond kMaxKeyedNestingDepth).
  QByteArray data() const;
  bool failed() const { return mFailed; }
  // What was written so far, as the reader's limits count it: bytes, objects (the root among
  // them, never its wrapper) and the longest string value in UTF-16 units (keys, data and dates
  // not counted).
  qsizetype length() const { return mLength; }
  qint64 objectsWritten() const { return mObjectsWritten; }
  qsizetype longestText() const { return mLongestText; }
  // Appends `text` as a quoted JSON string, the same as the encoder writes it.
  static void appendString(QByteArray& out, QStringView text);

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
  // Writes the object's keys as a JSON object; false when encoding has failed.
  bool encodeNested(const KeyedCodable& object);
  void encodeRoot(const KeyedCodable& root, bool wrapped);
  void beginMember(CoderKey key);
  bool writing() const { return !mFailed && !objectStack.empty(); }

  // Raw output.
  char* room(qsizetype bytes);
  void put(char c) { *room(1) = c, ++mLength; }
  void put(const char* text, qsizetype length);
  void putString(QStringView text);
  // Writes the quoted string at `out`, which has room for 6 bytes per unit plus 2; returns
  // the end.
  static char* writeString(char* out, QStringView text);
  void putLatin1String(QLatin1StringView text);

  std::vector<const KeyedCodable*> objectStack;
  // For each open object: whether a member was written yet.
  std::vector<bool> mHasMembers;
  // Grows by doubling; cut to mLength when the result is taken.
  mutable QByteArray mBuffer;
  qsizetype mLength = 0;
  bool mHasResult = false;
  bool mFailed = false;
  qint64 mObjectsWritten = 0;
  qsizetype mLongestText = 0;
};

}  // namespace orrery
