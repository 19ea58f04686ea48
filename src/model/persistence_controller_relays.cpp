// PersistenceController's relays: ideas moved and copied between documents, searches handed to
// the workspaces, and the workspaces' reports passed on to the listeners.
#include "model/persistence_controller.h"

#include "model/idea_proxy.h"
#include "model/workspace_search.h"

#include "foundation/logging.h"

namespace orrery {

// ---- ideas between documents

void PersistenceController::fetchIdea(const QString& ideaIdentifier, const QString& docIdentifier,
                                      IdeaCompletion completion) {
  mIdeaOperations.fetchIdea(ideaIdentifier, docIdentifier, std::move(completion));
}

void PersistenceController::copyIdea(const QString& ideaIdentifier, const QString& docIdentifier, ChainStep step,
                                     BoolCompletion completion) {
  mIdeaOperations.copyIdea(ideaIdentifier, docIdentifier, std::move(step), std::move(completion));
}

void PersistenceController::consumeIdea(const QString& ideaIdentifier, const QString& docIdentifier, ChainStep step,
                                        BoolCompletion completion) {
  mIdeaOperations.consumeIdea(ideaIdentifier, docIdentifier, std::move(step), std::move(completion));
}

void PersistenceController::copyIdeaBefore(const std::shared_ptr<Idea>& idea, std::size_t index,
                                           DocumentLocation location, BoolCompletion completion) {
  mIdeaOperations.copyIdeaBefore(idea, index, location, std::move(completion));
}

void PersistenceController::copyIdeaInside(const std::shared_ptr<Idea>& idea, std::size_t index,
                                           DocumentLocation location, BoolCompletion completion) {
  mIdeaOperations.copyIdeaInside(idea, index, location, std::move(completion));
}

void PersistenceController::deleteIdea(const QString& ideaIdentifier, const QString& docIdentifier,
                                       BoolCompletion completion) {
  mIdeaOperations.deleteIdea(ideaIdentifier, docIdentifier, std::move(completion));
}

void PersistenceController::moveIdeaBefore(const QString& ideaIdentifier, const QString& docIdentifier,
                                           std::size_t index, DocumentLocation location, BoolCompletion completion) {
  mIdeaOperations.moveIdeaBefore(ideaIdentifier, docIdentifier, index, location, std::move(completion));
}

void PersistenceController::moveIdeaInside(const QString& ideaIdentifier, const QString& docIdentifier,
                                           std::size_t index, DocumentLocation location, BoolCompletion completion) {
  mIdeaOperations.moveIdeaInside(ideaIdentifier, docIdentifier, index, location, std::move(completion));
}

// ---- search relays

std::int64_t PersistenceController::nextSearchRequestID() { return WorkspaceSearch::nextRequestIdentifier(); }

void PersistenceController::startSearch(const QString& text, DocumentLocation location, std::int64_t requestIdentifier,
                                        bool /*inLazyMode*/) {
  auto* workspace = workspaceForLocation(location);
  if (!workspace) {
    softAssertionFailed(__LINE__, "-[PersistenceController startSearch:inLocation:requestIdentifier:]");
    return;
  }
  workspace->startSearch(text, requestIdentifier);
}

void PersistenceController::killSearch(std::int64_t requestIdentifier, DocumentLocation location) {
  if (auto* workspace = workspaceForLocation(location)) workspace->killSearch(requestIdentifier);
}

// ---- workspace reports

void PersistenceController::batchUpdateDoneInWorkspace(WorkspaceInterface* workspace) {
  const DocumentLocation location = locationFromCurrentWorkspace(workspace);
  if (!isCloudLocation(location)) return;
  tellListeners([location](PersistenceControllerListener& l) { l.batchUpdateDoneInLocation(location); });
}

void PersistenceController::statusChange(WorkspaceStatus, WorkspaceInterface*) {
  platform::NotificationCenter::defaultCenter().post(PersistenceStateChangeNotification);
}

void PersistenceController::documentAppended(const std::shared_ptr<IdeaProxy>& proxy, WorkspaceInterface*) {
  tellListeners([&](PersistenceControllerListener& l) { l.documentAppended(proxy); });
}

void PersistenceController::documentAdded(const std::shared_ptr<IdeaProxy>& proxy, std::size_t index,
                                          WorkspaceInterface*) {
  tellListeners([&](PersistenceControllerListener& l) { l.documentAdded(proxy, index); });
}

void PersistenceController::documentUpdated(const std::shared_ptr<IdeaProxy>& proxy, WorkspaceInterface*) {
  tellListeners([&](PersistenceControllerListener& l) { l.documentUpdated(proxy); });
}

void PersistenceController::documentDeleted(const QString& docIdentifier, WorkspaceInterface*) {
  tellListeners([&](PersistenceControllerListener& l) { l.documentDeleted(docIdentifier); });
}

void PersistenceController::searchIsReady(const ProxyList& results, std::int64_t requestIdentifier,
                                          WorkspaceInterface* workspace) {
  const DocumentLocation location = locationFromCurrentWorkspace(workspace);
  tellListeners([&](PersistenceControllerListener& l) { l.searchIsReady(results, location, requestIdentifier); });
}

}  // namespace orrery
