// The Dropbox engine's actions, in the order a pass tries them: each answers whether the pass
// stops there, and starts at most one remote operation or one piece of local work.

#include "cloud/dropbox_folder_manager.h"

#include "cloud/dropbox_sync_rules.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"

#include <algorithm>

namespace orrery {

namespace rules = dropboxrules;

// ---- the actions, in pass order

bool DropboxFolderManager::action_ensureDropboxConnectionStatus() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.isLocalStatusFileLoaded()) return false;
  const double now = nowMillis();
  if (hasNetworkConnection()) {
    if (s.perhapsDropboxConnection()) return false;
    // A last answer in the future means the clock went back: that counts as long ago.
    if (mTimeOfLastDataReceived > now || now - mTimeOfLastDataReceived > double(mReconnectDelay)) {
      mTimeOfLastDataReceived = now;
      s.setPerhapsDropboxConnection(true);
      s.setDoWeHaveInitialDropboxFolderListing(false);
      s.setDoWeHaveInitialDropboxFileStatus(false);
      return true;
    }
    return false;
  }
  if (!s.perhapsDropboxConnection()) return false;
  s.setPerhapsDropboxConnection(false);
  platform::NotificationCenter::defaultCenter().post(DropboxNoConnectionNotification);
  return true;
}

bool DropboxFolderManager::action_uploadDropboxChanges() {
  const auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.perhapsDropboxConnection() ||
      !s.isLocalStatusFileLoaded() || !s.doWeHaveInitialDropboxFileStatus() || mKeysToSend.empty())
    return false;
  const QString key = *mKeysToSend.begin();
  const DocumentInfoPtr record = s.docs().value(key);
  if (SyncFileInfo::hasFile(record->output()))
    startUpload(key, record);
  else
    startDelete(key, record);
  return true;
}

void DropboxFolderManager::startUpload(const QString& key, const DocumentInfoPtr& record) {
  const SyncFileInfoPtr output = record->output();
  const QString path = localManagedFile(output->name());
  if (!fileExists(path)) {
    logLine(QStringLiteral("Dropbox: the local copy %1 of %2 is gone; the remote file is checked again")
                .arg(output->name(), key));
    storeRecord(key, DocumentInfo::create(SyncFileInfo::EMPTY(), record->current(), nullptr));
    saveOrCreateLocalStatus();
    return;
  }
  mState->setHasPendingDropboxOperation(true);
  mDropboxClient->uploadFile(path, output->rev(), rules::dropboxPathFromFileURL(key),
                             [weak = weak_from_this(), key, output](const UploadResponse& response) {
                               auto self = weak.lock();
                               if (!self) return;
                               self->mState->setHasPendingDropboxOperation(false);
                               const DocumentInfoPtr now = self->mState->docs().value(key);
                               if (!now) return;
                               self->storeRecord(key, rules::updatedDocInfoAfterUploadResponse(output, response, now));
                               self->saveOrCreateLocalStatus();
                             });
}

void DropboxFolderManager::startDelete(const QString& key, const DocumentInfoPtr& record) {
  mState->setHasPendingDropboxOperation(true);
  mDropboxClient->deleteFile(rules::dropboxPathFromFileURL(key), record->output()->rev(),
                             [weak = weak_from_this(), key](const DeleteResponse& response) {
                               auto self = weak.lock();
                               if (!self) return;
                               self->mState->setHasPendingDropboxOperation(false);
                               const DocumentInfoPtr now = self->mState->docs().value(key);
                               if (!now) return;
                               self->storeRecord(key, rules::updatedDocInfoAfterDeleteResponse(response, now));
                               self->saveOrCreateLocalStatus();
                             });
}

bool DropboxFolderManager::action_downloadDropboxFiles() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.isLocalStatusFileLoaded() ||
      !s.perhapsDropboxConnection() || !s.doWeHaveInitialDropboxFolderListing())
    return false;
  if (!mKeysToDownload.empty()) {
    const QString key = *mKeysToDownload.begin();
    s.setHasPendingDropboxOperation(true);
    s.setHasPendingGeneralOperation(true);
    const QString localName = createLocalORRXFileName();
    mDropboxClient->downloadFile(rules::dropboxPathFromFileURL(key), localManagedFile(localName),
                                 [weak = weak_from_this(), key, localName](const DownloadResponse& response) {
                                   auto self = weak.lock();
                                   if (!self) return;
                                   self->mState->setHasPendingDropboxOperation(false);
                                   self->mState->setHasPendingGeneralOperation(false);
                                   self->applyDownload(key, localName, response);
                                   self->saveOrCreateLocalStatus();
                                 });
    return true;
  }
  if (s.doWeHaveInitialDropboxFileStatus()) return false;
  s.setDoWeHaveInitialDropboxFileStatus(true);
  saveOrCreateLocalStatus();
  return true;
}

