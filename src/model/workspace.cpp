#include "model/workspace.h"

#include "model/idea_document.h"

#include "platform/core/dispatch.h"
#include "platform/core/release_in_background.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSet>

#include <algorithm>
#include <utility>
#include <vector>

namespace orrery {

namespace {

constexpr std::size_t kNotListed = static_cast<std::size_t>(-1);
constexpr qint64 kReleaseSliceNanoseconds = 1'000'000;

// The engine's status codes as the screens see them; other codes leave the status alone.
std::optional<WorkspaceStatus> mapEngineStatus(std::int64_t code) {
  switch (code) {
    case 0: return WorkspaceStatusStarting;
    case 1:
    case 2: return WorkspaceStatusUnavailable;
    case 3:
    case 5: return WorkspaceStatusReady;
    case 4: return WorkspaceStatusLoading;
    default: return std::nullopt;
  }
}

// Entries of a replaced list are dropped a slice at a time on later main-queue turns:
// freeing thousands at once would hold the main thread, and an entry may own a document
// object, which lives on the main thread.
void releaseInSlices(ProxyList doomed) {
  if (doomed.empty()) return;
  auto left = std::make_shared<ProxyList>(std::move(doomed));
  platform::mainQueue().async([left] {
    QElapsedTimer slice;
    slice.start();
    while (!left->empty() && slice.nsecsElapsed() < kReleaseSliceNanoseconds)
      for (int i = 0; i < 64 && !left->empty(); ++i) left->pop_back();
    releaseInSlices(std::move(*left));
  });
}

}  // namespace

Workspace::Workspace(std::shared_ptr<PersistenceState> engine, WorkspaceDelegate* delegate)
    : mCurrentState(std::move(engine)), mDelegate(delegate), mSearch(WorkspaceSearch::create(*this)) {}

std::shared_ptr<Workspace> Workspace::create(std::shared_ptr<PersistenceState> engine, WorkspaceDelegate* delegate) {
  auto workspace = std::shared_ptr<Workspace>(new Workspace(std::move(engine), delegate));
  // Only now: what the engine reported while it was set up reached no delegate.
  if (workspace->mCurrentState) workspace->mCurrentState->setDelegate(workspace);
  return workspace;
}

WorkspaceFactory Workspace::factoryWithEngines(EngineFactory engines) {
  return [engines = std::move(engines)](DocumentLocation location,
                                        WorkspaceDelegate* delegate) -> std::shared_ptr<WorkspaceInterface> {
    auto engine = engines ? engines(location) : nullptr;
    return engine ? create(std::move(engine), delegate) : nullptr;
  };
}

Workspace::~Workspace() {
  mSearch->stopAll();
  releaseInSlices(std::move(mIdeaProxies));
  platform::releaseInBackground(std::move(mIndexByIdentifier), std::move(mKnownDocuments));
}

std::int64_t Workspace::nextSearchRequestID() { return WorkspaceSearch::nextRequestIdentifier(); }

void Workspace::closeWorkspace() {
  mSearch->stopAll();
  if (auto engine = std::move(mCurrentState)) engine->leaveState();
  mCurrentState.reset();
}

std::optional<ProxyList> Workspace::proxyListOrNilIfNotReady() const {
  if (!mHasCompleteProxyList) return std::nullopt;
  return mIdeaProxies;
}

const QHash<QString, std::size_t>& Workspace::positions() const {
  if (mIndexStale) {
    mIndexByIdentifier.clear();
    mIndexByIdentifier.reserve(qsizetype(mIdeaProxies.size()));
    for (std::size_t i = 0; i < mIdeaProxies.size(); ++i) {
      const QString& identifier = mIdeaProxies[i]->docIdentifier();
      if (!mIndexByIdentifier.contains(identifier)) mIndexByIdentifier.insert(identifier, i);
    }
    mIndexStale = false;
  }
  return mIndexByIdentifier;
}

std::size_t Workspace::indexOfProxy(const QString& docIdentifier) const {
  const auto it = positions().constFind(docIdentifier);
  return it == mIndexByIdentifier.constEnd() ? kNotListed : *it;
}

IdeaProxyPtr Workspace::findProxy(const QString& docIdentifier) const {
  const std::size_t index = indexOfProxy(docIdentifier);
  return index == kNotListed ? nullptr : mIdeaProxies[index];
}

std::shared_ptr<IdeaDocument> Workspace::findDocument(const QString& docIdentifier) {
  const IdeaProxyPtr proxy = findProxy(docIdentifier);
  return proxy ? proxy->doc() : nullptr;
}

// ---- requests

void Workspace::createDocument(const std::shared_ptr<IdeaDocument>& doc, std::size_t index, TokenCompletion completion) {
  if (!doc || !mCurrentState || findProxy(doc->docIdentifier())) {
    if (completion) completion(0);
    return;
  }
  std::weak_ptr<Workspace> weakSelf = weak_from_this();
  mCurrentState->createDocument(doc, [weakSelf, doc, index, completion = std::move(completion)](DocumentToken token) {
    auto self = weakSelf.lock();
    if (self && self->mCurrentState && token >= 1) self->insertCreatedProxy(doc, index);
    if (completion) completion(token);
  });
}

void Workspace::insertCreatedProxy(const std::shared_ptr<IdeaDocument>& doc, std::size_t index) {
  const std::size_t listed = indexOfProxy(doc->docIdentifier());
  if (listed != kNotListed) {
    // The engine reported the new file before the create completed: one entry is enough.
    const IdeaProxyPtr proxy = mIdeaProxies[listed];
    proxy->updateWithDoc(doc);
    saveIdeaProxyList();
    if (mDelegate) mDelegate->documentUpdated(proxy, this);
    return;
  }
  // The list may have shrunk while the engine worked.
  index = std::min(index, mIdeaProxies.size());
  const IdeaProxyPtr proxy = IdeaProxy::createWithDoc(doc);
  mIdeaProxies.insert(mIdeaProxies.begin() + static_cast<std::ptrdiff_t>(index), proxy);
  listChanged();
  saveIdeaProxyList();
  if (mDelegate) mDelegate->documentAdded(proxy, index, this);
}

void Workspace::openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) {
  if (!mCurrentState) {
    if (completion) completion(0);
    return;
  }
  mCurrentState->openDocument(doc, std::move(completion));
}

