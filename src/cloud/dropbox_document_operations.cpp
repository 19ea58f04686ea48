// The Dropbox engine's document operations. Each works on the mirror folder and the records
// only; later passes send the change. All but open and close run as one-shot tasks, one at a
// time in the order asked for. A create or update completes only once the status file names
// its new mirror file: a process killed before that point never acknowledged the save. Its
// file, and a status file naming it, are written as soon as it is asked for, so that an end
// that cannot wait for the main thread still finds the edit.

#include <QElapsedTimer>
#include <QFile>
#include <atomic>
#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

#include "cloud/dropbox_folder_manager.h"
#include "cloud/dropbox_sync_rules.h"
#include "foundation/logging.h"
#include "model/document_file_writer.h"
#include "model/idea_document.h"
#include "model/index_json_document.h"
#include "model/persistence_controller.h"
#include "platform/core/writes_under_way.h"

namespace orrery {

namespace rules = dropboxrules;

namespace {

// `refusal`: why the document has no bytes, when a limit refused it.
bool writeMirrorFile(const QString& path, const QByteArray& bytes, const QString& refusal = QString()) {
  if (bytes.isEmpty()) {
    logLine(refusal.isEmpty() ? QStringLiteral("Dropbox: nothing to write to %1").arg(path)
                              : QStringLiteral("Dropbox: cannot write %1: %2").arg(path, refusal));
    return false;
  }
  QString reason;
  if (writeFileReplacing(path, bytes, &reason) == FileWriteResult::Written) return true;
  logLine(QStringLiteral("Dropbox: cannot write %1: %2").arg(path, reason));
  return false;
}

// A save's mirror file, from the snapshot taken when the save was asked for.
struct MirrorFileWrite {
  std::shared_ptr<DocumentSnapshot> snapshot;
  EncodedDocument file;  // what the file measures, or why a limit refused it
  bool written = false;
  std::atomic<bool> done{false};

