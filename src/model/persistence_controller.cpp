#include "model/persistence_controller.h"

#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/workspace_search.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "platform/services/standard_folders.h"
#include "platform/services/user_defaults.h"

#include <QDir>
#include <QFileInfo>

namespace orrery {

namespace {

// Local identifiers name the canonical path, however the caller spelled it.
QString normalizedIdentifier(const QString& docIdentifier) {
  if (IdeaDocument::locationFromIdentifier(docIdentifier) != DocumentLocationLocalFile) return docIdentifier;
  return IdeaDocument::docIdentifierFromPath(IdeaDocument::pathFromIdentifier(docIdentifier),
                                             DocumentLocationLocalFile);
}

// A temporary document's path is a bare file name inside the folder of unsaved documents;
// anything that would lead out of it is refused.
bool isPlainFileName(const QString& name) {
  return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains(QChar(0));
}

}  // namespace

PersistenceController& PersistenceController::singleton() {
  static PersistenceController* instance = [] {
    auto* controller = new PersistenceController();
    controller->initializePersistenceController();
    return controller;
  }();
  return *instance;
}

PersistenceController::PersistenceController()
    : mQueue("orrery.persistence"),
      mIdeaOperations(*this, [this](const std::shared_ptr<IdeaDocument>& doc) { announceDocumentChange(doc); }) {}

void PersistenceController::initializePersistenceController() {
  ensureICloudWorkspaceStatus();
  ensureDropboxWorkspaceStatus();
  mObservers.observe(platform::kUserDefaultsDidChangeNotification, nullptr,
                     [this](const platform::Notification&) { userDefaultsDidChange(); });
}

void PersistenceController::userDefaultsDidChange() {
  if (!platform::mainQueue().isCurrent()) {
    platform::mainQueue().async([this] { userDefaultsDidChange(); });
    return;
  }
  ensureICloudWorkspaceStatus();
  ensureDropboxWorkspaceStatus();
}

void PersistenceController::setWorkspaceFactory(WorkspaceFactory factory) {
  mWorkspaceFactory = std::move(factory);
  ensureICloudWorkspaceStatus();
  ensureDropboxWorkspaceStatus();
}

void PersistenceController::ensureICloudWorkspaceStatus() {
  ensureWorkspace(DocumentLocationICloud, Globals::userHasOptedForICloud(), mICloudWorkspace);
}

void PersistenceController::ensureDropboxWorkspaceStatus() {
  ensureWorkspace(DocumentLocationDropbox, Globals::userHasOptedForDropbox(), mDropboxWorkspace);
}

void PersistenceController::ensureWorkspace(DocumentLocation location, bool chosen,
                                            std::shared_ptr<WorkspaceInterface>& slot) {
  if (chosen && !slot) {
    if (!mWorkspaceFactory) return;
    slot = mWorkspaceFactory(location, this);
    if (slot) platform::NotificationCenter::defaultCenter().post(PersistenceStateChangeNotification);
  } else if (!chosen && slot) {
    std::shared_ptr<WorkspaceInterface> dropped = std::move(slot);
    slot.reset();
    dropped->closeWorkspace();
    tellListeners([location](PersistenceControllerListener& l) { l.pleaseStopUsingLocation(location); });
  }
}

// ---- listeners

void PersistenceController::addListener(const std::shared_ptr<PersistenceControllerListener>& listener) {
  if (listener) mListeners.push_back(listener);
}

void PersistenceController::removeListener(const PersistenceControllerListener* listener) {
  std::erase_if(mListeners, [listener](const std::weak_ptr<PersistenceControllerListener>& holder) {
    auto value = holder.lock();
    return !value || value.get() == listener;
  });
}

void PersistenceController::tellListeners(const std::function<void(PersistenceControllerListener&)>& message) {
  // Over a copy: listeners may add or remove listeners while being told.
  const auto holders = mListeners;
  for (const auto& holder : holders)
    if (auto listener = holder.lock()) message(*listener);
}

void PersistenceController::announceDocumentChange(const std::shared_ptr<IdeaDocument>& doc) {
  if (!doc || !doc->idea()) return;
  const auto proxy = IdeaProxy::createWithDoc(doc);
  tellListeners([&](PersistenceControllerListener& l) { l.documentUpdated(proxy); });
}

// ---- the one object per document

std::shared_ptr<IdeaDocument> PersistenceController::liveDocument(const QString& docIdentifier) const {
  if (auto it = mRegisteredDocuments.find(docIdentifier); it != mRegisteredDocuments.end()) return it.value();
  auto it = mDocumentObjects.find(docIdentifier);
  if (it == mDocumentObjects.end()) return nullptr;
  auto doc = it.value().lock();
  if (!doc) mDocumentObjects.erase(it);
  return doc;
}

bool PersistenceController::claim(const std::shared_ptr<IdeaDocument>& doc) {
  auto live = liveDocument(doc->docIdentifier());
  if (live && live != doc) {
    // A second object would be a second tree of the same file, and one of them would lose
    // what the other wrote.
    softAssertionFailed(__LINE__, "-[PersistenceController claim:]");
    return false;
  }
  rememberObject(doc);
  return true;
}

void PersistenceController::rememberObject(const std::shared_ptr<IdeaDocument>& doc) {
  // Objects nobody holds any more are forgotten now and then, so the table stays small.
  if (mDocumentObjects.size() >= mPruneThreshold) {
    mDocumentObjects.removeIf([](const auto& entry) { return entry.value().expired(); });
    mPruneThreshold = std::max<qsizetype>(64, mDocumentObjects.size() * 2);
  }
  mDocumentObjects.insert(doc->docIdentifier(), doc);
  doc->setWorkQueue(&mQueue);
  doc->setSaveAnnouncer([this](const std::shared_ptr<IdeaDocument>& saved) { announceDocumentChange(saved); });
}

void PersistenceController::drainSaves() {
  // Every save asked for is queued already.
  mQueue.drain();
}

void PersistenceController::registerOpen(const std::shared_ptr<IdeaDocument>& doc, const QString& previousIdentifier) {
  if (previousIdentifier != doc->docIdentifier()) {
    // A new document moved on to another name while it was created.
    auto it = mDocumentObjects.find(previousIdentifier);
    if (it != mDocumentObjects.end() && it.value().lock() == doc) mDocumentObjects.erase(it);
  }
  rememberObject(doc);
  mRegisteredDocuments.insert(doc->docIdentifier(), doc);
}

// ---- documents

void PersistenceController::createDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) {
  createDocument(doc, 0, std::move(completion));
}

