// The Dropbox engine's mirror folder: file names, the status file, start-up, the local index
// and loading documents from mirror files.

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

#include <sys/stat.h>
#include <unistd.h>

namespace orrery {

namespace rules = dropboxrules;

namespace {

// The status queue rests this many times as long as its last write took, at most the cap.
constexpr int kStatusRestPerWrite = 3;
constexpr std::chrono::milliseconds kMaxStatusRest(50);

// Made names share one counter, incremented before use under one lock.
QString makeName(const char* format) {
  static std::mutex mutex;
  static long counter = 0;
  std::lock_guard lock(mutex);
  return QString::asprintf(format, long(Globals::currentTimeMillis()), ++counter);
}

QSet<QString> namesOf(const DocumentInfoPtr& record) {
  QSet<QString> names;
  if (!record) return names;
  for (const SyncFileInfoPtr* info : {&record->input(), &record->current(), &record->output()})
    if (SyncFileInfo::hasFile(*info)) names.insert((*info)->name());
  return names;
}

// Kept for a later look, whatever it is: renamed, never opened or copied, so a FIFO does not
// hold the queue and a folder keeps what it holds.
void setStatusFileAside(const QString& path) {
  const QString backup = QFileInfo(path).dir().filePath(QLatin1String(DropboxFolderManager::kStatusBackupName));
  const QByteArray from = QFile::encodeName(path), to = QFile::encodeName(backup);
  struct stat st {};
  if (::lstat(to.constData(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(to.constData());
  const bool kept = ::rename(from.constData(), to.constData()) == 0;
  const int error = errno;
  logLine(QStringLiteral("Dropbox: the sync state %1 is unreadable; %2")
              .arg(path, kept ? QStringLiteral("kept as ") + backup
                              : QStringLiteral("it could not be set aside: ") + QString::fromLocal8Bit(std::strerror(error))));
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
  if (readRegularFile(path, /*maxBytes=*/-1, bytes, &why) == RegularFileRead::Read) return true;
  logLine(QStringLiteral("Dropbox: cannot read %1: %2").arg(path, why));
  return false;
}

// The counter starts afresh in every process and the time has whole seconds: a process started
// again within the same second would make its predecessor's names again, and the start-up
// clean-up of the old file would remove the new one. A name already present is skipped.
QString DropboxFolderManager::unusedLocalName(const char* format) {
  for (;;) {
    const QString name = makeName(format);
    if (!hasLocalManagedFile(name) && !mState->filesToReallyDelete().contains(localManagedFile(name))) return name;
  }
}

QString DropboxFolderManager::createLocalORRXFileName() { return unusedLocalName("file%ld_%ld.orrx"); }
QString DropboxFolderManager::createLocalIndexFileName() { return unusedLocalName("file%ld_%ld.index"); }

QString DropboxFolderManager::createDropboxIndexFilePath() {
  return rules::dropboxPathForFile(QLatin1String(rules::kIndexFileName));
}

QString DropboxFolderManager::createDropboxORRXFileName() {
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
  workQueue().async([paths] {
    for (const QString& path : paths) QFile::remove(path);
  });
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
  mStatusWriteInFlight = true;
  mStatusWriteRequested = false;
  auto waiting = std::make_shared<std::vector<std::function<void(bool)>>>(std::move(mStatusWaiting));
  mStatusWaiting.clear();
  // Only the records changed since the last write cross over: a snapshot sharing the live map
  // would make the next change copy all of it, and the status queue encodes only those.
  const QString path = localManagedFile(QLatin1String(DropboxFolderManagerState::kStatusFileName));
  mStatusQueue->async([weak = weak_from_this(), written = mWrittenRecords, changes = std::exchange(mUnwrittenRecords, {}),
                       version = mState->fileFormatVersion(), index = mState->indexDocumentInfo(), waiting,
                       path]() mutable {
    const auto start = std::chrono::steady_clock::now();
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) written->store(it.key(), it.value());
    changes.clear();
    const bool ok = DropboxFolderManagerState::writeDataAtomically(written->exportWith(version, index), path);
    if (!ok) logLine(QStringLiteral("Dropbox: the sync state could not be written to %1").arg(path));
    const auto took = std::chrono::steady_clock::now() - start;
    platform::mainQueue().async([weak, waiting, ok] {
      auto self = weak.lock();
      if (!self) return;
      self->mStatusWriteInFlight = false;
      // A saved change always gets a pass; after a failed write the idle passes pace the retries.
      if (ok) self->ensureRunnable();
      for (auto& completion : *waiting)
        if (completion) completion(ok);
      if (self->mStatusWriteRequested || !self->mStatusWaiting.empty()) self->startStatusWrite();
    });
    // The queue rests before the next write, which then serves everything asked for
    // meanwhile: with saves coming faster than writes, the writes would otherwise take a core
    // of their own, which a loaded machine takes from the engine's other work.
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(took * kStatusRestPerWrite, kMaxStatusRest));
  });
}

// ---- start-up

bool DropboxFolderManager::action_initializeFolderStatus() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.isLocalStatusFileLoaded()) return false;
  if (!ensureLocalManagedFolder())
    logLine(QStringLiteral("Dropbox: cannot make the mirror folder %1").arg(localManagedFolder()));
  s.setHasPendingGeneralOperation(true);
  const QString path = localManagedFile(QLatin1String(DropboxFolderManagerState::kStatusFileName));
  loadLocalStatus(path, [weak = weak_from_this()](const StatusRead& read) {
    auto self = weak.lock();
    if (!self) return;
    if (read.state) {
      self->finishStartUp(read);
      return;
    }
    if (read.unreadable) softAssertionFailed(__LINE__, "-[DropboxFolderManager action_initializeFolderStatus]");
    self->startWithMapsWithoutRecords(read.mapsWithoutRecords);
    self->saveOrCreateLocalStatus([weak](bool ok) {
      auto self = weak.lock();
      if (!self) return;
      // Either way the flag goes: a failed first write is tried again by the next pass.
      self->mState->setHasPendingGeneralOperation(false);
      if (ok)
        self->mState->setIsLocalStatusFileLoaded(true);
      else
        softAssertionFailed(__LINE__, "-[DropboxFolderManager action_initializeFolderStatus]");
    });
  });
  return true;
}

void DropboxFolderManager::loadLocalStatus(const QString& path, std::function<void(const StatusRead&)> completion) {
  mStatusReadInFlight = true;
  mStatusQueue->async([weak = weak_from_this(), path, completion = std::move(completion)] {
    const QFileInfo at(path);
    StatusRead read;
    const bool present = at.exists() || at.isSymLink();
    if (present) read.state = DropboxFolderManagerState::readFrom(path);
    if (read.state) {
      sortMirrorFiles(at.absolutePath(), read);
    } else {
      read.unreadable = present;
      if (present) setStatusFileAside(path);
      // Without records no mirror file is known for what it is; the maps among them stay.
      read.mapsWithoutRecords = newestMapVersionsIn(at.absolutePath());
    }
    platform::mainQueue().async([weak, read = std::move(read), completion] {
      auto self = weak.lock();
      if (!self) return;
      self->mStatusReadInFlight = false;
      completion(read);
    });
  });
}

void DropboxFolderManager::sortMirrorFiles(const QString& folder, StatusRead& read) {
  read.records = rules::filterOutDeletedDocuments(read.state->docs());
  // A status file naming files outside the mirror folder is damaged or hostile: such records
  // are dropped rather than read or uploaded; a map of the mirror among their files is kept
  // like any other no record names.
  qsizetype refused = 0;
  for (auto it = read.records.begin(); it != read.records.end();) {
    if (rules::hasOnlyPlainNames(it.value()) && rules::isDocumentPath(rules::dropboxPathFromFileURL(it.key())) &&
        it.key() == rules::fileURLFromDropboxPath(rules::dropboxPathFromFileURL(it.key()))) {
      ++it;
    } else {
      ++refused;
      it = read.records.erase(it);
    }
  }
  if (refused > 0)
    logLine(QStringLiteral("Dropbox: %1 records of the sync state name no usable file; dropped").arg(refused));

  // Names referred to are gathered once; each mirror file is then one lookup.
  // The index's input is looked at again at every start (finishStartUp): its file is not kept.
  const DocumentInfoPtr& index = read.state->indexDocumentInfo();
  const QSet<QString> indexNames =
      index && rules::hasOnlyPlainNames(index) ? namesOf(index->withInput(SyncFileInfo::EMPTY())) : QSet<QString>();
  QSet<QString> documentNames;
  documentNames.reserve(read.records.size());
  for (const auto& record : read.records) documentNames.unite(namesOf(record));
  const QDir dir(folder);
  QStringList unnamed;
  for (const QFileInfo& file : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    const QString name = file.fileName();
    if (shouldFileBeKept(name, indexNames, documentNames)) continue;
    // A map file no record names may be a map whose record was lost: it is read first. A link
    // is no file of the mirror and is never read, as newestMapVersionsIn reads none.
    if (name.endsWith(QLatin1String(".orrx")) && !file.isSymLink())
      unnamed << name;
    else
      read.filesToDelete.insert(dir.filePath(name));
  }
  UnnamedMapFiles maps = sortUnnamedMapFiles(folder, unnamed, read.records);
  for (const QString& name : maps.older) read.filesToDelete.insert(dir.filePath(name));
  read.newerVersions = std::move(maps.newer);
  read.mapsWithoutRecords = std::move(maps.withoutRecord);
}

void DropboxFolderManager::startWithMapsWithoutRecords(const QStringList& names) {
  // Only an earlier try of this start, whose first write failed, can have left records.
  for (const QString& key : mState->docs().keys()) storeRecord(key, nullptr);
  giveRecordsTo(names);
}

void DropboxFolderManager::giveRecordsTo(const QStringList& names) {
  for (const QString& name : names) {
    const QString key = rules::fileURLFromDropboxPath(rules::dropboxPathForFile(createDropboxORRXFileName()));
    storeRecord(key, DocumentInfo::create(nullptr, nullptr, SyncFileInfo::create(name, QString())));
    report([&](PersistenceStateDelegate& d) { d.foundIdeaDocument(key, this); });
  }
  if (!names.isEmpty())
    logLine(QStringLiteral("Dropbox: maps in %1 without a record: %2; each is kept and sent as a new document")
                .arg(localManagedFolder())
                .arg(names.size()));
}

void DropboxFolderManager::finishStartUp(const StatusRead& read) {
  auto& s = *mState;
  s.setHasPendingGeneralOperation(false);
  s.setIsLocalStatusFileLoaded(true);
  for (auto it = read.records.cbegin(); it != read.records.cend(); ++it) storeRecord(it.key(), it.value());
  if (const auto& index = read.state->indexDocumentInfo(); index && rules::hasOnlyPlainNames(index))
    s.setIndexDocumentInfo(index->withInput(SyncFileInfo::EMPTY()));
  s.filesToReallyDelete().unite(read.filesToDelete);
  // A record written before a later version of its map (an older status file put back) takes
  // that version as its edit, as a save would; the next start finds the one it named older.
  for (auto it = read.newerVersions.cbegin(); it != read.newerVersions.cend(); ++it) {
    const DocumentInfoPtr record = s.docs().value(it.key());
    logLine(QStringLiteral("Dropbox: the record of %1 names an older version than %2; it takes that one")
                .arg(it.key(), it.value()));
    const QString rev = rules::localRevFromDocumentInfo(record);
    storeRecord(it.key(), record->withOutput(SyncFileInfo::create(it.value(), rev)));
  }
  for (auto it = read.records.cbegin(); it != read.records.cend(); ++it)
    report([&](PersistenceStateDelegate& d) { d.foundIdeaDocument(it.key(), this); });
  giveRecordsTo(read.mapsWithoutRecords);
  if (!read.newerVersions.isEmpty() || !read.mapsWithoutRecords.isEmpty()) saveOrCreateLocalStatus();
}

// ---- the local index

void DropboxFolderManager::readIndex(const QString& name, std::function<void(bool, const ProxyList&)> completion) {
  // The index reader would wait on a FIFO: anything but a regular file is unreadable here.
  if (name.isEmpty() || !fileExists(localManagedFile(name))) {
    if (!name.isEmpty())
      logLine(QStringLiteral("Dropbox: the index %1 is unreadable: missing or not a regular file").arg(localManagedFile(name)));
    platform::mainQueue().async([completion] { completion(false, {}); });
    return;
  }
  auto index = IndexJSONDocument::createWithFileURL(QUrl::fromLocalFile(localManagedFile(name)), workQueue());
  index->readJSONWithCompletionHandler([weak = weak_from_this(), index, completion](bool ok, const DocumentError& error) {
    // The quit dropped the read: the index file stays known and is read at the next turn.
    if (error.isCancelled()) {
      if (auto self = weak.lock()) self->mState->setHasPendingGeneralOperation(false);
      return;
    }
    if (!ok) logLine(QStringLiteral("Dropbox: the index %1 is unreadable: %2").arg(index->fileURL().toLocalFile(), error.description));
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
      if (!ok) return;
      st.setIsIndexDocumentAvailable(true);
      st.setIndexDocumentInfo(st.indexDocumentInfo()->withOutput(SyncFileInfo::create(name, QString())));
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
      self->report([&](PersistenceStateDelegate& d) { d.observeProxyList(proxies, self.get()); });
      self->ensureNewLocalDocumentsToBeLoadedAsProxies(proxies);
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
  for (auto it = docs.cbegin(); it != docs.cend(); ++it)
    if (!listed.contains(it.key())) mState->documentsToLoadAsProxies().insert(it.key());
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
                 if (completion) completion(static_cast<bool>(doc));
               });
}

void DropboxFolderManager::keepRemoteVersionBesideQueuedSave(const QString& key, const SyncFileInfoPtr& info) {
  // The record already stands on the downloaded rev, so the queued save uploads over it; the
  // downloaded file goes up again under a new name, as the conflict rule does.
  const QString copyKey = dropboxrules::fileURLFromDropboxPath(dropboxrules::dropboxPathForFile(createDropboxORRXFileName()));
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
