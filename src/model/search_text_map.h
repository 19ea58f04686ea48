#pragma once
// The searchable texts of one document: the lowercased texts and icon symbols of its ideas in
// tree order, each with its idea's tree level (0 for the root). The same text may occur many
// times. The texts are kept end to end in one string, so that a search scans one block of
// memory. Immutable once built, so a finished map can be shared.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace orrery {

class IdeaTextMap {
 public:
  void add(const QString& key, std::int32_t level);

  // The number of entries containing `lowercasedText`; an empty text is contained nowhere.
  std::int64_t countOccurrences(const QString& lowercasedText) const;
  // True when the count is above 0; the count goes to `found`. `minLevel` is left as it is.
  bool containsString(const QString& lowercasedText, std::int64_t* found, std::int64_t* minLevel) const;

  std::size_t size() const { return mLevels.size(); }
  QStringList keys() const;
  const std::vector<std::int32_t>& levels() const { return mLevels; }

 private:
  // Every entry followed by the separator, which no entry contains.
  QString mKeys;
  std::vector<std::int32_t> mLevels;
};

}  // namespace orrery
