#include "model/search_cache.h"

#include <algorithm>

namespace orrery {

void SearchCache::addOrUpdate(const IdeaPtr& root, const QString& docIdentifier) {
  auto map = std::make_shared<IdeaTextMap>();
  if (root) addIdeaTreeToMap(*map, *root, 0);
  mDict.insert(docIdentifier, std::move(map));
}

void SearchCache::addIdeaTreeToMap(IdeaTextMap& map, const Idea& idea, std::int32_t level) {
  // A link's getters answer for its target.
  const QString text = idea.text();
  if (!text.isEmpty()) map.add(text.toLower(), level);
  if (const IconImagePtr icon = idea.iconImage(); icon && !icon->symbol().isEmpty())
    map.add(icon->symbol().toLower(), level);
  for (const IdeaPtr& child : idea.ideas())
    if (child) addIdeaTreeToMap(map, *child, level + 1);
}

void SearchCache::invalidate(const QString& docIdentifier) { mDict.remove(docIdentifier); }

QString SearchCache::nextDocIdentifierThatIsMissing(const ProxyList& proxies) const {
  for (const IdeaProxyPtr& proxy : proxies)
    if (proxy && !mDict.contains(proxy->docIdentifier())) return proxy->docIdentifier();
  return {};
}

std::vector<SearchResult> SearchCache::search(const QString& text) const {
  const QString lowered = text.toLower();
  std::vector<SearchResult> results;
  for (auto it = mDict.cbegin(); it != mDict.cend(); ++it) {
    std::int64_t found = 0;
    if (it.value()->containsString(lowered, &found, nullptr)) results.push_back({it.key(), found, 0});
  }
  sortResults(results);
  return results;
}

void SearchCache::sortResults(std::vector<SearchResult>& results) {
  std::sort(results.begin(), results.end(), [](const SearchResult& a, const SearchResult& b) {
    if (a.occurrences != b.occurrences) return a.occurrences > b.occurrences;
    if (a.minLevel != b.minLevel) return a.minLevel > b.minLevel;
    return a.docIdentifier > b.docIdentifier;
  });
}

}  // namespace orrery
