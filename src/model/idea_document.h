#pragma once
// One mind-map document: an identifier that says where it lives, the root idea, its dates,
// the instance mark of the process that last wrote its file, and the tokens of the parties
// that have it open. For temporary and local documents it is also the storage engine: open,
// create, save and close go through its file presenter with coordinated file access.
// Main thread only, except where said.

#include "model/document_limits.h"
#include "model/document_location.h"
#include "model/idea_merge.h"

#include "platform/core/dispatch.h"
#include "platform/services/file_presenter.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QUrl>

#include <functional>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace orrery {

class Idea;
class IdeaFilePresenter;
struct WrittenFile;

// What a save writes, taken on the main thread: a copy of the tree nobody changes, the dates
// and the writing instance's mark. Encoded on any thread.
struct DocumentSnapshot {
  std::shared_ptr<Idea> idea;
  QDateTime dateCreated;
  QDateTime dateModified;
  QString writerMark;
  // The file as last read or written (its bytes, decoded only when needed) and its stamp then:
  // a save that finds another stamp merges this instance's changes since into the file's tree.
  QByteArray baseBytes;
  platform::FileStamp baseStamp;
  // Other instances' changes this instance replaced, told to them through the file.
  std::vector<IdeaMergeConflict> replaced;
  // The writing installation's name.
  QString writerInstallation;
  // What the file names for other instances already, carried until they take it.
  std::vector<IdeaMergeConflict> carried;
  // The trees of the instances named, as they last wrote them.
  std::vector<ReplacedTree> replacedTrees;

  // A snapshot of `idea` by `writerMark` (this process when empty) of this installation, with
  // no base and nothing to tell other instances.
  static DocumentSnapshot of(std::shared_ptr<Idea> idea, const QDateTime& created, const QDateTime& modified,
                             const QString& writerMark = QString());
  // Everything the file names: carried, then replaced.
  std::vector<IdeaMergeConflict> allReplaced() const;

  // The document file's JSON text, or compressed; empty without a tree, when encoding fails or
  // when the reader would refuse the file (DocumentLimits), which `encodeWithinLimits` says why.
  QByteArray encode(bool compressed) const { return encodeWithinLimits(compressed).bytes; }
  EncodedDocument encodeWithinLimits(bool compressed) const;
  // The measure of the file a save writes, whether or not within the limits.
  DocumentSize measure() const;
  // Made what it would have been, taken after the main thread heard that `file` was written.
  void follow(const WrittenFile& file);
};

// What a write of this process put in the document's file.
struct WrittenFile {
  std::uint64_t sequence = 0;
  QByteArray bytes;
  platform::FileStamp stamp;
  // What the file names for other instances, and their trees.
  std::vector<IdeaMergeConflict> announced;
  std::vector<ReplacedTree> trees;
  // When the write merged another instance's version: the tree it wrote from and the merge
  // (copies of their own: the main thread gets others).
  std::shared_ptr<Idea> written;
  std::shared_ptr<Idea> merged;
};

// The writes of one document that ended on its work queue. A write behind them whose snapshot
// was taken before the main thread heard of them starts from what they wrote, as a snapshot
// taken afterwards would.
class DocumentWriteChain {
 public:
  // Forgets the writes the snapshot already holds (through `heardThrough`), follows the rest.
  void bringUpToDate(DocumentSnapshot& snapshot, std::uint64_t heardThrough);
  void add(WrittenFile file);

 private:
  std::mutex mMutex;
  std::vector<WrittenFile> mUnheard;
};

// A write queued on the work queue. Until it begins, saves asked for meanwhile put the tree as
// it is then in it rather than queue another write.
struct QueuedSave {
  std::uint64_t sequence = 0;
  // Whether saves asked for before it begins join it (main thread).
  bool joinable = false;
  // Let in by the time of the snapshot and not yet in the file (main thread).
  DocumentSize growth;
  std::mutex mutex;
  bool begun = false;
  DocumentSnapshot snapshot;
  // The last write whose outcome the main thread had heard of when the snapshot was taken.
  std::uint64_t heardThrough = 0;
};

class IdeaDocument : public std::enable_shared_from_this<IdeaDocument> {
 public:
  using TokenCompletion = std::function<void(DocumentToken)>;
  using BoolCompletion = std::function<void(bool)>;
  using SaveAnnouncer = std::function<void(const std::shared_ptr<IdeaDocument>&)>;

