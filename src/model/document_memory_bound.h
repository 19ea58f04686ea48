#pragma once
// How much memory reading a document may take, projected from what has been read so far, so
// that a small hostile file is refused before the parser and the tree are built for it.
//
// Reading costs about kBytesPerJSONByte for every byte of JSON text (the text itself, the
// parser's tape, string buffer and index) and about kBytesPerObject for every object in it
// (an idea with its identifier and lists). A real map takes about 115 bytes of memory per
// byte of its compressed file (100 000 ideas: 0.87 MB on disk, 98 MiB to open), so a reading
// may take max(kMinBudget, kBudgetPerFileByte × the file's size): a real map of any size
// opens, and a file of 1 MB or less can never make the reader take more than kMinBudget.

#include <QByteArray>

#include <cstddef>
#include <string_view>

namespace orrery {

class DocumentMemoryBound {
 public:
  static constexpr qint64 kMinBudget = qint64(192) << 20;
  static constexpr qint64 kBudgetPerFileByte = 160;
  static constexpr qint64 kBytesPerJSONByte = 4;
  static constexpr qint64 kBytesPerObject = 400;

  // The budget of reading a file of `fileBytes` bytes.
  explicit DocumentMemoryBound(qint64 fileBytes);

  // Takes the next piece of JSON text; false once the projection is beyond the budget.
  bool add(std::string_view text);
  qint64 projectedBytes() const { return mTextBytes * kBytesPerJSONByte + mObjects * kBytesPerObject; }
  qint64 budget() const { return mBudget; }
  bool withinBudget() const { return projectedBytes() <= mBudget; }

 private:
  qint64 mBudget;
  qint64 mTextBytes = 0;
  qint64 mObjects = 0;
  bool mInString = false;
  bool mEscaped = false;
};

}  // namespace orrery
