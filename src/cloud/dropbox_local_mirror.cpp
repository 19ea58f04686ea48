// The Dropbox engine's mirror folder: file names, the status file and what it lets go of, the local index
// and loading documents from mirror files.

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "cloud/dropbox_folder_manager.h"
#include "cloud/dropbox_sync_rules.h"
#include "cloud/mirror_maps.h"
#include "cloud/regular_file.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "model/idea_document.h"
#include "model/index_json_document.h"
#include "model/persistence_controller.h"
#include "model/workspace_interface.h"
#include "platform/services/standard_folders.h"

namespace orrery {

namespace rules = dropboxrules;

namespace {

// The status queue rests this many times as long as its last write took, at most the cap.
constexpr int kStatusRestPerWrite = 3;
constexpr std::chrono::milliseconds kMaxStatusRest(50);

// Made names share one counter, incremented before use under one lock. It goes on from the
// highest number a mirror holds, so a save made later has a higher one in every process.
std::mutex& counterMutex() {
  static std::mutex mutex;
  return mutex;
}
long& nameCounter() {
  static long counter = 0;
  return counter;
}

QString makeName(const char* format) {
  std::lock_guard lock(counterMutex());
  return QString::asprintf(format, long(Globals::currentTimeMillis()), ++nameCounter());
}

long lastNameNumber() {
  std::lock_guard lock(counterMutex());
  return nameCounter();
}

}  // namespace

// ---- folder and names

QString DropboxFolderManager::localManagedFolder() const {
  return QDir(platform::applicationSupportFolder()).filePath(QStringLiteral("dropbox/") + mLocalManagedFolder);
}

QString DropboxFolderManager::localManagedFile(const QString& name) const {
  return QDir(localManagedFolder()).filePath(name);
}

bool DropboxFolderManager::ensureLocalManagedFolder() const {
  const QFileInfo info(localManagedFolder());
  if (info.exists()) return info.isDir();
  return QDir().mkpath(localManagedFolder());
}

bool DropboxFolderManager::hasLocalManagedFile(const QString& name) const {
  return QFileInfo::exists(localManagedFile(name));
}

bool DropboxFolderManager::fileExists(const QString& path) { return isRegularFile(path); }

bool DropboxFolderManager::readMirrorFile(const QString& path, QByteArray* bytes) {
  QString why;
  if (readRegularFile(path, DocumentLimits::kMaxJSONBytes, bytes, &why) == RegularFileRead::Read) return true;
  logLine(QStringLiteral("Dropbox: cannot read %1: %2").arg(path, why));
  return false;
}

// The counter starts afresh in every process and the time has whole seconds: a process started
// again within the same second would make its predecessor's names again, and the start-up
// clean-up of the old file would remove the new one. A name already present is skipped.
QString DropboxFolderManager::unusedLocalName(const char* format) {
  ensureMirrorCounted();
  for (;;) {
    const QString name = makeName(format);
    if (!hasLocalManagedFile(name) && !mState->filesToReallyDelete().contains(localManagedFile(name))) return name;
  }
}

void DropboxFolderManager::noteSaveNumbers(qint64 number) {
  // A name numbered at the top, which the engine never made, would leave its next save none.
  if (number >= kHighestSaveNumber) return;
  std::lock_guard lock(counterMutex());
  nameCounter() = std::max(nameCounter(), long(number));
}

void DropboxFolderManager::ensureMirrorCounted() {
  if (mMirrorCounted->load(std::memory_order_acquire)) return;
  noteSaveNumbers(highestSaveNumberIn(localManagedFolder()));
  mMirrorCounted->store(true, std::memory_order_release);
}

QString DropboxFolderManager::createLocalORRXFileName() { return unusedLocalName("file%ld_%ld.orrx"); }
QString DropboxFolderManager::createLocalIndexFileName() { return unusedLocalName("file%ld_%ld.index"); }

QString DropboxFolderManager::createDropboxIndexFilePath() {
  return rules::dropboxPathForFile(QLatin1String(rules::kIndexFileName));
}

QString DropboxFolderManager::createDropboxORRXFileName() {
  ensureMirrorCounted();
  for (;;) {
    const QString name = makeName("id%ld_%ld.orrx");
    if (!mState->docs().contains(rules::fileURLFromDropboxPath(rules::dropboxPathForFile(name)))) return name;
  }
}
QString DropboxFolderManager::newUniqueLocalIndexFile() { return localManagedFile(createLocalIndexFileName()); }

bool DropboxFolderManager::shouldFileBeKept(const QString& name, const QSet<QString>& referencedIndexNames,
                                            const QSet<QString>& referencedDocumentNames) {
  if (name.endsWith(QLatin1String(".index"))) return referencedIndexNames.contains(name);
  if (name.endsWith(QLatin1String(".orrx"))) return referencedDocumentNames.contains(name);
  return name.endsWith(QLatin1String(".status")) || name.endsWith(QLatin1String(".bak"));
}

void DropboxFolderManager::removeFilesAsync(const QSet<QString>& paths) {
  QHash<QString, QString> reasons;
  for (const QString& path : paths)
    if (auto it = mRemovalReasons.constFind(path); it != mRemovalReasons.cend())
      reasons.insert(path, mRemovalReasons.take(path));
  workQueue().async([weak = weak_from_this(), paths, reasons] {
    for (const QString& path : paths)
      if (QFile::remove(path) && reasons.contains(path))
        logLine(QStringLiteral("Dropbox: removed %1: %2").arg(path, reasons.value(path)));
    platform::mainQueue().async([weak, paths] {
      auto self = weak.lock();
      if (!self) return;
      // The clean-up is a step like another: what waited behind it need not wait for an idle pass.
      self->ensureRunnable();
      // Gone: the next status no longer lets them go.
      for (const QString& path : paths)
        if (auto it = self->mLetGo.find(QFileInfo(path).fileName()); it != self->mLetGo.end() && it.value().isEmpty())
          self->mLetGo.erase(it);
    });
  });
}

DropboxFolderManager::StatusWord DropboxFolderManager::statusWord() const {
  return {mState->fileFormatVersion(), mState->indexDocumentInfo(), lastNameNumber(), mLetGo, mSetAside};
}

DropboxFolderManagerState DropboxFolderManager::statusHeader() const { return statusHeaderOf(statusWord()); }

DropboxFolderManagerState DropboxFolderManager::statusHeaderOf(const StatusWord& word) {
  DropboxFolderManagerState header;
  header.setFileFormatVersion(word.fileFormatVersion);
  header.setIndexDocumentInfo(word.index);
  header.setLastMade(word.lastMade);
  QStringList letGo, setAside(word.setAside.cbegin(), word.setAside.cend());
  DropboxFolderManagerState::EarlierSaves earlier;
  for (auto it = word.letGo.cbegin(); it != word.letGo.cend(); ++it)
    if (it.value().isEmpty())
      letGo << it.key();
    else
      earlier.append({it.value(), it.key()});
  letGo.sort();
  setAside.sort();
  std::sort(earlier.begin(), earlier.end());
  header.setLetGo(std::move(letGo));
  header.setSetAside(std::move(setAside));
  header.setEarlierSaves(std::move(earlier));
  return header;
}

void DropboxFolderManager::removeWrittenLetGo(const QStringList& written) {
  auto& deleting = mState->filesToReallyDelete();
  for (const QString& name : written)
    if (auto it = mLetGo.constFind(name); it != mLetGo.cend() && it.value().isEmpty())
      deleting.insert(localManagedFile(name));
}

// ---- the status file

void DropboxFolderManager::saveOrCreateLocalStatus(std::function<void(bool)> completion) {
  // The changed records get their pass now: waiting for the write, whose cost grows with the
  // number of records, would make every step as slow as a whole status file.
  ensureRunnable();
  mStatusWaiting.push_back(std::move(completion));
  if (mStatusWriteInFlight)
    mStatusWriteRequested = true;
  else
    startStatusWrite();
}

void DropboxFolderManager::startStatusWrite() {
  // The status's "lastMade" is above every name in the mirror.
  ensureMirrorCounted();
  mStatusWriteInFlight = true;
  mStatusWriteRequested = false;
  mStatusWriteAfterListing = false;
  auto waiting = std::make_shared<std::vector<std::function<void(bool)>>>(std::move(mStatusWaiting));
  mStatusWaiting.clear();
  // Only the records changed since the last write cross over: a snapshot sharing the live map
  // would make the next change copy all of it, and the status queue encodes only those.
  const QString path = localManagedFile(QLatin1String(DropboxFolderManagerState::kStatusFileName));
  // The files let go of travel with the records that stop naming them; the lists are made on
  // the status queue, from the sets as they stand now.
  StatusWord word = statusWord();
  mStatusQueue->async([weak = weak_from_this(), written = mWrittenRecords, side = mStatusSide,
                       number = ++mStatusWritesHanded, changes = std::exchange(mUnwrittenRecords, {}),
                       word = std::move(word), waiting, path]() mutable {
    const auto start = std::chrono::steady_clock::now();
    auto header = std::make_shared<DropboxFolderManagerState>(statusHeaderOf(word));
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) written->store(it.key(), it.value());
    changes.clear();
    side->handed = number;
    side->header = header;
    const bool ok = writeStatusFile(*written, *header, path);
    const auto took = std::chrono::steady_clock::now() - start;
    // The sets' copies go back to be let go of on the main queue: were the last copy here to go
    // first, the main queue could change the sets in place while nothing orders that after
    // the reads above.
    platform::mainQueue().async([weak, waiting, ok, letGo = header->letGo(), word = std::move(word)] {
      auto self = weak.lock();
      if (!self) return;
      self->mStatusWriteInFlight = false;
      if (ok) self->removeWrittenLetGo(letGo);
      // A saved change always gets a pass; after a failed write the idle passes pace the retries.
      if (ok) self->ensureRunnable();
      for (auto& completion : *waiting)
        if (completion) completion(ok);
      if (self->mStatusWriteRequested || !self->mStatusWaiting.empty()) self->startStatusWrite();
    });
    restAfterStatusWrite(took);
  });
}