void PersistenceController::createDocument(const std::shared_ptr<IdeaDocument>& doc, std::size_t index,
                                           TokenCompletion completion) {
  auto done = [completion](DocumentToken token) {
    if (completion) completion(token);
  };
  if (!doc) return done(0);
  const DocumentLocation location = doc->location();
  if (isCloudLocation(location)) {
    auto* workspace = workspaceForLocation(location);
    if (!workspace) return done(0);
    return workspace->createDocument(doc, index, std::move(done));
  }
  if (mRegisteredDocuments.contains(doc->docIdentifier()) || !claim(doc)) return done(0);
  const QString identifier = doc->docIdentifier();
  doc->createAtURL(urlForLocalOrTempFileWithDocIdentifer(identifier),
                   [this, doc, identifier, done = std::move(done)](DocumentToken token) {
                     if (token >= 1) registerOpen(doc, identifier);
                     done(token);
                   });
}

void PersistenceController::fetchDocument(const QString& docIdentifier, IdeaCompletion completion) {
  fetchDocument(docIdentifier, FetchCompletion([completion = std::move(completion)](std::shared_ptr<Idea> idea,
                                                                                    const DocumentError&) {
                  if (completion) completion(std::move(idea));
                }));
}

void PersistenceController::fetchDocument(const QString& docIdentifier, FetchCompletion completion) {
  auto done = [completion](std::shared_ptr<Idea> idea, const DocumentError& error) {
    if (completion) completion(std::move(idea), error);
  };
  const DocumentLocation location = IdeaDocument::locationFromIdentifier(docIdentifier);
  if (isCloudLocation(location)) {
    auto* workspace = workspaceForLocation(location);
    if (!workspace) return done(nullptr, DocumentError());
    return workspace->fetchDocument(docIdentifier, [done = std::move(done)](std::shared_ptr<IdeaDocument> doc) {
      done(doc ? doc->idea() : nullptr, doc ? doc->lastError() : DocumentError());
    });
  }
  // A fresh reading of the file, apart from any open object.
  auto doc = IdeaDocument::createWithIdentifier(docIdentifier);
  doc->setWorkQueue(&mQueue);
  doc->readFromURL(urlForLocalOrTempFileWithDocIdentifer(docIdentifier), [doc, done = std::move(done)](bool success) {
    if (success)
      done(doc->idea(), DocumentError());
    else
      done(nullptr, doc->lastError());
  });
}

