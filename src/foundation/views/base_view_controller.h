#pragma once
// The base of screen controllers: the contract between a window and the controller it hosts
// (state, menu validation, closing, becoming the window's controller, the veto on deleting
// ideas), two simple alerts, the import of a local file, and the screen-occupation token: one
// named claim held while a modal step runs. Main thread only.

#include "foundation/my_result.h"
#include "foundation/views/visual_object.h"
#include "platform/ui/view_controller.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace platform {
class MenuItem;
class Window;
}  // namespace platform

namespace orrery {

class IdeaDocument;

class BaseViewController : public platform::ViewController {
 public:
  // Opens a local file as a document and completes with it, or with null and the failure to
  // show (null for the generic one), on the main queue. The document layer installs it; the
  // controller layer cannot reach documents itself.
  using FetchedDocument = std::function<void(std::shared_ptr<IdeaDocument>, const MyResultPtr& failure)>;
  using LocalDocumentFetcher = std::function<void(const QString& path, FetchedDocument done)>;
  static void setLocalDocumentFetcher(LocalDocumentFetcher fetcher);

  BaseViewController() = default;

  // Window hooks.
  // The name a window stores for this screen to make it again; empty for none.
  virtual QString storedClassName() const { return {}; }
  virtual QVariantMap createState() { return {}; }
  virtual bool restoreFromState(const QVariantMap& state) {
    (void)state;
    return true;
  }
  platform::Window* myWindow() const { return viewWindow(); }
  bool validateUserInterfaceItem(const platform::MenuItem& item) override {
    (void)item;
    return true;
  }
  virtual bool startClosingCanCloseNow() { return true; }
  // The quit closes no window: what is being typed is stored now, before the saves drain.
  virtual void commitPendingEdits() {}
  // At a quit nobody is asked about: an edit whose last save failed is saved once more, and
  // once the saves ended, an edit still not on disk is kept as a copy the next start offers.
  virtual void saveOnceMoreBeforeQuit() {}
  virtual void keepEditNotOnDisk() {}
  // The quit asks every screen in turn; one holding changes it could not store asks the user
  // and answers, once, whether the quit goes on.
  virtual void askBeforeQuitting(std::function<void(bool mayQuit)> answer) { answer(true); }
  virtual void becameTopLevelController() {}
  virtual void reactToStateChange() {}
  // Idea identifier (empty for the whole document) and document identifier.
  virtual bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) {
    (void)ideaIdentifier;
    (void)docIdentifier;
    return true;
  }

  // Screen-occupation token.
  bool screenOccupied() const { return !mCurrentOccupyingOperation.isNull(); }
  const QString& currentOccupyingOperation() const { return mCurrentOccupyingOperation; }
  virtual void occupyScreen(const QString& operation);
  virtual void liberateScreen(const QString& operation);

  // Alerts with one "Choice.Close" button; the simple one is dropped while a token is held
  // and holds "ShowingAlert" while it shows.
  void showSimpleAlertViewWithTitle(const QString& title, const QString& message);
  void showNonblockingAlertViewWithTitle(const QString& title, const QString& message);

  // An open panel (".orrery" and ".opml", from the Desktop) as a sheet of the window; a chosen
  // file is read as a local document and handed over, a failure shows the fetcher's reason
  // (else "Failed to open file") and hands over null, a cancel calls nothing.
  void startImportingLocalFileOnCompletion(std::function<void(std::shared_ptr<IdeaDocument>)> completion);

 private:
  QString mCurrentOccupyingOperation;
};

}  // namespace orrery