bool DropboxFolderManager::writeStatusFile(const EncodedStatusRecords& records,
                                           const DropboxFolderManagerState& header, const QString& path) {
  const bool ok = DropboxFolderManagerState::writeDataAtomically(records.exportWith(header), path);
  if (!ok) logLine(QStringLiteral("Dropbox: the sync state could not be written to %1").arg(path));
  return ok;
}

void DropboxFolderManager::restAfterStatusWrite(std::chrono::steady_clock::duration took) {
  // The queue rests before the next write, which then serves everything asked for
  // meanwhile: with saves coming faster than writes, the writes would otherwise take a core
  // of their own, which a loaded machine takes from the engine's other work.
  std::this_thread::sleep_for(
      std::min<std::chrono::steady_clock::duration>(took * kStatusRestPerWrite, kMaxStatusRest));
}

// ---- the local index

void DropboxFolderManager::readIndex(const QString& name, std::function<void(bool, const ProxyList&)> completion) {
  // The index reader would wait on a FIFO: anything but a regular file is unreadable here.
  if (name.isEmpty() || !fileExists(localManagedFile(name))) {
    if (!name.isEmpty())
      logLine(QStringLiteral("Dropbox: the index %1 is unreadable: missing or not a regular file")
                  .arg(localManagedFile(name)));
    platform::mainQueue().async([completion] { completion(false, {}); });
    return;
  }
  // The start's sort read this very file: its list is not read again.
  if (auto atStart = std::exchange(mIndexReadAtStart, std::nullopt); atStart && atStart->first == name) {
    platform::mainQueue().async([completion, proxies = std::move(atStart->second)] { completion(true, proxies); });
    return;
  }
  auto index = IndexJSONDocument::createWithFileURL(QUrl::fromLocalFile(localManagedFile(name)), workQueue());
  index->readJSONWithCompletionHandler(
      [weak = weak_from_this(), index, completion](bool ok, const DocumentError& error) {
        // The quit dropped the read: the index file stays known and is read at the next turn.
        if (error.isCancelled()) {
          if (auto self = weak.lock()) self->mState->setHasPendingGeneralOperation(false);
          return;
        }
        if (!ok)
          logLine(QStringLiteral("Dropbox: the index %1 is unreadable: %2")
                      .arg(index->fileURL().toLocalFile(), error.description));
        completion(ok, index->ideaProxyList());
      });
}

