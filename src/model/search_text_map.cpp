#include "model/search_text_map.h"

#include <QStringMatcher>

namespace orrery {

void IdeaTextMap::add(const QString& key, std::int32_t level) {
  mKeys.append(key);
  mLevels.push_back(level);
}

std::int64_t IdeaTextMap::countOccurrences(const QString& lowercasedText) const {
  if (lowercasedText.isEmpty()) return 0;
  const QStringMatcher matcher(lowercasedText);
  std::int64_t count = 0;
  for (const QString& key : mKeys)
    if (key.size() >= lowercasedText.size() && matcher.indexIn(key) >= 0) ++count;
  return count;
}

bool IdeaTextMap::containsString(const QString& lowercasedText, std::int64_t* found, std::int64_t* /*minLevel*/) const {
  const std::int64_t count = countOccurrences(lowercasedText);
  if (found) *found = count;
  return count > 0;
}

}  // namespace orrery
