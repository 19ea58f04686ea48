// The window's close request and the Save and Save As commands of the editor.

#include "editor_screen/solar_system_view_controller.h"
#include "export/printed_view.h"
#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/views/custom_alert_view.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "platform/core/dispatch.h"
#include "platform/print/print_operation.h"
#include "platform/ui/menu.h"
#include "platform/ui/modal_presenter.h"
#include "platform/ui/window.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <utility>

namespace orrery {

namespace {
constexpr char kCloseTempFile[] = "CloseTempFile";
constexpr char kSaveAction[] = "cmdSaveLocalFile";
constexpr char kSaveAsAction[] = "cmdSaveLocalFileAs";
constexpr char kDocumentExtension[] = ".orrery";
constexpr char kPrintAction[] = "cmdPrintIdea";

QString localized(const QString& key, const char* defaultText) {
  return Globals::normalLocalizedStringForKey(key, QString::fromUtf8(defaultText));
}
}  // namespace

QString SolarSystemViewController::desktopFolder() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  return !desktop.isEmpty() && QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
}

void SolarSystemViewController::registerCommands() {
  setActionHandler(QString::fromLatin1(kSaveAction), [this](const platform::ActionSender&) { cmdSaveLocalFile(); });
  setActionHandler(QString::fromLatin1(kSaveAsAction), [this](const platform::ActionSender&) { cmdSaveLocalFileAs(); });
  registerGraphCommands();
  registerEditorCommands();
  registerExportCommands();
  setActionHandler(QString::fromLatin1(kPrintAction), [this](const platform::ActionSender&) { cmdPrintIdea(); });
}

void SolarSystemViewController::cmdPrintIdea() {
  if (screenOccupied() || !mDoc || !mRootIdea) return;
  PrintedView view(mRootIdea, mDoc->dateModified());
  platform::PrintOperation operation(view);
  QString error;
  if (operation.runOperation(&error) == platform::PrintOperation::Outcome::Failed)
    CustomAlertView::showErrorResult(MyResult::error(QString(), error));
}

bool SolarSystemViewController::startClosingCanCloseNow() {
  // An open edit popover saves what was typed before the token can go back.
  closeEditPopoverNow();
  // A forced close or the home button has returned the token already; a forced close that
  // waits for its saves closes the window itself.
  if (mForcedClosing) return mDocToken < 1;
  if (!mDoc || mDocToken < 1) return true;
  if (!mOwnIdea) return true;
  if (mDropUnsavedEdit) {
    releaseDocumentOnce(nullptr, /*discardScratchFile=*/false);
    return true;
  }
  if (screenOccupied()) return false;
  const bool temp = mDoc->location() == DocumentLocationTemp;
  if (temp && !mCanCloseTempFileIfAsked) {
    askAboutClosingNewDocument();
    return false;
  }
  if (temp) {
    // "Do Not Save": whatever is still being written goes with the scratch file.
    releaseDocumentOnce(nullptr, /*discardScratchFile=*/true);
    return true;
  }
  if (mSavesInFlight > 0 || mLastSaveFailed) {
    // The window closes once the saves are done, or asks when the edit is still not written.
    if (std::exchange(mCloseAfterSaves, true)) return false;
    std::weak_ptr<SolarSystemViewController> weak = self();
    settleUnsavedEdit([weak](bool mayGo) {
      auto me = weak.lock();
      if (!me) return;
      me->mCloseAfterSaves = false;
      if (mayGo) me->closeWindowLater();
    });
    return false;
  }
  releaseDocumentOnce(nullptr, /*discardScratchFile=*/false);
  return true;
}

void SolarSystemViewController::askBeforeQuitting(std::function<void(bool mayQuit)> answer) {
  closeEditPopoverNow();
  if (mForcedClosing || !mDoc || mDocToken < 1) return answer(true);
  settleUnsavedEdit(std::move(answer));
}