bool DropboxFolderManager::action_ensureIndexDocumentAvailability() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || !s.isLocalStatusFileLoaded() || s.isIndexDocumentAvailable()) return false;
  s.setHasPendingGeneralOperation(true);
  const DocumentInfoPtr index = s.indexDocumentInfo();
  const SyncFileInfoPtr tried = index ? SyncFileInfo::firstNonNull(index->output(), index->current()) : nullptr;
  if (!tried) {
    const QString name = createLocalIndexFileName();
    auto empty = IndexJSONDocument::createWithFileURL(QUrl::fromLocalFile(localManagedFile(name)), workQueue());
    empty->saveJSONToURL(empty->fileURL(), [weak = weak_from_this(), name](bool ok) {
      auto self = weak.lock();
      if (!self) return;
      auto& st = *self->mState;
      st.setHasPendingGeneralOperation(false);
      if (!ok) {
        // The index is tried again; what the start changed is written meanwhile.
        if (self->mStatusWriteAfterListing) self->saveOrCreateLocalStatus();
        return;
      }
      st.setIsIndexDocumentAvailable(true);
      st.setIndexDocumentInfo(st.indexDocumentInfo()->withOutput(SyncFileInfo::create(name, QString())));
      self->mIndexList.emplace();
      self->report([&](PersistenceStateDelegate& d) { d.observeProxyList({}, self.get()); });
      self->ensureNewLocalDocumentsToBeLoadedAsProxies({});
      self->saveOrCreateLocalStatus();
    });
    return true;
  }
  readIndex(tried->name(), [weak = weak_from_this(), tried](bool ok, const ProxyList& proxies) {
    auto self = weak.lock();
    if (!self) return;
    auto& st = *self->mState;
    st.setHasPendingGeneralOperation(false);
    if (ok) {
      st.setIsIndexDocumentAvailable(true);
      ProxyList shown = proxies;
      self->relistReadAtStart(shown);
      self->mIndexList = shown;
      self->report([&](PersistenceStateDelegate& d) { d.observeProxyList(shown, self.get()); });
      self->ensureNewLocalDocumentsToBeLoadedAsProxies(shown);
    } else {
      const DocumentInfoPtr now = st.indexDocumentInfo();
      if (SyncFileInfo::areEqual(now->output(), tried))
        st.setIndexDocumentInfo(now->withOutput(nullptr));
      else if (SyncFileInfo::areEqual(now->current(), tried))
        st.setIndexDocumentInfo(now->withCurrent(nullptr));
    }
    self->saveOrCreateLocalStatus();
  });
  return true;
}

