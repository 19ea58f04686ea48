#include "app/app_delegate.h"

#include "app/about_window.h"
#include "app/local_document_windows.h"
#include "app/menu_helper.h"
#include "app/preferences_panes.h"
#include "app/preferences_window_controller.h"
#include "app/recovery_offer.h"
#include "app/version_check.h"
#include "cloud/cloud_engines.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/custom_alert_view.h"
#include "model/color_theme.h"
#include "model/document_open_failure.h"
#include "model/file_utils.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "model/recovery_copies.h"
#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"
#include "platform/core/quit_waiters.h"
#include "platform/core/termination.h"
#include "platform/services/hand_off_message.h"
#include "platform/services/user_defaults.h"
#include "platform/ui/application.h"
#include "platform/ui/modal_presenter.h"
#include "shell/bundle_info.h"
#include "shell/screen_factory.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <exception>
#include <utility>

namespace orrery {
namespace {

AppDelegate* gCurrent = nullptr;

constexpr int kNoMainMenuAssertLine = 562;
constexpr char kNoMainMenuOperation[] = "-[AppDelegate applicationDidFinishLaunching:]";
constexpr auto kTerminationHoldWait = std::chrono::seconds(10);

platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

using localwindows::canonicalPath;

QString canonicalPath(const QUrl& url) { return url.isLocalFile() ? canonicalPath(url.toLocalFile()) : QString(); }

// The alert only says that a file failed; the log says which and why.
// Logs the failure and answers what the alert says: the file's name and the reader's reason.
MyResultPtr openFailure(const QString& path, const IdeaDocument& doc) {
  logLine(QStringLiteral("Open: %1 failed: %2")
              .arg(path, documentOpenFailureReason(path, doc.lastError(), doc.lastUserFriendlyError())));
  return documentOpenFailure(path, doc.lastError(), doc.lastUserFriendlyError());
}

void showError(const MyResultPtr& result) {
  if (result && result->isError()) CustomAlertView::showErrorResult(result);
}

}  // namespace

AppDelegate::AppDelegate(AppServices services) : mServices(std::move(services)) {
  // exit, not quit: quit would ask each window to close first, and windows ask their screens.
  if (!mServices.exitEventLoop) mServices.exitEventLoop = [] { QCoreApplication::exit(0); };
  gCurrent = this;
  Globals::setApp(this);
  platform::Application::shared().setDelegate(this);
  installActions();
}

AppDelegate::~AppDelegate() {
  if (mSaveDrainWaiter) platform::removeQuitWaiter(mSaveDrainWaiter);
  if (platform::Application::shared().delegate() == this) platform::Application::shared().setDelegate(nullptr);
  if (Globals::app() == this) Globals::setApp(nullptr);
  if (gCurrent == this) gCurrent = nullptr;
}

AppDelegate* AppDelegate::current() { return gCurrent; }

void AppDelegate::installActions() {
  auto on = [this](const char* action, std::function<void()> body) {
    setActionHandler(QString::fromLatin1(action), [body](const platform::ActionSender&) { body(); });
  };
  on("cmdNewLocalFile", [this] { createNewLocalFileWithInitialAction(kWindowInitialActionEditCentralIdea); });
  on("cmdNewCloudWindow",
     [this] { addAndShowNewWindowController(MainWindowController::createCloudWindow(DocumentLocationICloud)); });
  on("cmdNewDropboxWindow",
     [this] { addAndShowNewWindowController(MainWindowController::createCloudWindow(DocumentLocationDropbox)); });
  on("cmdOpenLocalFile", [this] { runOpenPanel({QStringLiteral("opml"), QStringLiteral("orrery")}); });
  on("cmdImportLocalFile", [this] { runOpenPanel({QStringLiteral("opml")}); });
  on("cmdQuit", [this] { terminate(); });
  on("cmdOpenAboutDialog", [] { AboutWindow::show(); });
  on("cmdOpenPreferences", [this] { preferencesWindowController().showWindow(); });
}

PreferencesWindowController& AppDelegate::preferencesWindowController() {
  if (!mPreferencesWindowController)
    mPreferencesWindowController = std::make_unique<PreferencesWindowController>(
        std::vector<PreferencesPane>{std::make_shared<GeneralPreferencesViewController>(),
                                     std::make_shared<AdvancedPreferencesViewController>()},
        Globals::normalLocalizedStringForKey(QStringLiteral("Preferences"), QStringLiteral("Preferences")));
  return *mPreferencesWindowController;
}

// Start-up.

void AppDelegate::applicationDidFinishLaunching(const QStringList& launchArguments) {
  auto& app = platform::Application::shared();
  if (!app.mainMenu()) app.setMainMenu(MenuHelper::createMainMenu(this));
  mSaveDrainWaiter = platform::addQuitWaiter("document saves", [] { PersistenceController::singleton().drainSaves(); });

  // 1. Crash reporting and analytics, before any window is built, so a crash while the first
  // windows are made (a file handed over that does not read) leaves its report; a failure
  // there must not stop the program.
  if (mServices.startTelemetry) {
    try {
      mServices.startTelemetry();
    } catch (const std::exception& e) {
      logLine(QStringLiteral("Telemetry did not start: %1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
      logLine(QStringLiteral("Telemetry did not start"));
    }
  }
  // 2.
  defaults().registerDefaults({{QString::fromLatin1(kRecentLocalFilesKey), QVariantList()}});
  // 3.
  if (mServices.setupDropbox) mServices.setupDropbox(QString::fromLatin1(kDropboxAppKey));
  // 4. The recent files are the "Open Recent" menu itself, rebuilt from the list as it opens.
  // 5.
  if (!app.mainMenu()) softAssertionFailed(kNoMainMenuAssertLine, kNoMainMenuOperation);
  // 6. The store-rating item has no Linux counterpart: the menu has none to title.
  // 7.
  if (!restoreFromStoredState())
    CustomAlertView::showErrorResult(MyResult::error(QStringLiteral("mac:Error:CouldNotRestoreWindowsProperly"),
                                                     QStringLiteral("We could not restore all application windows")));
  mLaunched = true;
  // 8.
  FileUtil::cleanTemporaryFilesDuringStartup();
  // Files handed to the mail program are kept for a while, not emptied like the scratch folder.
  FileUtil::cleanHandOffFilesDuringStartup();
  // 9.
  dispatchNextStateUpdate();
  // Edits an earlier run could not save, over the first window; the copies are read whole only
  // once it shows.
  if (mayHaveRecoveryCopies()) {
    afterFirstFrame([self = platform::WeakRef<AppDelegate>(this)] {
      if (AppDelegate* app = self.get()) offerRecoveryCopies(*app);
    });
  }

  // Files handed over at launch open now, then the local document windows of the last run
  // come back; both stand in for a first window. The what's-new card of a new version goes
  // over the first of them rather than into a window of its own.
  QStringList files;
  for (const QString& argument : launchArguments) {
    if (platform::handoff::isRedirectURL(argument)) continue;
    const QUrl asUrl(argument);
    files.append(asUrl.isLocalFile() ? asUrl.toLocalFile() : argument);
  }
  const QStringList reopened = localwindows::reopenable(
      defaults().objectForKey(QString::fromLatin1(localwindows::kStoredFilesKey)), files);
  const bool openedFiles = !files.isEmpty() || !reopened.isEmpty();
  const QString version = versionNumberDisplayString();
  const QString stored = defaults().stringForKey(QString::fromLatin1(kCurrentVersionKey));
  mWelcomeOverOpenedFile = openedFiles && version != stored && version.startsWith(QLatin1String("1.5."));
  if (!launchArguments.isEmpty()) handleArguments(launchArguments);
  platform::WeakRef<AppDelegate> self(this);
  mReopening = reopened;
  const QVariant storedFrames = defaults().objectForKey(QString::fromLatin1(localwindows::kStoredFramesKey));
  for (const QString& path : reopened)
    if (const auto frame = localwindows::storedFrame(storedFrames, path)) mReopenFrames.insert(path, *frame);
  for (const QString& path : reopened) {
    // A window of the last run whose file is there but no longer opens says which and why; one
    // whose file is gone stays away without a word. When nothing else opened, the start's first
    // window stands in for it.
    doOpenLocalFile(path, [self, path](const MyResultPtr& result) {
      AppDelegate* app = self.get();
      // A cancelled open (the quit dropped its read) leaves the window to the next start.
      if (!app || result == MyResult::OK() || result == MyResult::USER_CANCEL()) return;
      if (QFileInfo::exists(path)) showError(result);
      app->mReopening.removeAll(path);
      if (app->mWindowControllers.empty()) app->openStandInWindow();
    });
  }

  // 10. Version check.
  if (version != stored) {
    if (compareVersions(stored, QStringLiteral("1.5")) < 0 && Globals::userHasOptedForDropbox())
      Globals::optForDropbox(false);
    // Its observers (the persistence facade re-evaluates its workspaces) wait for the first window.
    afterFirstFrame([version] { defaults().setString(version, QString::fromLatin1(kCurrentVersionKey)); });
    if (version.startsWith(QLatin1String("1.5."))) {
      if (!openedFiles) createNewLocalFileWithInitialAction(kWindowInitialActionShowWelcome);
      return;
    }
  }
  // 11. First window.
  if (!mWindowControllers.empty() || openedFiles) return;
  openFirstWindow();
}

void AppDelegate::openFirstWindow() {
  if (Globals::userHasOptedForICloud())
    tryToPerform(QStringLiteral("cmdNewCloudWindow"), {nullptr, this});
  else if (Globals::userHasOptedForDropbox())
    tryToPerform(QStringLiteral("cmdNewDropboxWindow"), {nullptr, this});
  else
    tryToPerform(QStringLiteral("cmdNewLocalFile"), {nullptr, this});
}

void AppDelegate::afterFirstFrame(std::function<void()> work) {
  if (mServices.afterFirstFrame)
    mServices.afterFirstFrame(std::move(work));
  else if (work)
    work();
}

void AppDelegate::handleArguments(const QStringList& arguments) {
  if (arguments.isEmpty()) {
    if (auto* key = platform::Application::shared().keyWindow()) key->makeKeyAndOrderFront();
    else if (!mWindowControllers.empty()) mWindowControllers.back()->showWindow();
    return;
  }
  for (const QString& argument : arguments) {
    if (platform::handoff::isRedirectURL(argument)) {
      handleRedirectURL(QUrl(argument));
      continue;
    }
    const QUrl asUrl(argument);
    openFile(asUrl.isLocalFile() ? asUrl.toLocalFile() : argument);
  }
}

// Quit.

bool AppDelegate::applicationShouldTerminate() {
  updateStoredState(/*quitting=*/true);
  return true;
}

void AppDelegate::terminate(bool askScreens) {
  if (mTerminating || (mAskingBeforeQuit && askScreens)) return;
  commitPendingEdits();
  if (!askScreens) return finishTerminating();
  mAskingBeforeQuit = true;
  askBeforeQuitting();
}

void AppDelegate::commitPendingEdits() {
  forEachScreen([](BaseViewController& screen) { screen.commitPendingEdits(); });
}

void AppDelegate::forEachScreen(const std::function<void(BaseViewController&)>& work) {
  const std::vector<std::shared_ptr<MainWindowController>> controllers(mWindowControllers.begin(),
                                                                       mWindowControllers.end());
  for (const auto& c : controllers)
    if (const auto& screen = c->myWindow().controller()) work(*screen);
}

void AppDelegate::askBeforeQuitting() {
  platform::WeakRef<AppDelegate> self(this);
  auto ask = [self](BaseViewController& screen, std::function<void(bool)> answer) {
    // A quit that started meanwhile (a signal) asks nobody more.
    if (AppDelegate* app = self.get(); app && !app->mTerminating) screen.askBeforeQuitting(std::move(answer));
  };
  askScreensInTurn({mWindowControllers.begin(), mWindowControllers.end()}, ask, [self](bool mayQuit) {
    AppDelegate* app = self.get();
    if (!app || app->mTerminating) return;
    if (mayQuit) return app->finishTerminating();
    app->mAskingBeforeQuit = false;
    logLine(QStringLiteral("Quit: cancelled"));
  });
}

void AppDelegate::askBeforeLeavingLocation(DocumentLocation location, std::function<void()> leave) {
  if (mAskingBeforeLeaving || mTerminating) return;
  mAskingBeforeLeaving = true;
  platform::WeakRef<AppDelegate> self(this);
  auto ask = [self, location](BaseViewController& screen, std::function<void(bool)> answer) {
    if (AppDelegate* app = self.get(); app && !app->mTerminating)
      screenFactory().askBeforeLeavingLocation(screen, location, std::move(answer));
  };
  askScreensInTurn({mWindowControllers.begin(), mWindowControllers.end()}, ask,
                   [self, leave = std::move(leave)](bool mayGo) {
                     AppDelegate* app = self.get();
                     if (!app) return;
                     app->mAskingBeforeLeaving = false;
                     if (mayGo && !app->mTerminating) leave();
                   });
}

void AppDelegate::askScreensInTurn(std::vector<std::weak_ptr<MainWindowController>> windows, ScreenQuestion ask,
                                   std::function<void(bool)> done) {
  while (!windows.empty()) {
    const auto controller = windows.front().lock();
    windows.erase(windows.begin());
    const auto screen = controller ? controller->myWindow().controller() : nullptr;
    if (!screen) continue;
    ask(*screen, [windows = std::move(windows), ask, done](bool agreed) mutable {
      if (!agreed) return done(false);
      askScreensInTurn(std::move(windows), std::move(ask), std::move(done));
    });
    return;
  }
  done(true);
}

void AppDelegate::finishTerminating() {
  if (mTerminating) return;
  mTerminating = true;
  mAskingBeforeQuit = false;
  // Edits made while the quit waited, and those whose last save failed, once more.
  commitPendingEdits();
  forEachScreen([](BaseViewController& screen) { screen.saveOnceMoreBeforeQuit(); });
  applicationShouldTerminate();
  // A quit that goes as it should says nothing on the terminal; only one that gives up does.
  platform::runQuitWaiters();
  // The saves' results reach the windows now rather than after the loop ended; what is still
  // not on disk is kept for the next start.
  if (mServices.runPostedMainQueueTasks) mServices.runPostedMainQueueTasks();
  forEachScreen([](BaseViewController& screen) { screen.keepEditNotOnDisk(); });
  // Settings changed by the quit itself (the stored windows) are on disk before it ends.
  defaults().flush();
  if (!platform::waitUntilTerminationAllowed(kTerminationHoldWait))
    logLine(QStringLiteral("Quit: termination holds still taken after waiting; quitting anyway"));
  mServices.exitEventLoop();
}

QString AppDelegate::versionNumberDisplayString() {
  return QStringLiteral("%1.%2").arg(BundleInfo::shortVersionString(), BundleInfo::bundleVersion());
}

// Documents.

void AppDelegate::createNewLocalFileWithInitialAction(WindowInitialAction action) {
  auto idea = Idea::createWithText(QStringLiteral(""));
  const auto& themes = ColorTheme::standardThemes();
  if (!themes.empty() && !themes.front()->colors().empty()) idea->setColor(themes.front()->colors().front());
  idea->setColorThemeType(ColorThemeTypeLighterColor);
  createNewLocalFileFromIdea(idea, action, true);
}

void AppDelegate::createNewLocalFileFromIdea(const std::shared_ptr<Idea>& idea, WindowInitialAction action,
                                             bool empty, std::function<void(const MyResultPtr&)> completion) {
  auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
  doc->setIdea(idea);
  doc->setCreateWaitsForDisk(!empty);
  const QDateTime now = QDateTime::currentDateTimeUtc();
  doc->setDateCreated(now);
  doc->setDateModified(now);
  platform::WeakRef<AppDelegate> self(this);
  PersistenceController::singleton().createDocument(doc, [self, doc, action, completion](DocumentToken token) {
    if (token < 1) {
      const MyResultPtr failure =
          MyResult::error(QStringLiteral("mac:Error:CouldNotCreateDocument"), QStringLiteral("Could not create document"));
      if (completion)
        completion(failure);
      else
        CustomAlertView::showErrorResult(failure);
      return;
    }
    AppDelegate* app = self.get();
    if (!app) {
      PersistenceController::singleton().releaseDocument(doc, token, nullptr);
      return;
    }
    app->addAndShowNewWindowController(MainWindowController::createDocumentWindow(doc, token, QString(), action));
    if (completion) completion(MyResult::OK());
  });
}

WindowInitialAction AppDelegate::takeOpenedFileAction() {
  return std::exchange(mWelcomeOverOpenedFile, false) ? kWindowInitialActionShowWelcome : kWindowInitialActionNone;
}

bool AppDelegate::openFile(const QString& path) {
  ++mHandedOverOpens;
  platform::WeakRef<AppDelegate> self(this);
  doOpenLocalFile(path, [self](const MyResultPtr& result) {
    showError(result);
    if (AppDelegate* app = self.get()) app->handedOverOpenEnded(result);
  });
  return true;
}

// A program without a window would hold the single-instance lock, and every later launch
// would hand over to it: once the last handed-over file has failed and its alert is answered,
// the start's first window stands in, as for a window of the last run that no longer opens.
void AppDelegate::handedOverOpenEnded(const MyResultPtr& result) {
  --mHandedOverOpens;
  // A cancelled open is one the quit dropped.
  if (result == MyResult::OK() || result == MyResult::USER_CANCEL()) return;
  if (mTerminating || mHandedOverOpens > 0 || !mWindowControllers.empty()) return;
  openStandInWindow();
}

// A new version's what's-new card that was to lie over a file's window goes over a new scratch
// map instead, as at a start without files.
void AppDelegate::openStandInWindow() {
  if (std::exchange(mWelcomeOverOpenedFile, false))
    createNewLocalFileWithInitialAction(kWindowInitialActionShowWelcome);
  else
    openFirstWindow();
}

void AppDelegate::runOpenPanel(const QStringList& types) {
  platform::FilePanelRequest request;
  request.kind = platform::FilePanelRequest::Kind::Open;
  request.allowedFileTypes = types;
  request.directory = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  platform::WeakRef<AppDelegate> self(this);
  platform::beginFilePanel(request, platform::Application::shared().keyWindow(),
                           [self](platform::FilePanelResult result) {
                             AppDelegate* app = self.get();
                             if (!app || result.response != platform::kModalResponseOK || result.paths.isEmpty()) return;
                             app->doOpenLocalFile(result.paths.front(), showError);
                           });
}

void AppDelegate::doOpenLocalFile(const QString& path, std::function<void(const MyResultPtr&)> completion) {
  const QUrl url = QUrl::fromLocalFile(canonicalPath(path));
  if (MyWindow* window = findWindowWithURL(url)) {
    window->makeKeyAndOrderFront();
    if (completion) completion(MyResult::OK());
    return;
  }
  platform::WeakRef<AppDelegate> self(this);
  if (path.toLower().endsWith(QLatin1String(".opml"))) {
    auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
    doc->setWorkQueue(&PersistenceController::singleton().workQueue());
    doc->readFromURL(url, [self, doc, path, completion](bool ok) {
      AppDelegate* app = self.get();
      if (!ok || !doc->idea()) {
        const MyResultPtr failure = openFailure(path, *doc);
        if (completion) completion(failure);
        return;
      }
      if (app) app->createNewLocalFileFromIdea(doc->idea(), app->takeOpenedFileAction(), false, completion);
    });
    return;
  }
  auto doc = IdeaDocument::createWithFileName(url.toLocalFile(), DocumentLocationLocalFile);
  PersistenceController::singleton().openDocument(doc, [self, doc, completion, path](DocumentToken token) {
    AppDelegate* app = self.get();
    if (token < 1 || !app) {
      if (token >= 1) PersistenceController::singleton().releaseDocument(doc, token, nullptr);
      const MyResultPtr failure =
          token < 1 ? openFailure(path, *doc)
                    : MyResult::error(QStringLiteral("mac:Error:FailedToOpenFile"), QStringLiteral("Failed to open file"));
      if (completion) completion(failure);
      return;
    }
    app->addAndShowNewWindowController(
        MainWindowController::createDocumentWindow(doc, token, QString(), app->takeOpenedFileAction()),
        app->takeReopenFrame(doc->filePath()));
    app->addNewRecentDocumentURL(QUrl::fromLocalFile(doc->filePath()));
    if (completion) completion(MyResult::OK());
  });
}

void AppDelegate::openDocumentInNewWindow(const QString& docIdentifier, const QString& ideaIdentifier) {
  auto doc = PersistenceController::singleton().findDocument(docIdentifier);
  if (!doc) return;
  platform::WeakRef<AppDelegate> self(this);
  PersistenceController::singleton().openDocument(doc, [self, doc, ideaIdentifier](DocumentToken token) {
    if (token < 1) return;
    AppDelegate* app = self.get();
    if (!app) {
      PersistenceController::singleton().releaseDocument(doc, token, nullptr);
      return;
    }
    app->addAndShowNewWindowController(
        MainWindowController::createDocumentWindow(doc, token, ideaIdentifier, kWindowInitialActionNone));
  });
}

void AppDelegate::addNewRecentDocumentURL(const QUrl& fileUrl) {
  const QString path = canonicalPath(fileUrl);
  if (path.isEmpty()) return;
  QStringList recent;
  for (const QString& entry : defaults().stringArrayForKey(QString::fromLatin1(kRecentLocalFilesKey))) {
    if (canonicalPath(entry) != path && !recent.contains(entry)) recent.append(entry);
  }
  recent.prepend(path);
  while (recent.size() > kMaxRecentFiles) recent.removeLast();
  defaults().setObject(recent, QString::fromLatin1(kRecentLocalFilesKey));
}

// The cloud sign-in redirect.

void AppDelegate::handleRedirectURL(const QUrl& url) {
  if (!mServices.handleDropboxRedirect) {
    logLine(QStringLiteral("Sign-in redirect ignored: no cloud-storage library"));
    return;
  }
  platform::WeakRef<AppDelegate> self(this);
  mServices.handleDropboxRedirect(url, [self](const QString& kind, const QString& description) {
    AppDelegate* app = self.get();
    if (kind == QLatin1String("success")) {
      Globals::optForDropbox(true);
      logLine(QStringLiteral("Success! User is logged into Dropbox."));
      if (!description.isEmpty()) {
        CustomAlertView alert(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Dropbox Authentication")),
                              description);
        alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QStringLiteral("Close")),
                        CAVButton::kOrdinary, nullptr);
        alert.showFromWindow(platform::Application::shared().keyWindow());
      }
    } else if (kind == QLatin1String("cancel")) {
      logLine(QStringLiteral("Authorization flow was manually canceled by user!"));
      if (app) app->sessionDidReceiveAuthorizationFailure();
    } else if (kind == QLatin1String("error")) {
      logLine(QStringLiteral("Error: %1").arg(description));
      if (app) app->sessionDidReceiveAuthorizationFailure();
    }
  });
}

void AppDelegate::sessionDidReceiveAuthorizationFailure() {
  platform::NotificationCenter::defaultCenter().post("DropboxInvalidAccessTokenNotification", nullptr);
  if (!Globals::userHasOptedForDropbox()) return;
  Globals::optForDropbox(false);
  CustomAlertView alert(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Dropbox Authentication")),
                        Globals::normalLocalizedStringForKey(
                            QString(), QStringLiteral("Problem with authenticating with Dropbox. Please reconnect "
                                                      "your account in Orrery Settings.")));
  alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QStringLiteral("Close")),
                  CAVButton::kOrdinary, nullptr);
  alert.showFromWindow(platform::Application::shared().keyWindow());
}

