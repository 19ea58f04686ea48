#pragma once
// How much memory reading a document may take, projected from what has been read so far, so
// that a small hostile file is refused before the parser and the tree are built for it.
//
// Reading costs about kBytesPerTextByte for every byte inside a JSON string (the text, the
// parser's copy and the decoded UTF-16 string), kBytesPerJSONByte for every other byte of
// JSON text, kBytesPerValue for every value, keys included (the parser's tape and index and
// what the decoder makes of it: a list entry, a member slot; counted as the brackets, commas
// and colons outside strings, each of which starts one), and kBytesPerObject more for every
// object (an idea with its identifier and lists). A map projects about 160 bytes per byte of
// its compressed file with distinct titles and up to about 380 when its ideas are alike (an
// imported outline: 400 000 ideas with one 62-character title, 1.2 MB on disk, 426 MiB
// projected), as every idea still has an identifier of its own, while files made to take
// memory repeat one value (46 MB of numbers, strings or members in 46-70 KB: 8 000 per byte and
// more). So a reading may
// take max(kMinBudget, kBudgetPerFileByte × the file's size): every map the program writes
// reopens, and a file of 192 KB or less can never make the reader take much more than
// kMinBudget, however tightly it packs its values. A map whose texts repeat in long runs packs
// tighter still; the writer then stores part of its JSON uncompressed (document_limits.h).

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orrery {

class DocumentMemoryBound {
 public:
  static constexpr qint64 kMinBudget = qint64(192) << 20;
  static constexpr qint64 kBudgetPerFileByte = 1024;
  static constexpr qint64 kBytesPerTextByte = 4;
  static constexpr qint64 kBytesPerJSONByte = 2;
  static constexpr qint64 kBytesPerValue = 32;
  static constexpr qint64 kBytesPerObject = 300;

  // The budget of reading a file of `fileBytes` bytes.
  explicit DocumentMemoryBound(qint64 fileBytes);
  // The fewest bytes a file may have whose reading projects `projectedBytes`.
  static qint64 leastFileBytesFor(qint64 projectedBytes) {
    return projectedBytes <= kMinBudget ? 0 : (projectedBytes + kBudgetPerFileByte - 1) / kBudgetPerFileByte;
  }

  // Takes the next piece of JSON text; false once the projection is beyond the budget.
  bool add(std::string_view text);
  qint64 projectedBytes() const {
    return mStringBytes * kBytesPerTextByte + (mTextBytes - mStringBytes) * kBytesPerJSONByte +
           mValues * kBytesPerValue + mObjects * kBytesPerObject;
  }
  qint64 budget() const { return mBudget; }
  bool withinBudget() const { return projectedBytes() <= mBudget; }

 private:
  qint64 mBudget;
  qint64 mTextBytes = 0;
  qint64 mStringBytes = 0;
  qint64 mValues = 0;
  qint64 mObjects = 0;
  bool mInString = false;
  bool mEscaped = false;

  void scan(const std::uint8_t* p, const std::uint8_t* end);
};

// No byte of JSON projects more than a file byte may ask for, so the JSON text itself, or any
// zlib stream at least as long, is within the bound: the writer relies on it.
static_assert(DocumentMemoryBound::kBytesPerTextByte <= DocumentMemoryBound::kBudgetPerFileByte &&
              DocumentMemoryBound::kBytesPerJSONByte + DocumentMemoryBound::kBytesPerValue +
                      DocumentMemoryBound::kBytesPerObject <=
                  DocumentMemoryBound::kBudgetPerFileByte);

}  // namespace orrery
