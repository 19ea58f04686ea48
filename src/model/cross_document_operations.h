#pragma once
// Idea operations between documents, built only from the facade's document operations and the
// tree operations: fetch an idea from a document's file, copy an idea into a chain step, into a
// new document or into an existing cloud document, move an idea (the copy is made first; the
// idea leaves its source only when the copy succeeded), delete an idea or a whole document.
// Each opens the documents it changes, saves them and gives its token back. Every completion
// is called once on the main thread; a null completion is allowed. Main thread only.
//
// A removal or insertion changes the tree of the document's one shared object, which an
// editor may be showing: every save these operations make is announced (a successful cloud
// save is announced by its workspace, the others through the announcer given here).

#include "model/document_location.h"
#include "model/idea.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>

namespace orrery {

class IdeaDocument;
class PersistenceController;

class CrossDocumentOperations {
 public:
  using BoolCompletion = std::function<void(bool)>;
  using IdeaCompletion = std::function<void(IdeaPtr)>;
  // Receives an idea and must call its completion exactly once.
  using ChainStep = std::function<void(const IdeaPtr& idea, BoolCompletion completion)>;
  // Tells the screens that a document's tree changed.
  using SaveAnnouncer = std::function<void(const std::shared_ptr<IdeaDocument>& doc)>;

  CrossDocumentOperations(PersistenceController& controller, SaveAnnouncer announcer);

  // The idea from a fresh reading of the document's file (its root for a null identifier), or
  // null when the document cannot be read or has no such idea. The reading's whole tree lives
  // as long as the idea is held, so links to ideas outside it keep their targets.
  void fetchIdea(const QString& ideaIdentifier, const QString& docIdentifier, IdeaCompletion completion);
  // Runs the step with a deep copy of the fetched idea (new identifiers, no links leaving it).
  void copyIdea(const QString& ideaIdentifier, const QString& docIdentifier, ChainStep step, BoolCompletion completion);
  // Runs the step with the fetched idea; when the step succeeds the idea leaves its document.
  void consumeIdea(const QString& ideaIdentifier, const QString& docIdentifier, ChainStep step,
                   BoolCompletion completion);
  // A deep copy becomes the root of a new document at that list position of the location.
  void copyIdeaBefore(const IdeaPtr& idea, std::size_t index, DocumentLocation location, BoolCompletion completion);
  // A deep copy becomes the first child of the root of the cloud document at that position.
  void copyIdeaInside(const IdeaPtr& idea, std::size_t index, DocumentLocation location, BoolCompletion completion);
  // Removes the idea from the document and saves it; a null identifier or the root's
  // identifier deletes the whole document.
  void deleteIdea(const QString& ideaIdentifier, const QString& docIdentifier, BoolCompletion completion);
  // The copy is made first (through consumeIdea); the idea leaves its source only once the copy
  // succeeded. A document's root is not moved inside its own document.
  void moveIdeaBefore(const QString& ideaIdentifier, const QString& docIdentifier, std::size_t index,
                      DocumentLocation location, BoolCompletion completion);
  void moveIdeaInside(const QString& ideaIdentifier, const QString& docIdentifier, std::size_t index,
                      DocumentLocation location, BoolCompletion completion);

 private:
  // Saves, gives the token back without waiting, announces, and passes the result on.
  void saveAndRelease(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion done);

  PersistenceController& mController;
  SaveAnnouncer mAnnouncer;
};

}  // namespace orrery
