#include "cloud/cloud_mode.h"

#include "cloud/damaged_index.h"
#include "cloud/index_conflict_copies.h"
#include "cloud/new_documents_scan.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/index_document.h"
#include "model/persistence_controller.h"
#include "model/queued_file_work.h"

#include "platform/cloud/conflict_copy_name.h"
#include "platform/cloud/file_version.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/cloud/metadata_query.h"
#include "platform/core/dispatch.h"
#include "platform/core/release_in_background.h"
#include "platform/services/file_coordinator.h"
#include "platform/services/process_lock.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace orrery {

namespace {

const QString kIndexPattern = IndexDocument::standardFileName();
const QString kAllFilesPattern = QStringLiteral("*");
// The longest the documents walk holds the main thread in one turn.
constexpr qint64 kWalkSliceNanoseconds = 2'000'000;

// A document name that stays inside the folder it is joined to.
bool isPlainDocumentName(const QString& name) {
  return IdeaDocument::fileNamingSchemeMatches(name) && !name.startsWith(QLatin1Char('.')) &&
         !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

// Why a document of the container cannot be opened or written while its folder is away.
QString folderAwayReason() {
  return Globals::normalLocalizedStringForKey(QStringLiteral("CloudFolderUnreachable:Reason"),
                                              QStringLiteral("The iCloud folder %1 cannot be reached"))
      .arg(platform::LocalFolderContainer::root().path);
}

// Stops a query and lets it go: a gathered one holds a path and a name per file, freed in
// the background.
void dropQuery(std::shared_ptr<platform::MetadataQuery>& query) {
  if (!query) return;
  query->disableUpdates();
  query->stop();
  platform::releaseInBackground(std::move(query));
  query.reset();
}

}  // namespace

std::shared_ptr<CloudMode> CloudMode::create() {
  auto mode = std::make_shared<CloudMode>(Tag{});
  mode->start();
  return mode;
}

void CloudMode::start() {
  mIdentityMonitor = platform::IdentityMonitor::shared();
  mCloudToken = currentCloudToken();
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  mAccountObserver.observe(platform::kUbiquityIdentityDidChangeNotification, nullptr,
                           [weakSelf](const platform::Notification&) {
                             if (auto self = weakSelf.lock()) self->iCloudAccountAvailabilityChanged();
                           });
  checkIfWeCanProceed();
  // The workspace attaches itself once this returns: a container that cannot be reached now is
  // told to it on the next turn, or its screens would say "syncing" for as long as it stays away.
  if (mCloudToken.isEmpty())
    platform::mainQueue().async([weakSelf] {
      auto self = weakSelf.lock();
      if (self && self->mCloudToken.isEmpty() && self->mCloudDocURL.isEmpty())
        self->report([&](PersistenceStateDelegate& d) { d.statusChange(PersistenceStateStatusUnavailable, self.get()); });
    });
}

CloudMode::~CloudMode() { leaveState(); }

void CloudMode::fetchCloudDocumentsDirectoryURL(std::function<void(const QString&)> block) {
  if (!block) return;
  platform::LocalFolderContainer::fetchDocumentsFolder(std::move(block));
}

// As the monitor last read it off the main thread: the container may sit on a mount that hangs.
QString CloudMode::currentCloudToken() { return platform::IdentityMonitor::shared()->token(); }

void CloudMode::report(const std::function<void(PersistenceStateDelegate&)>& message) {
  if (mDead) return;
  // A listener may close the workspace, dropping the last other hold on this mode.
  const auto keepAlive = shared_from_this();
  if (auto d = delegate()) message(*d);
}

QString CloudMode::description() const {
  return QStringLiteral("CloudMode(0x%1 %2)").arg(reinterpret_cast<quintptr>(this), 0, 16).arg(mCloudDocURL);
}

// ---- account and container

void CloudMode::checkIfWeCanProceed() {
  if (mDead) return;
  if (mCloudToken.isEmpty()) {
    report([this](PersistenceStateDelegate& d) { d.statusChange(PersistenceStateStatusUnavailable, this); });
    return;
  }
  if (!mCloudDocURL.isEmpty()) return;
  const std::uint64_t generation = ++mLookupGeneration;
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  fetchCloudDocumentsDirectoryURL([weakSelf, generation](const QString& folder) {
    auto self = weakSelf.lock();
    if (!self || self->mDead || generation != self->mLookupGeneration) return;
    self->mCloudDocURL = folder;
    if (folder.isEmpty()) {
      // An account without a usable folder: nothing can be listed until the next change.
      self->report([&](PersistenceStateDelegate& d) { d.statusChange(PersistenceStateStatusUnavailable, self.get()); });
      return;
    }
    self->report([&](PersistenceStateDelegate& d) { d.statusChange(PersistenceStateStatusSynced, self.get()); });
    // The report may have ended the mode.
    if (self->mDead) return;
    self->queryIndexFile();
    platform::NotificationCenter::defaultCenter().post(PersistenceStateChangeNotification);
  });
}

void CloudMode::iCloudAccountAvailabilityChanged() {
  if (mDead) return;
  const QString old = mCloudToken;
  mCloudToken = currentCloudToken();
  if (!old.isEmpty() && mCloudToken != old) {
    mCloudDocURL.clear();
    ++mLookupGeneration;
    ++mScanGeneration;
    report([this](PersistenceStateDelegate& d) { d.statusChange(PersistenceStateStatusUnavailable, this); });
  }
  checkIfWeCanProceed();
}

// ---- the index

void CloudMode::queryIndexFile() {
  dropQuery(mIndexQuery);
  mIndexQueryObserver.stopObserving();
  auto query = platform::MetadataQuery::create();
  query->setSearchFolder(mCloudDocURL);
  query->setNameLike(kIndexPattern);
  mIndexQuery = query;
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  std::weak_ptr<platform::MetadataQuery> weakQuery = query;
  mIndexQueryObserver.observe(platform::kMetadataQueryDidFinishGatheringNotification, query.get(),
                              [weakSelf, weakQuery](const platform::Notification&) {
                                auto self = weakSelf.lock();
                                auto gathered = weakQuery.lock();
                                if (self && gathered) self->indexFileQueryDidFinishGathering(gathered);
                              });
  if (!query->start()) {
    report([this](PersistenceStateDelegate& d) { d.statusChange(PersistenceStateStatusUnavailable, this); });
    softAssertionFailed(__LINE__, "-[CloudMode queryIndexFile]");
  }
}

void CloudMode::indexFileQueryDidFinishGathering(const std::shared_ptr<platform::MetadataQuery>& query) {
  if (mDead) return;
  query->disableUpdates();
  mIndexQueryObserver.stopObserving();
  handleIndexResults(*query);
  query->stop();
  if (mIndexQuery == query) mIndexQuery.reset();
}

void CloudMode::handleIndexResults(const platform::MetadataQuery& query) {
  if (mDead) return;
  for (const platform::MetadataItem& item : query.results()) {
    platform::MetadataQuery::startDownloadingUbiquitousItem(item.path);
    if (IndexDocument::fileNamingSchemeMatches(item.fsName)) {
      openIndexDocumentUntilSuccess(std::make_shared<IndexDocument>(QUrl::fromLocalFile(item.path)));
      return;
    }
  }
  createIndexFile();
}

void CloudMode::createIndexFile() {
  const QString path = mCloudDocURL + QLatin1Char('/') + IndexDocument::standardFileName();
  // Held here, not by the work queue's task: an index lets its file go on the main thread.
  mIndexInFlight = std::make_shared<IndexDocument>(QUrl::fromLocalFile(path));
  // The write may wait seconds for another instance's folder lock: on the work queue.
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  const platform::FilePresenter* identity = mIndexInFlight.get();
  auto& queue = PersistenceController::singleton().workQueue();
  QueuedFileWork::async(queue, QueuedFileWork::Kind::Write, [weakSelf, identity, path](bool) {
    // Another instance may have made the index since the scan: read it rather than replace its list.
    const bool exists = QFileInfo::exists(path);
    QString failure;
    const bool written = !exists && IndexDocument::writeListToFile(path, identity, ProxyList(), &failure);
    platform::mainQueue().async([weakSelf, identity, path, exists, written, failure] {
      auto self = weakSelf.lock();
      if (!self || self->mDead || self->mIndexInFlight.get() != identity) return;
      auto index = std::move(self->mIndexInFlight);
      if (exists) return self->openIndexDocumentUntilSuccess(index);
      if (!written) {
        logLine(QStringLiteral("CloudMode: cannot write a new index at %1: %2").arg(path, failure));
        self->report([&](PersistenceStateDelegate& d) { d.statusChange(PersistenceStateStatusUnavailable, self.get()); });
        return;
      }
      self->subscribeToIndexDocumentChanges(index);
      self->queryCloudDocuments();
    });
  });
}

void CloudMode::openIndexDocumentUntilSuccess(const std::shared_ptr<IndexDocument>& index) {
  if (mDead || !index) return;
  // Reading a big index takes a good part of a second: on the work queue; the list is taken
  // over here.
  mIndexInFlight = index;
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  const platform::FilePresenter* identity = index.get();
  const QString path = index->presentedItemPath();
  auto& queue = PersistenceController::singleton().workQueue();
  QueuedFileWork::async(queue, QueuedFileWork::Kind::Read, [weakSelf, identity, path](bool proceed) {
    auto list = std::make_shared<ProxyList>();
    const bool loaded = proceed && IndexDocument::readListFromFile(path, identity, *list);
    // Another machine's list, left by a sync tool as a conflict copy, names its new documents.
    if (loaded) mergeIndexConflictCopies(path, identity, *list);
    // Bytes that will never read, however often they are read again, go aside; a new list is
    // then made from what is on disk.
    QString failure;
    const QString keptAs = loaded || !proceed ? QString() : setDamagedIndexAside(path, identity, &failure);
    if (!failure.isEmpty()) logLine(QStringLiteral("CloudMode: a damaged index stays: %1").arg(failure));
    platform::mainQueue().async([weakSelf, identity, list, loaded, keptAs] {
      auto self = weakSelf.lock();
      if (!self || self->mDead || self->mIndexInFlight.get() != identity) return;
      auto index = std::move(self->mIndexInFlight);
      if (loaded) {
        index->setIdeaProxyList(std::move(*list));
        self->subscribeToIndexDocumentChanges(index);
        self->queryCloudDocuments();
        return;
      }
      if (!keptAs.isEmpty()) {
        logLine(QStringLiteral("CloudMode: the index does not read; it is kept as %1").arg(keptAs));
        // Told by the iCloud screen showing now, or else by the next one shown.
        const QString message = damagedIndexMessage(keptAs);
        leaveCloudNotice(message);
        platform::NotificationCenter::defaultCenter().post(CloudIndexSetAsideNotification, nullptr,
                                                           {{kCloudNoticeMessageKey, message}});
        if (!self->mDead) self->createIndexFile();
        return;
      }
      platform::mainQueue().afterSeconds(kIndexRetrySeconds, [weakSelf, index] {
        if (auto self = weakSelf.lock()) self->openIndexDocumentUntilSuccess(index);
      });
    });
  });
}

void CloudMode::subscribeToIndexDocumentChanges(const std::shared_ptr<IndexDocument>& index) {
  mIndexObserver.stopObserving();
  mSubscribedIndexDocument = index;
  index->resolvePotentialConflict();
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  mIndexObserver.observe(IndexDocumentChangedNotification, index.get(), [weakSelf](const platform::Notification&) {
    if (auto self = weakSelf.lock()) self->indexDocumentStateChanged();
  });
}

void CloudMode::indexDocumentStateChanged() {
  if (mDead || !mSubscribedIndexDocument) return;
  // A walk under way reports the old list: it stops now, and a new one starts once the index
  // is read again.
  dropQuery(mQuery);
  mQueryObserver.stopObserving();
  mSubscribedIndexDocument->resolvePotentialConflict();
  openIndexDocumentUntilSuccess(mSubscribedIndexDocument);
}

// ---- the documents

void CloudMode::queryCloudDocuments() {
  dropQuery(mQuery);
  mQueryObserver.stopObserving();
  ++mScanGeneration;
  // Copies the user sees as documents stay documents when their document turns up.
  QSet<QString> listedCopies = listedConflictCopies();
  platform::releaseInBackground(std::exchange(mFilesFound, {}));
  auto query = platform::MetadataQuery::create();
  query->setSearchFolder(mCloudDocURL);
  query->setNameLike(kAllFilesPattern);
  query->setCollectConflictCopiesExcept(std::move(listedCopies));
  mQuery = query;
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  std::weak_ptr<platform::MetadataQuery> weakQuery = query;
  mQueryObserver.observe(platform::kMetadataQueryDidFinishGatheringNotification, query.get(),
                         [weakSelf, weakQuery](const platform::Notification&) {
                           auto self = weakSelf.lock();
                           auto gathered = weakQuery.lock();
                           if (self && gathered) self->queryDidFinishGathering(gathered);
                         });
  query->start();
}

void CloudMode::queryDidFinishGathering(const std::shared_ptr<platform::MetadataQuery>& query) {
  if (mDead) return;
  query->disableUpdates();
  mQueryObserver.stopObserving();
  // Sized once: growing a set of thousands of names would rehash it all in one turn.
  mFilesFound.reserve(qsizetype(query->resultCount()));
  doHandleQueryResultsFromIndex(0, query);
}

void CloudMode::doHandleQueryResultsFromIndex(std::size_t index,
                                              const std::shared_ptr<platform::MetadataQuery>& query) {
  if (mDead || query != mQuery) return;
  if (index >= query->resultCount()) {
    const ProxyList proxies = mSubscribedIndexDocument ? mSubscribedIndexDocument->ideaProxyList() : ProxyList();
    QStringList indexed;
    indexed.reserve(qsizetype(proxies.size()));
    for (const IdeaProxyPtr& proxy : proxies)
      if (proxy) indexed << proxy->docIdentifier();
    report([&](PersistenceStateDelegate& d) { d.observeProxyList(proxies, this); });
    report([this](PersistenceStateDelegate& d) { d.statusChange(PersistenceStateStatusChanged, this); });
    if (!mDead && query == mQuery) {
      listUnindexedDocuments(std::move(indexed), mFilesFound, query);
      scheduleNewDocumentsScan();
    }
    return;
  }
  // Results are taken in slices of a bounded time, each on its own main-queue turn: thousands
  // of names cost a few turns, and none holds the main thread long. The list follows on a
  // turn of its own.
  QElapsedTimer slice;
  slice.start();
  do {
    const platform::MetadataItem& item = query->resultAtIndex(index++);
    if (!isPlainDocumentName(item.fsName) || mFilesFound.contains(item.fsName)) continue;
    mFilesFound.insert(item.fsName);
    // Naming the document is all the work there is: nothing to download from a local folder.
    platform::MetadataQuery::startDownloadingUbiquitousItem(item.path);
    const QString identifier = IdeaDocument::docIdentifierFromPath(item.fsName, DocumentLocationICloud);
    report([&](PersistenceStateDelegate& d) { d.foundIdeaDocument(identifier, this); });
    // A listener may have ended the mode or replaced the walk.
    if (mDead || query != mQuery) return;
  } while (index < query->resultCount() && slice.nsecsElapsed() < kWalkSliceNanoseconds);
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  platform::mainQueue().async([weakSelf, index, query] {
    if (auto self = weakSelf.lock()) self->doHandleQueryResultsFromIndex(index, query);
  });
}

QSet<QString> CloudMode::listedConflictCopies() const {
  QStringList names(mFilesFound.cbegin(), mFilesFound.cend());
  if (mSubscribedIndexDocument)
    for (const IdeaProxyPtr& proxy : mSubscribedIndexDocument->ideaProxyList())
      if (proxy) names << IdeaDocument::pathFromIdentifier(proxy->docIdentifier());
  return conflictCopyNames(names);
}

void CloudMode::scheduleNewDocumentsScan() {
  const std::uint64_t generation = ++mScanGeneration;
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  platform::mainQueue().afterSeconds(kNewDocumentsScanSeconds, [weakSelf, generation] {
    auto self = weakSelf.lock();
    if (!self || self->mDead || generation != self->mScanGeneration || self->mCloudDocURL.isEmpty()) return;
    scanForNewDocuments(self->mCloudDocURL, self->mFilesFound, self->listedConflictCopies(),
                        [weakSelf, generation](const QStringList& added) {
                          auto self = weakSelf.lock();
                          if (self && !self->mDead && generation == self->mScanGeneration)
                            self->listNewDocuments(added);
                        });
  });
}

void CloudMode::listNewDocuments(const QStringList& added) {
  QStringList names;
  for (const QString& name : added) {
    if (!isPlainDocumentName(name) || mFilesFound.contains(name)) continue;
    mFilesFound.insert(name);
    names << name;
    const QString identifier = IdeaDocument::docIdentifierFromPath(name, DocumentLocationICloud);
    report([&](PersistenceStateDelegate& d) { d.foundIdeaDocument(identifier, this); });
    if (mDead) return;
  }
  const std::uint64_t generation = mScanGeneration;
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  listDocuments(names, [weakSelf, generation] {
    auto self = weakSelf.lock();
    if (self && !self->mDead && generation == self->mScanGeneration) self->scheduleNewDocumentsScan();
  });
}

void CloudMode::stopQueries() {
  dropQuery(mQuery);
  dropQuery(mIndexQuery);
  mQueryObserver.stopObserving();
  mIndexQueryObserver.stopObserving();
}

void CloudMode::leaveState() {
  mDead = true;
  ++mScanGeneration;
  mCloudDocURL.clear();
  mCloudToken.clear();
  stopQueries();
  platform::releaseInBackground(std::exchange(mFilesFound, {}));
  mAccountObserver.stopObserving();
  mIndexObserver.stopObserving();
  mIdentityMonitor.reset();
  mIndexInFlight.reset();
}

// ---- document operations

QUrl CloudMode::createFileURLForFileName(const QString& path) const {
  if (mCloudDocURL.isEmpty() || !isPlainDocumentName(path)) return {};
  return QUrl::fromLocalFile(mCloudDocURL + QLatin1Char('/') + path);
}

QUrl CloudMode::urlForIdentifier(const QString& docIdentifier) const {
  const QUrl url = createFileURLForFileName(IdeaDocument::pathFromIdentifier(docIdentifier));
  if (url.isEmpty() && !mCloudDocURL.isEmpty())
    logLine(QStringLiteral("CloudMode: \"%1\" names no document file of the container").arg(docIdentifier));
  return url;
}

void CloudMode::openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) {
  // While the folder is away no download is under way: the user hears where it was looked for.
  if (doc && mCloudDocURL.isEmpty()) doc->noteOpenFailure(folderAwayReason());
  const QUrl url = doc ? urlForIdentifier(doc->docIdentifier()) : QUrl();
  if (url.isEmpty()) {
    if (completion) completion(0);
    return;
  }
  doc->openFromURL(url, [doc, completion = std::move(completion)](DocumentToken token) mutable {
    const bool toldWhy = !doc->lastUserFriendlyError().isEmpty() || doc->lastError().isCancelled();
    if (token >= 1 || toldWhy) {
      if (completion) completion(token);
      return;
    }
    // The folder may have gone since this mode last looked (the next poll tells it); then the
    // file is not one still downloading.
    platform::LocalFolderContainer::fetchDocumentsFolder(
        [doc, completion = std::move(completion)](const QString& folder) {
          if (folder.isEmpty()) doc->noteOpenFailure(folderAwayReason());
          if (completion) completion(0);
        });
  });
}