  // An empty document (no tokens, no idea); location and path come from the identifier.
  static std::shared_ptr<IdeaDocument> createWithIdentifier(const QString& identifier);
  // A document for a path (a bare file name outside local files) in a location; an empty
  // path gets a new file name.
  static std::shared_ptr<IdeaDocument> createWithFileName(const QString& path, DocumentLocation location);
  ~IdeaDocument();
  IdeaDocument(const IdeaDocument&) = delete;
  IdeaDocument& operator=(const IdeaDocument&) = delete;

  // Identifiers and names. Local-file identifiers hold the canonical absolute path, so two
  // spellings of one file give one identifier.
  static QString docIdentifierFromPath(const QString& path, DocumentLocation location);
  static QString pathFromIdentifier(const QString& identifier);
  static DocumentLocation locationFromIdentifier(const QString& identifier);
  static QString createNewDocFileName();
  static bool fileNamingSchemeMatches(const QString& fileName);
  static DocumentToken nextToken();

  const QString& docIdentifier() const { return mDocIdentifier; }
  // The identifier string itself, as the storage engines use it.
  const QString& fileURL() const { return mDocIdentifier; }
  DocumentLocation location() const { return mLocation; }
  const QString& filePath() const { return mFilePath; }
  bool isTempFile() const { return mLocation == DocumentLocationTemp; }
  bool inCloud() const { return mLocation == DocumentLocationICloud; }
  QString localFileName() const;
  // For local files the file URL; otherwise the identifier read as a URL (invalid if it is none).
  QUrl representativeURL() const;
  bool refersToURL(const QUrl& url) const;
  const QString& appInstance() const { return mAppInstance; }
  // The installation of the process that last wrote the file, when the file names it.
  const QString& appInstallation() const { return mAppInstallation; }
  // What the file read names for instances whose changes its writer replaced, and their trees.
  const std::vector<IdeaMergeConflict>& replacedInFile() const { return mReplacedInFile; }
  const std::vector<ReplacedTree>& replacedTreesInFile() const { return mReplacedTreesInFile; }
  const QString& lastUserFriendlyError() const { return mLastUserFriendlyError; }
  // The error of the last failed read (code 0 when the file itself could not be read).
  const DocumentError& lastError() const { return mLastError; }
  // The measure of the map as the writer wrote it or would write it, as last read or written.
  // A file read in another form (an earlier version's, one written by hand) gives only the most
  // the writer would write of it (DocumentSize::boundOfRead) until it is measured. A way in asks
  // makeRoomFor before it adds content: whether `added` in place of `removed` keeps the document
  // within DocumentLimits, counting what was let in since the file was read or written; what it
  // lets in counts until a write that holds it reports. Where only the bound stands in the way,
  // the map is measured first.
  const DocumentSize& storedSize() const { return mStoredSize; }
  bool storedSizeMeasured() const { return mStoredMeasured; }
  bool makeRoomFor(const DocumentSize& added, const DocumentSize& removed = {});
  // The measure the map would take with `added` in place of `removed`, beside all let in and
  // held: which limit a refused way in would pass.
  DocumentSize sizeWith(const DocumentSize& added, const DocumentSize& removed = {}) const {
    return letIn(nullptr).changedBy(added, removed);
  }
  // The tree, dates and measure of `read`, another reading of this document's file, become this
  // document's; what was let in before went with the tree it was in.
  void takeMapOf(const IdeaDocument& read);
  // Measures the map read as the writer would write it now (the tree's thread).
  void measureAsWritten();
  // Right after a read, off the main thread: a map whose bound leaves it less than 32 MiB is
  // measured now, so that its room questions on the main thread do not encode it.
  void measureIfNearLimit();
  // Room held for an edit not applied yet (a panel open on an idea), counted as let in until it
  // ends, so no other way in takes it meanwhile. `held` becomes the holder's hold when the map
  // has room for it beside everything else (or it holds no more than before); else nothing
  // changes and the answer is false.
  bool holdRoom(const void* holder, const DocumentSize& held);
  // The holder's edit is over: what it held is given back (what it applies asks makeRoomFor).
  void releaseRoom(const void* holder);
  // What was let in since the file was last read or written.
  const DocumentSize& growth() const { return mGrowth; }
  // A write of a snapshot taken when `growth` had been let in wrote a file of `size`.
  void noteWrittenSize(const DocumentSize& size, const DocumentSize& growth);
  bool inConflict() const { return false; }
  bool canBeDeleted() const { return true; }
  void resolvePotentialConflict() {}
  QString description() const;