void PersistenceController::openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) {
  auto done = [completion](DocumentToken token) {
    if (completion) completion(token);
  };
  if (!doc) return done(0);
  const DocumentLocation location = doc->location();
  if (isCloudLocation(location)) {
    auto* workspace = workspaceForLocation(location);
    if (!workspace) return done(0);
    return workspace->openDocument(doc, std::move(done));
  }
  if (!claim(doc)) return done(0);
  const QString identifier = doc->docIdentifier();
  doc->openFromURL(urlForLocalOrTempFileWithDocIdentifer(identifier),
                   [this, doc, identifier, done = std::move(done)](DocumentToken token) {
                     if (token >= 1) registerOpen(doc, identifier);
                     done(token);
                   });
}

void PersistenceController::saveDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                         BoolCompletion completion) {
  auto done = [completion](bool ok) {
    if (completion) completion(ok);
  };
  if (!doc) return done(false);
  doc->setDateModified(QDateTime::currentDateTimeUtc());
  const DocumentLocation location = doc->location();
  if (isCloudLocation(location)) {
    auto* workspace = workspaceForLocation(location);
    if (!workspace) return done(false);
    return workspace->updateDocument(doc, token, std::move(done));
  }
  doc->updateWithToken(token, std::move(done));
}

void PersistenceController::releaseDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                            BoolCompletion completion) {
  auto done = [completion](bool ok) {
    if (completion) completion(ok);
  };
  if (!doc) return done(false);
  const DocumentLocation location = doc->location();
  if (isCloudLocation(location)) {
    auto* workspace = workspaceForLocation(location);
    if (!workspace) return done(false);
    return workspace->closeDocument(doc, token, std::move(done));
  }
  doc->closeWithToken(token, [this, doc, done = std::move(done)](bool ok) {
    // With its last token gone the document leaves the registry, so that a later create or
    // Save As at its path is not refused.
    if (!doc->isOpen()) {
      auto it = mRegisteredDocuments.find(doc->docIdentifier());
      if (it != mRegisteredDocuments.end() && it.value() == doc) mRegisteredDocuments.erase(it);
    }
    done(ok);
  });
}

void PersistenceController::deleteDocument(const QString& docIdentifier, BoolCompletion completion) {
  auto done = [completion](bool ok) {
    if (completion) completion(ok);
  };
  const DocumentLocation location = IdeaDocument::locationFromIdentifier(docIdentifier);
  if (isCloudLocation(location)) {
    auto* workspace = workspaceForLocation(location);
    if (!workspace) return done(false);
    return workspace->deleteDocument(docIdentifier, std::move(done));
  }
  // Temporary and local documents leave the registry; their files stay where they are. The
  // answer says whether there was such a document.
  const QString identifier = normalizedIdentifier(docIdentifier);
  const bool wasRegistered = mRegisteredDocuments.remove(identifier) > 0;
  const QUrl url = urlForLocalOrTempFileWithDocIdentifer(identifier);
  done(wasRegistered || (url.isValid() && QFileInfo::exists(url.toLocalFile())));
}

std::shared_ptr<IdeaDocument> PersistenceController::findDocument(const QString& docIdentifier) {
  const DocumentLocation location = IdeaDocument::locationFromIdentifier(docIdentifier);
  if (isCloudLocation(location)) {
    auto* workspace = workspaceForLocation(location);
    return workspace ? workspace->findDocument(docIdentifier) : nullptr;
  }
  return liveDocument(normalizedIdentifier(docIdentifier));
}

