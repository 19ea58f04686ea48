#pragma once
// The whole working state of the Dropbox folder synchronisation in one record: the engine's
// flags, its queue of user tasks, its file sets, the record of the folder's index file and the
// map from document identifier to DocumentInfo. Only the version, the index record and the
// map are written to the sync-state file "orrery.local.status", with the engine's word on the
// mirror files it let go of; the rest lives in memory.
//
// The live record belongs to the main thread. The work queue only sees a snapshot made with
// initByCopying(), which is O(1): the containers are implicitly shared and detach on the next
// change, and the records they hold are immutable.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

#include "cloud/async_future_runnable.h"
#include "cloud/document_info.h"
#include "model/keyed_coding.h"

namespace orrery {

class DropboxFolderManagerState final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "DropboxFolderManagerState";
  static constexpr char kStatusFileName[] = "orrery.local.status";
  // The member holding the document records; the last one written.
  static constexpr char kDocumentsKey[] = "documents";
  // The engine's own word on its mirror files, in members a reader that does not know them
  // ignores: the highest save number it made (present only in a file the engine wrote, so a
  // start knows whether the lists below are there to be trusted), the files it let go of
  // (written with the status that stops naming them) and the files a start kept by a guess
  // (neither a map of their own nor to be removed).
  static constexpr char kLastMadeKey[] = "lastMade";
  static constexpr char kLetGoKey[] = "letGo";
  static constexpr char kSetAsideKey[] = "setAside";
  // Earlier saves let go of while their map stays, each as its record's key followed by its
  // file name: the next start removes them once the map's newer save reads, and falls back on
  // one when not.
  static constexpr char kEarlierSavesKey[] = "earlierSaves";
  using EarlierSaves = QList<std::pair<QString, QString>>;  // key, file name
  // Larger files are refused unread: a damaged or hostile file must not fill the memory.
  static constexpr qint64 kMaxStatusFileSize = 256LL * 1024 * 1024;

  using TaskList = QList<std::shared_ptr<AsyncFutureRunnable>>;
  using DocumentMap = QHash<QString, DocumentInfoPtr>;

  // The initial values: connection believed, index record (EMPTY, none, none), version "1".
  DropboxFolderManagerState();
  // A snapshot for writing: same version and index record, the flags, and containers holding
  // the same members.
  static std::shared_ptr<DropboxFolderManagerState> initByCopying(const DropboxFolderManagerState& other);
  static std::shared_ptr<KeyedCodable> createWithCoder(KeyedDecoder& coder);

  // The record as JSON; null when it cannot be made.
  QByteArray exportAsData() const;
  // Replaces the file at `path` atomically; false (and the old file kept) on any failure.
  bool writeAtomicallyToURL(const QString& path) const;
  // Replaces the file at `path` atomically with an encoded record; false (and the old file
  // kept) when it is empty or cannot be written.
  static bool writeDataAtomically(const QByteArray& data, const QString& path);
  // The record stored at `path`, or null when it cannot be read or decoded. Anything but a
  // regular file (a FIFO, a folder) is refused without waiting.
  static std::shared_ptr<DropboxFolderManagerState> readFrom(const QString& path);
  // The record in `data`, or null.
  static std::shared_ptr<DropboxFolderManagerState> readFromData(const QByteArray& data);

  // Diagnostic hooks; they write nothing.
  void dumpToLog(const QString& /*prefix*/) const {}
  void dumpCollectionCountToLog(const QString& /*prefix*/, qsizetype /*count*/) const {}

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;

