// The Dropbox engine's document operations. Each works on the mirror folder and the records
// only; later passes send the change. All but open and close run as one-shot tasks, one at a
// time in the order asked for. A create or update completes only once the status file names
// its new mirror file: a process killed before that point never acknowledged the save.

#include <QElapsedTimer>
#include <QFile>
#include <utility>

#include "cloud/dropbox_folder_manager.h"
#include "cloud/dropbox_sync_rules.h"
#include "foundation/logging.h"
#include "model/document_file_writer.h"
#include "model/idea_document.h"
#include "model/index_json_document.h"
#include "model/persistence_controller.h"

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

}  // namespace

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
  ++mQueuedWrites[key];
  queueTask(
      [this, doc, key, name, record, completion]() -> LocalStep {
        const QString path = localManagedFile(name);
        // The document is taken as it is when the task runs; only the copy is made here, the
        // encoding runs with the write, off the main thread. What the file measures goes back to
        // the document, which counts what the ways in add from there (DocumentLimits).
        auto snapshot = std::make_shared<DocumentSnapshot>(doc->snapshot());
        auto file = std::make_shared<EncodedDocument>();
        return {[path, snapshot, file] {
                  *file = snapshot->encodeWithinLimits(/*compressed=*/true);
                  const bool written = writeMirrorFile(path, file->bytes, file->refusal);
                  file->bytes = QByteArray();
                  return written;
                },
                [this, doc, growth = doc->growth(), file, key, name, record,
                 completion](bool written) -> std::function<void(bool)> {
                  if (auto it = mQueuedWrites.find(key); it != mQueuedWrites.end() && --it->second <= 0)
                    mQueuedWrites.erase(it);
                  if (written)
                    doc->noteWrittenSize(file->size, growth);
                  else if (!file->refusal.isEmpty())
                    doc->noteWriteFailure(file->refusal);
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
  auto& tasks = mState->tasksToExecute();
  // Tasks not yet started write now, on this thread; a running one finishes on the work queue.
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
  auto group = std::make_shared<platform::DispatchGroup>();
  group->enter();
  workQueue().async([group] { group->leave(); });
  group->wait(platform::Millis(std::max<qint64>(0, budget - elapsed.elapsed())));
  // A task whose file is written but whose record waits for a main-queue turn is applied now.
  if (auto running = mRunningStep.lock(); running && running->done) running->applyOnce(running->worked);
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
