#pragma once
// The one object through which every screen reaches stored documents. It routes each request
// by the document's location: temporary and local documents are handled through IdeaDocument
// and a registry of open documents kept here; iCloud and Dropbox documents go to that
// location's workspace, which exists only while the user's storage choice selects it. It
// relays the workspaces' reports to its listeners and owns the serial work queue for file I/O.
// Main thread only, except workQueue() and singleton().

#include "model/cross_document_operations.h"
#include "model/document_location.h"
#include "model/persistence_controller_listener.h"
#include "model/workspace_interface.h"

#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"

#include <QHash>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orrery {

class Idea;
class IdeaDocument;

// Posted with no object whenever a cloud workspace appears or changes status.
inline constexpr char PersistenceStateChangeNotification[] = "PersistenceStateChangeNotification";

class PersistenceController final : public WorkspaceDelegate {
 public:
  using TokenCompletion = std::function<void(DocumentToken)>;
  using BoolCompletion = std::function<void(bool)>;
  using IdeaCompletion = std::function<void(std::shared_ptr<Idea>)>;
  // The root idea, or none and why (code 0 and no text when the file could not be read).
  using FetchCompletion = std::function<void(std::shared_ptr<Idea>, const DocumentError&)>;

  // Created on first use, exactly once, and never destroyed.
  static PersistenceController& singleton();
  // The serial queue "orrery.persistence" for document, index and engine file I/O.
  platform::SerialQueue& workQueue() { return mQueue; }

  // Listeners are held weakly and told in the order they were added.
  void addListener(const std::shared_ptr<PersistenceControllerListener>& listener);
  void removeListener(const PersistenceControllerListener* listener);

  // Installs what builds the cloud workspaces and re-evaluates the storage choices.
  void setWorkspaceFactory(WorkspaceFactory factory);

