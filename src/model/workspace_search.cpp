#include "model/workspace_search.h"

#include "model/idea_document.h"

#include "foundation/globals.h"

#include <QSet>

#include <atomic>
#include <utility>
#include <vector>

namespace orrery {

struct WorkspaceSearch::Job {
  std::int64_t id = 0;
  QString text;  // null for the whole list
  bool indexing = false;
  ExecuteBlock block;
  // Matching, once every listed document is indexed.
  bool matching = false;
  QString lowered;
  std::vector<std::pair<QString, SearchCache::MapPtr>> maps;
  std::size_t nextMap = 0;
  std::vector<SearchResult> results;
};

std::shared_ptr<WorkspaceSearch> WorkspaceSearch::create(SearchHost& host) {
  return std::shared_ptr<WorkspaceSearch>(new WorkspaceSearch(host));
}

std::int64_t WorkspaceSearch::nextRequestIdentifier() {
  static std::atomic<std::int64_t> counter{0};
  return ++counter;
}

std::int64_t WorkspaceSearch::runningRequestIdentifier() const { return mRunning ? mRunning->id : 0; }

void WorkspaceSearch::startSearch(const QString& text, std::int64_t requestIdentifier) {
  if (requestIdentifier <= 0) return;
  if (mRunning && !mRunning->indexing && requestIdentifier <= mRunning->id) return;
  if (mRunning && mRunning->indexing) mPendingIndexing = std::max(mPendingIndexing, mRunning->id);
  auto job = std::make_shared<Job>();
  job->id = requestIdentifier;
  job->text = text;
  launch(std::move(job));
}

void WorkspaceSearch::startIndexing(std::int64_t requestIdentifier) {
  if (mRunning && !mRunning->indexing) {
    // The screen search indexes as it goes; the pass follows its answer.
    mPendingIndexing = std::max(mPendingIndexing, requestIdentifier);
    return;
  }
  if (mRunning && requestIdentifier <= mRunning->id) return;
  auto job = std::make_shared<Job>();
  job->id = requestIdentifier;
  job->indexing = true;
  launch(std::move(job));
}

void WorkspaceSearch::killSearch(std::int64_t requestIdentifier) {
  if (!mRunning || mRunning->indexing || mRunning->id != requestIdentifier) return;
  mRunning->block.markDone();
  mRunning.reset();
  startPendingIndexing();
}

void WorkspaceSearch::stopAll() {
  if (mRunning) mRunning->block.markDone();
  mRunning.reset();
  mPendingIndexing = 0;
}

void WorkspaceSearch::launch(std::shared_ptr<Job> job) {
  if (mRunning) mRunning->block.markDone();
  mRunning = job;
  // Steps hold the job weakly: a replaced job dies with its last step.
  std::weak_ptr<WorkspaceSearch> weakSelf = weak_from_this();
  std::weak_ptr<Job> weakJob = job;
  job->block.executeBlock([weakSelf, weakJob] {
    auto self = weakSelf.lock();
    auto current = weakJob.lock();
    if (self && current) self->step(current);
  });
}

void WorkspaceSearch::step(const std::shared_ptr<Job>& job) {
  if (mRunning != job) {
    job->block.markDone();
    return;
  }
  const std::optional<ProxyList> proxies = mHost.proxyListOrNilIfNotReady();
  if (!proxies || !Globals::isUserIdle()) {
    job->block.repeatAsyncAfterDelay(kRetryDelaySeconds);
    return;
  }
  if (!job->matching) {
    if (indexNextDocument(job, *proxies)) return;
    if (job->text.isNull()) return finish(job, *proxies);
    beginMatching(*job, *proxies);
  }
  if (!matchSlice(*job)) {
    job->block.repeatAsync();
    return;
  }
  SearchCache::sortResults(job->results);
  // Against the list as it is now: a document that left it meanwhile yields nothing.
  const std::optional<ProxyList> current = mHost.proxyListOrNilIfNotReady();
  finish(job, proxiesForResults(job->results, current.value_or(ProxyList())));
}

bool WorkspaceSearch::indexNextDocument(const std::shared_ptr<Job>& job, const ProxyList& proxies) {
  const QString missing = mCache.nextDocIdentifierThatIsMissing(proxies);
  if (missing.isNull()) return false;
  std::weak_ptr<WorkspaceSearch> weakSelf = weak_from_this();
  std::weak_ptr<Job> weakJob = job;
  mHost.fetchDocument(missing, [weakSelf, weakJob, missing](std::shared_ptr<IdeaDocument> doc) {
    auto self = weakSelf.lock();
    auto current = weakJob.lock();
    if (!self || !current || self->mRunning != current) {
      if (current) current->block.markDone();
      return;
    }
    // An unreadable document gets an empty entry and is not read again until it changes. A
    // save indexed meanwhile is newer than this reading.
    if (!self->mCache.isIndexed(missing)) self->mCache.addOrUpdate(doc ? doc->idea() : nullptr, missing);
    current->block.repeatAsync();
  });
  return true;
}

void WorkspaceSearch::beginMatching(Job& job, const ProxyList& proxies) {
  job.matching = true;
  job.lowered = job.text.toLower();
  QSet<QString> seen;
  for (const IdeaProxyPtr& proxy : proxies) {
    if (!proxy || seen.contains(proxy->docIdentifier())) continue;
    seen.insert(proxy->docIdentifier());
    if (auto map = mCache.mapForDocument(proxy->docIdentifier())) job.maps.emplace_back(proxy->docIdentifier(), map);
  }
}

bool WorkspaceSearch::matchSlice(Job& job) {
  std::size_t entries = 0;
  while (job.nextMap < job.maps.size() && entries < kMatchEntriesPerStep) {
    const auto& [identifier, map] = job.maps[job.nextMap++];
    std::int64_t found = 0;
    if (map->containsString(job.lowered, &found, nullptr)) job.results.push_back({identifier, found, 0});
    entries += map->size() + 1;
  }
  return job.nextMap >= job.maps.size();
}

void WorkspaceSearch::finish(const std::shared_ptr<Job>& job, const ProxyList& results) {
  mRunning.reset();
  mHost.searchIsReady(results, job->id);
  job->block.markDone();
  startPendingIndexing();
}

void WorkspaceSearch::startPendingIndexing() {
  if (mPendingIndexing == 0 || mRunning) return;
  const std::int64_t pending = std::exchange(mPendingIndexing, 0);
  startIndexing(pending);
}

ProxyList WorkspaceSearch::proxiesForResults(const std::vector<SearchResult>& results, const ProxyList& proxies) {
  QHash<QString, IdeaProxyPtr> byIdentifier;
  for (const IdeaProxyPtr& proxy : proxies)
    if (proxy && !byIdentifier.contains(proxy->docIdentifier())) byIdentifier.insert(proxy->docIdentifier(), proxy);
  ProxyList matching;
  for (const SearchResult& result : results) {
    const IdeaProxyPtr proxy = byIdentifier.value(result.docIdentifier);
    if (!proxy) continue;
    IdeaProxyPtr copy = IdeaProxy::createWithProxy(*proxy);
    copy->setItemCount(result.occurrences);
    matching.push_back(std::move(copy));
  }
  return matching;
}

ProxyList WorkspaceSearch::findMatchingProxies(const QString& text) const {
  const ProxyList proxies = mHost.proxyListOrNilIfNotReady().value_or(ProxyList());
  if (text.isNull()) return proxies;
  return proxiesForResults(mCache.search(text), proxies);
}

}  // namespace orrery
