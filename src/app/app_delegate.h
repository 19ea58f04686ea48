#pragma once
// The application delegate: the start-up sequence, the one quit sequence, the set of main
// windows and its stored state ("CurrentState", written within 5 s of a change and at quit),
// the version check, the menu actions the application answers, the cloud sign-in redirect,
// and every way a document window comes into being outside the home screen (new scratch
// documents, local files from the open panel, the command line or a second launch, OPML
// imports, recent files). One per process, alive for the whole run; main thread only.

#include "app/main_window_controller.h"
#include "foundation/application_delegate.h"
#include "foundation/my_result.h"
#include "model/document_location.h"
#include "platform/ui/menu.h"
#include "platform/ui/responder.h"

#include <QHash>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orrery {

class Idea;
class BaseViewController;

// What the delegate asks of the world around it; tests replace any part.
struct AppServices {
  // Starts crash reporting and analytics (step 1); may throw, which is logged.
  std::function<void()> startTelemetry;
  // Sets up the cloud-storage library with the application key (step 3).
  std::function<void(const QString& appKey)> setupDropbox;
  // Hands a sign-in redirect to the cloud-storage library; the completion gets "success",
  // "cancel", "error" (with a description) or nothing when the URL was no sign-in redirect.
  std::function<void(const QUrl& url, std::function<void(const QString& kind, const QString& description)>)>
      handleDropboxRedirect;
  // Ends the process's event loop once the quit sequence is done.
  std::function<void()> exitEventLoop;
  // Runs the main-queue tasks posted so far: the quit hears the results of the saves it waited
  // for before the event loop ends.
  std::function<void()> runPostedMainQueueTasks;
  // Runs work the first frame does not need once a window has drawn; at once when unset.
  std::function<void(std::function<void()>)> afterFirstFrame;
};

class PreferencesWindowController;

class AppDelegate : public platform::Responder, public ApplicationDelegate, public platform::MenuDelegate {
 public:
  static constexpr char kCurrentStateKey[] = "CurrentState";
  static constexpr char kControllerStatesKey[] = "controllerStates";
  static constexpr char kRecentLocalFilesKey[] = "RecentLocalFiles";
  static constexpr char kCurrentVersionKey[] = "CurrentOrreryVersion";
  static constexpr int kMaxRecentFiles = 10;
  static constexpr int kStateCycleMillis = 5000;

  explicit AppDelegate(AppServices services = {});
  ~AppDelegate() override;
  // The one delegate, or null outside a run.
  static AppDelegate* current();

  // Start-up: the main menu, then steps 1 to 11; `launchArguments` (paths and sign-in
  // redirects) are handled after step 9, and files among them take the place of a first window.
  void applicationDidFinishLaunching(const QStringList& launchArguments = {});
  // Stores the window state now; the application may always terminate.
  bool applicationShouldTerminate();
  // The one quit sequence: ask every window's screen in turn (a window whose edit could not be
  // saved asks the user, who may save it elsewhere, give it up or cancel the quit), store the
  // state, let every registered waiter finish (saves on disk, sync engines' queued writes), wait
  // for the termination holds, end the event loop. A quit from a signal asks nobody.
  void terminate(bool askScreens = true);
  bool isTerminating() const { return mTerminating; }
  // Before a cloud location is dropped (its Disconnect): the windows' screens are asked in turn
  // as at the quit, so an edit that could not reach the location's folder is saved elsewhere or
  // given up by the user's word; `leave` runs once every screen agreed, and a Cancel keeps the
  // location. A second request while one asks is ignored.
  void askBeforeLeavingLocation(DocumentLocation location, std::function<void()> leave);
  // Work the first window's first frame does not need (telemetry, the what's-new card).
  void afterFirstFrame(std::function<void()> work);
  // Arguments of a later launch, or of this one: paths open, redirects go to the sign-in, and
  // no argument at all brings the key window to the front.
  void handleArguments(const QStringList& arguments);