QSet<QString> DropboxFolderManager::fileURLsFromProxyList(const ProxyList& proxies) {
  QSet<QString> urls;
  urls.reserve(qsizetype(proxies.size()));
  for (const auto& proxy : proxies)
    if (proxy) urls.insert(proxy->fileURL());
  return urls;
}

void DropboxFolderManager::ensureNewLocalDocumentsToBeLoadedAsProxies(const ProxyList& proxies) {
  const QSet<QString> listed = fileURLsFromProxyList(proxies);
  const auto& docs = mState->docs();
  for (auto it = docs.cbegin(); it != docs.cend(); ++it) {
    if (listed.contains(it.key())) continue;
    // A map the start read, whose record still names that file, is listed from what was read.
    if (const auto read = mapReadAtStart(it.key()); read && isActive()) {
      auto proxy = std::make_shared<IdeaProxy>();
      proxy->updateWithDoc(read);
      report([&](PersistenceStateDelegate& d) { d.observeIdeaProxy(proxy, this); });
    } else {
      mState->documentsToLoadAsProxies().insert(it.key());
    }
  }
  mMapsReadAtStart.clear();
  writeIndexOnceRelisted();
  if (!mEarlierSavesToLookAt.saves.isEmpty()) lookAtEarlierSaves(std::exchange(mEarlierSavesToLookAt, {}));
}

std::shared_ptr<IdeaDocument> DropboxFolderManager::mapReadAtStart(const QString& key) const {
  const auto read = mMapsReadAtStart.constFind(key);
  const DocumentInfoPtr record = mState->docs().value(key);
  if (read == mMapsReadAtStart.cend() || !record) return nullptr;
  const SyncFileInfoPtr& newest = SyncFileInfo::hasFile(record->output()) ? record->output() : record->current();
  if (!SyncFileInfo::refers(newest, read->first)) return nullptr;
  auto doc = IdeaDocument::createWithFileName(key.section(QLatin1Char('/'), -1), DocumentLocationDropbox);
  doc->takeMapOf(*read->second);
  return doc;
}

void DropboxFolderManager::relistReadAtStart(ProxyList& proxies) {
  if (mMapsReadAtStart.isEmpty()) return;
  for (IdeaProxyPtr& listed : proxies)
    if (const auto read = listed ? mapReadAtStart(listed->docIdentifier()) : nullptr) {
      // Replaced, not changed: the read list may be shared.
      listed = std::make_shared<IdeaProxy>();
      listed->updateWithDoc(read);
      mIndexListChanged = true;
    }
}

// ---- loading documents

void DropboxFolderManager::loadDocument(const QString& key, const QString& path,
                                        std::function<void(std::shared_ptr<IdeaDocument>)> completion) {
  ++mLocalLoadsRunning;
  workQueue().async([weak = weak_from_this(), key, path, completion] {
    QByteArray bytes;
    const bool read = readMirrorFile(path, &bytes);
    platform::mainQueue().async([weak, key, bytes, read, completion] {
      if (auto self = weak.lock()) --self->mLocalLoadsRunning;
      std::shared_ptr<IdeaDocument> doc;
      if (read) {
        doc = IdeaDocument::createWithFileName(key.section(QLatin1Char('/'), -1), DocumentLocationDropbox);
        DocumentError error;
        if (!doc->loadFromOrreryData(bytes, &error)) {
          logLine(QStringLiteral("Dropbox: %1 holds no readable document: %2").arg(key, error.description));
          doc.reset();
        }
      }
      if (completion) completion(doc);
    });
  });
}