  // Off the main thread, once; the encoding runs with the write.
  void run(const QString& path) {
    file = snapshot->encodeWithinLimits(/*compressed=*/true);
    snapshot.reset();
    written = writeMirrorFile(path, file.bytes, file.refusal);
    file.bytes = QByteArray();
    done.store(true, std::memory_order_release);
  }
  // The file and the result may be read once it has run.
  bool finished() const { return done.load(std::memory_order_acquire); }
};

}  // namespace

// The status file as it stood when the save was asked for, with the save's record in it.
struct DropboxFolderManager::SaveStatus {
  std::shared_ptr<platform::QueuedWrite> counted;
  std::shared_ptr<MirrorFileWrite> file;
  QString filePath;
  QString path;
  std::uint64_t handed = 0;  // the status writes the main thread had handed over
  // The records stored since the last of them (shared with the main thread's map).
  DropboxFolderManagerState::DocumentMap changes;
  QString key;
  DocumentInfoPtr record;  // the save's, after those
  StatusWord word;
  std::shared_ptr<EncodedStatusRecords> written;
  std::shared_ptr<StatusQueueSide> side;
};

struct DropboxFolderManager::EarlySaves {
  std::mutex mutex;
  SaveStatuses waiting;
};

// Work queue: the files in the order asked for; then the status naming those written.
void DropboxFolderManager::writeEarlySaves(const std::shared_ptr<EarlySaves>& early,
                                           const std::shared_ptr<platform::SerialQueue>& statusQueue) {
  SaveStatuses saves;
  {
    const std::lock_guard lock(early->mutex);
    saves.swap(early->waiting);
  }
  SaveStatuses written, failed;
  for (auto& save : saves) {
    save->counted->runPart([&] { save->file->run(save->filePath); });
    (save->file->written ? written : failed).push_back(std::move(save));
  }
  for (auto& save : failed) {
    save->counted.reset();
    --save->side->savesUnderWay;
  }
  // The copies of the main thread's maps and sets go back to be let go of there (see startStatusWrite).
  if (!failed.empty()) platform::mainQueue().async([failed = std::move(failed)] {});
  if (written.empty()) return;
  ++written.front()->side->savesQueued;
  statusQueue->async([written = std::move(written)]() mutable { writeSaveStatus(std::move(written)); });
}

// Status queue. A save's status holds the records stored before it was asked for, unless a
// status write the main thread handed over since has run (that one took them over, and newer
// ones), and then its own record. With more saves' status writes queued behind, the write is
// left to the last, and so are the counts.
void DropboxFolderManager::writeSaveStatus(SaveStatuses saves) {
  StatusQueueSide& side = *saves.front()->side;
  const bool another = side.savesQueued.fetch_sub(1) > 1;
  if (side.closed.load()) {
    side.carried.clear();
  } else {
    EncodedStatusRecords& written = *saves.front()->written;
    std::shared_ptr<const DropboxFolderManagerState> header = side.header;
    for (const auto& save : saves) {
      if (side.handed == save->handed || !header) {
        for (auto it = save->changes.cbegin(); it != save->changes.cend(); ++it) written.store(it.key(), it.value());
        header = side.header = std::make_shared<DropboxFolderManagerState>(statusHeaderOf(save->word));
      }
      written.store(save->key, save->record);
      side.carried.push_back(std::move(save->counted));
    }
    if (!another) {
      // The last save's count is this write's; the others stay counted until it is done.
      auto counted = std::move(side.carried.back());
      side.carried.pop_back();
      counted->run([&] {
        const auto start = std::chrono::steady_clock::now();
        writeStatusFile(written, *header, saves.front()->path);
        restAfterStatusWrite(std::chrono::steady_clock::now() - start);
      });
      side.carried.clear();
    }
  }
  for (auto& save : saves) save->counted.reset();
  side.savesUnderWay -= int(saves.size());
  platform::mainQueue().async([saves = std::move(saves)] {});
}

void DropboxFolderManager::queueTask(StepMaker maker, bool joins) {
  auto task = AsyncFutureRunnable::createWithBlock([weak = weak_from_this()](AsyncFutureRunnable& task) {
    if (auto self = weak.lock()) self->runTask(task);
  });
  mTaskSteps[task.get()] = {std::move(maker), joins};
  mState->tasksToExecute().append(task);
  ensureRunnable();
}

void DropboxFolderManager::runTask(AsyncFutureRunnable& task) {
  auto it = mTaskSteps.find(&task);
  if (it == mTaskSteps.end()) return;
  LocalStep step = it->second.joins ? joinQueuedDocumentWrites(task) : it->second.make();
  auto running = std::make_shared<RunningStep>();
  running->finish = [weak = weak_from_this(), step, task = task.shared_from_this()](bool worked) {
    auto self = weak.lock();
    if (!self) return;
    auto after = step.apply(worked);
    // The task ends now; its caller hears back once the status file holds the change.
    self->saveOrCreateLocalStatus([after](bool saved) {
      if (after) after(saved);
    });
    task->postResponse();
  };
  if (!step.work) {
    running->applyOnce(true);
    return;
  }
  mRunningStep = running;
  workQueue().async([work = step.work, running] {
    running->worked = work();
    running->done = true;
    platform::mainQueue().async([running] { running->applyOnce(running->worked); });
  });
}

// A burst of saves: the writes queued right behind this one are taken out of the queue and
// run with it, their files written in one turn of the work queue and their records stored in
// order, so the burst costs a few hand-overs between threads instead of two per document. Each
// still completes only once the status file names its file.
DropboxFolderManager::LocalStep DropboxFolderManager::joinQueuedDocumentWrites(AsyncFutureRunnable& head) {
  std::vector<LocalStep> steps{mTaskSteps[&head].make()};
  auto& tasks = mState->tasksToExecute();
  if (tasks.isEmpty() || tasks.front().get() != &head) return steps.front();
  qsizetype end = 1;
  for (; end < tasks.size() && steps.size() < kMaxJoinedWrites; ++end) {
    const auto& next = tasks[end];
    auto found = mTaskSteps.find(next.get());
    if (found == mTaskSteps.end() || !found->second.joins || next->hasExecuteBeenRequested()) break;
    next->cancel();
    steps.push_back(found->second.make());
    mTaskSteps.erase(found);
  }
  tasks.remove(1, end - 1);
  if (steps.size() == 1) return steps.front();
  auto worked = std::make_shared<std::vector<char>>(steps.size(), 0);
  return {[steps, worked] {
            for (std::size_t i = 0; i < steps.size(); ++i) (*worked)[i] = steps[i].work ? steps[i].work() : true;
            return true;
          },
          [steps, worked](bool) -> std::function<void(bool)> {
            std::vector<std::function<void(bool)>> afters;
            for (std::size_t i = 0; i < steps.size(); ++i)
              if (auto after = steps[i].apply((*worked)[i] != 0)) afters.push_back(std::move(after));
            return [afters](bool saved) {
              for (const auto& after : afters) after(saved);
            };
          }};
}

void DropboxFolderManager::queueDocumentWrite(
    const std::shared_ptr<IdeaDocument>& doc,
    std::function<DocumentInfoPtr(const DocumentInfoPtr&, const QString&)> record,
    std::function<void(bool)> completion) {
  const QString name = createLocalORRXFileName();
  const QString key = doc->docIdentifier();
  const QString path = localManagedFile(name);
  ++mQueuedWrites[key];
  // The document as it is now: only the copy is made here, the encoding runs with the write.
  // What the file measures goes back to the document, which counts what the ways in add from
  // there (DocumentLimits).
  auto file = std::make_shared<MirrorFileWrite>();
  file->snapshot = std::make_shared<DocumentSnapshot>(doc->snapshot());
  // Until the start has sorted the mirror's files, a new one could be taken for a map without
  // a record: the file then waits for the task's turn.
  const bool now = mState->isLocalStatusFileLoaded() && !mStatusReadInFlight;
  if (now) {
    auto save = std::make_shared<SaveStatus>();
    save->counted = std::make_shared<platform::QueuedWrite>();
    save->file = file;
    save->filePath = path;
    save->path = localManagedFile(QLatin1String(DropboxFolderManagerState::kStatusFileName));
    save->handed = mStatusWritesHanded;
    save->key = key;
    save->record = record(mState->docs().value(key), name);
    save->changes = mUnwrittenRecords;
    save->word = statusWord();
    save->written = mWrittenRecords;
    save->side = mStatusSide;
    ++mStatusSide->savesUnderWay;
    if (!mEarlySaves) mEarlySaves = std::make_shared<EarlySaves>();
    bool first = false;
    {
      const std::lock_guard lock(mEarlySaves->mutex);
      first = mEarlySaves->waiting.empty();
      mEarlySaves->waiting.push_back(std::move(save));
    }
    // A turn already queued takes this one too, and runs before the task's step.
    if (first)
      workQueue().async([early = mEarlySaves, queue = mStatusQueue] { writeEarlySaves(early, queue); });
  }
  queueTask(
      [this, doc, growth = doc->growth(), file, now, path, key, name, record, completion]() -> LocalStep {
        // The task, in its turn, takes what was written (the work queue has run the write before
        // this); a quit that could not wait for it finds it not written.
        std::function<bool()> work = [file] { return file->finished() && file->written; };
        if (!now)
          work = [file, path] {
            file->run(path);
            return file->written;
          };
        return {std::move(work),
                [this, doc, growth, file, key, name, record, completion](bool written) -> std::function<void(bool)> {
                  if (auto it = mQueuedWrites.find(key); it != mQueuedWrites.end() && --it->second <= 0)
                    mQueuedWrites.erase(it);
                  if (written)
                    doc->noteWrittenSize(file->file.size, growth);
                  else if (file->finished() && !file->file.refusal.isEmpty())
                    doc->noteWriteFailure(file->file.refusal);
                  if (written) storeRecord(key, record(mState->docs().value(key), name));
                  return [completion, written](bool saved) {
                    if (completion) completion(written && saved);
                  };
                }};
      },
      /*joins=*/true);
}

void DropboxFolderManager::createDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) {
  queueDocumentWrite(
      doc,
      [](const DocumentInfoPtr&, const QString& name) {
        return DocumentInfo::create(nullptr, nullptr, SyncFileInfo::create(name, QString()));
      },
      [completion](bool ok) {
        if (completion) completion(ok ? 1 : 0);
      });
}

