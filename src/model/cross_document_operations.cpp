#include "model/cross_document_operations.h"

#include "model/idea_arrival.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/persistence_controller.h"

#include "foundation/logging.h"

#include <QDateTime>

namespace orrery {

namespace {

CrossDocumentOperations::BoolCompletion orNothing(CrossDocumentOperations::BoolCompletion completion) {
  return [completion = std::move(completion)](bool result) {
    if (completion) completion(result);
  };
}

}  // namespace

CrossDocumentOperations::CrossDocumentOperations(PersistenceController& controller, SaveAnnouncer announcer)
    : mController(controller), mAnnouncer(std::move(announcer)) {}

void CrossDocumentOperations::fetchIdea(const QString& ideaIdentifier, const QString& docIdentifier,
                                        IdeaCompletion completion) {
  mController.fetchDocument(docIdentifier, [ideaIdentifier, completion = std::move(completion)](IdeaPtr root) {
    if (!completion) return;
    if (!root || ideaIdentifier.isNull()) return completion(root);
    IdeaPtr idea = root->findIdeaInSubTreeWithIdentifier(ideaIdentifier);
    if (!idea || idea == root) return completion(idea);
    // Parents are held weakly: without its root the idea's links leading out of it would
    // lose their targets, and a copy made later would lose their content. The handed-out
    // pointer keeps the whole reading alive for as long as the caller keeps the idea.
    completion(IdeaPtr(idea.get(), [root, idea](Idea*) {}));
  });
}

void CrossDocumentOperations::copyIdea(const QString& ideaIdentifier, const QString& docIdentifier, ChainStep step,
                                       BoolCompletion completion) {
  auto done = orNothing(std::move(completion));
  fetchIdea(ideaIdentifier, docIdentifier, [step = std::move(step), done](IdeaPtr idea) {
    if (!idea || !step) return done(false);
    step(idea->deepCopyWithNewIdentifiersNoExternalLinks(), done);
  });
}

void CrossDocumentOperations::consumeIdea(const QString& ideaIdentifier, const QString& docIdentifier, ChainStep step,
                                          BoolCompletion completion) {
  auto done = orNothing(std::move(completion));
  // An iCloud document that left the list may be gone from storage already.
  if (IdeaDocument::locationFromIdentifier(docIdentifier) == DocumentLocationICloud &&
      !mController.findProxy(docIdentifier))
    return done(false);
  fetchIdea(ideaIdentifier, docIdentifier, [this, ideaIdentifier, docIdentifier, step = std::move(step), done](IdeaPtr idea) {
    if (!idea || !step) return done(false);
    step(idea, [this, ideaIdentifier, docIdentifier, done](bool placed) {
      // The source changes only once the idea has safely arrived elsewhere.
      if (!placed) return done(false);
      deleteIdea(ideaIdentifier, docIdentifier, done);
    });
  });
}

void CrossDocumentOperations::copyIdeaBefore(const IdeaPtr& idea, std::size_t index, DocumentLocation location,
                                             BoolCompletion completion) {
  auto done = orNothing(std::move(completion));
  if (!idea) return done(false);
  auto doc = IdeaDocument::createWithFileName(QString(), location);
  doc->setIdea(idea->deepCopyWithNewIdentifiersNoExternalLinks());
  const QDateTime now = QDateTime::currentDateTimeUtc();
  doc->setDateCreated(now);
  doc->setDateModified(now);
  mController.createDocument(doc, index, [this, doc, done](DocumentToken token) {
    if (token < 1) return done(false);
    mController.releaseDocument(doc, token, nullptr);
    done(true);
  });
}

void CrossDocumentOperations::copyIdeaInside(const IdeaPtr& idea, std::size_t index, DocumentLocation location,
                                             BoolCompletion completion) {
  auto done = orNothing(std::move(completion));
  const std::optional<ProxyList> proxies = mController.proxyListForLocation(location);
  if (!idea || !mController.workspaceForLocation(location) || !proxies || index >= proxies->size() || !(*proxies)[index])
    return done(false);
  auto doc = (*proxies)[index]->doc();
  IdeaPtr copy = idea->deepCopyWithNewIdentifiersNoExternalLinks();
  mController.openDocument(doc, [this, doc, copy, source = idea->identifier(), done](DocumentToken token) {
    if (token < 1) return done(false);
    const IdeaPtr root = doc->idea();
    // A copy the map has no room for would leave it one that cannot be saved.
    const bool fits = root && doc->makeRoomFor(IdeaArrival::of(copy, *root).added);
    if (!fits) {
      // The idea by its identifier: what the user typed stays out of the log.
      if (root) logLine(QStringLiteral("%1: no room for the copy of idea %2").arg(doc->docIdentifier(), source));
      mController.releaseDocument(doc, token, nullptr);
      return done(false);
    }
    root->insertIdea(copy, 0);
    saveAndRelease(doc, token, done);
  });
}

void CrossDocumentOperations::deleteIdea(const QString& ideaIdentifier, const QString& docIdentifier,
                                         BoolCompletion completion) {
  auto done = orNothing(std::move(completion));
  if (ideaIdentifier.isNull()) return mController.deleteDocument(docIdentifier, done);
  auto doc = mController.documentForIdentifier(docIdentifier);
  if (!doc) return done(false);
  mController.openDocument(doc, [this, doc, ideaIdentifier, docIdentifier, done](DocumentToken token) {
    if (token < 1) return done(false);
    // The tree may have changed since the idea was fetched: look it up again, by identifier.
    const IdeaPtr root = doc->idea();
    if (root && root->identifier() == ideaIdentifier) {
      mController.releaseDocument(doc, token, [this, docIdentifier, done](bool) {
        mController.deleteDocument(docIdentifier, done);
      });
      return;
    }
    const IdeaPtr idea = root ? root->findIdeaInSubTreeWithIdentifier(ideaIdentifier) : nullptr;
    const IdeaPtr parent = idea ? idea->parent() : nullptr;
    if (!parent) {
      mController.releaseDocument(doc, token, nullptr);
      return done(false);
    }
    if (!parent->removeIdea(ideaIdentifier)) softAssertionFailed(__LINE__, "-[PersistenceController deleteIdea:fromDocument:onCompletion:]");
    saveAndRelease(doc, token, done);
  });
}

void CrossDocumentOperations::saveAndRelease(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                             BoolCompletion done) {
  mController.saveDocument(doc, token, [this, doc, token, done](bool saved) {
    mController.releaseDocument(doc, token, nullptr);
    // The shared tree changed whether or not the write succeeded. A successful save has told
    // the screens itself: the facade after a temporary or local save, a cloud workspace as
    // long as the document is still listed.
    const WorkspaceInterface* workspace = mController.workspaceForLocation(doc->location());
    const bool cloud = isCloudLocation(doc->location());
    const bool told = saved && (!cloud || (workspace && workspace->findProxy(doc->docIdentifier())));
    if (mAnnouncer && !told) mAnnouncer(doc);
    done(saved);
  });
}

void CrossDocumentOperations::moveIdeaBefore(const QString& ideaIdentifier, const QString& docIdentifier,
                                             std::size_t index, DocumentLocation location, BoolCompletion completion) {
  consumeIdea(ideaIdentifier, docIdentifier,
              [this, index, location](const IdeaPtr& idea, BoolCompletion placed) {
                copyIdeaBefore(idea, index, location, std::move(placed));
              },
              std::move(completion));
}

void CrossDocumentOperations::moveIdeaInside(const QString& ideaIdentifier, const QString& docIdentifier,
                                             std::size_t index, DocumentLocation location, BoolCompletion completion) {
  consumeIdea(ideaIdentifier, docIdentifier,
              [this, docIdentifier, index, location](const IdeaPtr& idea, BoolCompletion placed) {
                // A root moved into its own document would be deleted with that document, copy
                // and all.
                const std::optional<ProxyList> proxies = mController.proxyListForLocation(location);
                const bool intoItself = proxies && index < proxies->size() && (*proxies)[index] &&
                                        (*proxies)[index]->docIdentifier() == docIdentifier;
                if (intoItself && !idea->parent()) return placed(false);
                copyIdeaInside(idea, index, location, std::move(placed));
              },
              std::move(completion));
}

}  // namespace orrery
