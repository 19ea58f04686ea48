#pragma once
// The abstract storage engine of a cloud location (the iCloud and Dropbox engines derive from
// it). A Workspace relays document requests to its engine, and the engine reports what it
// finds on storage through PersistenceStateDelegate. Every completion is called once, on the
// main thread; every report comes on the main thread. Main thread only.

#include "model/document_location.h"
#include "model/idea_proxy.h"
#include "model/kept_conflict_version.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {
// A stored version of a file that conflicts with its current one; defined by the iCloud
// container's stand-in.
class FileVersion;
}  // namespace platform

namespace orrery {

class IdeaDocument;
class PersistenceState;

// The reports of an engine; the last argument is always the reporting engine.
class PersistenceStateDelegate {
 public:
  virtual ~PersistenceStateDelegate() = default;
  // The engine's readiness changed (codes 0 to 5).
  virtual void statusChange(std::int64_t /*code*/, PersistenceState* /*state*/) {}
  // One document's entry was found or changed.
  virtual void observeIdeaProxy(const IdeaProxyPtr& /*proxy*/, PersistenceState* /*state*/) {}
  // The engine's complete list, from its index file.
  virtual void observeProxyList(const ProxyList& /*proxies*/, PersistenceState* /*state*/) {}
  // A document disappeared from storage.
  virtual void ideaDocumentDeleted(const QString& /*docIdentifier*/, PersistenceState* /*state*/) {}
  // A document file exists on storage.
  virtual void foundIdeaDocument(const QString& /*docIdentifier*/, PersistenceState* /*state*/) {}
  // A conflict of that document was turned into a new document.
  virtual void detectedDocumentConflict(const QString& /*docIdentifier*/, PersistenceState* /*state*/) {}
};

class PersistenceState {
 public:
  using TokenCompletion = std::function<void(DocumentToken)>;
  using BoolCompletion = std::function<void(bool)>;
  using DocumentCompletion = std::function<void(std::shared_ptr<IdeaDocument>)>;

  PersistenceState() = default;
  // A base destructor cannot reach an engine's own leaveState: every engine's destructor
  // calls its leaveState itself.
  virtual ~PersistenceState() = default;
  PersistenceState(const PersistenceState&) = delete;
  PersistenceState& operator=(const PersistenceState&) = delete;

  // Stops all work; nothing more reaches the delegate.
  virtual void leaveState() {}
  // What every engine must do. The base versions log a soft assertion and call nothing.
  // Gives the token back.
  virtual void closeDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion);
  // Stores the new document: a token of 1 or more on success, 0 on failure.
  virtual void createDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion);
  // Writes the document.
  virtual void updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion);
  // Reads the document into the object and hands out a token.
  virtual void openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion);
  // Removes the stored document.
  virtual void deleteDocument(const QString& docIdentifier, BoolCompletion completion);
  // Reads a document without a token: a new object with its idea read, or null.
  virtual void fetchDocument(const QString& docIdentifier, DocumentCompletion completion);
  // Stores the location's index of proxies.
  virtual void saveProxyList(const ProxyList& proxies);

  virtual QString description() const;

  // Held weakly; null once the delegate is gone.
  std::shared_ptr<PersistenceStateDelegate> delegate() const { return mDelegate.lock(); }
  void setDelegate(std::weak_ptr<PersistenceStateDelegate> delegate) { mDelegate = std::move(delegate); }

 private:
  std::weak_ptr<PersistenceStateDelegate> mDelegate;
};

// What only the iCloud engine can do: find and settle conflicting versions of a document.
// A workspace passes conflict calls on only to an engine that has this capability.
class ConflictResolvingState {
 public:
  virtual ~ConflictResolvingState() = default;
  // The newest unresolved conflict version of the proxy's file, or null.
  virtual std::shared_ptr<platform::FileVersion> findConflictingVersion(const IdeaProxyPtr& proxy) = 0;
  // Lets the newest conflicting version take the file and keeps every other version, the
  // local content among them, as a new document.
  virtual void handleConflictForProxy(const IdeaProxyPtr& proxy, ConflictCompletion completion) = 0;
};

}  // namespace orrery