void DropboxFolderManager::updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken /*token*/,
                                          BoolCompletion completion) {
  queueDocumentWrite(
      doc,
      [](const DocumentInfoPtr& record, const QString& name) {
        const auto output = SyncFileInfo::create(name, rules::localRevFromDocumentInfo(record));
        return record ? record->withOutput(output) : DocumentInfo::create(nullptr, nullptr, output);
      },
      std::move(completion));
}

void DropboxFolderManager::deleteDocument(const QString& docIdentifier, BoolCompletion completion) {
  queueTask([this, docIdentifier, completion]() -> LocalStep {
    return {nullptr, [this, docIdentifier, completion](bool) -> std::function<void(bool)> {
              if (const DocumentInfoPtr record = mState->docs().value(docIdentifier)) {
                const QString rev = record->output()    ? record->output()->rev()
                                    : record->current() ? record->current()->rev()
                                                        : QString();
                storeRecord(docIdentifier, record->withOutput(rev.isNull() ? SyncFileInfo::EMPTY()
                                                                           : SyncFileInfo::create(QString(), rev)));
              }
              return [completion](bool) {
                if (completion) completion(true);
              };
            }};
  });
}

void DropboxFolderManager::fetchDocument(const QString& docIdentifier, DocumentCompletion completion) {
  queueTask([this, docIdentifier, completion]() -> LocalStep {
    const DocumentInfoPtr record = mState->docs().value(docIdentifier);
    SyncFileInfoPtr info;
    if (record) info = SyncFileInfo::hasFile(record->output()) ? record->output() : record->current();
    if (!SyncFileInfo::hasFile(info))
      return {nullptr, [completion](bool) -> std::function<void(bool)> {
                if (completion) completion(nullptr);
                return nullptr;
              }};
    const QString name = info->name();
    mState->filesBeingAccessedByLoad().append(name);
    auto bytes = std::make_shared<QByteArray>();
    const QString path = localManagedFile(name);
    return {[path, bytes] { return readMirrorFile(path, bytes.get()); },
            [this, docIdentifier, name, bytes, completion](bool read) -> std::function<void(bool)> {
              mState->filesBeingAccessedByLoad().removeAll(name);
              std::shared_ptr<IdeaDocument> doc;
              if (read) {
                doc = IdeaDocument::createWithFileName(docIdentifier.section(QLatin1Char('/'), -1),
                                                       DocumentLocationDropbox);
                DocumentError error;
                if (!doc->loadFromOrreryData(*bytes, &error)) {
                  logLine(QStringLiteral("Dropbox: %1 holds no readable document: %2").arg(name, error.description));
                  doc.reset();
                }
              }
              if (completion) completion(doc);
              return nullptr;
            }};
  });
}