void Workspace::fetchDocument(const QString& docIdentifier, DocumentCompletion completion) {
  if (!mCurrentState) {
    if (completion) completion(nullptr);
    return;
  }
  mCurrentState->fetchDocument(docIdentifier, std::move(completion));
}

void Workspace::closeDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) {
  if (!mCurrentState) {
    if (completion) completion(false);
    return;
  }
  mCurrentState->closeDocument(doc, token, std::move(completion));
}

void Workspace::updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) {
  if (!doc || !mCurrentState) {
    if (completion) completion(false);
    return;
  }
  doc->setDateModified(QDateTime::currentDateTimeUtc());
  std::weak_ptr<Workspace> weakSelf = weak_from_this();
  mCurrentState->updateDocument(doc, token, [weakSelf, doc, completion = std::move(completion)](bool success) {
    auto self = weakSelf.lock();
    if (self && self->mCurrentState && success) self->updateProxyForDocument(doc);
    if (completion) completion(success);
  });
}

void Workspace::updateProxyForDocument(const std::shared_ptr<IdeaDocument>& doc) {
  const IdeaProxyPtr proxy = doc ? findProxy(doc->docIdentifier()) : nullptr;
  if (!proxy) return;
  proxy->updateWithDoc(doc);
  saveIdeaProxyList();
  if (mDelegate) mDelegate->documentUpdated(proxy, this);
  mSearch->cache().invalidate(doc->docIdentifier());
  mSearch->cache().addOrUpdate(doc->idea(), doc->docIdentifier());
}

void Workspace::deleteDocument(const QString& docIdentifier, BoolCompletion completion) {
  if (!mCurrentState) {
    if (completion) completion(false);
    return;
  }
  std::weak_ptr<Workspace> weakSelf = weak_from_this();
  mCurrentState->deleteDocument(docIdentifier, [weakSelf, docIdentifier, completion = std::move(completion)](bool success) {
    auto self = weakSelf.lock();
    if (self && self->mCurrentState && success) self->deleteProxyForDocument(docIdentifier);
    if (completion) completion(success);
  });
}

void Workspace::deleteProxyForDocument(const QString& docIdentifier) {
  const std::size_t index = indexOfProxy(docIdentifier);
  if (index != kNotListed) mIdeaProxies.erase(mIdeaProxies.begin() + static_cast<std::ptrdiff_t>(index));
  listChanged();
  saveIdeaProxyList();
  if (mDelegate) mDelegate->documentDeleted(docIdentifier, this);
  mSearch->cache().invalidate(docIdentifier);
}

void Workspace::saveIdeaProxyList() {
  if (mCurrentState) mCurrentState->saveProxyList(mIdeaProxies);
}

std::shared_ptr<platform::FileVersion> Workspace::findConflictingVersion(const IdeaProxyPtr& proxy) {
  auto* resolver = dynamic_cast<ConflictResolvingState*>(mCurrentState.get());
  return resolver ? resolver->findConflictingVersion(proxy) : nullptr;
}