void DropboxFolderManager::loadDocumentAndNotifyProxy(const QString& key, const SyncFileInfoPtr& info,
                                                      bool newRemoteVersion, std::function<void(bool)> completion) {
  auto& s = *mState;
  if (!ORRERY_SOFT_ASSERT(!s.hasPendingGeneralOperation(),
                          "-[DropboxFolderManager loadDocumentAndNofifyProxy:fileInfo:onCompletion:]")) {
    if (completion) completion(false);
    return;
  }
  s.setHasPendingGeneralOperation(true);
  loadDocument(key, localManagedFile(info->name()),
               [weak = weak_from_this(), key, info, newRemoteVersion, completion](std::shared_ptr<IdeaDocument> doc) {
                 auto self = weak.lock();
                 if (!self) return;
                 self->mState->setHasPendingGeneralOperation(false);
                 // The engine waits for nothing else: the next step need not wait for an idle pass.
                 self->ensureRunnable();
                 if (doc && newRemoteVersion && self->mQueuedWrites.count(key)) {
                   self->keepRemoteVersionBesideQueuedSave(key, info);
                 } else if (doc && self->isActive()) {
                   auto proxy = std::make_shared<IdeaProxy>();
                   proxy->updateWithDoc(doc);
                   self->report([&](PersistenceStateDelegate& d) { d.observeIdeaProxy(proxy, self.get()); });
                   if (newRemoteVersion) self->showNewRemoteVersion(doc);
                 }
                 self->relistAfterStart(key, doc);
                 if (completion) completion(static_cast<bool>(doc));
               });
}

void DropboxFolderManager::relistAfterStart(const QString& key, const std::shared_ptr<IdeaDocument>& doc) {
  if (!mRelistAtStart.remove(key)) return;
  if (doc && doc->idea()) {
    auto entry = std::make_shared<IdeaProxy>();
    entry->updateWithDoc(doc);
    relist(entry);
  }
  writeIndexOnceRelisted();
}

void DropboxFolderManager::relist(const IdeaProxyPtr& proxy) {
  if (!mIndexList) return;
  // Replaced, not changed: the listed entry may be the workspace's own. Written even when it
  // is the same, so that the index is numbered above the map's file and the next start need
  // not read it again. Seldom more than a few maps: each is looked for in the whole list.
  for (IdeaProxyPtr& listed : *mIndexList)
    if (listed && listed->docIdentifier() == proxy->docIdentifier()) {
      listed = proxy;
      mIndexListChanged = true;
    }
}

void DropboxFolderManager::writeIndexOnceRelisted() {
  if (mRelistAtStart.isEmpty() && std::exchange(mIndexListChanged, false) && mIndexList)
    saveProxyList(*mIndexList);
}

void DropboxFolderManager::keepRemoteVersionBesideQueuedSave(const QString& key, const SyncFileInfoPtr& info) {
  // The record already stands on the downloaded rev, so the queued save uploads over it; the
  // downloaded file goes up again under a new name, as the conflict rule does.
  const QString copyKey =
      dropboxrules::fileURLFromDropboxPath(dropboxrules::dropboxPathForFile(createDropboxORRXFileName()));
  report([&](PersistenceStateDelegate& d) { d.detectedDocumentConflict(key, this); });
  storeRecord(copyKey, DocumentInfo::create(nullptr, nullptr, info));
  saveOrCreateLocalStatus();
  loadDocumentAndNotifyProxy(copyKey, info);
}

void DropboxFolderManager::showNewRemoteVersion(const std::shared_ptr<IdeaDocument>& loaded) {
  // The workspace that owns this engine holds the one object of each of its documents.
  auto workspace = std::dynamic_pointer_cast<WorkspaceInterface>(delegate());
  auto live = workspace ? workspace->findDocument(loaded->docIdentifier()) : nullptr;
  if (!live || live == loaded) return;
  // The open copy takes the new version, so its next save builds on it instead of undoing it.
  live->takeMapOf(*loaded);
  platform::NotificationCenter::defaultCenter().post(IdeaDocumentChangedNotification, live.get());
}

}  // namespace orrery
