#pragma once
// The storage engine of the Dropbox location. It keeps a local mirror folder
// (<application support>/dropbox/<folder>) in step with the app folder: one ".orrx" file per
// document at its root and the JSON index "/orrery.index" beside them. All work happens in
// passes on the main queue; a pass tries thirteen actions in a fixed order and stops at the
// first that did something. At most one remote request and one local step run at a time.
//
// Scaling: the actions that look for one record to handle (upload or delete, download,
// resolve) take it from ordered key sets that storeRecord() keeps, so a pass costs O(log N).
// One status-file write is in flight at a time; saves asked for meanwhile are served together
// by the next write, on a queue of its own that is handed only the records changed since.
// A document save writes its mirror file at once, and then a status file naming it, without
// waiting for the main thread (queueDocumentWrite).
//
// Main thread only: passes, actions, notification handlers and completions. Document and
// index files are written and read on PersistenceController's work queue.

#include <QHash>
#include <QMetaObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "cloud/async_future_runnable.h"
#include "cloud/dropbox_folder_manager_state.h"
#include "cloud/encoded_status_records.h"
#include "cloud/mirror_maps.h"
#include "cloud/persistence_state_status.h"
#include "cloud/remote_folder_client.h"
#include "model/persistence_state.h"
#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"

namespace platform {
class QueuedWrite;
}

namespace orrery {

class IdeaDocument;
class IndexJSONDocument;

class DropboxFolderManager final : public PersistenceState, public std::enable_shared_from_this<DropboxFolderManager> {
 public:
  static constexpr std::int64_t kReconnectDelayMillis = 5000;
  static constexpr std::int64_t kMaxReconnectDelayMillis = 5 * 60 * 1000;
  static constexpr std::int64_t kPollIntervalMillis = 30000;
  static constexpr double kIdlePassSeconds = 1.0;
  static constexpr double kQuitBudgetSeconds = 5.0;
  // Document writes queued one after another run as one step of at most this many.
  static constexpr std::size_t kMaxJoinedWrites = 32;
  static constexpr char kStatusBackupName[] = "orrery.local.status.bak";

  using NetworkProbe = std::function<bool()>;
  // Replaces the network probe (null: the platform's); returns the previous one.
  static NetworkProbe setNetworkProbe(NetworkProbe probe);
  static bool hasNetworkConnection();
  // The engine's clock: whole seconds since 1970, in milliseconds.
  static double nowMillis();

  // The engine of the mirror folder `folderName`; posts its first pass.
  static std::shared_ptr<DropboxFolderManager> createWithLocalFolder(const QString& folderName);
  ~DropboxFolderManager() override;

  void ensureRunnable();
  void run();
  bool isActive() const { return static_cast<bool>(delegate()); }
  void tellDelegateAboutSync();
  void observeInvalidAccessToken();
  void observeNoConnection();
  void observeGotSomeData();