  const std::shared_ptr<Idea>& idea() const { return mIdea; }
  void setIdea(std::shared_ptr<Idea> idea) { mIdea = std::move(idea); }
  const QDateTime& dateCreated() const { return mDateCreated; }
  void setDateCreated(const QDateTime& date) { mDateCreated = date; }
  const QDateTime& dateModified() const { return mDateModified; }
  void setDateModified(const QDateTime& date) { mDateModified = date; }

  // The queue that carries this document's file writes: the persistence facade's, handed over
  // when the facade makes or takes the document (it must outlive the document). A document
  // nobody handed one to makes a queue of its own at its first write.
  void setWorkQueue(platform::Queue* queue) { mWorkQueue = queue; }
  platform::Queue& workQueue();
  // Told on the main thread after each successful save, before the save's completion (the
  // facade tells its listeners, so other windows of the document show it anew).
  void setSaveAnnouncer(SaveAnnouncer announcer) { mSaveAnnouncer = std::move(announcer); }

  QString exportFileName() const;
  QString documentWindowName() const;

  // Storage. Completions run on the main queue.
  void openFromURL(const QUrl& url, TokenCompletion completion);
  void createAtURL(const QUrl& url, TokenCompletion completion);
  // A create normally completes once its file is on the disk. A new map with nothing in it yet
  // need not hold its window for that: it completes once the file is whole and in place for
  // every reader, and the disk sync follows on the work queue, before any later write.
  void setCreateWaitsForDisk(bool waits) { mCreateWaitsForDisk = waits; }
  // Saves the tree as it is now. The main thread only takes a snapshot, and queues its write at
  // once; encoding, compressing and writing run on the work queue. Saves asked for before a
  // queued write begins join it, which then writes the tree as it is at the last of them; each
  // completion gets the result of the write that carried its changes. A failed save keeps the
  // edit in memory and leaves its reason in lastUserFriendlyError.
  void updateWithToken(DocumentToken token, BoolCompletion completion);
  bool isSaving() const { return mSavesRunning > 0; }
  void closeWithToken(DocumentToken token, BoolCompletion completion);
  bool goodToken(DocumentToken token) const { return token >= 1 && mTokens.count(token) > 0; }
  // True while a presenter is held, i.e. between a successful open or create and the return
  // of the last token.
  bool isOpen() const { return mFilePresenter != nullptr; }
  // The file an open document is kept in (for a cloud document, inside its location's folder);
  // filePath() while it is not open.
  QString openFilePath() const;
  size_t tokenCount() const { return mTokens.size(); }
  // Reads the file into this document without tokens; reading and decoding run on the work
  // queue.
  void readFromURL(const QUrl& url, BoolCompletion completion);
  // Writes the compressed document to a file on the persistence work queue; the bytes are
  // taken now, on the calling thread.
  void writeToLocalFileAt(const QUrl& url, BoolCompletion completion);

  // Refuses a file that cannot be read whole (kDocumentErrorTooLarge), saying why; false.
  bool refuseAsTooLarge(const QString& refusal) { return failTooLarge(nullptr, refusal); }

