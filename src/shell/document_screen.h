#pragma once
// The hook through which the editor reaches the windows: the application shell shows a
// document in a window and restores a window's editor without depending on the editor,
// which sits above it. The editor installs its factory at start-up; until one is installed,
// a document shows in a plain screen that names it and says the editor is not available.
// Main thread only.

#include "foundation/views/base_view_controller.h"
#include "model/document_location.h"

#include <QString>

#include <functional>
#include <memory>

namespace orrery {

class IdeaDocument;

// The class name stored for a window that shows a document.
inline constexpr char kDocumentControllerClass[] = "SolarSystemViewController";

struct DocumentScreenFactory {
  // The editor of an opened document; it owns the token from then on. An empty idea
  // identifier centres the root.
  std::function<std::shared_ptr<BaseViewController>(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                                    const QString& ideaIdentifier)>
      makeEditor;
  // An empty editor that restoreFromState fills.
  std::function<std::shared_ptr<BaseViewController>()> makeEditorForRestoration;
  // Opens the edit panel on an idea of the editor.
  std::function<void(BaseViewController& editor, const QString& ideaIdentifier)> onEditIdea;
};

// Installs the factory (an empty one puts the stand-in back); returns the previous one.
DocumentScreenFactory setDocumentScreenFactory(DocumentScreenFactory factory);
// The installed factory, or the stand-in.
const DocumentScreenFactory& documentScreenFactory();

// The stand-in: holds the document open, names it, and stores and restores it by identifier.
class DocumentPlaceholderController : public BaseViewController {
 public:
  DocumentPlaceholderController() = default;
  DocumentPlaceholderController(std::shared_ptr<IdeaDocument> doc, DocumentToken token);
  ~DocumentPlaceholderController() override;

  void loadView() override;
  QVariantMap createState() override;
  bool restoreFromState(const QVariantMap& state) override;
  bool startClosingCanCloseNow() override;

  const std::shared_ptr<IdeaDocument>& document() const { return mDocument; }
  DocumentToken token() const { return mToken; }
  const QString& editRequestedFor() const { return mEditRequestedFor; }
  void noteEditRequest(const QString& ideaIdentifier) { mEditRequestedFor = ideaIdentifier; }

 private:
  void showDocument();
  void release();

  std::shared_ptr<IdeaDocument> mDocument;
  DocumentToken mToken = 0;
  QString mEditRequestedFor;
};

}  // namespace orrery