void CloudMode::createDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) {
  const QUrl url = doc ? urlForIdentifier(doc->docIdentifier()) : QUrl();
  if (url.isEmpty()) {
    if (completion) completion(0);
    return;
  }
  // A document made here is no new document for the next look at the folder.
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  doc->createAtURL(url, [weakSelf, name = doc->filePath(), completion = std::move(completion)](DocumentToken token) {
    if (auto self = weakSelf.lock(); self && token >= 1) self->mFilesFound.insert(name);
    if (completion) completion(token);
  });
}

void CloudMode::updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                               BoolCompletion completion) {
  if (mCloudDocURL.isEmpty() || !doc) {
    // The edit stays in memory and is written once the folder is back; the user hears why.
    if (doc) doc->noteWriteFailure(folderAwayReason());
    if (completion) completion(false);
    return;
  }
  doc->updateWithToken(token, std::move(completion));
}

void CloudMode::closeDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                              BoolCompletion completion) {
  if (!doc) {
    if (completion) completion(false);
    return;
  }
  doc->closeWithToken(token, std::move(completion));
}

void CloudMode::deleteDocument(const QString& docIdentifier, BoolCompletion completion) {
  const QUrl url = urlForIdentifier(docIdentifier);
  if (url.isEmpty()) {
    if (completion) completion(false);
    return;
  }
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  const QString path = url.toLocalFile();
  doDeleteFileAtURL(url, [weakSelf, path, completion = std::move(completion)](bool deleted) {
    auto answer = [completion](bool result) {
      if (completion) completion(result);
    };
    if (!deleted) return answer(false);
    // A file of that name brought later is a new document.
    if (auto self = weakSelf.lock()) self->mFilesFound.remove(QFileInfo(path).fileName());
    // The user was asked about this document only: other machines' versions of it that were
    // never settled stay, as documents of their own, listed before the deletion is told.
    PersistenceController::singleton().workQueue().async([weakSelf, path, answer] {
      QStringList restored;
      {
        platform::ProcessLock lock(QFileInfo(path).absolutePath());
        restored = platform::FileVersion::restoreVersionsAsDocuments(path);
      }
      platform::mainQueue().async([weakSelf, restored, answer] {
        auto self = weakSelf.lock();
        if (!self || self->mDead || restored.isEmpty()) return answer(true);
        self->listDocuments(restored, [answer] { answer(true); });
      });
    });
  });
}