void DropboxFolderManager::applyDownload(const QString& key, const QString& localName,
                                         const DownloadResponse& response) {
  const DocumentInfoPtr record = mState->docs().value(key);
  if (response.result() == DropboxResultSuccess && !response.rev().isEmpty()) {
    const SyncFileInfoPtr input = SyncFileInfo::create(localName, response.rev());
    if (!record)
      storeRecord(key, DocumentInfo::create(input, nullptr, nullptr));
    else
      storeResolution(key, record->withInput(input));
    return;
  }
  if (response.result() == DropboxResultNotFound && record) {
    const auto outcome = rules::afterDownloadNotFound(record);
    storeRecord(key, outcome.record);
    if (outcome.reportDeleted) report([&](PersistenceStateDelegate& d) { d.ideaDocumentDeleted(key, this); });
  }
}

void DropboxFolderManager::storeResolution(const QString& key, const DocumentInfoPtr& record) {
  const auto resolution = rules::resolveLoadAndNotifyState(record, [this] { return createDropboxORRXFileName(); });
  if (!resolution.conflictKey.isEmpty()) {
    report([&](PersistenceStateDelegate& d) { d.detectedDocumentConflict(key, this); });
    storeRecord(resolution.conflictKey, resolution.conflictRecord);
    loadDocumentAndNotifyProxy(resolution.conflictKey, resolution.load);
  } else if (resolution.load) {
    loadDocumentAndNotifyProxy(key, resolution.load, /*newRemoteVersion=*/true);
  }
  storeRecord(key, resolution.record);
}

bool DropboxFolderManager::action_resolveDocumentStates() {
  const auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.perhapsDropboxConnection() ||
      !s.isLocalStatusFileLoaded() || s.doWeHaveInitialDropboxFileStatus() || mKeysToResolve.empty())
    return false;
  const QString key = *mKeysToResolve.begin();
  storeResolution(key, s.docs().value(key));
  saveOrCreateLocalStatus();
  return true;
}

bool DropboxFolderManager::action_loadMissingProxies() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.isLocalStatusFileLoaded() ||
      !s.isIndexDocumentAvailable() || s.documentsToLoadAsProxies().isEmpty())
    return false;
  const QString key = *s.documentsToLoadAsProxies().cbegin();
  s.documentsToLoadAsProxies().remove(key);
  const DocumentInfoPtr record = s.docs().value(key);
  const SyncFileInfoPtr info = !record                                   ? nullptr
                               : SyncFileInfo::hasFile(record->output()) ? record->output()
                                                                         : record->current();
  if (SyncFileInfo::hasFile(info))
    loadDocumentAndNotifyProxy(key, info);
  else
    relistAfterStart(key, nullptr);
  return true;
}

bool DropboxFolderManager::action_resolveIndexFileState() {
  auto& s = *mState;
  const DocumentInfoPtr old = s.indexDocumentInfo();
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.isLocalStatusFileLoaded() ||
      !s.perhapsDropboxConnection() || !s.doWeHaveInitialDropboxFileStatus() || !s.isIndexDocumentAvailable() ||
      !old || !SyncFileInfo::hasFile(old->input()))
    return false;
  const DocumentInfoPtr resolved = rules::resolveIndexDocumentState(old);
  s.setHasPendingGeneralOperation(true);
  s.setIndexDocumentInfo(resolved);
  if (SyncFileInfo::areEqual(resolved->current(), old->input()) && !SyncFileInfo::areEqual(old->input(), old->current())) {
    readIndex(resolved->current()->name(), [weak = weak_from_this(), old](bool ok, const ProxyList& proxies) {
      auto self = weak.lock();
      if (!self) return;
      self->mState->setHasPendingGeneralOperation(false);
      if (ok) {
        self->mIndexList = proxies;
        self->report([&](PersistenceStateDelegate& d) { d.observeProxyList(proxies, self.get()); });
        self->ensureNewLocalDocumentsToBeLoadedAsProxies(proxies);
      } else {
        self->mState->setIndexDocumentInfo(old->withInput(nullptr));
      }
      self->saveOrCreateLocalStatus();
    });
  } else {
    saveOrCreateLocalStatus([weak = weak_from_this()](bool) {
      if (auto self = weak.lock()) self->mState->setHasPendingGeneralOperation(false);
    });
  }
  return true;
}

bool DropboxFolderManager::action_downloadIndexFileFromDropbox() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.perhapsDropboxConnection() ||
      !s.isLocalStatusFileLoaded() || !s.indexDocumentInfo() || !SyncFileInfo::isEmpty(s.indexDocumentInfo()->input()))
    return false;
  s.setHasPendingDropboxOperation(true);
  const QString name = createLocalIndexFileName();
  mDropboxClient->downloadFile(createDropboxIndexFilePath(), localManagedFile(name),
                               [weak = weak_from_this(), name](const DownloadResponse& response) {
                                 auto self = weak.lock();
                                 if (!self) return;
                                 auto& st = *self->mState;
                                 st.setHasPendingDropboxOperation(false);
                                 const bool ok = response.result() == DropboxResultSuccess && !response.rev().isEmpty();
                                 st.setIndexDocumentInfo(st.indexDocumentInfo()->withInput(
                                     ok ? SyncFileInfo::create(name, response.rev()) : nullptr));
                                 self->saveOrCreateLocalStatus();
                               });
  return false;
}

