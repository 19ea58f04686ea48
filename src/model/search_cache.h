#pragma once
// The search index of one location: for every indexed document its IdeaTextMap, filled on
// demand and kept until the document changes through its workspace. A document with an entry
// (even an empty one, for an unreadable document) counts as indexed. Main thread only.

#include "model/idea.h"
#include "model/idea_proxy.h"
#include "model/search_text_map.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace orrery {

struct SearchResult {
  QString docIdentifier;
  std::int64_t occurrences = 0;
  std::int64_t minLevel = 0;
};

class SearchCache {
 public:
  using MapPtr = std::shared_ptr<const IdeaTextMap>;

  // Indexes the tree under the identifier, replacing an earlier entry; no idea gives an empty
  // entry.
  void addOrUpdate(const IdeaPtr& root, const QString& docIdentifier);
  // Texts and icon symbols of the subtree (a link's from its target), lowercased, in tree
  // order. Notes and web links are not indexed.
  static void addIdeaTreeToMap(IdeaTextMap& map, const Idea& idea, std::int32_t level);
  // Drops the entry, so the next search indexes the document again.
  void invalidate(const QString& docIdentifier);

  bool isIndexed(const QString& docIdentifier) const { return mDict.contains(docIdentifier); }
  MapPtr mapForDocument(const QString& docIdentifier) const { return mDict.value(docIdentifier); }
  // The first listed document without an entry, or a null string.
  QString nextDocIdentifierThatIsMissing(const ProxyList& proxies) const;

  // Every indexed document containing the text (case-insensitively), ordered.
  std::vector<SearchResult> search(const QString& text) const;
  // More hits first, then the larger minLevel, then the larger document identifier.
  static void sortResults(std::vector<SearchResult>& results);

 private:
  QHash<QString, MapPtr> mDict;
};

}  // namespace orrery
