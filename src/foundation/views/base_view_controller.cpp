#include "foundation/views/base_view_controller.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/my_result.h"
#include "foundation/views/custom_alert_view.h"
#include "platform/ui/modal_presenter.h"

#include <QDir>
#include <QStandardPaths>

namespace orrery {
namespace {

BaseViewController::LocalDocumentFetcher& fetcher() {
  static BaseViewController::LocalDocumentFetcher f;
  return f;
}

const QString kShowingAlert = QStringLiteral("ShowingAlert");

QString closeTitle() {
  return Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QString());
}

}  // namespace

void BaseViewController::setLocalDocumentFetcher(LocalDocumentFetcher f) { fetcher() = std::move(f); }

void BaseViewController::occupyScreen(const QString& operation) {
  if (operation.isNull()) return;
  if (screenOccupied()) return;  // the first holder keeps the screen
  mCurrentOccupyingOperation = operation;
  reactToStateChange();
}

void BaseViewController::liberateScreen(const QString& operation) {
  if (!screenOccupied())
    logLine(QStringLiteral("ERROR: Assertion failure: ERROR: Screen is already liberated"));
  else if (operation.isNull())
    logLine(QStringLiteral("ERROR: Assertion failure: ERROR: operation==nil"));
  else if (operation != mCurrentOccupyingOperation)
    logLine(QStringLiteral("ERROR: Assertion failure: ERROR: operation!=mCurrentOccupyingOperation"));
  mCurrentOccupyingOperation = QString();
  reactToStateChange();
}

void BaseViewController::showSimpleAlertViewWithTitle(const QString& title, const QString& message) {
  if (screenOccupied()) return;
  CustomAlertView alert(title, message);
  platform::WeakRef<platform::Responder> self(this);
  alert.addButton(closeTitle(), CAVButton::kOrdinary, [self] {
    if (auto* me = dynamic_cast<BaseViewController*>(self.get())) {
      me->liberateScreen(kShowingAlert);
      me->reactToStateChange();
    }
  });
  occupyScreen(kShowingAlert);
  reactToStateChange();
  alert.showFromWindow(myWindow());
}

void BaseViewController::showNonblockingAlertViewWithTitle(const QString& title, const QString& message) {
  CustomAlertView alert(title, message);
  platform::WeakRef<platform::Responder> self(this);
  alert.addButton(closeTitle(), CAVButton::kOrdinary, [self] {
    if (auto* me = dynamic_cast<BaseViewController*>(self.get())) me->reactToStateChange();
  });
  alert.showFromWindow(myWindow());
}

void BaseViewController::startImportingLocalFileOnCompletion(
    std::function<void(std::shared_ptr<IdeaDocument>)> completion) {
  platform::FilePanelRequest request;
  request.kind = platform::FilePanelRequest::Kind::Open;
  request.allowedFileTypes = {QStringLiteral("orrery"), QStringLiteral("opml")};
  const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
  request.directory = desktops.isEmpty() ? QDir::homePath() : desktops.front();
  platform::beginFilePanel(request, myWindow(), [completion](platform::FilePanelResult result) {
    if (result.response != platform::kModalResponseOK || result.paths.isEmpty() || result.paths.front().isEmpty())
      return;
    auto onFetched = [completion](std::shared_ptr<IdeaDocument> document, const MyResultPtr& failure) {
      if (!document && (!failure || failure->isError()))
        CustomAlertView::showErrorResult(failure ? failure
                                                 : MyResult::error(QStringLiteral("mac:Error:FailedToOpenFile"),
                                                                   QStringLiteral("Failed to open file")));
      if (completion) completion(document);
    };
    if (fetcher())
      fetcher()(result.paths.front(), onFetched);
    else
      onFetched(nullptr, nullptr);  // no document layer: the file cannot be read
  });
}

}  // namespace orrery