bool DropboxFolderManager::action_uploadIndexFileToDropbox() {
  auto& s = *mState;
  const DocumentInfoPtr index = s.indexDocumentInfo();
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.perhapsDropboxConnection() ||
      !s.isLocalStatusFileLoaded() || !s.doWeHaveInitialDropboxFileStatus() || !index || index->input() ||
      !SyncFileInfo::hasFile(index->output()) || !fileExists(localManagedFile(index->output()->name())))
    return false;
  s.setHasPendingDropboxOperation(true);
  tellDelegateAboutSync();
  const SyncFileInfoPtr output = index->output();
  mDropboxClient->uploadFile(localManagedFile(output->name()), output->rev(), createDropboxIndexFilePath(),
                             [weak = weak_from_this(), output](const UploadResponse& response) {
                               auto self = weak.lock();
                               if (!self) return;
                               auto& st = *self->mState;
                               st.setHasPendingDropboxOperation(false);
                               st.setIndexDocumentInfo(
                                   rules::updatedDocInfoAfterUploadResponse(output, response, st.indexDocumentInfo()));
                               self->saveOrCreateLocalStatus();
                             });
  return true;
}

bool DropboxFolderManager::action_listDropboxContents() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.isLocalStatusFileLoaded() ||
      !s.perhapsDropboxConnection() || (s.doWeHaveInitialDropboxFolderListing() && !s.pollFolderASAP()))
    return false;
  s.setHasPendingDropboxOperation(true);
  mDropboxClient->listFolderContents(QString(), [weak = weak_from_this()](const ListFolderResponse& response) {
    auto self = weak.lock();
    if (!self) return;
    auto& st = *self->mState;
    st.setHasPendingDropboxOperation(false);
    st.setPollFolderASAP(false);
    self->mTimeOfLastPoll = nowMillis();
    if (response.result() != DropboxResultSuccess || !response.entries()) return;
    self->markMissingDropboxDocumentsForDownload(*response.entries());
    self->markMissingLocalDocumentsForCheck(*response.entries());
    st.setDoWeHaveInitialDropboxFolderListing(true);
    self->saveOrCreateLocalStatus();
  });
  return false;
}

void DropboxFolderManager::markMissingDropboxDocumentsForDownload(const FileMetadataList& entries) {
  qsizetype refused = 0;
  for (const auto& entry : entries) {
    if (!entry) continue;
    const QString& path = entry->path();
    if (rules::isIndexPath(path)) {
      auto& st = *mState;
      st.setIndexDocumentInfo(rules::markForLoadingIfNeeded(entry->rev(), st.indexDocumentInfo()));
    } else if (rules::isDocumentPath(path)) {
      const QString key = rules::fileURLFromDropboxPath(path);
      const DocumentInfoPtr record = mState->docs().value(key);
      const DocumentInfoPtr marked = rules::markForLoadingIfNeeded(entry->rev(), record);
      if (marked != record) storeRecord(key, marked);
    } else if (path.endsWith(QLatin1String(".orrx"))) {
      ++refused;
    }
  }
  if (refused > 0) logLine(QStringLiteral("Dropbox: %1 listed files with unusable names ignored").arg(refused));
}

void DropboxFolderManager::markMissingLocalDocumentsForCheck(const FileMetadataList& entries) {
  const auto listed = rules::asFileMap(entries);
  std::vector<std::pair<QString, DocumentInfoPtr>> missing;
  const auto& docs = mState->docs();
  for (auto it = docs.cbegin(); it != docs.cend(); ++it) {
    if (listed.contains(it.key())) continue;
    const DocumentInfoPtr marked = rules::markMissingForCheck(it.value());
    if (marked != it.value()) missing.emplace_back(it.key(), marked);
  }
  for (auto& [key, record] : missing) storeRecord(key, std::move(record));
}

bool DropboxFolderManager::action_realFileCleanup() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.hasPendingDropboxOperation() || !s.isLocalStatusFileLoaded() ||
      !s.filesBeingAccessedByLoad().isEmpty() || s.filesToReallyDelete().isEmpty())
    return false;
  QSet<QString> paths;
  paths.swap(s.filesToReallyDelete());
  removeFilesAsync(paths);
  return true;
}

bool DropboxFolderManager::action_performUserTask() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || !s.isLocalStatusFileLoaded() || s.tasksToExecute().isEmpty()) return false;
  const auto task = s.tasksToExecute().front();
  if (task->hasExecuteBeenRequested()) return false;
  s.setHasPendingGeneralOperation(true);
  task->whenReady([weak = weak_from_this(), task = std::weak_ptr<AsyncFutureRunnable>(task)] {
    auto self = weak.lock();
    auto done = task.lock();
    if (!self || !done) return;
    // The task's own completion waits for the status write; the next task need not.
    self->mState->setHasPendingGeneralOperation(false);
    self->mState->tasksToExecute().removeOne(done);
    self->mTaskSteps.erase(done.get());
    self->ensureRunnable();
  });
  task->execute();
  return true;
}

}  // namespace orrery