void SolarSystemViewController::askBeforeLeavingLocation(DocumentLocation location,
                                                         std::function<void(bool mayGo)> answer) {
  if (!mDoc || mDoc->location() != location) return answer(true);
  askBeforeQuitting(std::move(answer));
}

void SolarSystemViewController::settleUnsavedEdit(std::function<void(bool mayGo)> then) {
  if (mDropUnsavedEdit || (mSavesInFlight == 0 && !mLastSaveFailed)) return then(true);
  std::weak_ptr<SolarSystemViewController> weak = self();
  whenSavesAreDone([weak, then = std::move(then)] {
    auto me = weak.lock();
    if (!me || !me->mLastSaveFailed || me->mDropUnsavedEdit) return then(true);
    me->askAboutUnsavedEdit(then);
  });
}

void SolarSystemViewController::askAboutClosingNewDocument() {
  const QString operation = QString::fromLatin1(kCloseTempFile);
  std::weak_ptr<SolarSystemViewController> weak = self();
  CustomAlertView alert(QString(), localized(QStringLiteral("mac:CloseTempFile.Title"),
                                             "Do you want save the changes you made to the New file?"));
  alert.addButton(localized(QString(), "Save"), CAVButton::kOrdinary, [weak, operation] {
    auto me = weak.lock();
    if (!me) return;
    me->liberateScreen(operation);
    me->performSaveLocalFileWithCompletion([weak](const MyResultPtr& result) {
      auto me = weak.lock();
      if (!me || !result) return;
      if (result->isOK())
        me->closeWindowLater();
      else if (result->isError())
        CustomAlertView::showErrorResult(result);
    });
  });
  alert.addButton(localized(QString(), "Do Not Save"), CAVButton::kOrdinary, [weak, operation] {
    auto me = weak.lock();
    if (!me) return;
    me->liberateScreen(operation);
    me->mCanCloseTempFileIfAsked = true;
    me->closeWindowLater();
  });
  alert.addButton(localized(QString(), "Cancel"), CAVButton::kCancel, [weak, operation] {
    if (auto me = weak.lock()) me->liberateScreen(operation);
  });
  occupyScreen(operation);
  alert.showFromWindow(myWindow());
}

void SolarSystemViewController::askAboutUnsavedEdit(std::function<void(bool mayGo)> then) {
  std::weak_ptr<SolarSystemViewController> weak = self();
  CustomAlertView alert(localized(QString(), "Failed to update document"), failedSaveDescription());
  alert.addButton(localized(QString(), "Save As…"), CAVButton::kOrdinary, [weak, then] {
    auto me = weak.lock();
    if (!me) return then(false);
    me->performSaveLocalFileWithCompletion([weak, then](const MyResultPtr& result) {
      if (result && result->isError()) CustomAlertView::showErrorResult(result);
      auto me = weak.lock();
      if (!me || !result || !result->isOK()) return then(false);
      // Saved onto its own file, the save is still under way and may fail again.
      me->settleUnsavedEdit(then);
    });
  });
  alert.addButton(localized(QString(), "Do Not Save"), CAVButton::kOrdinary, [weak, then] {
    auto me = weak.lock();
    if (me) me->mDropUnsavedEdit = true;
    then(true);
  });
  alert.addButton(localized(QString(), "Cancel"), CAVButton::kCancel, [then] { then(false); });
  alert.showFromWindow(myWindow());
}

void SolarSystemViewController::closeWindowLater() {
  // Not from inside the close request that may have asked the question.
  std::weak_ptr<SolarSystemViewController> weak = self();
  platform::mainQueue().async([weak] {
    if (auto me = weak.lock()) me->closeWindow();
  });
}

void SolarSystemViewController::cmdSaveLocalFile() {
  if (mDoc && mDoc->location() == DocumentLocationTemp) return cmdSaveLocalFileAs();
  // Asked for by the user: an edit given up before is saved now, and a failure asks as the
  // close does.
  mDropUnsavedEdit = false;
  doSaveLocalFile();
  settleUnsavedEdit([](bool) {});
}

