#include "model/search_text_map.h"

#include <QStringMatcher>

namespace orrery {

namespace {
constexpr QChar kSeparator = QChar(0);
}  // namespace

void IdeaTextMap::add(const QString& key, std::int32_t level) {
  QString entry = key;
  entry.remove(kSeparator);
  mKeys += entry;
  mKeys += kSeparator;
  mLevels.push_back(level);
}

std::int64_t IdeaTextMap::countOccurrences(const QString& lowercasedText) const {
  QString needle = lowercasedText;
  needle.remove(kSeparator);
  if (needle.isEmpty()) return 0;
  const QStringMatcher matcher(needle);
  std::int64_t count = 0;
  qsizetype from = 0;
  for (;;) {
    const qsizetype found = matcher.indexIn(mKeys, from);
    if (found < 0) return count;
    // An entry counts once, however often it holds the text.
    ++count;
    from = mKeys.indexOf(kSeparator, found + needle.size()) + 1;
    if (from <= 0) return count;
  }
}

bool IdeaTextMap::containsString(const QString& lowercasedText, std::int64_t* found, std::int64_t* /*minLevel*/) const {
  const std::int64_t count = countOccurrences(lowercasedText);
  if (found) *found = count;
  return count > 0;
}

QStringList IdeaTextMap::keys() const {
  QStringList keys = mKeys.split(kSeparator);
  keys.removeLast();
  return keys;
}

}  // namespace orrery
