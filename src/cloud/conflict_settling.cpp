// How the iCloud engine settles a document's conflict versions: every version is read first;
// the newest that reads takes the file, every other one that reads (and the local content)
// becomes a new document, and one that does not read goes back beside the documents as a file
// named for what it is. Nothing is deleted that is not in a file afterwards.

#include "cloud/cloud_mode.h"

#include "cloud/unreadable_conflict_version.h"
#include "foundation/logging.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/persistence_controller.h"

#include "platform/cloud/conflict_copy_name.h"
#include "platform/cloud/file_version.h"
#include "platform/core/dispatch.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace orrery {

namespace {

QString sourceOf(const platform::FileVersion& version) {
  return platform::parseConflictCopyName(QFileInfo(version.path()).fileName()).mark;
}

}  // namespace

std::shared_ptr<platform::FileVersion> CloudMode::findConflictingVersion(const IdeaProxyPtr& proxy) {
  const QUrl url = proxy ? urlForIdentifier(proxy->docIdentifier()) : QUrl();
  if (url.isEmpty()) return nullptr;
  std::shared_ptr<platform::FileVersion> newest;
  for (const auto& version : platform::FileVersion::unresolvedConflictVersionsOfItemAtURL(url.toLocalFile())) {
    const qint64 seconds = version->modificationDate().toSecsSinceEpoch();
    if (!newest || seconds > newest->modificationDate().toSecsSinceEpoch()) newest = version;
  }
  return newest;
}

void CloudMode::handleConflictForProxy(const IdeaProxyPtr& proxy, ConflictCompletion completion) {
  if (!findConflictingVersion(proxy)) {
    if (completion) completion(false, {});
    return;
  }
  auto settling = std::make_shared<ConflictSettling>();
  settling->proxy = proxy;
  settling->completion = std::move(completion);
  for (const auto& version : platform::FileVersion::unresolvedConflictVersionsOfItemAtURL(
           urlForIdentifier(proxy->docIdentifier()).toLocalFile()))
    settling->toRead.push_back(version);
  readNextVersion(settling);
}

void CloudMode::ConflictSettling::answer(bool resolved) {
  std::vector<KeptConflictVersion> told;
  if (resolved) {
    for (const Kept& one : kept) told.push_back({one.source, one.doc->documentWindowName(), QString()});
    told.insert(told.end(), setAside.begin(), setAside.end());
  }
  if (completion) completion(resolved, told);
}

void CloudMode::readNextVersion(const std::shared_ptr<ConflictSettling>& settling) {
  if (mDead) return settling->answer(false);
  if (settling->toRead.empty()) return chooseNewestReadable(settling);
  const auto version = settling->toRead.front();
  settling->toRead.erase(settling->toRead.begin());
  auto read = IdeaDocument::createWithFileName(QFileInfo(version->path()).fileName(), DocumentLocationICloud);
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  read->readFromURL(QUrl::fromLocalFile(version->path()), [weakSelf, settling, version, read](bool success) {
    auto self = weakSelf.lock();
    if (!self) return settling->answer(false);
    // The quit dropped the read: nothing is known of the version, and nothing is settled.
    if (!success && read->lastError().isCancelled()) return settling->answer(false);
    if (success && read->idea())
      settling->readable.push_back({version, read->idea()});
    else
      settling->unreadable.push_back({version, read->lastError().code == kDocumentErrorNewerVersion});
    self->readNextVersion(settling);
  });
}

void CloudMode::chooseNewestReadable(const std::shared_ptr<ConflictSettling>& settling) {
  // The newest of those that read takes the file (the first of equal dates, as in
  // findConflictingVersion); a version that does not read could only make the file unreadable.
  auto& readable = settling->readable;
  std::size_t newest = 0;
  for (std::size_t i = 1; i < readable.size(); ++i)
    if (readable[i].version->modificationDate().toSecsSinceEpoch() >
        readable[newest].version->modificationDate().toSecsSinceEpoch())
      newest = i;
  if (readable.empty()) {
    // The local content stays in the file; the versions that do not read are kept as files.
    setUnreadableVersionsAside(settling);
    return settling->answer(!settling->setAside.empty());
  }
  settling->newest = readable[newest].version;
  readable.erase(readable.begin() + std::ptrdiff_t(newest));
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  fetchIdea(settling->proxy->docIdentifier(), [weakSelf, settling](const std::shared_ptr<Idea>& idea) {
    auto self = weakSelf.lock();
    if (!self || self->mDead || !idea) return settling->answer(false);
    self->keepAsDocument(settling, idea, nullptr);
  });
}