std::shared_ptr<IdeaDocument> PersistenceController::documentForIdentifier(const QString& docIdentifier) {
  if (auto doc = findDocument(docIdentifier)) return doc;
  if (isCloudLocation(IdeaDocument::locationFromIdentifier(docIdentifier))) return nullptr;
  auto doc = IdeaDocument::createWithIdentifier(docIdentifier);
  rememberObject(doc);
  return doc;
}

bool PersistenceController::documentKnown(const QString& docIdentifier) {
  return mRegisteredDocuments.contains(normalizedIdentifier(docIdentifier));
}

std::shared_ptr<IdeaProxy> PersistenceController::findProxy(const QString& docIdentifier) {
  auto* workspace = workspaceForLocation(IdeaDocument::locationFromIdentifier(docIdentifier));
  if (!workspace || !workspace->proxyListOrNilIfNotReady()) return nullptr;
  return workspace->findProxy(docIdentifier);
}

QString PersistenceController::volatileFolder() {
  const QString support = platform::applicationSupportFolder();
  if (support.isEmpty()) return {};
  const QString folder = support + "/volatile";
  return QDir().mkpath(folder) ? folder : QString();
}

QUrl PersistenceController::urlForLocalOrTempFileWithDocIdentifer(const QString& docIdentifier) {
  const QString path = IdeaDocument::pathFromIdentifier(docIdentifier);
  switch (IdeaDocument::locationFromIdentifier(docIdentifier)) {
    case DocumentLocationLocalFile:
      return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
    case DocumentLocationTemp: {
      if (!isPlainFileName(path)) return {};
      const QString folder = volatileFolder();
      return folder.isEmpty() ? QUrl() : QUrl::fromLocalFile(folder + '/' + path);
    }
    default:
      softAssertionFailed(__LINE__, "-[PersistenceController urlForLocalOrTempFileWithDocIdentifer:]");
      return {};
  }
}

// ---- locations

WorkspaceInterface* PersistenceController::workspaceForLocation(DocumentLocation location) const {
  if (location == DocumentLocationICloud) return mICloudWorkspace.get();
  if (location == DocumentLocationDropbox) return mDropboxWorkspace.get();
  return nullptr;
}

DocumentLocation PersistenceController::locationFromCurrentWorkspace(const WorkspaceInterface* workspace) const {
  if (workspace && workspace == mICloudWorkspace.get()) return DocumentLocationICloud;
  if (workspace && workspace == mDropboxWorkspace.get()) return DocumentLocationDropbox;
  return DocumentLocationTemp;
}

std::optional<ProxyList> PersistenceController::proxyListForLocation(DocumentLocation location) const {
  auto* workspace = workspaceForLocation(location);
  return workspace ? workspace->proxyListOrNilIfNotReady() : std::nullopt;
}

bool PersistenceController::isLocationReadyForUse(DocumentLocation location) const {
  if (!isCloudLocation(location)) return true;
  auto* workspace = workspaceForLocation(location);
  return workspace && workspace->proxyListOrNilIfNotReady().has_value();
}

WorkspaceStatus PersistenceController::statusForLocation(DocumentLocation location) const {
  auto* workspace = workspaceForLocation(location);
  return workspace ? workspace->status() : WorkspaceStatusUnavailable;
}

std::shared_ptr<platform::FileVersion> PersistenceController::findConflictingVersion(
    const std::shared_ptr<IdeaProxy>& proxy) {
  auto* workspace = workspaceForLocation(DocumentLocationICloud);
  if (!proxy || !workspace || proxy->location() != DocumentLocationICloud) return nullptr;
  return workspace->findConflictingVersion(proxy);
}

void PersistenceController::handleConflictForProxy(const std::shared_ptr<IdeaProxy>& proxy,
                                                   ConflictCompletion completion) {
  auto* workspace = workspaceForLocation(DocumentLocationICloud);
  if (!proxy || !workspace || proxy->location() != DocumentLocationICloud) {
    if (completion) completion(false, {});
    return;
  }
  workspace->handleConflictForProxy(proxy, std::move(completion));
}

}  // namespace orrery