  // Documents. Completions run once on the main thread; a null completion is allowed.
  void createDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion);
  void createDocument(const std::shared_ptr<IdeaDocument>& doc, std::size_t index, TokenCompletion completion);
  // Reads a document without opening it and hands over its root idea.
  void fetchDocument(const QString& docIdentifier, IdeaCompletion completion);
  void fetchDocument(const QString& docIdentifier, FetchCompletion completion);
  void openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion);
  // Temporary and local documents: the tree is copied here and written on the work queue;
  // after a successful write the listeners hear documentUpdated before the completion runs.
  void saveDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion);
  // At quit: blocks until every save asked for so far is on disk (their completions run
  // later on the main queue, if ever).
  void drainSaves();
  void releaseDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion);
  void deleteDocument(const QString& docIdentifier, BoolCompletion completion);

  // The live object of a document, if any: one object per identifier in the whole process.
  std::shared_ptr<IdeaDocument> findDocument(const QString& docIdentifier);
  // The same, but a temporary or local identifier without an object gets a new one.
  std::shared_ptr<IdeaDocument> documentForIdentifier(const QString& docIdentifier);
  // True while a temporary or local document is open (between open or create and the return
  // of its last token).
  bool documentKnown(const QString& docIdentifier);
  std::shared_ptr<IdeaProxy> findProxy(const QString& docIdentifier);

  // The file of a temporary or local document; invalid for others and for unusable names.
  QUrl urlForLocalOrTempFileWithDocIdentifer(const QString& docIdentifier);
  // The folder of unsaved documents, created when missing; empty when it cannot be made.
  static QString volatileFolder();

  // Conflicting versions of iCloud documents; every other proxy answers none and NO.
  std::shared_ptr<platform::FileVersion> findConflictingVersion(const std::shared_ptr<IdeaProxy>& proxy);
  void handleConflictForProxy(const std::shared_ptr<IdeaProxy>& proxy, ConflictCompletion completion);

  // Ideas between documents (see CrossDocumentOperations). Every save they make is announced
  // to the listeners with documentUpdated, whatever the location.
  using ChainStep = CrossDocumentOperations::ChainStep;
  void fetchIdea(const QString& ideaIdentifier, const QString& docIdentifier, IdeaCompletion completion);
  void copyIdea(const QString& ideaIdentifier, const QString& docIdentifier, ChainStep step, BoolCompletion completion);
  void consumeIdea(const QString& ideaIdentifier, const QString& docIdentifier, ChainStep step, BoolCompletion completion);
  void copyIdeaBefore(const std::shared_ptr<Idea>& idea, std::size_t index, DocumentLocation location,
                      BoolCompletion completion);
  void copyIdeaInside(const std::shared_ptr<Idea>& idea, std::size_t index, DocumentLocation location,
                      BoolCompletion completion);
  void deleteIdea(const QString& ideaIdentifier, const QString& docIdentifier, BoolCompletion completion);
  void moveIdeaBefore(const QString& ideaIdentifier, const QString& docIdentifier, std::size_t index,
                      DocumentLocation location, BoolCompletion completion);
  void moveIdeaInside(const QString& ideaIdentifier, const QString& docIdentifier, std::size_t index,
                      DocumentLocation location, BoolCompletion completion);

  WorkspaceInterface* workspaceForLocation(DocumentLocation location) const;
  DocumentLocation locationFromCurrentWorkspace(const WorkspaceInterface* workspace) const;
  std::optional<ProxyList> proxyListForLocation(DocumentLocation location) const;
  bool isLocationReadyForUse(DocumentLocation location) const;
  WorkspaceStatus statusForLocation(DocumentLocation location) const;

  // Searches, relayed to the location's workspace.
  std::int64_t nextSearchRequestID();
  void startSearch(const QString& text, DocumentLocation location, std::int64_t requestIdentifier,
                   bool inLazyMode = false);
  void killSearch(std::int64_t requestIdentifier, DocumentLocation location);

  // Storage choices: create the chosen workspace, close a dropped one. Run at start and on
  // every change of the user defaults.
  void ensureICloudWorkspaceStatus();
  void ensureDropboxWorkspaceStatus();

  // WorkspaceDelegate.
  void batchUpdateDoneInWorkspace(WorkspaceInterface* workspace) override;
  void statusChange(WorkspaceStatus status, WorkspaceInterface* workspace) override;
  void documentAppended(const std::shared_ptr<IdeaProxy>& proxy, WorkspaceInterface* workspace) override;
  void documentAdded(const std::shared_ptr<IdeaProxy>& proxy, std::size_t index, WorkspaceInterface* workspace) override;
  void documentUpdated(const std::shared_ptr<IdeaProxy>& proxy, WorkspaceInterface* workspace) override;
  void documentDeleted(const QString& docIdentifier, WorkspaceInterface* workspace) override;
  void searchIsReady(const ProxyList& results, std::int64_t requestIdentifier, WorkspaceInterface* workspace) override;

 private:
  PersistenceController();
  ~PersistenceController() override = default;
  void initializePersistenceController();
  void userDefaultsDidChange();
  void ensureWorkspace(DocumentLocation location, bool chosen, std::shared_ptr<WorkspaceInterface>& slot);
  void tellListeners(const std::function<void(PersistenceControllerListener&)>& message);
  // An idea operation changed the document's tree: screens showing it refresh.
  void announceDocumentChange(const std::shared_ptr<IdeaDocument>& doc);
  // Makes `doc` the one object of its identifier; false when another live object has it.
  bool claim(const std::shared_ptr<IdeaDocument>& doc);
  void rememberObject(const std::shared_ptr<IdeaDocument>& doc);
  void registerOpen(const std::shared_ptr<IdeaDocument>& doc, const QString& previousIdentifier);
  std::shared_ptr<IdeaDocument> liveDocument(const QString& docIdentifier) const;

  platform::SerialQueue mQueue;
  // Open temporary and local documents, by identifier.
  QHash<QString, std::shared_ptr<IdeaDocument>> mRegisteredDocuments;
  // Every temporary or local document object handed out or passed in, while it lives.
  mutable QHash<QString, std::weak_ptr<IdeaDocument>> mDocumentObjects;
  qsizetype mPruneThreshold = 64;
  std::shared_ptr<WorkspaceInterface> mICloudWorkspace;
  std::shared_ptr<WorkspaceInterface> mDropboxWorkspace;
  std::vector<std::weak_ptr<PersistenceControllerListener>> mListeners;
  WorkspaceFactory mWorkspaceFactory;
  CrossDocumentOperations mIdeaOperations;
  platform::ObserverScope mObservers;
};

}  // namespace orrery