void SolarSystemViewController::cmdSaveLocalFileAs() {
  performSaveLocalFileWithCompletion([](const MyResultPtr& result) {
    if (result && result->isError()) CustomAlertView::showErrorResult(result);
  });
}

void SolarSystemViewController::doSaveLocalFile() { updateSolarSystemAndSaveDocument(); }

void SolarSystemViewController::performSaveLocalFileWithCompletion(ResultCompletion completion) {
  auto done = [completion](const MyResultPtr& result) {
    if (completion) completion(result);
  };
  if (!mDoc || mDocToken < 1 || !mRootIdea) return done(MyResult::USER_CANCEL());
  platform::FilePanelRequest request;
  request.kind = platform::FilePanelRequest::Kind::Save;
  request.directory = desktopFolder();
  request.nameFieldStringValue = mDoc->exportFileName();
  request.allowedFileTypes = QStringList{QStringLiteral("orrery")};
  std::weak_ptr<SolarSystemViewController> weak = self();
  platform::beginFilePanel(request, myWindow(), [weak, done](const platform::FilePanelResult& answer) {
    auto me = weak.lock();
    if (!me || answer.response != platform::kModalResponseOK || answer.paths.isEmpty())
      return done(MyResult::USER_CANCEL());
    QString path = answer.paths.front();
    if (!path.endsWith(QString::fromLatin1(kDocumentExtension), Qt::CaseInsensitive))
      path += QString::fromLatin1(kDocumentExtension);
    me->saveAsPath(path, done);
  });
}

void SolarSystemViewController::saveAsPath(const QString& path, const ResultCompletion& done) {
  if (!mDoc || mDocToken < 1 || !mRootIdea) return done(MyResult::USER_CANCEL());
  const QUrl url = QUrl::fromLocalFile(path);
  if (mDoc->refersToURL(url)) {
    doSaveLocalFile();
    return done(MyResult::OK());
  }
  if (ApplicationDelegate* app = Globals::app(); app && app->isFileCurrentlyOpen(url))
    return done(MyResult::error(QStringLiteral("mac:Error:CannotSaveOverOpenFile"),
                                QStringLiteral("Cannot overwrite file that is open")));
  auto created = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  // The new file gets a tree of its own: other windows of the old document keep editing
  // theirs, and neither file takes the other's later edits.
  created->setIdea(mRootIdea->snapshotCopy());
  created->setDateCreated(mDoc->dateCreated());
  created->setDateModified(mDoc->dateModified());
  std::weak_ptr<SolarSystemViewController> weak = self();
  PersistenceController::singleton().createDocument(created, [weak, created, url, done](DocumentToken token) {
    auto me = weak.lock();
    if (!me) {
      if (token >= 1) PersistenceController::singleton().releaseDocument(created, token, nullptr);
      return done(MyResult::USER_CANCEL());
    }
    if (token < 1)
      return done(
          MyResult::error(QStringLiteral("mac:Error:FailedToWriteFile"), QStringLiteral("Failed to save file")));
    if (platform::Window* window = me->myWindow()) window->setTitle(QFileInfo(url.toLocalFile()).fileName());
    // A new document's scratch file has no further use once its last token is back.
    me->releaseDocumentOnce(nullptr, /*discardScratchFile=*/true);
    me->setCurrentDoc(created, token, me->mOwnIdea ? me->mOwnIdea->identifier() : QString());
    me->showTreeOfSavedAsDocument();
    done(MyResult::OK());
  });
}

bool SolarSystemViewController::validateUserInterfaceItem(const platform::MenuItem& item) {
  if (item.action() == QLatin1String(kSaveAction) || item.action() == QLatin1String(kSaveAsAction))
    return mDoc && (mDoc->location() == DocumentLocationTemp || mDoc->location() == DocumentLocationLocalFile);
  return BaseViewController::validateUserInterfaceItem(item);
}

}  // namespace orrery