// Menus.

bool AppDelegate::validateUserInterfaceItem(const platform::MenuItem& item) {
  const QString& action = item.action();
  if (action == QLatin1String("cmdNewCloudWindow")) return Globals::userHasOptedForICloud();
  if (action == QLatin1String("cmdNewDropboxWindow")) return Globals::userHasOptedForDropbox();
  return true;
}

void AppDelegate::menuNeedsUpdate(platform::Menu& menu) {
  menu.removeAllItems();
  const QStringList recent = defaults().stringArrayForKey(QString::fromLatin1(kRecentLocalFilesKey));
  platform::WeakRef<AppDelegate> self(this);
  for (const QString& path : recent) {
    auto item = menu.addItem(QFileInfo(path).fileName(), [self, path](platform::MenuItem&) {
      if (AppDelegate* app = self.get()) app->openFile(path);
    });
    item->setRepresentedObject(path);
  }
  if (!recent.isEmpty()) menu.addItem(platform::MenuItem::separator());
  auto clear = menu.addItem(QStringLiteral("Clear Menu"), [](platform::MenuItem&) {
    defaults().setObject(QVariantList(), QString::fromLatin1(kRecentLocalFilesKey));
  });
  clear->setEnabled(!recent.isEmpty());
}

}  // namespace orrery