void CloudMode::keepAsDocument(const std::shared_ptr<ConflictSettling>& settling, const std::shared_ptr<Idea>& idea,
                               const std::shared_ptr<platform::FileVersion>& version) {
  // Made as every new document of the location is.
  auto copy = IdeaDocument::createWithFileName(QString(), DocumentLocationICloud);
  copy->setIdea(idea->deepCopyWithNewIdentifiersNoExternalLinks());
  const QDateTime now = QDateTime::currentDateTimeUtc();
  copy->setDateCreated(now);
  copy->setDateModified(now);
  const QString source = version ? sourceOf(*version) : QString();
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  createDocument(copy, [weakSelf, settling, copy, version, source](DocumentToken token) {
    auto self = weakSelf.lock();
    if (!self) return settling->answer(false);
    if (token < 1) return self->takeBackKeptDocuments(settling);
    self->closeDocument(copy, token, nullptr);
    // Listed at once, as a new document of this location is: the user sees every version, and
    // the index written when the conflict is settled keeps them.
    const IdeaProxyPtr listed = IdeaProxy::createWithDoc(copy);
    self->report([&](PersistenceStateDelegate& d) { d.observeIdeaProxy(listed, self.get()); });
    settling->kept.push_back({copy, version, source});
    self->keepNextVersion(settling);
  });
}

void CloudMode::keepNextVersion(const std::shared_ptr<ConflictSettling>& settling) {
  if (mDead) return settling->answer(false);
  if (settling->readable.empty()) return finishConflict(settling);
  const ConflictSettling::Read next = settling->readable.front();
  settling->readable.erase(settling->readable.begin());
  keepAsDocument(settling, next.idea, next.version);
}

void CloudMode::takeBackKeptDocuments(const std::shared_ptr<ConflictSettling>& settling) {
  // Copies of versions that all stay where they are would be duplicates.
  for (const ConflictSettling::Kept& one : settling->kept) {
    report([&](PersistenceStateDelegate& d) { d.ideaDocumentDeleted(one.doc->docIdentifier(), this); });
    doDeleteFileAtURL(createFileURLForFileName(one.doc->filePath()), nullptr);
  }
  settling->kept.clear();
  // After the deletions, which run in order on the work queue.
  PersistenceController::singleton().workQueue().async(
      [settling] { platform::mainQueue().async([settling] { settling->answer(false); }); });
}

void CloudMode::setUnreadableVersionsAside(const std::shared_ptr<ConflictSettling>& settling) {
  const QString document = IdeaDocument::pathFromIdentifier(settling->proxy->docIdentifier());
  for (const ConflictSettling::Unreadable& one : settling->unreadable) {
    const QString source = sourceOf(*one.version);
    const QString keptAs = setUnreadableVersionAside(one.version->path(), mCloudDocURL, document, source, one.newerFormat);
    // One that cannot be moved stays an unresolved version, for a later open.
    if (!keptAs.isEmpty())
      settling->setAside.push_back({source, keptAs, unreadableVersionProblem(one.newerFormat)});
  }
  settling->unreadable.clear();
}

void CloudMode::finishConflict(const std::shared_ptr<ConflictSettling>& settling) {
  const IdeaProxyPtr proxy = settling->proxy;
  const QUrl url = urlForIdentifier(proxy->docIdentifier());
  QString error;
  if (url.isEmpty() || !settling->newest->replaceItemAtURL(url.toLocalFile(), &error)) {
    // The other side's content did not arrive: every version stays for a later try.
    logLine(QStringLiteral("CloudMode: the conflict version could not replace %1: %2").arg(url.toLocalFile(), error));
    return takeBackKeptDocuments(settling);
  }
  // The versions now in the file and in the new documents go; those that do not read are
  // kept beside the documents.
  bool removedAll = settling->newest->remove(&error);
  for (const ConflictSettling::Kept& one : settling->kept)
    if (one.version && !one.version->remove(&error)) removedAll = false;
  if (!removedAll) logLine(QStringLiteral("Error removing other document versions: %1").arg(error));
  setUnreadableVersionsAside(settling);
  QDir().rmdir(platform::FileVersion::versionsFolderOf(url.toLocalFile()));  // only when empty
  // On a later turn: a presenter of the file re-reads the replaced content first.
  std::weak_ptr<CloudMode> weakSelf = weak_from_this();
  platform::mainQueue().async([weakSelf, settling] {
    auto self = weakSelf.lock();
    if (!self || self->mDead) return settling->answer(false);
    const auto doc = settling->proxy->doc();
    self->openDocument(doc, [weakSelf, doc, settling](DocumentToken token) {
      auto self = weakSelf.lock();
      if (!self || token < 1) return settling->answer(false);
      self->updateDocument(doc, token, [weakSelf, doc, token, settling](bool saved) {
        if (auto self = weakSelf.lock()) {
          self->closeDocument(doc, token, nullptr);
          // The tile shows what the file holds now.
          const IdeaProxyPtr updated = IdeaProxy::createWithDoc(doc);
          if (saved) self->report([&](PersistenceStateDelegate& d) { d.observeIdeaProxy(updated, self.get()); });
        }
        settling->answer(saved);
      });
    });
  });
}

}  // namespace orrery