  // The state a save writes (main thread).
  DocumentSnapshot snapshot() const;
  // Called by the presenter with the outcome of a write it made (main thread).
  void noteWriteFailure(const QString& reason);
  // An open failed for a reason the file itself does not tell (its folder cannot be reached):
  // the text the user is told.
  void noteOpenFailure(const QString& reason) { mLastUserFriendlyError = reason; }
  // The presenter's read was dropped by the quit: lastError says cancelled, not unreadable.
  void noteReadCancelled();
  // The write of `written` succeeded: the file holds `bytes` (`compressed` or plain JSON) at
  // `stamp`; `merged` is the tree written instead when another instance had changed the file
  // (edits made meanwhile stay).
  // `announced` are the replaced changes of other instances the file now names, `trees` their
  // trees.
  void noteWritten(const std::shared_ptr<Idea>& written, const std::shared_ptr<Idea>& merged,
                   const std::vector<IdeaMergeConflict>& conflicts, const QByteArray& bytes, bool compressed,
                   const platform::FileStamp& stamp, const std::vector<IdeaMergeConflict>& announced = {},
                   const std::vector<ReplacedTree>& trees = {});
  // The presenter read `bytes` from the file into this document; the file was at `stamp`.
  void noteFileRead(const QByteArray& bytes, bool compressed, const platform::FileStamp& stamp);
  const platform::FileStamp& baseStamp() const { return mBaseStamp; }
  // `read` was read from this document's file off the main thread: its tree, dates, mark and
  // base become this document's when `readable`, its error always. A file that still holds
  // what an open document last read or wrote leaves the tree its windows show.
  void takeReadFile(IdeaDocument& read, bool readable);
  // Writes of this document's presenter not yet reported. A change of the file told meanwhile
  // is read again once they are: merged now, it would count as this instance's own edit when
  // the write's merge comes back, and put older values over the file's.
  // Each queued write is numbered, with the snapshot it writes (unless begun: false).
  void writeStarted(const std::shared_ptr<QueuedSave>& save);
  bool takeSnapshotInto(QueuedSave& save) const;
  void writeEnded(const std::shared_ptr<QueuedSave>& save);
  // `save` wrote a file of `size`: its growth is in the file, also for the writes queued since.
  void noteSaveWritten(const QueuedSave& save, const DocumentSize& size);
  const std::shared_ptr<DocumentWriteChain>& writeChain() const { return mWriteChain; }
  bool deferChangeWhileWriting();
  // The tree of document file bytes (plain JSON or compressed); none when they do not read.
  // Any thread.
  static std::shared_ptr<Idea> treeFromFileBytes(const QByteArray& bytes, bool compressed);
  // Another instance changed the file and `read` holds what it has now (or why it cannot be
  // read): this instance's unsaved changes are merged into it, the file's tree is the new base.
  // False when nothing was taken: unreadable, or the file holds what was last read or written.
  bool takeChangedFile(const IdeaDocument& read, bool readable, const platform::FileStamp& stamp);
  // The values of this instance that replaced another instance's changes in merges since the
  // last call (a save's completion can tell the user what the other window lost).
  std::vector<IdeaMergeConflict> takeMergeConflicts();
  // Changes of this instance that another instance replaced with its own, as the file it
  // wrote says, and this instance's tree from just before it took that file (which holds the
  // replaced values); empty when there were none since the last call. A document opened anew
  // takes what the file addresses to any process of this installation, with the tree that
  // process last wrote.
  struct ReplacedChanges {
    std::vector<IdeaMergeConflict> changes;
    std::shared_ptr<Idea> formerTree;
  };
  ReplacedChanges takeReplacedChanges();
  // An edit panel opened on idea `identifier` when it held the values of `shown` has just
  // written its own over `replaced` (the idea's values a moment before). Each value written
  // over one that another instance's version brought while the panel was open is that
  // instance's change replaced: the next save tells it so, with the tree it wrote.
  void noteReplacedOutsideValues(const QString& identifier, const Idea& shown, const Idea& replaced);
  // An edit panel's idea `deleted`, which held the values of `shown` when it opened, is gone
  // from the tree when the panel closes, and its edit is kept as the new idea `kept`. When
  // another instance's version deleted it, the next save tells that instance its deletion was
  // undone.
  void noteKeptDeletedIdea(const QString& deleted, const Idea& shown, const QString& kept);
  // The document read from file bytes (plain JSON or compressed); none when they do not read,
  // with why in `error`. Any thread.
  static std::shared_ptr<IdeaDocument> fromFileBytes(const QByteArray& bytes, bool compressed,
                                                     DocumentError* error = nullptr);

  // Codec. The exports are empty for a document without a root idea. The readers refuse a
  // document beyond the bounds above, and one whose reading runs out of memory, with
  // kDocumentErrorTooLarge; they never let an allocation failure through.
  QByteArray exportAsPureJSONData() const;
  QByteArray exportAsOrreryData() const;
  bool loadFromJSONData(const QByteArray& data, DocumentError* error = nullptr);
  bool loadFromOrreryData(const QByteArray& data, DocumentError* error = nullptr);
  bool loadFromOPMLData(const QByteArray& data, DocumentError* error = nullptr);

