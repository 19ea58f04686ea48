#include "app/local_document_import.h"

#include "foundation/views/base_view_controller.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"

namespace orrery {

void installLocalDocumentImport() {
  BaseViewController::setLocalDocumentFetcher(
      [](const QString& path, std::function<void(std::shared_ptr<IdeaDocument>)> done) {
        auto document = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
        if (!document) {
          done(nullptr);
          return;
        }
        PersistenceController::singleton().fetchDocument(
            document->docIdentifier(), [document, done = std::move(done)](std::shared_ptr<Idea> root) {
              if (!root) {
                done(nullptr);
                return;
              }
              document->setIdea(std::move(root));
              done(document);
            });
      });
}

}  // namespace orrery
