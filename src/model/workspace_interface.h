#pragma once
// The seam between the persistence facade and the cloud locations. A cloud location (iCloud,
// Dropbox) is served by one workspace holding that location's storage engine and document
// list; the facade routes every request for the location to it and hears its reports through
// WorkspaceDelegate. Workspaces are made by the factory the application installs
// (PersistenceController::setWorkspaceFactory), which builds the location's engine and wraps
// it; the facade itself knows no engine.

#include "model/document_location.h"
#include "model/kept_conflict_version.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class FileVersion;
}  // namespace platform

namespace orrery {

class Idea;
class IdeaDocument;
class IdeaProxy;
class WorkspaceInterface;

// 0 starting, 1 unavailable, 2 loading, 3 ready.
using WorkspaceStatus = std::uint64_t;
inline constexpr WorkspaceStatus WorkspaceStatusStarting = 0;
inline constexpr WorkspaceStatus WorkspaceStatusUnavailable = 1;
inline constexpr WorkspaceStatus WorkspaceStatusLoading = 2;
inline constexpr WorkspaceStatus WorkspaceStatusReady = 3;

using ProxyList = std::vector<std::shared_ptr<IdeaProxy>>;

// How a workspace reports to the facade, on the main thread.
class WorkspaceDelegate {
 public:
  virtual ~WorkspaceDelegate() = default;
  virtual void batchUpdateStartingInWorkspace(WorkspaceInterface* /*workspace*/) {}
  virtual void batchUpdateDoneInWorkspace(WorkspaceInterface* /*workspace*/) {}
  virtual void statusChange(WorkspaceStatus /*status*/, WorkspaceInterface* /*workspace*/) {}
  virtual void documentAppended(const std::shared_ptr<IdeaProxy>& /*proxy*/, WorkspaceInterface* /*workspace*/) {}
  virtual void documentAdded(const std::shared_ptr<IdeaProxy>& /*proxy*/, std::size_t /*index*/,
                             WorkspaceInterface* /*workspace*/) {}
  virtual void documentMoved(const std::shared_ptr<IdeaProxy>& /*proxy*/, std::size_t /*index*/,
                             WorkspaceInterface* /*workspace*/) {}
  virtual void documentUpdated(const std::shared_ptr<IdeaProxy>& /*proxy*/, WorkspaceInterface* /*workspace*/) {}
  virtual void documentDeleted(const QString& /*docIdentifier*/, WorkspaceInterface* /*workspace*/) {}
  virtual void searchIsReady(const ProxyList& /*results*/, std::int64_t /*requestIdentifier*/,
                             WorkspaceInterface* /*workspace*/) {}
};

// What the facade asks of a cloud location's workspace. Every completion is called once, on
// the main thread.
class WorkspaceInterface {
 public:
  using TokenCompletion = std::function<void(DocumentToken)>;
  using BoolCompletion = std::function<void(bool)>;
  using DocumentCompletion = std::function<void(std::shared_ptr<IdeaDocument>)>;

  virtual ~WorkspaceInterface() = default;

  // The storage choice dropped the location: the engine stops and nothing more is reported.
  virtual void closeWorkspace() = 0;
  virtual WorkspaceStatus status() const = 0;
  // The document list once the engine delivered a complete one; nothing before.
  virtual std::optional<ProxyList> proxyListOrNilIfNotReady() const = 0;
  virtual std::shared_ptr<IdeaProxy> findProxy(const QString& docIdentifier) const = 0;
  // The listed document's object (one per proxy); null when not listed.
  virtual std::shared_ptr<IdeaDocument> findDocument(const QString& docIdentifier) = 0;

  virtual void createDocument(const std::shared_ptr<IdeaDocument>& doc, std::size_t index, TokenCompletion completion) = 0;
  virtual void openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) = 0;
  virtual void fetchDocument(const QString& docIdentifier, DocumentCompletion completion) = 0;
  virtual void updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) = 0;
  virtual void closeDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) = 0;
  virtual void deleteDocument(const QString& docIdentifier, BoolCompletion completion) = 0;

  virtual void startSearch(const QString& text, std::int64_t requestIdentifier) = 0;
  virtual void killSearch(std::int64_t requestIdentifier) = 0;

  // Conflicting versions of a listed document; a location whose storage keeps no versions
  // answers none and NO.
  virtual std::shared_ptr<platform::FileVersion> findConflictingVersion(const std::shared_ptr<IdeaProxy>& /*proxy*/) {
    return nullptr;
  }
  virtual void handleConflictForProxy(const std::shared_ptr<IdeaProxy>& /*proxy*/, ConflictCompletion completion) {
    if (completion) completion(false, {});
  }
};

// Builds the workspace of a cloud location (2 or 3) reporting to `delegate`; null when the
// location cannot be served.
using WorkspaceFactory =
    std::function<std::shared_ptr<WorkspaceInterface>(DocumentLocation location, WorkspaceDelegate* delegate)>;

}  // namespace orrery
