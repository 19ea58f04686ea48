#include "app/local_document_import.h"

#include "foundation/views/base_view_controller.h"
#include "model/document_open_failure.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"

namespace orrery {

void installLocalDocumentImport() {
  BaseViewController::setLocalDocumentFetcher([](const QString& path, BaseViewController::FetchedDocument done) {
    auto document = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
    if (!document) {
      done(nullptr, documentOpenFailure(path, DocumentError()));
      return;
    }
    PersistenceController::singleton().fetchDocument(
        document->docIdentifier(),
        [document, path, done = std::move(done)](std::shared_ptr<Idea> root, const DocumentError& error) {
          if (!root) {
            done(nullptr, documentOpenFailure(path, error));
            return;
          }
          document->setIdea(std::move(root));
          done(document, nullptr);
        });
  });
}

}  // namespace orrery