  bool perhapsDropboxConnection() const { return mPerhapsDropboxConnection; }
  void setPerhapsDropboxConnection(bool v) { mPerhapsDropboxConnection = v; }
  bool doWeHaveInitialDropboxFolderListing() const { return mDoWeHaveInitialDropboxFolderListing; }
  void setDoWeHaveInitialDropboxFolderListing(bool v) { mDoWeHaveInitialDropboxFolderListing = v; }
  bool pollFolderASAP() const { return mPollFolderASAP; }
  void setPollFolderASAP(bool v) { mPollFolderASAP = v; }
  bool doWeHaveInitialDropboxFileStatus() const { return mDoWeHaveInitialDropboxFileStatus; }
  void setDoWeHaveInitialDropboxFileStatus(bool v) { mDoWeHaveInitialDropboxFileStatus = v; }
  bool hasPendingGeneralOperation() const { return mHasPendingGeneralOperation; }
  void setHasPendingGeneralOperation(bool v) { mHasPendingGeneralOperation = v; }
  bool hasPendingDropboxOperation() const { return mHasPendingDropboxOperation; }
  void setHasPendingDropboxOperation(bool v) { mHasPendingDropboxOperation = v; }
  bool isLocalStatusFileLoaded() const { return mIsLocalStatusFileLoaded; }
  void setIsLocalStatusFileLoaded(bool v) { mIsLocalStatusFileLoaded = v; }
  bool isIndexDocumentAvailable() const { return mIsIndexDocumentAvailable; }
  void setIsIndexDocumentAvailable(bool v) { mIsIndexDocumentAvailable = v; }
  const DocumentInfoPtr& indexDocumentInfo() const { return mIndexDocumentInfo; }
  void setIndexDocumentInfo(DocumentInfoPtr v) { mIndexDocumentInfo = std::move(v); }
  const QString& fileFormatVersion() const { return mFileFormatVersion; }
  void setFileFormatVersion(QString v) { mFileFormatVersion = std::move(v); }
  QStringList& filesBeingAccessedByLoad() { return mFilesBeingAccessedByLoad; }
  const QStringList& filesBeingAccessedByLoad() const { return mFilesBeingAccessedByLoad; }
  void setFilesBeingAccessedByLoad(QStringList v) { mFilesBeingAccessedByLoad = std::move(v); }
  TaskList& tasksToExecute() { return mTasksToExecute; }
  const TaskList& tasksToExecute() const { return mTasksToExecute; }
  void setTasksToExecute(TaskList v) { mTasksToExecute = std::move(v); }
  QSet<QString>& documentsToLoadAsProxies() { return mDocumentsToLoadAsProxies; }
  const QSet<QString>& documentsToLoadAsProxies() const { return mDocumentsToLoadAsProxies; }
  void setDocumentsToLoadAsProxies(QSet<QString> v) { mDocumentsToLoadAsProxies = std::move(v); }
  QSet<QString>& filesToReallyDelete() { return mFilesToReallyDelete; }
  const QSet<QString>& filesToReallyDelete() const { return mFilesToReallyDelete; }
  void setFilesToReallyDelete(QSet<QString> v) { mFilesToReallyDelete = std::move(v); }
  // Negative: the file holds no word of the engine's on its mirror files.
  qint64 lastMade() const { return mLastMade; }
  void setLastMade(qint64 v) { mLastMade = v; }
  const QStringList& letGo() const { return mLetGo; }
  void setLetGo(QStringList v) { mLetGo = std::move(v); }
  const QStringList& setAside() const { return mSetAside; }
  void setSetAside(QStringList v) { mSetAside = std::move(v); }
  const EarlierSaves& earlierSaves() const { return mEarlierSaves; }
  void setEarlierSaves(EarlierSaves v) { mEarlierSaves = std::move(v); }
  DocumentMap& docs() { return mDocs; }
  const DocumentMap& docs() const { return mDocs; }
  void setDocs(DocumentMap v) { mDocs = std::move(v); }

 private:
  void initialize();

  bool mPerhapsDropboxConnection;
  bool mDoWeHaveInitialDropboxFolderListing;
  bool mPollFolderASAP;
  bool mDoWeHaveInitialDropboxFileStatus;
  bool mHasPendingGeneralOperation;
  bool mHasPendingDropboxOperation;
  bool mIsLocalStatusFileLoaded;
  bool mIsIndexDocumentAvailable;
  DocumentInfoPtr mIndexDocumentInfo;
  QString mFileFormatVersion;
  QStringList mFilesBeingAccessedByLoad;
  TaskList mTasksToExecute;
  QSet<QString> mDocumentsToLoadAsProxies;
  QSet<QString> mFilesToReallyDelete;
  qint64 mLastMade;
  QStringList mLetGo;
  QStringList mSetAside;
  EarlierSaves mEarlierSaves;
  DocumentMap mDocs;
};

}  // namespace orrery
