// The Dropbox engine's frame: creation, status and notifications, passes and the record index;
// the actions are in dropbox_sync_actions.cpp.

#include "cloud/dropbox_folder_manager.h"

#include <QCoreApplication>
#include <algorithm>

#include "cloud/dropbox_sync_rules.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "platform/cloud/network_probe.h"

namespace orrery {

namespace rules = dropboxrules;

namespace {

DropboxFolderManager::NetworkProbe& networkProbe() {
  static DropboxFolderManager::NetworkProbe probe;
  return probe;
}

}  // namespace

double DropboxFolderManager::nowMillis() { return double(Globals::currentTimeMillis()); }

DropboxFolderManager::NetworkProbe DropboxFolderManager::setNetworkProbe(NetworkProbe probe) {
  return std::exchange(networkProbe(), std::move(probe));
}

bool DropboxFolderManager::hasNetworkConnection() {
  if (const auto& probe = networkProbe()) return probe();
  return platform::hasNetworkConnection();
}

std::shared_ptr<DropboxFolderManager> DropboxFolderManager::createWithLocalFolder(const QString& folderName) {
  auto engine = std::make_shared<DropboxFolderManager>(Tag{}, folderName);
  engine->initialize();
  return engine;
}

DropboxFolderManager::DropboxFolderManager(Tag, QString folderName)
    : mLocalManagedFolder(std::move(folderName)),
      mStatusQueue(std::make_shared<platform::SerialQueue>("orrery.dropbox.status")) {}

DropboxFolderManager::~DropboxFolderManager() { leaveState(); }

void DropboxFolderManager::initialize() {
  setStatus(PersistenceStateStatusInitial);
  mDropboxClient = RemoteFolderClient::create();
  mState = std::make_unique<DropboxFolderManagerState>();
  std::weak_ptr<DropboxFolderManager> weak = weak_from_this();
  auto handler = [weak](void (DropboxFolderManager::*method)()) {
    return [weak, method](const platform::Notification&) {
      if (auto self = weak.lock()) ((*self).*method)();
    };
  };
  mObservers.observe(DropboxInvalidAccessTokenNotification, nullptr,
                     handler(&DropboxFolderManager::observeInvalidAccessToken));
  mObservers.observe(DropboxNoConnectionNotification, nullptr, handler(&DropboxFolderManager::observeNoConnection));
  mObservers.observe(DropboxGotSomeDataNotification, nullptr, handler(&DropboxFolderManager::observeGotSomeData));
  if (auto* app = QCoreApplication::instance())
    mQuitConnection = QObject::connect(app, &QCoreApplication::aboutToQuit, [weak] {
      if (auto self = weak.lock()) self->finishForQuit();
    });
  ensureRunnable();
}

platform::Queue& DropboxFolderManager::workQueue() { return PersistenceController::singleton().workQueue(); }

QString DropboxFolderManager::description() const {
  return QStringLiteral("DropboxFolderManager(%1, status %2)").arg(mLocalManagedFolder).arg(mLastCommunicatedStatus);
}

// ---- status and notifications

void DropboxFolderManager::report(const std::function<void(PersistenceStateDelegate&)>& message) {
  if (auto d = delegate()) message(*d);
}

void DropboxFolderManager::setStatus(std::uint64_t status) {
  mLastCommunicatedStatus = status;
  report([&](PersistenceStateDelegate& d) { d.statusChange(std::int64_t(status), this); });
}

void DropboxFolderManager::tellDelegateAboutSync() {
  if (mLastCommunicatedStatus == PersistenceStateStatusReceiving ||
      mLastCommunicatedStatus == PersistenceStateStatusChanged)
    setStatus(PersistenceStateStatusSynced);
}

void DropboxFolderManager::observeInvalidAccessToken() {
  // A refused token after an assumed connection is a failed reconnect: wait longer next time.
  if (mState->perhapsDropboxConnection()) mReconnectDelay = std::min(mReconnectDelay * 2, kMaxReconnectDelayMillis);
  mState->setPerhapsDropboxConnection(false);
  setStatus(PersistenceStateStatusInvalidAccessToken);
}

void DropboxFolderManager::observeNoConnection() {
  if (!isActive()) return;
  if (mState->perhapsDropboxConnection()) mReconnectDelay = std::min(mReconnectDelay * 2, kMaxReconnectDelayMillis);
  mState->setPerhapsDropboxConnection(false);
  if (mLastCommunicatedStatus != PersistenceStateStatusUnavailable) setStatus(PersistenceStateStatusUnavailable);
}

void DropboxFolderManager::observeGotSomeData() {
  if (!isActive()) return;
  mTimeOfLastDataReceived = nowMillis();
  mReconnectDelay = kReconnectDelayMillis;
  mState->setPerhapsDropboxConnection(true);
  if (mLastCommunicatedStatus == PersistenceStateStatusSynced)
    setStatus(PersistenceStateStatusChanged);
  else if (mLastCommunicatedStatus <= PersistenceStateStatusInvalidAccessToken)
    setStatus(PersistenceStateStatusReceiving);
}

void DropboxFolderManager::leaveState() {
  setDelegate({});
  mObservers.stopObserving();
  if (mQuitConnection) QObject::disconnect(mQuitConnection);
}

// ---- passes

void DropboxFolderManager::ensureRunnable() {
  if (mRunnablesPosted >= 2) return;
  ++mRunnablesPosted;
  platform::mainQueue().async([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->run();
  });
}

void DropboxFolderManager::run() {
  --mRunnablesPosted;
  if (!isActive()) return;
  const bool did = action_ensureDropboxConnectionStatus() || action_uploadDropboxChanges() ||
                   action_downloadDropboxFiles() || action_resolveDocumentStates() || action_loadMissingProxies() ||
                   action_resolveIndexFileState() || action_downloadIndexFileFromDropbox() ||
                   action_uploadIndexFileToDropbox() || action_listDropboxContents() || action_realFileCleanup() ||
                   action_ensureIndexDocumentAvailability() || action_initializeFolderStatus() ||
                   action_performUserTask();
  if (mRunnablesPosted >= 1) return;
  ++mRunnablesPosted;
  auto next = [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->run();
  };
  if (did) {
    platform::mainQueue().async(std::move(next));
    return;
  }
  if (nowMillis() - mTimeOfLastPoll > kPollIntervalMillis) mState->setPollFolderASAP(true);
  platform::mainQueue().afterSeconds(kIdlePassSeconds, std::move(next));
}

bool DropboxFolderManager::isSettled() const {
  const auto& s = *mState;
  const auto& index = s.indexDocumentInfo();
  return s.isLocalStatusFileLoaded() && s.isIndexDocumentAvailable() && s.doWeHaveInitialDropboxFolderListing() &&
         s.doWeHaveInitialDropboxFileStatus() && !s.hasPendingGeneralOperation() && !s.hasPendingDropboxOperation() &&
         !s.pollFolderASAP() && mKeysToSend.empty() && mKeysToDownload.empty() && mKeysToResolve.empty() &&
         s.tasksToExecute().isEmpty() && s.documentsToLoadAsProxies().isEmpty() && s.filesToReallyDelete().isEmpty() &&
         (!index || (!index->input() && !index->output())) && !mStatusWriteInFlight && mStatusWaiting.empty() &&
         mLocalLoadsRunning == 0;
}

bool DropboxFolderManager::isBusyOffMainThread() const {
  const auto running = mRunningStep.lock();
  return mStatusReadInFlight || mStatusWriteInFlight || mLocalLoadsRunning > 0 || (running && !running->applied) ||
         mStatusSide->savesUnderWay.load() > 0;
}

// ---- records

void DropboxFolderManager::indexRecord(const QString& key, const DocumentInfoPtr& record, bool add) {
  auto place = [&](std::set<QString>& keys, bool belongs) {
    if (add && belongs)
      keys.insert(key);
    else if (!add)
      keys.erase(key);
  };
  const bool noInput = !record || !record->input();
  place(mKeysToSend, record && noInput && record->output());
  place(mKeysToDownload, record && SyncFileInfo::isEmpty(record->input()));
  place(mKeysToResolve, record && SyncFileInfo::hasFile(record->input()));
}

void DropboxFolderManager::countFileUses(const QString& key, const DocumentInfoPtr& record, int change, bool givenUp) {
  if (!record) return;
  const SyncFileInfoPtr* infos[] = {&record->input(), &record->current(), &record->output()};
  for (int i = 0; i < 3; ++i) {
    const SyncFileInfoPtr& info = *infos[i];
    if (!SyncFileInfo::hasFile(info)) continue;
    // A file the record names twice counts once, as the first it names.
    bool counted = false;
    for (int j = 0; j < i; ++j) counted = counted || SyncFileInfo::refers(*infos[j], info->name());
    if (counted) continue;
    auto uses = mFileUses.find(info->name());
    if (uses == mFileUses.end()) uses = mFileUses.insert(info->name(), 0);
    *uses += change;
    if (*uses > 0) {
      // Named again (a conflict copy takes the downloaded file): it stays.
      // Looked up first: removing a name it does not hold would still copy a list shared
      // with the start's.
      if (change > 0 && *uses == 1 && mLetGo.contains(info->name()) && mLetGo.remove(info->name()) > 0)
        mState->filesToReallyDelete().remove(localManagedFile(info->name()));
      continue;
    }
    mFileUses.erase(uses);
    // An earlier save of a map that stays waits for the next start: should the newer one turn
    // out unreadable, the start still finds this one.
    letGo(info->name(), givenUp || info != record->output() ? QString() : key);
  }
}

void DropboxFolderManager::letGo(const QString& name, const QString& waitsForStartOf) {
  mLetGo.insert(name, waitsForStartOf);
  if (!waitsForStartOf.isEmpty()) mEarlierSaves[waitsForStartOf].append(name);
}

void DropboxFolderManager::releaseEarlierSaves(const QString& key) {
  for (const QString& name : mEarlierSaves.take(key))
    if (auto it = mLetGo.find(name); it != mLetGo.end() && it.value() == key) it.value().clear();
}

void DropboxFolderManager::storeRecord(const QString& key, DocumentInfoPtr record) {
  auto& docs = mState->docs();
  const auto it = docs.find(key);
  const DocumentInfoPtr before = it != docs.end() ? it.value() : nullptr;
  if (before) indexRecord(key, before, /*add=*/false);
  // The new names first: a file both records name is never let go.
  countFileUses(key, record, +1, /*givenUp=*/false);
  const bool givenUp = !record || SyncFileInfo::isDeleted(record->output()) ||
                       (!SyncFileInfo::hasFile(record->input()) && !SyncFileInfo::hasFile(record->current()) &&
                        !SyncFileInfo::hasFile(record->output()));
  countFileUses(key, before, -1, givenUp);
  // The earlier saves of a map go with it when it is given up, and once the app folder holds
  // a later version, not at the next start.
  if (givenUp || (SyncFileInfo::hasFile(record->current()) && !record->current()->rev().isNull()))
    releaseEarlierSaves(key);
  mUnwrittenRecords.insert(key, record);
  if (!record) {
    docs.remove(key);
    return;
  }
  indexRecord(key, record, /*add=*/true);
  docs.insert(key, std::move(record));
}

}  // namespace orrery