void Workspace::handleConflictForProxy(const IdeaProxyPtr& proxy, ConflictCompletion completion) {
  auto* resolver = dynamic_cast<ConflictResolvingState*>(mCurrentState.get());
  if (!resolver) {
    if (completion) completion(false, {});
    return;
  }
  std::weak_ptr<Workspace> weakSelf = weak_from_this();
  resolver->handleConflictForProxy(proxy, [weakSelf, completion = std::move(completion)](
                                              bool resolved, const std::vector<KeptConflictVersion>& kept) {
    // The index keeps the new documents the other versions became.
    if (auto self = weakSelf.lock(); self && resolved) self->saveIdeaProxyList();
    if (completion) completion(resolved, kept);
  });
}

QString Workspace::description() const {
  return QStringLiteral("{Workspace(0x%1) storage=%2}")
      .arg(reinterpret_cast<quintptr>(this), 0, 16)
      .arg(mCurrentState ? mCurrentState->description() : QStringLiteral("(null)"));
}

// ---- search

void Workspace::startSearch(const QString& text, std::int64_t requestIdentifier) {
  mSearch->startSearch(text, requestIdentifier);
}

void Workspace::killSearch(std::int64_t requestIdentifier) { mSearch->killSearch(requestIdentifier); }

void Workspace::searchIsReady(const ProxyList& results, std::int64_t requestIdentifier) {
  if (mDelegate) mDelegate->searchIsReady(results, requestIdentifier, this);
}

// ---- engine reports

void Workspace::statusChange(std::int64_t code, PersistenceState* state) {
  if (!isCurrent(state)) return;
  if (const auto status = mapEngineStatus(code)) mStatus = *status;
  if (mDelegate) mDelegate->statusChange(mStatus, this);
}

void Workspace::foundIdeaDocument(const QString& docIdentifier, PersistenceState* state) {
  if (isCurrent(state)) mKnownDocuments.insert(docIdentifier);
}

void Workspace::observeProxyList(const ProxyList& proxies, PersistenceState* state) {
  if (!isCurrent(state)) return;
  // Only documents already listed or seen on storage count, and of duplicates the first: an
  // unlisted entry is taken as its identifier leaves the found set, a listed one once per
  // position. The new list's positions are recorded as it is made.
  const QHash<QString, std::size_t>& listedAt = positions();
  std::vector<bool> listedTaken(mIdeaProxies.size());
  QSet<QString> known = std::exchange(mKnownDocuments, {});
  QHash<QString, std::size_t> at;
  at.reserve(qsizetype(proxies.size()));
  ProxyList list;
  list.reserve(proxies.size());
  for (const IdeaProxyPtr& proxy : proxies) {
    if (!proxy) continue;
    const QString& identifier = proxy->docIdentifier();
    const auto listed = listedAt.constFind(identifier);
    if (listed == listedAt.constEnd()) {
      if (!known.remove(identifier)) continue;
    } else {
      if (listedTaken[*listed]) continue;
      listedTaken[*listed] = true;
      proxy->keepDocumentOf(*mIdeaProxies[*listed]);
    }
    at.insert(identifier, list.size());
    list.push_back(proxy);
  }
  releaseInSlices(std::exchange(mIdeaProxies, std::move(list)));
  platform::releaseInBackground(std::exchange(mIndexByIdentifier, std::move(at)), std::move(known));
  mIndexStale = false;
  mHasCompleteProxyList = true;
  if (mDelegate) mDelegate->batchUpdateDoneInWorkspace(this);
  mSearch->startIndexing(nextSearchRequestID());
}

void Workspace::observeIdeaProxy(const IdeaProxyPtr& proxy, PersistenceState* state) {
  if (!isCurrent(state) || !proxy) return;
  const std::size_t index = indexOfProxy(proxy->docIdentifier());
  const bool replaced = index != kNotListed;
  if (replaced) {
    proxy->keepDocumentOf(*mIdeaProxies[index]);
    mIdeaProxies[index] = proxy;
  } else {
    mIdeaProxies.push_back(proxy);
    listChanged();
  }
  if (!mHasCompleteProxyList || !mDelegate) return;
  const IdeaProxyPtr copy = IdeaProxy::createWithProxy(*proxy);
  if (replaced)
    mDelegate->documentUpdated(copy, this);
  else
    mDelegate->documentAppended(copy, this);
}

void Workspace::ideaDocumentDeleted(const QString& docIdentifier, PersistenceState* state) {
  if (!isCurrent(state)) return;
  const std::size_t index = indexOfProxy(docIdentifier);
  if (index != kNotListed) mIdeaProxies.erase(mIdeaProxies.begin() + static_cast<std::ptrdiff_t>(index));
  listChanged();
  if (mHasCompleteProxyList && mDelegate) mDelegate->documentDeleted(docIdentifier, this);
}

void Workspace::detectedDocumentConflict(const QString&, PersistenceState*) {}

}  // namespace orrery