void CloudMode::listUnindexedDocuments(QStringList indexed, QSet<QString> found,
                                       const std::shared_ptr<platform::MetadataQuery>& query) {
  // Documents no index names (brought by a sync tool, or a conflict copy of no document) are
  // read and listed after the index's list: nothing on disk stays out of sight. Thousands of
  // names are compared off the main thread.
  // The worker gets a set of its own: one still shared with the main thread's would be written
  // in place by the main thread as soon as the worker's first removal detached it, while the
  // worker may still be reading the data they shared.
  found.detach();
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  std::weak_ptr<platform::MetadataQuery> weakQuery = query;
  platform::globalQueue(platform::QueuePriority::Default)
      .async([weakSelf, weakQuery, indexed = std::move(indexed), found = std::move(found)]() mutable {
        for (const QString& identifier : std::as_const(indexed))
          found.remove(IdeaDocument::pathFromIdentifier(identifier));
        QStringList unindexed(found.cbegin(), found.cend());
        unindexed.sort();
        if (unindexed.isEmpty()) return;
        platform::mainQueue().async([weakSelf, weakQuery, unindexed] {
          auto self = weakSelf.lock();
          auto query = weakQuery.lock();
          if (self && !self->mDead && query && query == self->mQuery) self->listDocuments(unindexed, nullptr);
        });
      });
}

