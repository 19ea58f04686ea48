#pragma once
// The hook through which the screens above the shell reach the windows: the application
// shows a document or a cloud location's home screen in a window, and restores them, without
// depending on the editor or the home screen, which sit above it. Each installs its part of
// the factory at start-up; until then a stand-in screen names what it would show. Main
// thread only.

#include "foundation/views/base_view_controller.h"
#include "model/document_location.h"

#include <QString>

#include <functional>
#include <memory>

namespace orrery {

class IdeaDocument;

// The class names stored for a window that shows a document or a home screen.
inline constexpr char kDocumentControllerClass[] = "SolarSystemViewController";
inline constexpr char kHomeControllerClass[] = "HomeViewController";

struct ScreenFactory {
  // The editor of an opened document; it owns the token from then on. An empty idea
  // identifier centres the root.
  std::function<std::shared_ptr<BaseViewController>(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                                    const QString& ideaIdentifier)>
      makeEditor;
  // An empty editor that restoreFromState fills.
  std::function<std::shared_ptr<BaseViewController>()> makeEditorForRestoration;
  // Opens the edit panel on an idea of the editor.
  std::function<void(BaseViewController& editor, const QString& ideaIdentifier)> onEditIdea;
  // Before a cloud location is dropped: a screen holding an edit of a document there that is
  // not on disk asks the user, and `answer` hears once whether the location may go.
  std::function<void(BaseViewController& screen, DocumentLocation location, std::function<void(bool mayGo)> answer)>
      askBeforeLeavingLocation;
  // The home screen of a cloud location (iCloud 2, Dropbox 3), searching for a non-empty
  // text, and an empty one to restore.
  std::function<std::shared_ptr<BaseViewController>(DocumentLocation location, const QString& searchText)> makeHome;
  std::function<std::shared_ptr<BaseViewController>()> makeHomeForRestoration;
};

// Installs the factory (missing parts are the stand-ins'); returns the previous one.
ScreenFactory setScreenFactory(ScreenFactory factory);
// The installed factory, or the stand-in.
const ScreenFactory& screenFactory();

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
  void becameTopLevelController() override;

  const std::shared_ptr<IdeaDocument>& document() const { return mDocument; }
  DocumentToken token() const { return mToken; }
  const QString& editRequestedFor() const { return mEditRequestedFor; }
  void noteEditRequest(const QString& ideaIdentifier) { mEditRequestedFor = ideaIdentifier; }
  QString storedClassName() const override { return QString::fromLatin1(kDocumentControllerClass); }

 private:
  void showDocument();
  void release();

  std::shared_ptr<IdeaDocument> mDocument;
  DocumentToken mToken = 0;
  QString mEditRequestedFor;
};

// The stand-in home screen: names its location and stores it.
class HomePlaceholderController : public BaseViewController {
 public:
  explicit HomePlaceholderController(DocumentLocation location = DocumentLocationICloud) : mLocation(location) {}
  void loadView() override;
  QVariantMap createState() override;
  bool restoreFromState(const QVariantMap& state) override;
  QString storedClassName() const override { return QString::fromLatin1(kHomeControllerClass); }
  DocumentLocation location() const { return mLocation; }

 private:
  void showLocation();
  DocumentLocation mLocation;
};

}  // namespace orrery
