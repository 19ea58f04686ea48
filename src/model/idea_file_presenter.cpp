#include "model/idea_file_presenter.h"

#include "model/idea_document.h"
#include "model/main_queue_completion.h"
#include "model/queued_file_work.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"
#include "platform/services/file_coordinator.h"
#include "platform/services/qt_regular_file.h"

#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <mutex>
#include <new>

namespace orrery {

namespace {

enum class Codec { OPML, PlainJSON, Compressed };

Codec codecFor(const QUrl& url, const IdeaDocument& owner) {
  const QString name = QFileInfo(url.toLocalFile()).fileName().toLower();
  if (name.endsWith(".opml")) return Codec::OPML;
  if (name.endsWith(".orrx") && owner.location() == DocumentLocationICloud) return Codec::PlainJSON;
  return Codec::Compressed;
}

// Accesses off the main thread are logged and carried out all the same.
void checkMainThread(int line, const char* operation) {
  if (!platform::mainQueue().isCurrent()) softAssertionFailed(line, operation);
}

// Reads the file at `path` into `read` (a document nobody else sees); on any thread.
bool readInto(const QString& path, Codec codec, IdeaDocument& read) {
  removeStaleSaveTemporaries(path);
  // Before the bytes: a file replaced in between then only looks changed once more.
  const platform::FileStamp stamp = platform::FileStamp::of(path);
  QFile file;
  if (platform::openRegularFile(file, path) != platform::RegularFileRead::Read) return false;
  // No document file is larger than the JSON text it may hold, compressed or not; reading a
  // bigger one whole could take more memory than there is.
  if (file.size() > DocumentLimits::kMaxJSONBytes) return read.refuseAsTooLarge(DocumentLimits::beyondSizeRefusal());
  QByteArray bytes;
  try {
    bytes = file.readAll();
  } catch (const std::bad_alloc&) {
    return read.refuseAsTooLarge(DocumentLimits::outOfMemoryRefusal());
  }
  if (file.error() != QFileDevice::NoError) return false;
  if (codec == Codec::OPML) return read.loadFromOPMLData(bytes);
  const bool compressed = codec == Codec::Compressed;
  const bool ok = compressed ? read.loadFromOrreryData(bytes) : read.loadFromJSONData(bytes);
  if (!ok) return false;
  read.noteFileRead(bytes, compressed, stamp);
  read.measureIfNearLimit();
  return true;
}

}  // namespace

IdeaFilePresenter::IdeaFilePresenter(const QUrl& fileURL, std::weak_ptr<IdeaDocument> owner)
    : mFileURL(fileURL), mOwner(std::move(owner)) {
  platform::FileCoordinator::addFilePresenter(this);
  mRegistered = true;
}

IdeaFilePresenter::~IdeaFilePresenter() { close(); }

void IdeaFilePresenter::close() {
  if (mRegistered) platform::FileCoordinator::removeFilePresenter(this);
  mRegistered = false;
  mOwner.reset();
  mFileURL = QUrl();
}

void IdeaFilePresenter::readWithCompletionHandler(std::function<void(bool)> completion) {
  readFile(false, std::move(completion));
}

void IdeaFilePresenter::readFile(bool changedByOthers, std::function<void(bool)> completion) {
  auto owner = mOwner.lock();
  const QString path = presentedItemPath();
  if (!owner || path.isEmpty()) {
    if (completion) completion(false);
    return;
  }
  // Reading and decoding a big map takes a good part of a second: the work queue does both
  // into a document of its own, after the writes already asked for, and the main thread only
  // takes the result over.
  auto work = [identifier = owner->docIdentifier(), codec = codecFor(mFileURL, *owner), path, changedByOthers,
               identity = static_cast<const platform::FilePresenter*>(this), weakOwner = mOwner,
               completion = std::move(completion)](bool proceed) mutable {
    auto read = IdeaDocument::createWithIdentifier(identifier);
    bool ok = false;
    platform::FileCoordinator coordinator(identity);
    // A read the quit dropped takes nothing and tells no change; an open learns it was cancelled.
    const bool granted =
        proceed && coordinator.coordinateReading(path, [&](const QString& p) { ok = readInto(p, codec, *read); });
    auto report = [weakOwner, read = std::move(read), proceed, granted, ok, changedByOthers,
                   completion = std::move(completion)]() {
      auto owner = weakOwner.lock();
      bool taken = owner && granted && ok;
      if (owner && !proceed && !changedByOthers) owner->noteReadCancelled();
      if (owner && granted) {
        // Another instance's version is merged with what this one changed since; a change
        // is only told when the file holds something new.
        if (!changedByOthers)
          owner->takeReadFile(*read, ok);
        else if (owner->deferChangeWhileWriting())
          taken = false;
        else if (ok || !read->lastUserFriendlyError().isEmpty())
          taken = owner->takeChangedFile(*read, ok, read->baseStamp());
      }
      if (completion) completion(taken);
    };
    completeOnMainQueue(std::function<void()>(std::move(report)));
  };
  QueuedFileWork::async(owner->workQueue(), QueuedFileWork::Kind::Read, std::move(work));
}

FileWriteResult IdeaFilePresenter::doWriteToURL(const QString& path, const QByteArray& bytes, bool exclusive,
                                                QString* reason, bool waitForDisk) {
  // Whatever a killed writer of this file left behind goes first.
  removeStaleSaveTemporaries(path);
  return exclusive ? writeFileExclusively(path, bytes, reason, waitForDisk) : writeFileReplacing(path, bytes, reason);
}

IdeaMergeResult IdeaFilePresenter::mergeWithOtherInstance(const QString& path, DocumentSnapshot& snapshot,
                                                          bool compressed, EncodedDocument& written) {
  const platform::FileStamp now = platform::FileStamp::of(path);
  if (!now.exists || snapshot.baseBytes.isEmpty() || now == snapshot.baseStamp) return {};
  // Another instance wrote the file since this one last read or wrote it.
  QFile file;
  QByteArray theirBytes;
  if (platform::openRegularFile(file, path) == platform::RegularFileRead::Read &&
      file.size() <= DocumentLimits::kMaxJSONBytes)
    theirBytes = file.readAll();
  // Or nobody did: the file still holds what this instance last read or wrote, under a new
  // stamp (its folder went away and came back, a sync tool wrote it again). Nobody's change is
  // in it, so none is replaced.
  if (theirBytes == snapshot.baseBytes) return {};
  const auto theirs = IdeaDocument::fromFileBytes(theirBytes, compressed);
  const auto base = IdeaDocument::treeFromFileBytes(snapshot.baseBytes, compressed);
  if (!theirs || !base) {
    logLine(QStringLiteral("%1 changed elsewhere but does not read; this instance's version replaces it").arg(path));
    return {};
  }
  IdeaMergeResult merged = mergeIdeaTrees(base, snapshot.idea, theirs->idea());
  DocumentSnapshot mergedSnapshot = snapshot;
  mergedSnapshot.idea = merged.idea;
  // What the file names for others now is carried, not what it named when we last read it:
  // an instance may have taken its own since.
  mergedSnapshot.carried.clear();
  for (const IdeaMergeConflict& change : theirs->replacedInFile())
    if (change.instance != snapshot.writerMark) mergedSnapshot.carried.push_back(change);
  for (const ReplacedTree& tree : theirs->replacedTreesInFile()) addReplacedTree(mergedSnapshot.replacedTrees, tree);
  // The file tells the instance whose changes ours replaced, and keeps its tree for it: it
  // may have quit, and learn of the loss only at its installation's next open.
  const ReplacedTree loser{theirs->appInstance(), theirs->appInstallation(), theirs->idea(), now};
  for (IdeaMergeConflict& conflict : merged.conflicts) {
    conflict = lossOfInstance(std::move(conflict), loser);
    mergedSnapshot.replaced.push_back(conflict);
  }
  if (!merged.conflicts.empty()) addReplacedTree(mergedSnapshot.replacedTrees, loser);
  EncodedDocument mergedFile = mergedSnapshot.encodeWithinLimits(compressed);
  if (mergedFile.bytes.isEmpty()) {
    // Written over, the other instance's changes would be lost untold.
    if (!mergedFile.refusal.isEmpty()) written = std::move(mergedFile);
    return {};
  }
  written = std::move(mergedFile);
  snapshot.carried = std::move(mergedSnapshot.carried);
  snapshot.replaced = std::move(mergedSnapshot.replaced);
  snapshot.replacedTrees = std::move(mergedSnapshot.replacedTrees);
  if (!merged.conflicts.empty())
    logLine(QStringLiteral("%1: %2 changes of another instance were replaced by this one's")
                .arg(path)
                .arg(merged.conflicts.size()));
  return merged;
}

std::shared_ptr<QueuedSave> IdeaFilePresenter::coordinatedWrite(bool exclusive, bool update, bool waitForDisk,
                                                              std::function<void(FileWriteResult)> completion) {
  auto owner = mOwner.lock();
  const QString path = presentedItemPath();
  const Codec codec = owner ? codecFor(mFileURL, *owner) : Codec::OPML;
  // An OPML file is the user's outline, imported, never overwritten with a document.
  if (!owner || path.isEmpty() || codec == Codec::OPML) {
    if (completion) completion(FileWriteResult::Failed);
    return nullptr;
  }
  // The main thread only copies the tree; encoding, compressing, waiting for the folder lock
  // and writing happen on the work queue.
  auto save = std::make_shared<QueuedSave>();
  owner->writeStarted(save);
  auto write = [save, chain = owner->writeChain(), compressed = codec == Codec::Compressed, path, exclusive, update,
                waitForDisk, identity = static_cast<const platform::FilePresenter*>(this), weakOwner = mOwner,
                completion = std::move(completion)](bool) mutable {
    DocumentSnapshot snapshot;
    std::uint64_t heardThrough = 0;
    {
      std::lock_guard lock(save->mutex);
      save->begun = true;
      snapshot = std::move(save->snapshot);
      heardThrough = save->heardThrough;
    }
    // Taken before the main thread heard of the writes ahead of it, the snapshot starts from
    // what they wrote: their file is not another instance's change to merge with.
    chain->bringUpToDate(snapshot, heardThrough);
    FileWriteResult result = FileWriteResult::Failed;
    QString reason;
    EncodedDocument file = snapshot.encodeWithinLimits(compressed);
    IdeaMergeResult merged;
    platform::FileStamp stamp;
    auto unwritable = [&] {
      if (!file.bytes.isEmpty()) return false;
      // A file the reader would refuse is not written: the one on disk stays, the map in memory.
      reason = file.refusal.isEmpty() ? QStringLiteral("the document could not be encoded") : file.refusal;
      logLine(QStringLiteral("Could not write %1: %2").arg(path, reason));
      return true;
    };
    if (!unwritable()) {
      // Tied to this presenter (by identity only), so our own write is not reported back.
      platform::FileCoordinator coordinator(identity);
      QString refusal;
      const bool granted = coordinator.coordinateWriting(
          path,
          [&](const QString& p) {
            if (update) merged = mergeWithOtherInstance(p, snapshot, compressed, file);
            if (unwritable()) return;
            result = doWriteToURL(p, file.bytes, exclusive, &reason, waitForDisk);
            stamp = platform::FileStamp::of(p);
          },
          &refusal);
      if (!granted) reason = refusal;
    }
    QByteArray bytes = std::move(file.bytes);
    // The written tree goes back only when edits made meanwhile must be merged into a merged
    // file; otherwise it is released here, not on the main thread.
    IdeaPtr written = merged.idea ? std::move(snapshot.idea) : nullptr;
    std::vector<IdeaMergeConflict> announced = snapshot.allReplaced();
    if (result == FileWriteResult::Written)
      chain->add({save->sequence, bytes, stamp, announced, snapshot.replacedTrees,
                  written ? written->snapshotCopy() : nullptr, merged.idea ? merged.idea->snapshotCopy() : nullptr});
    auto report = [weakOwner, save, reason = std::move(reason), written = std::move(written),
                   merged = std::move(merged), bytes = std::move(bytes), compressed, size = file.size, stamp,
                   announced = std::move(announced), trees = std::move(snapshot.replacedTrees),
                   completion = std::move(completion)](FileWriteResult result) {
      auto owner = weakOwner.lock();
      if (owner) {
        if (result == FileWriteResult::Failed) {
          owner->noteWriteFailure(reason);
        } else if (result == FileWriteResult::Written) {
          owner->noteSaveWritten(*save, size);
          owner->noteWritten(written, merged.idea, merged.conflicts, bytes, compressed, stamp, announced, trees);
        }
      }
      if (completion) completion(result);
      if (!owner) return;
      // The tree now holds another instance's changes, which the windows have not shown yet.
      if (result == FileWriteResult::Written && merged.idea)
        platform::NotificationCenter::defaultCenter().post(IdeaDocumentChangedNotification, owner.get());
      owner->writeEnded(save);
    };
    // Nothing shared with the main thread stays here once the report is handed over.
    snapshot = DocumentSnapshot();
    completeOnMainQueue(std::function<void(FileWriteResult)>(std::move(report)), result);
    // The owner has its file meanwhile; later writes on this queue come after the sync.
    if (!waitForDisk && result == FileWriteResult::Written) syncFileToDisk(path);
  };
  QueuedFileWork::async(owner->workQueue(), QueuedFileWork::Kind::Write, std::move(write));
  return save;
}

void IdeaFilePresenter::createWithCompletionHandler(bool exclusive, bool waitForDisk,
                                                    std::function<void(FileWriteResult)> completion) {
  coordinatedWrite(exclusive, false, waitForDisk, std::move(completion));
}

std::shared_ptr<QueuedSave> IdeaFilePresenter::updateWithCompletionHandler(std::function<void(bool)> completion) {
  return coordinatedWrite(false, true, true, [completion = std::move(completion)](FileWriteResult result) {
    if (completion) completion(result == FileWriteResult::Written);
  });
}

void IdeaFilePresenter::presentedItemDidChange() {
  // Delivered on the main queue by the registry; re-read on the work queue and tell the
  // editor only when someone else wrote something new into the file.
  std::weak_ptr<IdeaDocument> weakOwner = mOwner;
  readFile(true, [weakOwner](bool success) {
    if (!success) return;
    checkMainThread(148, "-[IdeaFilePresenter presentedItemDidChange]");
    auto owner = weakOwner.lock();
    if (!owner) return;
    if (owner->appInstance() != Globals::appInstance())
      platform::NotificationCenter::defaultCenter().post(IdeaDocumentChangedNotification, owner.get());
  });
}

}  // namespace orrery