void CloudMode::listDocuments(const QStringList& names, std::function<void()> done) {
  listDocumentsInto(names, std::make_shared<ProxyList>(), std::move(done));
}

void CloudMode::listDocumentsInto(const QStringList& names, const std::shared_ptr<ProxyList>& listed,
                                  std::function<void()> done) {
  if (mDead || names.isEmpty()) {
    if (!mDead) indexListedDocuments(*listed);
    if (done) done();
    return;
  }
  // One at a time: a container brought in whole is read document by document.
  const QString identifier = IdeaDocument::docIdentifierFromPath(names.front(), DocumentLocationICloud);
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  fetchDocument(identifier, [weakSelf, rest = names.mid(1), listed, done](const std::shared_ptr<IdeaDocument>& doc) {
    auto self = weakSelf.lock();
    if (!self) {
      if (done) done();
      return;
    }
    if (doc && !self->mDead) {
      const IdeaProxyPtr proxy = IdeaProxy::createWithDoc(doc);
      listed->push_back(proxy);
      self->report([&](PersistenceStateDelegate& d) { d.observeIdeaProxy(proxy, self.get()); });
    }
    self->listDocumentsInto(rest, listed, done);
  });
}

void CloudMode::indexListedDocuments(const ProxyList& listed) {
  // What is listed is also in the index: another instance, and the next start, list it too.
  if (listed.empty() || mCloudDocURL.isEmpty() || !mSubscribedIndexDocument) return;
  ProxyList list = mSubscribedIndexDocument->ideaProxyList();
  QSet<QString> indexed;
  for (const IdeaProxyPtr& proxy : list)
    if (proxy) indexed.insert(proxy->docIdentifier());
  bool added = false;
  for (const IdeaProxyPtr& proxy : listed)
    if (proxy && !indexed.contains(proxy->docIdentifier())) {
      indexed.insert(proxy->docIdentifier());
      list.push_back(proxy);
      added = true;
    }
  if (added) saveProxyList(list);
}

