#pragma once
// The searches of one cloud location. A search indexes the listed documents that are not yet
// in the cache, one document per turn of the main queue, then matches the text against the
// cache a bounded slice per turn, and reports the matching documents' proxies ordered by the
// number of hits. A nil text is an indexing pass: it indexes every listed document and
// reports the whole list.
//
// Screen searches and the workspace's own indexing passes are numbered by separate counters,
// so they are never compared with each other: a screen search always replaces a running
// indexing pass (which runs again once the screen search has answered) and an indexing pass
// never replaces a screen search. Among screen searches a request replaces the running one
// only when its identifier is greater. Main thread only.

#include "model/idea_proxy.h"
#include "model/search_cache.h"

#include "foundation/execute_block.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace orrery {

class IdeaDocument;

// What a search needs of its workspace.
class SearchHost {
 public:
  virtual ~SearchHost() = default;
  virtual std::optional<ProxyList> proxyListOrNilIfNotReady() const = 0;
  // Reads a document without a token; the completion runs once on the main thread.
  virtual void fetchDocument(const QString& docIdentifier, std::function<void(std::shared_ptr<IdeaDocument>)> completion) = 0;
  virtual void searchIsReady(const ProxyList& results, std::int64_t requestIdentifier) = 0;
};

class WorkspaceSearch : public std::enable_shared_from_this<WorkspaceSearch> {
 public:
  // Wait between looks at a list that is not complete yet, or while the user is busy.
  static constexpr double kRetryDelaySeconds = 0.5;
  // Text-map entries matched per turn of the main queue.
  static constexpr std::size_t kMatchEntriesPerStep = 50000;

  // The host must outlive this object.
  static std::shared_ptr<WorkspaceSearch> create(SearchHost& host);

  // The one source of request identifiers for everything answered through searchIsReady:
  // screen searches and indexing passes alike, so an answer never reaches a screen that
  // waits for another request, and later requests always carry larger identifiers.
  static std::int64_t nextRequestIdentifier();

  SearchCache& cache() { return mCache; }
  const SearchCache& cache() const { return mCache; }

  // A search a screen asked for (text, or a null text for the whole list).
  void startSearch(const QString& text, std::int64_t requestIdentifier);
  // The workspace's own pass over a new complete list.
  void startIndexing(std::int64_t requestIdentifier);
  // Stops the running screen search with that identifier, without a report.
  void killSearch(std::int64_t requestIdentifier);
  // Stops everything without reports (the workspace closed).
  void stopAll();
  // The identifier of the running search or pass, 0 when none.
  std::int64_t runningRequestIdentifier() const;

  // At once, over what is indexed now: the listed proxies matching the text, as copies whose
  // itemCount holds the hits; a null text gives the list's own proxies in list order.
  ProxyList findMatchingProxies(const QString& text) const;

 private:
  struct Job;
  explicit WorkspaceSearch(SearchHost& host) : mHost(host) {}
  void launch(std::shared_ptr<Job> job);
  void step(const std::shared_ptr<Job>& job);
  bool indexNextDocument(const std::shared_ptr<Job>& job, const ProxyList& proxies);
  void beginMatching(Job& job, const ProxyList& proxies);
  bool matchSlice(Job& job);
  void finish(const std::shared_ptr<Job>& job, const ProxyList& results);
  void startPendingIndexing();
  static ProxyList proxiesForResults(const std::vector<SearchResult>& results, const ProxyList& proxies);

  SearchHost& mHost;
  SearchCache mCache;
  std::shared_ptr<Job> mRunning;
  // An indexing pass waiting for a screen search to answer, 0 when none.
  std::int64_t mPendingIndexing = 0;
};

}  // namespace orrery
