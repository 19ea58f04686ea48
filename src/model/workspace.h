#pragma once
// A cloud location (iCloud or Dropbox) while the user's storage choice selects it: it owns the
// location's storage engine, relays document requests to it, keeps the location's document
// list in step with what the engine reports, tells the facade through WorkspaceDelegate, and
// runs the location's searches. Main thread only.

#include "model/persistence_state.h"
#include "model/workspace_interface.h"
#include "model/workspace_search.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

namespace orrery {

class Workspace final : public WorkspaceInterface,
                        public PersistenceStateDelegate,
                        public SearchHost,
                        public std::enable_shared_from_this<Workspace> {
 public:
  using EngineFactory = std::function<std::shared_ptr<PersistenceState>(DocumentLocation location)>;

  // Wraps an engine that is already set up, and only then becomes its delegate. `delegate`
  // (the facade) must outlive the workspace.
  static std::shared_ptr<Workspace> create(std::shared_ptr<PersistenceState> engine, WorkspaceDelegate* delegate);
  // A factory for the facade that wraps the engine `engines` builds for a location.
  static WorkspaceFactory factoryWithEngines(EngineFactory engines);
  ~Workspace() override;

  // Numbers the workspace's own indexing passes, from the identifiers screen searches use.
  static std::int64_t nextSearchRequestID();

  // WorkspaceInterface.
  void closeWorkspace() override;
  WorkspaceStatus status() const override { return mStatus; }
  std::optional<ProxyList> proxyListOrNilIfNotReady() const override;
  IdeaProxyPtr findProxy(const QString& docIdentifier) const override;
  std::shared_ptr<IdeaDocument> findDocument(const QString& docIdentifier) override;
  void createDocument(const std::shared_ptr<IdeaDocument>& doc, std::size_t index, TokenCompletion completion) override;
  void openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) override;
  void fetchDocument(const QString& docIdentifier, DocumentCompletion completion) override;
  void updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) override;
  void closeDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) override;
  void deleteDocument(const QString& docIdentifier, BoolCompletion completion) override;
  void startSearch(const QString& text, std::int64_t requestIdentifier) override;
  void killSearch(std::int64_t requestIdentifier) override;

  bool documentKnown(const QString& docIdentifier) const { return static_cast<bool>(findProxy(docIdentifier)); }
  std::shared_ptr<IdeaDocument> documentForIdentifier(const QString& docIdentifier) { return findDocument(docIdentifier); }
  // Refreshes the listed proxy from the document, stores the list, tells the delegate and
  // indexes the document's tree again.
  void updateProxyForDocument(const std::shared_ptr<IdeaDocument>& doc);
  // Hands the whole list to the engine to store.
  void saveIdeaProxyList();

  // Conflicts: only an engine that can settle them is asked; others answer none and NO.
  std::shared_ptr<platform::FileVersion> findConflictingVersion(const IdeaProxyPtr& proxy) override;
  void handleConflictForProxy(const IdeaProxyPtr& proxy, ConflictCompletion completion) override;

  ProxyList findMatchingProxies(const QString& text) const { return mSearch->findMatchingProxies(text); }
  const SearchCache& searchCache() const { return mSearch->cache(); }
  const std::shared_ptr<PersistenceState>& currentState() const { return mCurrentState; }
  QString description() const;

  // PersistenceStateDelegate: reports of an engine other than the current one are dropped.
  void statusChange(std::int64_t code, PersistenceState* state) override;
  void observeIdeaProxy(const IdeaProxyPtr& proxy, PersistenceState* state) override;
  void observeProxyList(const ProxyList& proxies, PersistenceState* state) override;
  void ideaDocumentDeleted(const QString& docIdentifier, PersistenceState* state) override;
  void foundIdeaDocument(const QString& docIdentifier, PersistenceState* state) override;
  void detectedDocumentConflict(const QString& docIdentifier, PersistenceState* state) override;

  // SearchHost.
  void searchIsReady(const ProxyList& results, std::int64_t requestIdentifier) override;

 private:
  Workspace(std::shared_ptr<PersistenceState> engine, WorkspaceDelegate* delegate);
  bool isCurrent(const PersistenceState* state) const { return state && state == mCurrentState.get(); }
  // Position of each listed identifier, rebuilt first when the list changed.
  const QHash<QString, std::size_t>& positions() const;
  std::size_t indexOfProxy(const QString& docIdentifier) const;
  void listChanged() { mIndexStale = true; }
  void insertCreatedProxy(const std::shared_ptr<IdeaDocument>& doc, std::size_t index);
  void deleteProxyForDocument(const QString& docIdentifier);

  WorkspaceStatus mStatus = WorkspaceStatusStarting;
  std::shared_ptr<PersistenceState> mCurrentState;
  ProxyList mIdeaProxies;
  // Position of each listed identifier (the first, for a duplicate), rebuilt after the list
  // changed: taking in a list of N entries costs N look-ups, not N scans.
  mutable QHash<QString, std::size_t> mIndexByIdentifier;
  mutable bool mIndexStale = true;
  // Documents the engine found on storage while it gathers a complete list, one per report.
  QSet<QString> mKnownDocuments;
  bool mHasCompleteProxyList = false;
  WorkspaceDelegate* mDelegate;
  std::shared_ptr<WorkspaceSearch> mSearch;
};

}  // namespace orrery
