#include "model/idea_document.h"

#include "model/idea_file_presenter.h"
#include "model/main_queue_completion.h"
#include "model/queued_file_work.h"
#include "model/document_file_writer.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "platform/core/dispatch.h"
#include "platform/services/file_coordinator.h"

#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <new>
#include <utility>

namespace orrery {

namespace {

constexpr char kTempPrefix[] = "temp:/";
constexpr char kFilePrefix[] = "file://";
constexpr char kICloudPrefix[] = "iCloud:/";
constexpr char kDropboxPrefix[] = "dropbox:/";

// How often a create moves on to a fresh name when another instance took ours first.
constexpr int kCreateAttempts = 16;

QString canonicalLocalPath(const QString& path) {
  if (path.isEmpty()) return path;
  const QString key = platform::coordinationKey(QFileInfo(path).absoluteFilePath());
  return key.isEmpty() ? QDir::cleanPath(path) : key;
}

QString dateDescription(const QDateTime& date) {
  return date.isValid() ? date.toUTC().toString("yyyy-MM-dd HH:mm:ss +0000") : QStringLiteral("(null)");
}

}  // namespace

IdeaDocument::IdeaDocument(QString identifier, DocumentLocation location, QString path)
    : mDocIdentifier(std::move(identifier)), mLocation(location), mFilePath(std::move(path)) {}

IdeaDocument::~IdeaDocument() = default;

std::shared_ptr<IdeaDocument> IdeaDocument::createWithIdentifier(const QString& identifier) {
  const DocumentLocation location = locationFromIdentifier(identifier);
  QString path = pathFromIdentifier(identifier);
  QString docIdentifier = identifier;
  if (location == DocumentLocationLocalFile) {
    path = canonicalLocalPath(path);
    docIdentifier = docIdentifierFromPath(path, location);
  }
  return std::shared_ptr<IdeaDocument>(new IdeaDocument(docIdentifier, location, path));
}

std::shared_ptr<IdeaDocument> IdeaDocument::createWithFileName(const QString& path, DocumentLocation location) {
  QString name = path;
  bool ours = false;
  if (name.isEmpty()) {
    if (location == DocumentLocationLocalFile) softAssertionFailed(584, "-[IdeaDocument initWithFileName:location:]");
    name = createNewDocFileName();
    ours = true;
  }
  if (location == DocumentLocationLocalFile) name = canonicalLocalPath(name);
  auto doc = std::shared_ptr<IdeaDocument>(new IdeaDocument(docIdentifierFromPath(name, location), location, name));
  doc->mNameIsOurs = ours;
  return doc;
}

QString IdeaDocument::docIdentifierFromPath(const QString& path, DocumentLocation location) {
  switch (location) {
    case DocumentLocationTemp: return kTempPrefix + path;
    case DocumentLocationLocalFile: return kFilePrefix + canonicalLocalPath(path);
    case DocumentLocationICloud: return kICloudPrefix + path;
    case DocumentLocationDropbox: return kDropboxPrefix + path;
  }
  softAssertionFailed(540, "+[IdeaDocument docIdentifierFromPath:inLocation:]");
  return {};
}

QString IdeaDocument::pathFromIdentifier(const QString& identifier) {
  for (const char* prefix : {kICloudPrefix, kDropboxPrefix, kFilePrefix, kTempPrefix}) {
    const QLatin1String p(prefix);
    if (identifier.startsWith(p)) return identifier.mid(p.size());
  }
  return {};
}

DocumentLocation IdeaDocument::locationFromIdentifier(const QString& identifier) {
  if (identifier.startsWith(QLatin1String(kICloudPrefix))) return DocumentLocationICloud;
  if (identifier.startsWith(QLatin1String(kDropboxPrefix))) return DocumentLocationDropbox;
  if (identifier.startsWith(QLatin1String(kFilePrefix))) return DocumentLocationLocalFile;
  return DocumentLocationTemp;
}

QString IdeaDocument::createNewDocFileName() {
  static std::atomic<std::uint64_t> counter{0};
  const std::uint64_t n = ++counter;
  const double seconds = QDateTime::currentMSecsSinceEpoch() / 1000.0;
  return QString::asprintf("id%0.0f_%d.orrx", seconds, static_cast<std::int32_t>(n & 0xffffffffu));
}

bool IdeaDocument::fileNamingSchemeMatches(const QString& fileName) { return fileName.endsWith(".orrx"); }

DocumentToken IdeaDocument::nextToken() {
  static std::atomic<DocumentToken> counter{0};
  return ++counter;
}

QString IdeaDocument::localFileName() const {
  if (mLocation != DocumentLocationLocalFile) return {};
  return QFileInfo(mFilePath).fileName();
}

QUrl IdeaDocument::representativeURL() const {
  if (mLocation == DocumentLocationLocalFile) return QUrl::fromLocalFile(mFilePath);
  QUrl url(mDocIdentifier, QUrl::StrictMode);
  return url.isValid() ? url : QUrl();
}

bool IdeaDocument::refersToURL(const QUrl& url) const {
  if (mLocation == DocumentLocationLocalFile && url.isLocalFile())
    return docIdentifierFromPath(url.toLocalFile(), DocumentLocationLocalFile) == mDocIdentifier;
  const QUrl mine = representativeURL();
  return mine.isValid() && mine == url;
}

QString IdeaDocument::description() const {
  const QString file = mDocIdentifier.section('/', -1);
  return QString("<IdeaDocument file=%1, idea=%2, created=%3, modified=%4")
      .arg(file, ideaDescription(), dateDescription(mDateCreated), dateDescription(mDateModified));
}

void IdeaDocument::openFromURL(const QUrl& url, TokenCompletion completion) {
  if (mFilePresenter) {
    const DocumentToken token = nextToken();
    mTokens.insert(token);
    if (completion) completion(token);
    return;
  }
  // The text describes this read's failure only: a file that is gone has none.
  mLastUserFriendlyError.clear();
  mLastError = DocumentError();
  auto presenter = std::make_shared<IdeaFilePresenter>(url, weak_from_this());
  presenter->readWithCompletionHandler(
      [self = shared_from_this(), presenter, completion = std::move(completion)](bool success) mutable {
        if (!success) {
          presenter->close();
          if (completion) completion(0);
          return;
        }
        // Another open may have finished first; its presenter stays.
        if (!self->mFilePresenter) self->mFilePresenter = std::move(presenter);
        const DocumentToken token = nextToken();
        self->mTokens.insert(token);
        if (completion) completion(token);
      });
}

void IdeaDocument::createAtURL(const QUrl& url, TokenCompletion completion) {
  if (mFilePresenter || mCreateInFlight) {
    if (completion) completion(0);
    return;
  }
  mCreateInFlight = true;
  createAttempt(url, nextToken(), kCreateAttempts, std::move(completion));
}

void IdeaDocument::createAttempt(const QUrl& url, DocumentToken token, int attemptsLeft, TokenCompletion completion) {
  auto presenter = std::make_shared<IdeaFilePresenter>(url, weak_from_this());
  presenter->createWithCompletionHandler(
      mNameIsOurs, mCreateWaitsForDisk,
      [self = shared_from_this(), presenter, url, token, attemptsLeft,
       completion = std::move(completion)](FileWriteResult result) mutable {
        if (result == FileWriteResult::Written) {
          self->mCreateInFlight = false;
          self->mFilePresenter = std::move(presenter);
          self->mTokens.insert(token);
          if (completion) completion(token);
          return;
        }
        presenter->close();
        if (result == FileWriteResult::AlreadyExists && self->mNameIsOurs && attemptsLeft > 1) {
          self->takeNewFileName();
          const QUrl next = QUrl::fromLocalFile(QFileInfo(url.toLocalFile()).absolutePath() + '/' +
                                                QFileInfo(self->mFilePath).fileName());
          self->createAttempt(next, token, attemptsLeft - 1, std::move(completion));
          return;
        }
        // A failed create leaves the document closed: it has no file to be opened again.
        self->mCreateInFlight = false;
        if (completion) completion(0);
      });
}

void IdeaDocument::takeNewFileName() {
  const QString name = createNewDocFileName();
  const int slash = mFilePath.lastIndexOf('/');
  mFilePath = slash < 0 ? name : mFilePath.left(slash + 1) + name;
  mDocIdentifier = docIdentifierFromPath(mFilePath, mLocation);
}

void IdeaDocument::updateWithToken(DocumentToken token, BoolCompletion completion) {
  if (!goodToken(token) || !mFilePresenter) {
    if (completion) completion(false);
    return;
  }
  // The snapshot is taken now, whatever the main thread does next: a quit that cannot wait for
  // it still finds the write queued. While a save runs, requests join the write queued behind
  // it until that one begins, which then writes the tree as at the last of them.
  if (mLastSave && mLastSave->joinable && takeSnapshotInto(*mLastSave)) {
    mLastSaveCompletions->push_back(std::move(completion));
    return;
  }
  auto completions = std::make_shared<std::vector<BoolCompletion>>();
  completions->push_back(std::move(completion));
  auto finish = [self = shared_from_this(), completions](bool ok) {
    self->mSavesRunning--;
    // Nothing joins a finished save; its callers often hold this document, and kept here
    // they would keep it for ever.
    if (self->mLastSaveCompletions == completions) {
      self->mLastSave.reset();
      self->mLastSaveCompletions.reset();
    }
    const std::vector<BoolCompletion> callers = std::exchange(*completions, {});
    if (ok && self->mSaveAnnouncer) self->mSaveAnnouncer(self);
    for (const auto& done : callers)
      if (done) done(ok);
  };
  const bool joinable = mSavesRunning > 0;
  mSavesRunning++;
  mLastSave = mFilePresenter->updateWithCompletionHandler(std::move(finish));
  if (mLastSave) mLastSave->joinable = joinable;
  mLastSaveCompletions = std::move(completions);
}

void IdeaDocument::writeStarted(const std::shared_ptr<QueuedSave>& save) {
  save->sequence = ++mWritesQueued;
  takeSnapshotInto(*save);
  mWritesInFlight.push_back(save);
}

bool IdeaDocument::takeSnapshotInto(QueuedSave& save) const {
  std::lock_guard lock(save.mutex);
  if (save.begun) return false;
  save.snapshot = snapshot();
  save.heardThrough = mWritesHeard;
  save.growth = mGrowth;
  return true;
}

void IdeaDocument::noteSaveWritten(const QueuedSave& save, const DocumentSize& size) {
  noteWrittenSize(size, save.growth);
  mWritesHeard = save.sequence;
  // The writes queued since took their snapshot with this growth still let in.
  for (const auto& later : mWritesInFlight)
    if (later.get() != &save) later->growth = later->growth.changedBy(DocumentSize(), save.growth);
}

void IdeaDocument::noteWriteFailure(const QString& reason) {
  mLastUserFriendlyError = Globals::normalLocalizedStringForKey(QStringLiteral("CannotSaveDocument:Message"),
                                                                QStringLiteral("The document could not be saved"));
  if (!reason.isEmpty()) mLastUserFriendlyError += QStringLiteral(": ") + reason;
}

QString IdeaDocument::openFilePath() const {
  return mFilePresenter ? mFilePresenter->presentedItemPath() : mFilePath;
}

DocumentSize IdeaDocument::letIn(const void* holder) const {
  DocumentSize all = mStoredSize.changedBy(mGrowth);
  for (const auto& [other, held] : mHeldRoom)
    if (other != holder) all = all.changedBy(held);
  return all;
}

bool IdeaDocument::hasRoomFor(const DocumentSize& added, const DocumentSize& removed, const void* holder) {
  DocumentSize after = letIn(holder).changedBy(added, removed);
  if (after.withinLimits()) return true;
  // Of a map read in another form only the bytes are a bound: where they alone stand in the
  // way, the map's measure settles it.
  after.jsonBytes = 0;
  if (mStoredMeasured || !after.withinLimits()) return false;
  measureAsWritten();
  return letIn(holder).changedBy(added, removed).withinLimits();
}

bool IdeaDocument::makeRoomFor(const DocumentSize& added, const DocumentSize& removed) {
  if (!hasRoomFor(added, removed, nullptr)) return false;
  mGrowth = mGrowth.changedBy(added, removed);
  return true;
}

bool IdeaDocument::holdRoom(const void* holder, const DocumentSize& held) {
  const auto mine = mHeldRoom.find(holder);
  // No more than it holds takes nothing: the room is there whatever came in since.
  if (mine != mHeldRoom.end() && held.jsonBytes <= mine->second.jsonBytes && held.objects <= mine->second.objects) {
    mine->second = held;
    return true;
  }
  if (!hasRoomFor(held, DocumentSize(), holder)) return false;
  mHeldRoom[holder] = held;
  return true;
}

void IdeaDocument::releaseRoom(const void* holder) { mHeldRoom.erase(holder); }

void IdeaDocument::takeMapOf(const IdeaDocument& read) {
  mIdea = read.mIdea;
  mDateCreated = read.mDateCreated;
  mDateModified = read.mDateModified;
  mStoredSize = read.mStoredSize;
  mStoredMeasured = read.mStoredMeasured;
  mGrowth = DocumentSize();
}

void IdeaDocument::measureAsWritten() {
  if (!mIdea) return;
  try {
    // What was let in since the read is in the tree now; it counts apart until a write holds it.
    mStoredSize = measureOfNextWrite().changedBy(DocumentSize(), mGrowth);
    mStoredMeasured = true;
  } catch (const std::bad_alloc&) {
    // The bound stays, which refuses rather than lets in too much.
    logLine(QStringLiteral("Out of memory measuring %1").arg(mDocIdentifier));
  }
}

void IdeaDocument::measureIfNearLimit() {
  // Where the bound leaves less room than a large addition takes, a room question would soon
  // measure the map on the main thread; measured while it is read, it never does. Elsewhere only
  // an addition of more than this room measures it, which costs a good part of that itself.
  constexpr qint64 kRoomLeftUnmeasured = qint64(32) << 20;
  if (!mStoredMeasured && mStoredSize.jsonBytes > DocumentLimits::kMaxJSONBytes - kRoomLeftUnmeasured)
    measureAsWritten();
}

void IdeaDocument::noteWrittenSize(const DocumentSize& size, const DocumentSize& growth) {
  mStoredSize = size;
  mStoredMeasured = true;
  // What was let in after the snapshot is not in the file yet.
  mGrowth = mGrowth.changedBy(DocumentSize(), growth);
}

void IdeaDocument::noteReadCancelled() {
  mLastUserFriendlyError.clear();
  mLastError = DocumentError::cancelled();
}

void IdeaDocument::closeWithToken(DocumentToken token, BoolCompletion completion) {
  if (!goodToken(token)) {
    if (completion) completion(false);
    return;
  }
  mTokens.erase(token);
  if (mTokens.empty() && mFilePresenter) {
    mFilePresenter->close();
    mFilePresenter.reset();
  }
  if (completion) completion(true);
}

void IdeaDocument::readFromURL(const QUrl& url, BoolCompletion completion) {
  // The presenter is only needed until the read is done; the document (and the queue it may
  // own) stays until then, as its reader's completion expects.
  mLastUserFriendlyError.clear();
  mLastError = DocumentError();
  auto presenter = std::make_shared<IdeaFilePresenter>(url, weak_from_this());
  presenter->readWithCompletionHandler([self = shared_from_this(), presenter,
                                        completion = std::move(completion)](bool ok) mutable {
    presenter->close();
    if (completion) completion(ok);
  });
}

void IdeaDocument::writeEnded(const std::shared_ptr<QueuedSave>& save) {
  std::erase(mWritesInFlight, save);
  if (!mWritesInFlight.empty() || !std::exchange(mChangeWhileWriting, false)) return;
  if (mFilePresenter) mFilePresenter->presentedItemDidChange();
}

platform::Queue& IdeaDocument::workQueue() {
  if (mWorkQueue) return *mWorkQueue;
  if (!mOwnQueue) mOwnQueue = std::make_unique<platform::SerialQueue>("orrery.document");
  return *mOwnQueue;
}

void IdeaDocument::writeToLocalFileAt(const QUrl& url, BoolCompletion completion) {
  const QString path = url.toLocalFile();
  auto write = [snapshot = snapshot(), path, weakSelf = weak_from_this(),
                completion = std::move(completion)](bool) mutable {
    const EncodedDocument file = snapshot.encodeWithinLimits(true);
    bool written = false;
    if (!file.bytes.isEmpty()) {
      platform::FileCoordinator coordinator;
      coordinator.coordinateWriting(
          path, [&](const QString& p) { written = writeFileReplacing(p, file.bytes) == FileWriteResult::Written; });
    }
    snapshot = DocumentSnapshot();
    std::function<void()> report = [weakSelf, refusal = file.refusal, written, completion = std::move(completion)] {
      if (auto self = weakSelf.lock(); self && !written) self->noteWriteFailure(refusal);
      if (completion) completion(written);
    };
    completeOnMainQueue(std::move(report));
  };
  QueuedFileWork::async(workQueue(), QueuedFileWork::Kind::Write, std::move(write));
}

}  // namespace orrery