 private:
  IdeaDocument(QString identifier, DocumentLocation location, QString path);
  bool fail(int code, const char* key, const char* defaultText, DocumentError* error);
  // "The document is too large to open: <refusal>" (DocumentSize::refusal and its kind).
  bool failTooLarge(DocumentError* error, const QString& refusal);
  bool loadFromJSONDataUnguarded(const QByteArray& data, DocumentError* error);
  bool loadFromOrreryDataUnguarded(const QByteArray& data, DocumentError* error);
  // The state a save of `tree` as this document's writes.
  DocumentSnapshot snapshotOf(std::shared_ptr<Idea> tree) const;
  // The most the next save writes of the tree as it is now.
  DocumentSize measureOfNextWrite() const;
  // Whether `added` in place of `removed` keeps the map within the limits beside all let in and
  // held (but the hold of `holder`).
  bool hasRoomFor(const DocumentSize& added, const DocumentSize& removed, const void* holder);
  DocumentSize letIn(const void* holder) const;
  void createAttempt(const QUrl& url, DocumentToken token, int attemptsLeft, TokenCompletion completion);
  void takeNewFileName();
  void noteMergeConflicts(const std::vector<IdeaMergeConflict>& conflicts);
  bool holdsFileOf(const IdeaDocument& read) const {
    return !mBaseBytes.isEmpty() && mBaseBytes == read.mBaseBytes && mBaseCompressed == read.mBaseCompressed;
  }
  QString ideaDescription() const;
  // `trees` and the held trees of the instances mToAnnounce names.
  std::vector<ReplacedTree> withTreesToAnnounce(std::vector<ReplacedTree> trees) const;
  // Takes the file's replaced changes that `addressedHere` accepts into mReplacedHere; the
  // others, and the trees, are carried by the next save.
  void takeReplacedEntries(const IdeaDocument& read,
                           const std::function<bool(const IdeaMergeConflict&)>& addressedHere);

  QString mDocIdentifier;
  DocumentLocation mLocation = DocumentLocationTemp;
  QString mFilePath;
  std::set<DocumentToken> mTokens;
  std::shared_ptr<IdeaFilePresenter> mFilePresenter;
  QString mAppInstance;
  QString mAppInstallation;
  QString mLastUserFriendlyError;
  DocumentError mLastError;
  DocumentSize mStoredSize;
  // False while mStoredSize is only the bound of a file read in another form.
  bool mStoredMeasured = true;
  DocumentSize mGrowth;
  std::map<const void*, DocumentSize> mHeldRoom;
  std::shared_ptr<Idea> mIdea;
  QDateTime mDateCreated;
  QDateTime mDateModified;
  // The name was made here, not chosen by the user: it may move on when another instance
  // created a file of that name first.
  bool mNameIsOurs = false;
  bool mCreateInFlight = false;
  bool mCreateWaitsForDisk = true;
  platform::Queue* mWorkQueue = nullptr;
  std::unique_ptr<platform::SerialQueue> mOwnQueue;
  SaveAnnouncer mSaveAnnouncer;
  int mSavesRunning = 0;
  // The last save queued by updateWithToken and the completions it carries.
  std::shared_ptr<QueuedSave> mLastSave;
  std::shared_ptr<std::vector<BoolCompletion>> mLastSaveCompletions;
  QByteArray mBaseBytes;
  bool mBaseCompressed = true;
  platform::FileStamp mBaseStamp;
  std::vector<std::shared_ptr<QueuedSave>> mWritesInFlight;
  std::uint64_t mWritesQueued = 0;
  std::uint64_t mWritesHeard = 0;
  std::shared_ptr<DocumentWriteChain> mWriteChain = std::make_shared<DocumentWriteChain>();
  bool mChangeWhileWriting = false;
  std::vector<IdeaMergeConflict> mMergeConflicts;
  // Replaced changes of other instances the next save tells them about.
  std::vector<IdeaMergeConflict> mToAnnounce;
  // As read from the file.
  std::vector<IdeaMergeConflict> mReplacedInFile;
  std::vector<ReplacedTree> mReplacedTreesInFile;
  // Replaced changes the file names for other instances, carried by every save until the
  // instance they are for writes the file; the trees of those instances and of mToAnnounce's.
  std::vector<IdeaMergeConflict> mCarriedInFile;
  std::vector<ReplacedTree> mReplacedTrees;
  ReplacedChanges mReplacedHere;
  // What mReplacedHere took that the file still names: told once, however often it is read.
  std::vector<IdeaMergeConflict> mToldHere;
  // The last version another instance wrote that this one took, with its writer.
  ReplacedTree mLastOutsideVersion;
  // The ideas other instances' versions deleted, with the version that did (without its tree).
  QHash<QString, ReplacedTree> mDeletedOutside;
};

}  // namespace orrery