  // Window registry.
  // A stored frame (a local file's window of the last run) replaces the cascade; either way the
  // window ends inside its screen's available area and off the place of every other window.
  void addAndShowNewWindowController(const std::shared_ptr<MainWindowController>& controller,
                                     std::optional<QRectF> storedFrame = std::nullopt);
  void removeWindowController(MainWindowController* controller);
  // A window of the program closed (a map or home window, Preferences, About, Legal Notices):
  // once none is left open the program ends through the quit sequence, there being no global
  // menu bar to go on from.
  void windowDidClose();
  const std::vector<std::shared_ptr<MainWindowController>>& windowControllers() const { return mWindowControllers; }
  MyWindow* findWindowWithURL(const QUrl& url) const;
  bool isStateDirty() const { return mStateIsDirty; }
  QVariantMap createState(bool quitting) const;
  bool restoreFromState(const QVariantMap& state);
  bool restoreFromStoredState();
  bool updateStoredState(bool quitting);
  void dispatchNextStateUpdate();
  static QString versionNumberDisplayString();

  // ApplicationDelegate.
  void addNewRecentDocumentURL(const QUrl& fileUrl) override;
  bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) override;
  bool isFileCurrentlyOpen(const QUrl& fileUrl) override;
  void markPersistentAppStateDirty() override { mStateIsDirty = true; }
  void openDocumentInNewWindow(const QString& docIdentifier, const QString& ideaIdentifier) override;
  void storedWindowCannotShow(platform::Window* window, const MyResultPtr& why) override;

  // Documents.
  void createNewLocalFileWithInitialAction(WindowInitialAction action);
  // A new map with nothing in it yet (`empty`) has nothing worth holding its window for the
  // disk: its file is written at once and synced after; an imported outline waits for the disk.
  // The completion hears OK once the window shows, or the failure instead of an alert.
  void createNewLocalFileFromIdea(const std::shared_ptr<Idea>& idea, WindowInitialAction action, bool empty = false,
                                  std::function<void(const MyResultPtr&)> completion = {});
  // Opens a handed-over file (the command line, a second launch) and answers true at once; a
  // failure shows an alert, and leaves the first window when no other window is left.
  bool openFile(const QString& path);
  // The completion hears OK once the file's window shows, or why it did not open.
  void doOpenLocalFile(const QString& path, std::function<void(const MyResultPtr&)> completion);
  // A new window in the storage the user chose: a cloud home screen or a scratch map.
  void openFirstWindow();
  // The initial action of the next window opened for a file: the what's-new card once, when
  // the start-up left it to the file's window.
  WindowInitialAction takeOpenedFileAction();

  // The cloud sign-in redirect.
  void handleRedirectURL(const QUrl& url);
  void sessionDidReceiveAuthorizationFailure();

  // The preferences window, made on first use and kept for the run.
  PreferencesWindowController& preferencesWindowController();

  // Menus.
  bool validateUserInterfaceItem(const platform::MenuItem& item) override;
  // Rebuilds "Open Recent" from the recent local files.
  void menuNeedsUpdate(platform::Menu& menu) override;

 private:
  void installActions();
  void runOpenPanel(const QStringList& types);
  void handedOverOpenEnded(const MyResultPtr& result);
  void openStandInWindow();
  void commitPendingEdits();
  void askBeforeQuitting();
  // Each window's screen in turn through `ask`, whose answer may come later (a save in flight,
  // the user's choice); `done` hears true once all agreed, false at the first that did not.
  using ScreenQuestion = std::function<void(BaseViewController& screen, std::function<void(bool)> answer)>;
  static void askScreensInTurn(std::vector<std::weak_ptr<MainWindowController>> windows, ScreenQuestion ask,
                               std::function<void(bool)> done);
  void forEachScreen(const std::function<void(BaseViewController&)>& work);
  void finishTerminating();
  void keepInsideAndUncovered(MainWindowController& controller);
  bool hasOpenWindow() const;
  // The frame the file's window had in the last run, once: a later window of it is new.
  std::optional<QRectF> takeReopenFrame(const QString& path);

  AppServices mServices;
  std::vector<std::shared_ptr<MainWindowController>> mWindowControllers;
  std::unique_ptr<PreferencesWindowController> mPreferencesWindowController;
  bool mStateIsDirty = false;
  bool mTerminating = false;
  bool mAskingBeforeQuit = false;
  bool mAskingBeforeLeaving = false;
  bool mLaunched = false;  // the stored windows have been restored
  bool mWelcomeOverOpenedFile = false;
  QStringList mReopening;  // files of the last run's windows not yet shown again
  QHash<QString, QRectF> mReopenFrames;  // their frames, by canonical path
  int mHandedOverOpens = 0;  // handed-over files still opening
  // Windows of the stored state closing without having shown their documents.
  std::vector<const MainWindowController*> mClosingUnshown;
  int mSaveDrainWaiter = 0;
};

}  // namespace orrery