void DropboxFolderManager::openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) {
  fetchDocument(doc->docIdentifier(), [doc, completion](std::shared_ptr<IdeaDocument> fetched) {
    if (fetched) doc->takeMapOf(*fetched);
    if (completion) completion(fetched ? 1 : 0);
  });
}

void DropboxFolderManager::closeDocument(const std::shared_ptr<IdeaDocument>& /*doc*/, DocumentToken /*token*/,
                                         BoolCompletion completion) {
  if (completion) completion(true);
}

void DropboxFolderManager::saveProxyList(const ProxyList& proxies) {
  mIndexList = proxies;
  const QString name = createLocalIndexFileName();
  queueTask([this, proxies, name]() -> LocalStep {
    const QString path = localManagedFile(name);
    auto index = IndexJSONDocument::createWithFileURL(QUrl::fromLocalFile(path), workQueue());
    index->setIdeaProxyList(proxies);
    auto bytes = std::make_shared<QByteArray>(index->contentsAsJSONData());
    return {[path, bytes] { return writeMirrorFile(path, *bytes); },
            [this, name](bool written) -> std::function<void(bool)> {
              if (written) {
                auto& st = *mState;
                st.setIndexDocumentInfo(st.indexDocumentInfo()->withOutput(
                    SyncFileInfo::create(name, rules::localRevFromDocumentInfo(st.indexDocumentInfo()))));
              }
              return nullptr;
            }};
  });
}

// ---- quitting

void DropboxFolderManager::finishForQuit() {
  QElapsedTimer elapsed;
  elapsed.start();
  const qint64 budget = qint64(kQuitBudgetSeconds * 1000);
  std::vector<std::function<void(bool)>> waiting;
  // The running task and the saves' files finish on the work queue; the task is applied
  // first, in its order.
  auto group = std::make_shared<platform::DispatchGroup>();
  group->enter();
  workQueue().async([group] { group->leave(); });
  group->wait(platform::Millis(budget));
  // A task whose file is written but whose record waits for a main-queue turn is applied now.
  if (auto running = mRunningStep.lock(); running && running->done) running->applyOnce(running->worked);
  auto& tasks = mState->tasksToExecute();
  // Tasks not yet started are applied now, on this thread, a save with the file it wrote.
  for (qsizetype i = 0; i < tasks.size() && elapsed.elapsed() < budget;) {
    const auto task = tasks[i];
    auto it = mTaskSteps.find(task.get());
    if (task->hasExecuteBeenRequested() || it == mTaskSteps.end()) {
      ++i;
      continue;
    }
    task->cancel();
    LocalStep step = it->second.make();
    mTaskSteps.erase(it);
    tasks.removeAt(i);
    if (auto after = step.apply(step.work ? step.work() : true)) waiting.push_back(std::move(after));
  }
  // The status written here is the last: a save's own status write coming later would set an
  // older one back.
  mStatusSide->closed.store(true);
  mStatusQueue->drain();
  auto last = DropboxFolderManagerState::initByCopying(*mState);
  ensureMirrorCounted();
  const DropboxFolderManagerState header = statusHeader();
  last->setLastMade(header.lastMade());
  last->setLetGo(header.letGo());
  last->setSetAside(header.setAside());
  last->setEarlierSaves(header.earlierSaves());
  const bool saved =
      last->writeAtomicallyToURL(localManagedFile(QLatin1String(DropboxFolderManagerState::kStatusFileName)));
  if (!saved) logLine(QStringLiteral("Dropbox: the sync state could not be written at quit"));
  // The status on disk now lets these go; earlier saves of maps that stay wait for the start.
  if (saved) {
    removeWrittenLetGo(header.letGo());
    for (const QString& path : std::exchange(mState->filesToReallyDelete(), {}))
      if (QFile::remove(path) && mRemovalReasons.contains(path))
        logLine(QStringLiteral("Dropbox: removed %1: %2").arg(path, mRemovalReasons.take(path)));
  }
  for (auto& after : waiting) after(saved);
}

}  // namespace orrery