  // PersistenceState.
  void leaveState() override;
  void createDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) override;
  void updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                      BoolCompletion completion) override;
  void deleteDocument(const QString& docIdentifier, BoolCompletion completion) override;
  void fetchDocument(const QString& docIdentifier, DocumentCompletion completion) override;
  void openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) override;
  void closeDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) override;
  void saveProxyList(const ProxyList& proxies) override;
  QString description() const override;

  // At quit: writes what queued tasks would write and the status file, waiting at most
  // kQuitBudgetSeconds. Also run when the application is about to quit.
  void finishForQuit();

  // The mirror folder and its files.
  QString localManagedFolder() const;
  QString localManagedFile(const QString& name) const;
  bool ensureLocalManagedFolder() const;
  bool hasLocalManagedFile(const QString& name) const;
  // A regular file is at the path (a FIFO or a folder is none).
  static bool fileExists(const QString& path);
  // Reads a mirror file whole, refusing anything but a regular file without waiting; a
  // failure is logged. Any thread.
  static bool readMirrorFile(const QString& path, QByteArray* bytes);
  QString createLocalORRXFileName();
  QString createLocalIndexFileName();
  QString createDropboxORRXFileName();
  static QString createDropboxIndexFilePath();
  QString newUniqueLocalIndexFile();
  static bool shouldFileBeKept(const QString& name, const QSet<QString>& referencedIndexNames,
                               const QSet<QString>& referencedDocumentNames);

  // Saves the state record; completions run on the main queue with the write's success.
  void saveOrCreateLocalStatus(std::function<void(bool)> completion = nullptr);

  const DropboxFolderManagerState& state() const { return *mState; }
  std::uint64_t lastCommunicatedStatus() const { return mLastCommunicatedStatus; }
  std::int64_t reconnectDelayMillis() const { return mReconnectDelay; }
  // Nothing to do now: no action would act and nothing is in flight.
  bool isSettled() const;
  // A status read or write, a document load or a task's file work runs on another thread.
  bool isBusyOffMainThread() const;
  // Stores a record under the key (null removes it): the one place records change.
  void storeRecord(const QString& key, DocumentInfoPtr record);

 private:
  struct Tag {};

 public:
  DropboxFolderManager(Tag, QString folderName);

 private:
  // One user task: file work for the work queue (null: none), then, on the main thread, the
  // change of records, which gives what waits for the status file (null: nothing).
  struct LocalStep {
    std::function<bool()> work;
    std::function<std::function<void(bool saved)>(bool worked)> apply;
  };
  using StepMaker = std::function<LocalStep()>;
  // The task whose file work runs: applied once, by the main queue or by the quit.
  struct RunningStep {
    std::atomic<bool> done{false};
    bool worked = false;
    bool applied = false;
    std::function<void(bool)> finish;
    void applyOnce(bool ok) {
      if (applied) return;
      applied = true;
      finish(ok);
    }
  };

  void initialize();
  void setStatus(std::uint64_t status);
  void report(const std::function<void(PersistenceStateDelegate&)>& message);
  // `joins`: a document write, which may run as one step with the writes queued right after it.
  void queueTask(StepMaker maker, bool joins = false);
  LocalStep joinQueuedDocumentWrites(AsyncFutureRunnable& head);
  // Writes the document, as it is now, into a new mirror file at once on the work queue, and
  // then a status file naming it on the status queue, both counted as one queued write (the
  // end that cannot wait for the main thread waits for it); its task, in its turn, stores
  // record(old record, name) on success.
  void queueDocumentWrite(const std::shared_ptr<IdeaDocument>& doc,
                          std::function<DocumentInfoPtr(const DocumentInfoPtr&, const QString&)> record,
                          std::function<void(bool)> completion);
  void runTask(AsyncFutureRunnable& task);
  // What a save's own status write needs from the main thread as the save is asked for.
  struct SaveStatus;
  using SaveStatuses = std::vector<std::shared_ptr<SaveStatus>>;
  // The saves asked for whose files the work queue has yet to take: one turn of it writes all
  // of them, and hands the status queue one write for them.
  struct EarlySaves;
  static void writeEarlySaves(const std::shared_ptr<EarlySaves>& early,
                              const std::shared_ptr<platform::SerialQueue>& statusQueue);
  static void writeSaveStatus(SaveStatuses saves);
  platform::Queue& workQueue();

  bool action_ensureDropboxConnectionStatus();
  bool action_uploadDropboxChanges();
  bool action_downloadDropboxFiles();
  bool action_resolveDocumentStates();
  bool action_loadMissingProxies();
  bool action_resolveIndexFileState();
  bool action_downloadIndexFileFromDropbox();
  bool action_uploadIndexFileToDropbox();
  bool action_listDropboxContents();
  bool action_realFileCleanup();
  bool action_ensureIndexDocumentAvailability();
  bool action_initializeFolderStatus();
  bool action_performUserTask();

  void startUpload(const QString& key, const DocumentInfoPtr& record);
  void startDelete(const QString& key, const DocumentInfoPtr& record);
  void applyDownload(const QString& key, const QString& localName, const DownloadResponse& response);
  void storeResolution(const QString& key, const DocumentInfoPtr& record);
  // The listing's rules: listed files newer than their records are marked for download, then
  // records whose file is no longer listed are marked for a check.
  void markMissingDropboxDocumentsForDownload(const FileMetadataList& entries);
  void markMissingLocalDocumentsForCheck(const FileMetadataList& entries);
  // What the start-up read of the status file and the mirror folder found (mirror_maps.h).
  struct StatusRead {
    std::shared_ptr<DropboxFolderManagerState> state;
    bool unreadable = false;  // something was at the path, and it gave no record
    // With a state: its records that stay.
    DropboxFolderManagerState::DocumentMap records;
    // Full paths of the files the start removes, each with its reason: what the status lets
    // go, and files that are no maps and that no record names.
    QHash<QString, QString> filesToDelete;
    // Names the status lets go, or sets aside, that are still there.
    QStringList letGo, setAside;
    UnnamedMapFiles maps;
    // The highest save number of the status and of the folder's file names.
    qint64 highestSaveNumber = -1;
    // The local index as the sort read it, when it had to (its file's name and list).
    std::optional<std::pair<QString, ProxyList>> index;
    // The let-go list the engine starts with: name to the key whose earlier save it is, or empty.
    QHash<QString, QString> letGoAtStart;
    // Record key to its edit, saved after the local index was last written (a kill may have cut
    // the index write off): the home lists it from that file.
    QHash<QString, QString> savedAfterIndex;
  };
  // Record key to its earlier saves, with the records as the start read them.
  struct EarlierSavesToLookAt {
    QHash<QString, QStringList> saves;
    DropboxFolderManagerState::DocumentMap records;
  };
  // Reads the status file and sorts the mirror's files on the status queue (an unreadable
  // status file, whatever it is, is set aside unopened); the completion runs on the main queue.
  void loadLocalStatus(const QString& path, std::function<void(const StatusRead&)> completion);
  // The records of a state read (none without one) and what becomes of each mirror file.
  // Status queue.
  static void sortMirrorFiles(const QString& folder, StatusRead& read);
  void finishStartUp(const StatusRead& read);
  // Each of the mirror files gets a record as a map made here, waiting to be sent, under a
  // new name; `maps`: what the start read of them, for their list entries.
  void giveRecordsTo(const QStringList& names, const QHash<QString, std::shared_ptr<IdeaDocument>>& maps = {});
  // The earlier saves of these records' maps, kept through the start, go once the map's newer
  // save is found to read; a record whose newer save does not read takes the newest that does.
  // The files are read on the status queue; a record that moved on meanwhile keeps them.
  void lookAtEarlierSaves(const EarlierSavesToLookAt& earlier);
  void applyEarlierSavesLookedAt(const QHash<QString, EarlierSavesOf>& asked, const EarlierSavesLookedAt& looked);
  // Counts the mirror files a record names up or down. One no record names any more is let go:
  // written as such with the next status, and removed once that status is on disk, or at the
  // next start when it was the record's edit and the map stays (an earlier save).
  void countFileUses(const QString& key, const DocumentInfoPtr& record, int change, bool givenUp);
  // `waitsForStartOf`: the key whose earlier save it is (removed at the next start); empty when
  // it goes as soon as a status that lets it go is written.
  void letGo(const QString& name, const QString& waitsForStartOf);
  // A status naming these let-go files is on disk: the ones that need not wait for the next
  // start are removed.
  void removeWrittenLetGo(const QStringList& written);
  // The earlier saves of the key's map go as soon as a status naming them is written.
  void releaseEarlierSaves(const QString& key);
  // The persistent members of the state but its records, with the engine's word on its files.
  DropboxFolderManagerState statusHeader() const;
  struct StatusWord {
    QString fileFormatVersion;
    DocumentInfoPtr index;
    qint64 lastMade = -1;
    QHash<QString, QString> letGo;
    QSet<QString> setAside;
  };
  // The same from a copy of the sets, on any thread.
  static DropboxFolderManagerState statusHeaderOf(const StatusWord& word);
  // Copies of the sets as they stand now.
  StatusWord statusWord() const;
  static QSet<QString> fileURLsFromProxyList(const ProxyList& proxies);
  void ensureNewLocalDocumentsToBeLoadedAsProxies(const ProxyList& proxies);
  void loadDocument(const QString& key, const QString& path,
                    std::function<void(std::shared_ptr<IdeaDocument>)> completion);
  // With `newRemoteVersion`, an open copy of the document takes the loaded content and its
  // screens are told to show it.
  void loadDocumentAndNotifyProxy(const QString& key, const SyncFileInfoPtr& info, bool newRemoteVersion = false,
                                  std::function<void(bool)> completion = nullptr);
  void showNewRemoteVersion(const std::shared_ptr<IdeaDocument>& loaded);
  // The list entry of a record a start moved to another file of its map, or whose file is
  // newer than the local index, is read from that file (`doc`, none when it did not read); once
  // every such entry is, the local index is written again with them, so no tile keeps what an
  // older file held.
  void relistAfterStart(const QString& key, const std::shared_ptr<IdeaDocument>& doc);
  void relist(const IdeaProxyPtr& proxy);
  void writeIndexOnceRelisted();
  // The key's list entry is made from its file `name`: from the map the start read of it when
  // there is one (`maps`), else read once the home shows.
  void listFromItsFile(const QString& key, const QString& name,
                       const QHash<QString, std::shared_ptr<IdeaDocument>>& maps);
  // The local index's entries of maps the start read, replaced by what the start read.
  void relistReadAtStart(ProxyList& proxies);
  // The map the start read of the key's file, while its record still names that file.
  std::shared_ptr<IdeaDocument> mapReadAtStart(const QString& key) const;
  // A newer remote version that arrived while a save of the document waited in the queue: it
  // becomes a new document, so neither the save nor the remote version is lost.
  void keepRemoteVersionBesideQueuedSave(const QString& key, const SyncFileInfoPtr& info);
  // A read the quit dropped calls no completion: it only ends the pending operation.
  void readIndex(const QString& name, std::function<void(bool, const ProxyList&)> completion);
  void startStatusWrite();
  // Status queue: the status file of these records; a failure is logged.
  static bool writeStatusFile(const EncodedStatusRecords& records, const DropboxFolderManagerState& header,
                              const QString& path);
  static void restAfterStatusWrite(std::chrono::steady_clock::duration took);
  void removeFilesAsync(const QSet<QString>& paths);
  QString unusedLocalName(const char* format);
  // Names made from now on number above `number`.
  static void noteSaveNumbers(qint64 number);
  // Names are made above every number in the mirror: the start's listing counts them, and a
  // name made before it has counted them counts them first itself.
  void ensureMirrorCounted();

  // Record index: ordered keys of the records each action looks for.
  void indexRecord(const QString& key, const DocumentInfoPtr& record, bool add);

  std::uint64_t mLastCommunicatedStatus = 0;
  std::shared_ptr<RemoteFolderClient> mDropboxClient;
  QString mLocalManagedFolder;
  std::unique_ptr<DropboxFolderManagerState> mState;
  int mRunnablesPosted = 0;
  double mTimeOfLastDataReceived = 0;
  double mTimeOfLastPoll = 0;
  // Grows after each assumed connection that failed, back to the start on an answer.
  std::int64_t mReconnectDelay = kReconnectDelayMillis;
  bool mConnectionAssumedSinceAnswer = false;

  std::set<QString> mKeysToSend;      // no input, an output (file or delete marker)
  std::set<QString> mKeysToDownload;  // input EMPTY
  std::set<QString> mKeysToResolve;   // input with a file
  QHash<QString, int> mFileUses;      // mirror file name: the records naming it
  // Let-go mirror files (written as "letGo"): name to the key whose earlier save it is, empty
  // when it goes once a status naming it is written. Removed files leave with the next write.
  QHash<QString, QString> mLetGo;
  QHash<QString, QStringList> mEarlierSaves;  // key: its let-go files waiting for the next start
  QHash<QString, QString> mRemovalReasons;    // full path: why the start removes it, logged once it is gone
  // Record key to the file and the map a start read of a map that got a record: its list entry
  // needs no second read.
  QHash<QString, std::pair<QString, std::shared_ptr<IdeaDocument>>> mMapsReadAtStart;
  std::optional<std::pair<QString, ProxyList>> mIndexReadAtStart;  // read once, by the start's sort
  std::optional<ProxyList> mIndexList;  // what the local index lists: as read, or as last saved
  QSet<QString> mRelistAtStart;         // keys a start moved to another file, until listed from it
  bool mIndexListChanged = false;
  EarlierSavesToLookAt mEarlierSavesToLookAt;  // kept through the start, looked at once the index is read
  bool mEarlierSavesLookInFlight = false;
  QSet<QString> mSetAside;  // written as "setAside"
  struct TaskStep {
    StepMaker make;
    bool joins = false;
  };
  std::map<const AsyncFutureRunnable*, TaskStep> mTaskSteps;
  std::weak_ptr<RunningStep> mRunningStep;
  // Document writes queued and not yet applied, by key.
  std::map<QString, int> mQueuedWrites;

  // Status file writes: one in flight; requests meanwhile wait for the next one. The status
  // queue keeps the records encoded (mWrittenRecords, touched only there) and is handed the
  // records stored since the last write (null: removed).
  // Shared with the work queue, which hands it a save's own status write.
  std::shared_ptr<platform::SerialQueue> mStatusQueue;
  std::shared_ptr<EncodedStatusRecords> mWrittenRecords = std::make_shared<EncodedStatusRecords>();
  // What the status queue keeps besides the records, for the saves' own writes. Touched only
  // there, but for the atomics.
  struct StatusQueueSide {
    std::uint64_t handed = 0;  // the number of the last write the main thread handed over that has run
    std::shared_ptr<const DropboxFolderManagerState> header;  // that the last write wrote
    // Saves whose own write was left to the next one queued: counted until it has written.
    std::vector<std::shared_ptr<platform::QueuedWrite>> carried;
    std::atomic<int> savesQueued{0};    // saves' own status writes on the status queue, not yet run
    std::atomic<int> savesUnderWay{0};  // saves asked for whose file or own status write has yet to run
    // The quit wrote the last status: a save's own write would set an older one back.
    std::atomic<bool> closed{false};
  };
  std::shared_ptr<StatusQueueSide> mStatusSide = std::make_shared<StatusQueueSide>();
  std::shared_ptr<EarlySaves> mEarlySaves;
  std::uint64_t mStatusWritesHanded = 0;
  DropboxFolderManagerState::DocumentMap mUnwrittenRecords;
  bool mStatusWriteInFlight = false;
  // The start-up read of the status file, until its answer is applied.
  bool mStatusReadInFlight = false;
  // The mirror's names have been counted (the start's status queue, or the first name made);
  // shared with the status queue, which must not hold the engine.
  std::shared_ptr<std::atomic<bool>> mMirrorCounted = std::make_shared<std::atomic<bool>>(false);
  // The start changed what its status file says; the write waits until the home lists the maps.
  bool mStatusWriteAfterListing = false;
  std::vector<std::function<void(bool)>> mStatusWaiting;
  bool mStatusWriteRequested = false;
  int mLocalLoadsRunning = 0;

  platform::ObserverScope mObservers;
  QMetaObject::Connection mQuitConnection;
};

}  // namespace orrery