void CloudMode::fetchDocument(const QString& docIdentifier, DocumentCompletion completion) {
  const QUrl url = urlForIdentifier(docIdentifier);
  if (url.isEmpty()) {
    if (completion) completion(nullptr);
    return;
  }
  auto doc = IdeaDocument::createWithIdentifier(docIdentifier);
  doc->readFromURL(url, [doc, completion = std::move(completion)](bool success) {
    if (completion) completion(success ? doc : nullptr);
  });
}

void CloudMode::fetchIdea(const QString& docIdentifier, std::function<void(std::shared_ptr<Idea>)> completion) {
  fetchDocument(docIdentifier, [completion = std::move(completion)](const std::shared_ptr<IdeaDocument>& doc) {
    if (completion) completion(doc ? doc->idea() : nullptr);
  });
}

void CloudMode::saveProxyList(const ProxyList& proxies) {
  if (mCloudDocURL.isEmpty() || !mSubscribedIndexDocument) return;
  mSubscribedIndexDocument->setIdeaProxyList(proxies);
  mSubscribedIndexDocument->saveBinaryToURL(mSubscribedIndexDocument->presentedItemURL(), nullptr);
}

void CloudMode::doDeleteFileAtURL(const QUrl& url, BoolCompletion completion) {
  const QString path = url.toLocalFile();
  PersistenceController::singleton().workQueue().async([path, completion = std::move(completion)] {
    bool gone = false;
    platform::FileCoordinator coordinator;
    const bool granted = coordinator.coordinateWriting(path, [&gone](const QString& file) {
      const QFileInfo info(file);
      if (!info.exists() && !info.isSymLink()) {
        gone = true;
        return;
      }
      QFile doomed(file);
      gone = doomed.remove();
      if (!gone) logLine(QStringLiteral("CloudMode: cannot delete %1: %2").arg(file, doomed.errorString()));
    });
    if (!granted) logLine(QStringLiteral("CloudMode: cannot coordinate the deletion of %1").arg(path));
    const bool deleted = granted && gone;
    platform::mainQueue().async([completion, deleted] {
      if (completion) completion(deleted);
    });
  });
}

}  // namespace orrery
