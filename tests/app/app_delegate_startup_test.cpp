#include "app_test_support.h"

#include "foundation/globals.h"
#include "foundation/views/container_view.h"
#include "model/color_theme.h"
#include "model/file_utils.h"
#include "shell/welcome_screen_view.h"
#include "platform/core/notification_center.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>

using namespace orrery;
using apptest::AppFixture;

namespace {

const DocumentPlaceholderController* placeholderOf(const MainWindowController& c) {
  return dynamic_cast<const DocumentPlaceholderController*>(c.myWindow().controller().get());
}
const HomePlaceholderController* homeScreen(const MainWindowController& c) {
  return dynamic_cast<const HomePlaceholderController*>(c.myWindow().controller().get());
}
WelcomeScreenView* whatsNewOf(const MainWindowController& c) {
  for (const auto& v : c.myWindow().containerView()->subviews())
    if (auto* card = dynamic_cast<WelcomeScreenView*>(v.get())) return card;
  return nullptr;
}
bool showsWhatsNew(const MainWindowController& c) { return whatsNewOf(c) != nullptr; }
QVariantList storedWindows() {
  return platform::UserDefaults::standard().dictionaryForKey("CurrentState").value("controllerStates").toList();
}

}  // namespace

using StartUp = AppFixture;

// Telemetry that fails to start is logged, and the start goes on the same.
TEST_F(StartUp, AFirstStartWithoutAStorageChoiceOpensOneScratchDocumentEditingItsEmptyCentralIdea) {
  for (const bool throws : {false, true}) {
    SCOPED_TRACE(throws ? "telemetry throws" : "telemetry starts");
    telemetryThrows = throws;
    defaults().removeObjectForKey("CurrentOrreryVersion");
    telemetryStarts = 0;
    auto& app = launch();
    ASSERT_EQ(app.windowControllers().size(), 1u);
    const auto& window = *app.windowControllers().front();
    EXPECT_EQ(window.controllerClass(), QStringLiteral("SolarSystemViewController"));
    const auto* screen = placeholderOf(window);
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(screen->document(), nullptr);
    const auto& root = screen->document()->idea();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(), QStringLiteral(""));
    EXPECT_EQ(root->color(), ColorTheme::standardThemes().front()->colors().front());
    EXPECT_EQ(root->colorThemeType(), ColorThemeTypeLighterColor);
    EXPECT_EQ(screen->editRequestedFor(), root->identifier()) << "the edit panel opens on the central idea";
    EXPECT_TRUE(screen->document()->isTempFile());
    EXPECT_FALSE(showsWhatsNew(window));
    EXPECT_EQ(defaults().stringForKey("CurrentOrreryVersion"), QStringLiteral("1.6.0.160"));
    EXPECT_EQ(telemetryStarts, 1);
    EXPECT_TRUE(presenter->alerts.empty());
    quit();
  }
}

// The first window does not wait for the disk to sync its new map's file, yet the file is
// there and whole once the window shows, so a process ending right then leaves a readable map.
TEST_F(StartUp, TheFirstWindowsScratchMapIsWholeOnDiskWhenTheWindowShows) {
  auto& app = launch();
  ASSERT_EQ(app.windowControllers().size(), 1u);
  const auto& window = *app.windowControllers().front();
  EXPECT_TRUE(window.myWindow().isVisible());
  const auto* screen = documentScreen(window);
  ASSERT_NE(screen, nullptr);
  const auto& doc = screen->document();
  QFile file(PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer(doc->docIdentifier()).toLocalFile());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const auto onDisk = IdeaDocument::fromFileBytes(file.readAll(), true);
  ASSERT_TRUE(onDisk) << "the file reads back whole";
  EXPECT_EQ(onDisk->idea()->identifier(), doc->idea()->identifier());
  EXPECT_TRUE(onDisk->idea()->text().isEmpty());
  quit();
}

TEST_F(StartUp, TheFirstStartOfAOnePointFiveVersionAddsOnlyTheWhatsNewWindowToTheRestoredOnes) {
  BundleInfo::setValues(version("1.5.2", "152"));
  defaults().setObject(QVariantMap{{"controllerStates",
                                    QVariantList{QVariantMap{{"controllerClass", "HomeViewController"},
                                                             {"controllerState", QVariantMap{{"location", 2}}},
                                                             {"windowFrame", "{{100, 100}, {700, 600}}"}}}}},
                       "CurrentState");
  auto& app = launch({}, 2);
  ASSERT_EQ(app.windowControllers().size(), 2u);
  EXPECT_NE(homeScreen(*app.windowControllers()[0]), nullptr);
  EXPECT_NE(placeholderOf(*app.windowControllers()[1]), nullptr);
  EXPECT_TRUE(showsWhatsNew(*app.windowControllers()[1]));
  EXPECT_TRUE(placeholderOf(*app.windowControllers()[1])->editRequestedFor().isEmpty());
  // Keys typed while the card shows stop at it, not at the editor beneath.
  EXPECT_EQ(app.windowControllers()[1]->myWindow().firstResponder(), whatsNewOf(*app.windowControllers()[1]));

  // The same version again: no what's-new screen; the untouched scratch window was not kept.
  quit();
  auto& again = launch({}, 1);
  uitest::advance(0.1);
  ASSERT_EQ(again.windowControllers().size(), 1u);
  EXPECT_NE(homeScreen(*again.windowControllers()[0]), nullptr);
  EXPECT_FALSE(showsWhatsNew(*again.windowControllers()[0]));
}

TEST_F(StartUp, AVersionBelowOnePointFiveWithdrawsDropboxButOnePointTenDoesNot) {
  Globals::optForICloud(true);
  Globals::optForDropbox(true);
  defaults().setString("1.4.0.140", "CurrentOrreryVersion");
  auto& app = launch();
  EXPECT_FALSE(Globals::userHasOptedForDropbox());
  ASSERT_EQ(app.windowControllers().size(), 1u);
  const auto* home = homeScreen(*app.windowControllers().front());
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(home->location(), DocumentLocationICloud) << "never the Dropbox home once withdrawn";
  quit();

  BundleInfo::setValues(version("1.11.0", "1110"));
  Globals::optForICloud(false);
  Globals::optForDropbox(true);
  defaults().setString("1.10.0.1100", "CurrentOrreryVersion");
  defaults().removeObjectForKey("CurrentState");
  auto& later = launch();
  EXPECT_TRUE(Globals::userHasOptedForDropbox()) << "1.10 is newer than 1.5";
  ASSERT_EQ(later.windowControllers().size(), 1u);
  EXPECT_EQ(homeScreen(*later.windowControllers().front())->location(), DocumentLocationDropbox);
}

TEST_F(StartUp, TwoWindowsComeBackInTheirOrderAndPlace) {
  Globals::optForDropbox(true);
  defaults().setString("1.6.0.160", "CurrentOrreryVersion");
  auto& app = launch();
  app.tryToPerform("cmdNewDropboxWindow");
  settle(2);
  ASSERT_EQ(app.windowControllers().size(), 2u);
  app.windowControllers()[0]->myWindow().setFrame(QRectF(40, 30, 660, 560));
  app.windowControllers()[1]->myWindow().setFrame(QRectF(100, 20, 650, 570));
  const QRectF firstFrame = app.windowControllers()[0]->myWindow().frame();
  const QRectF secondFrame = app.windowControllers()[1]->myWindow().frame();
  quit();
  ASSERT_EQ(storedWindows().size(), 2);

  auto& again = launch({}, 2);
  ASSERT_EQ(again.windowControllers().size(), 2u);
  EXPECT_EQ(again.windowControllers()[0]->controllerClass(), QStringLiteral("HomeViewController"));
  EXPECT_EQ(again.windowControllers()[1]->controllerClass(), QStringLiteral("HomeViewController"));
  EXPECT_EQ(homeScreen(*again.windowControllers()[1])->location(), DocumentLocationDropbox);
  EXPECT_EQ(firstFrame, QRectF(40, 30, 660, 560));
  EXPECT_EQ(again.windowControllers()[0]->myWindow().frame(), firstFrame);
  EXPECT_EQ(again.windowControllers()[1]->myWindow().frame(), secondFrame);
}

TEST_F(StartUp, AnUnknownClassLeavesAnEmptyWindowAndOneAlertWhileTheOthersReturn) {
  defaults().setObject(
      QVariantMap{{"controllerStates",
                   QVariantList{QVariantMap{{"controllerClass", "PreferencesViewController"}},
                                QVariantMap{{"controllerClass", "HomeViewController"},
                                            {"controllerState", QVariantMap{{"location", 3}}}}}}},
      "CurrentState");
  auto& app = launch({}, 2);
  ASSERT_EQ(app.windowControllers().size(), 2u);
  EXPECT_EQ(app.windowControllers()[0]->myWindow().controller(), nullptr);
  EXPECT_NE(homeScreen(*app.windowControllers()[1]), nullptr);
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_TRUE(presenter->alerts[0].informativeText.contains("We could not restore all application windows"));
}

TEST_F(StartUp, AHostileStoredStateGivesAnAlertAndAStartNeverACrash) {
  const QList<QVariant> hostile = {
      QVariant(QStringLiteral("not a dictionary")),
      QVariant(QVariantMap{{"controllerStates", QStringLiteral("not a list")}}),
      QVariant(QVariantMap{{"controllerStates", QVariantList{42, QStringLiteral("x"), QVariantList{}}}}),
      QVariant(QVariantMap{{"controllerStates",
                            QVariantList{QVariantMap{{"controllerClass", "HomeViewController"},
                                                     {"controllerState", QVariantMap{{"location", 2}}},
                                                     {"windowFrame", "{{nan, -inf}, {0, 1e300}}"}}}}}),
  };
  for (const QVariant& state : hostile) {
    defaults().setObject(state, "CurrentState");
    presenter->alerts.clear();
    auto& app = launch();
    ASSERT_GE(app.windowControllers().size(), 1u);
    for (const auto& c : app.windowControllers()) {
      const QRectF frame = c->myWindow().frame();
      EXPECT_TRUE(std::isfinite(frame.x()) && std::isfinite(frame.y()));
      EXPECT_GE(frame.width(), 640);
      EXPECT_LE(frame.width(), 100000);
    }
    quit();
  }
}

TEST_F(StartUp, AFirstStartWithAFileShowsWhatsNewOverTheFilesWindowAndKeepsNoUntitledWindow) {
  BundleInfo::setValues(version("1.5.2", "152"));
  const QString path = writeDocument("first.orrery", "First");
  auto& app = launch({path});
  uitest::advance(0.1);
  ASSERT_EQ(app.windowControllers().size(), 1u) << "no second, untitled window";
  const auto& window = *app.windowControllers().front();
  ASSERT_NE(placeholderOf(window), nullptr);
  EXPECT_EQ(placeholderOf(window)->document()->filePath(), QFileInfo(path).canonicalFilePath());
  EXPECT_TRUE(showsWhatsNew(window)) << "the card lies over the file's window";

  // The file's window comes back at the next start, once, without the card.
  quit();
  EXPECT_TRUE(storedWindows().isEmpty()) << "a local file is kept by its file, not as a screen";
  auto& again = launch();
  uitest::advance(0.1);
  ASSERT_EQ(again.windowControllers().size(), 1u);
  ASSERT_NE(placeholderOf(*again.windowControllers().front()), nullptr);
  EXPECT_EQ(placeholderOf(*again.windowControllers().front())->document()->filePath(), QFileInfo(path).canonicalFilePath());
  EXPECT_FALSE(showsWhatsNew(*again.windowControllers().front()));
}

// Files handed over at launch take the place of the first window; they come back after a quit.
TEST_F(StartUp, LocalDocumentWindowsComeBackAfterQuitExceptFilesThatAreGone) {
  const QString kept = writeDocument("kept.orrery", "Kept");
  const QString gone = writeDocument("gone.orrery", "Gone");
  auto& app = launch({kept, gone}, 2);
  uitest::advance(0.1);
  ASSERT_EQ(app.windowControllers().size(), 2u) << "no scratch window beside them";
  for (std::size_t i = 0; i < 2; ++i) {
    const auto* screen = placeholderOf(*app.windowControllers()[i]);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->document()->filePath(), QFileInfo(i == 0 ? kept : gone).canonicalFilePath());
    EXPECT_TRUE(screen->editRequestedFor().isEmpty());
  }
  quit();
  ASSERT_TRUE(QFile::remove(gone));

  // Handed over again at launch, a file opens once.
  auto& again = launch({kept});
  uitest::advance(0.1);
  ASSERT_EQ(again.windowControllers().size(), 1u);
  const auto* screen = placeholderOf(*again.windowControllers().front());
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(screen->document()->filePath(), QFileInfo(kept).canonicalFilePath());
  EXPECT_TRUE(screen->editRequestedFor().isEmpty()) << "no new scratch map in its place";
  EXPECT_TRUE(presenter->alerts.empty()) << "a window that cannot come back is no alert";
}

// The file is there but does not open (another program wrote over it, or an earlier version
// wrote what the reader refuses): the start says which and why, and its first window stands in.
TEST_F(StartUp, AStoredFileThatNoLongerOpensIsToldAndLeavesTheFirstWindowInItsPlace) {
  const QString broken = QDir(mFiles.path()).filePath(QStringLiteral("broken.orrery"));
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a map");
  file.close();
  defaults().setObject(QStringList{broken}, "LocalDocumentWindows");
  auto& app = launch();
  uitest::advance(0.1);
  ASSERT_EQ(app.windowControllers().size(), 1u);
  const auto* screen = placeholderOf(*app.windowControllers().front());
  ASSERT_NE(screen, nullptr);
  EXPECT_TRUE(screen->document()->isTempFile()) << "a new scratch map";
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].informativeText.toStdString(),
            "Failed to open file “broken.orrery”: Invalid document format");
}

// A file handed over at launch that does not open must not leave a running program without a
// window: it would hold the single-instance lock, and every later launch would hand over to it.
TEST_F(StartUp, AHandedOverFileThatDoesNotOpenShowsItsAlertAndTheFirstWindowStandsIn) {
  auto writeBroken = [&](const QString& name) {
    const QString path = QDir(mFiles.path()).filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a map");
    return path;
  };
  const QString brokenMap = writeBroken(QStringLiteral("broken.orrery"));
  const QString brokenOutline = writeBroken(QStringLiteral("broken.opml"));
  const QString good = writeDocument("good.orrery", "Good");
  BundleInfo::setValues(version("1.5.2", "152"));

  bool firstStart = true;
  for (const QStringList& files : {QStringList{brokenMap}, QStringList{brokenOutline}, QStringList{brokenMap, brokenOutline}}) {
    presenter->alerts.clear();
    const int exitsBefore = exits;
    auto& app = launch(files);
    uitest::advance(0.1);
    EXPECT_EQ(presenter->alerts.size(), static_cast<std::size_t>(files.size())) << files.join(' ').toStdString();
    ASSERT_EQ(app.windowControllers().size(), 1u) << files.join(' ').toStdString();
    const auto* screen = placeholderOf(*app.windowControllers().front());
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(screen->document()->isTempFile()) << "the start's scratch map";
    EXPECT_EQ(showsWhatsNew(*app.windowControllers().front()), firstStart) << "a new version's card still shows";
    EXPECT_EQ(exits, exitsBefore) << "still running";
    firstStart = false;
    quit();
  }

  // Beside a file that opens, a broken one adds only its alert.
  presenter->alerts.clear();
  auto& app = launch({brokenMap, good});
  uitest::advance(0.1);
  EXPECT_EQ(presenter->alerts.size(), 1u);
  ASSERT_EQ(app.windowControllers().size(), 1u) << "no scratch map beside the file";
  const auto* screen = placeholderOf(*app.windowControllers().front());
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(screen->document()->filePath(), QFileInfo(good).canonicalFilePath());
}

TEST_F(StartUp, AQuitBeforeTheFilesOfTheLastRunShowAgainKeepsThem) {
  const QString path = writeDocument("again.orrery", "Again");
  defaults().setObject(QStringList{path}, "LocalDocumentWindows");
  makeDelegate().applicationDidFinishLaunching({});
  quit();
  EXPECT_EQ(defaults().objectForKey("LocalDocumentWindows").toStringList(), QStringList{QFileInfo(path).canonicalFilePath()});
}

// The window manager's decorations come around a window after it was placed (here: around a
// window that shows only once its screen is in); a window must not grow or shrink by them with
// every restart.
TEST_F(StartUp, WindowsKeepTheirSizeAndPlaceOverRestarts) {
  const QString path = writeDocument("kept.orrery", "Kept");
  struct Case {
    const char* name;
    bool iCloud;
    QStringList arguments;
  };
  const Case cases[] = {
      {"a local file's window", false, {path}},
      {"a home window", true, {}},
  };
  for (const Case& c : cases) {
    Globals::optForICloud(c.iCloud);
    defaults().setString("1.6.0.160", "CurrentOrreryVersion");
    auto& app = launch(c.arguments);
    ASSERT_EQ(app.windowControllers().size(), 1u) << c.name;
    app.windowControllers().front()->myWindow().setFrame(QRectF(100, 80, 700, 560));
    const QRectF placed = app.windowControllers().front()->myWindow().frame();
    quit();
    for (int restart = 0; restart < 2; ++restart) {
      auto& again = launch();
      ASSERT_EQ(again.windowControllers().size(), 1u) << c.name;
      EXPECT_EQ(again.windowControllers().front()->myWindow().frame(), placed) << c.name << ", restart " << restart;
      quit();
    }
    Globals::optForICloud(false);
    defaults().removeObjectForKey("CurrentState");
    defaults().removeObjectForKey("LocalDocumentWindows");
  }
}

TEST_F(StartUp, AnUntouchedScratchMapIsNotKeptButOneWithContentIs) {
  auto& app = launch();
  ASSERT_EQ(app.windowControllers().size(), 1u);
  quit();
  EXPECT_TRUE(storedWindows().isEmpty()) << "an empty, unsaved map is nothing to come back to";

  auto& again = launch();
  const auto* screen = placeholderOf(*again.windowControllers().front());
  ASSERT_NE(screen, nullptr);
  screen->document()->idea()->setText(QStringLiteral("A thought"));
  screen->document()->setDateModified(screen->document()->dateCreated().addSecs(5));
  quit();
  EXPECT_EQ(storedWindows().size(), 1);
}

// Telemetry starts before the first window is built, so it sees a crash there; the first window
// shows before the what's-new card covers it and before the new version is written to the
// defaults (a write waits for the disk).
TEST_F(StartUp, TelemetryStartsFirstAndTheWhatsNewCardAndTheVersionsWriteWaitForTheFirstFrame) {
  BundleInfo::setValues(version("1.5.2", "152"));
  holdFirstFrameWork = true;
  int windowsWhenTelemetryStarted = -1;
  startTelemetryHook = [&] {
    windowsWhenTelemetryStarted = static_cast<int>(AppDelegate::current()->windowControllers().size());
  };
  auto& app = launch();
  ASSERT_EQ(app.windowControllers().size(), 1u);
  const auto& window = *app.windowControllers().front();
  ASSERT_NE(placeholderOf(window), nullptr);
  EXPECT_EQ(telemetryStarts, 1);
  EXPECT_EQ(windowsWhenTelemetryStarted, 0);
  EXPECT_FALSE(showsWhatsNew(window));
  EXPECT_TRUE(defaults().stringForKey("CurrentOrreryVersion").isEmpty());
  ASSERT_EQ(firstFrameWork.size(), 2u);
  for (auto& work : firstFrameWork) work();
  EXPECT_EQ(telemetryStarts, 1);
  EXPECT_TRUE(showsWhatsNew(window));
  EXPECT_EQ(defaults().stringForKey("CurrentOrreryVersion"), QStringLiteral("1.5.2.152"));
}

TEST_F(StartUp, ClosingTheLastWindowStoresAnEmptyWindowSetAndQuits) {
  auto& app = launch();
  ASSERT_EQ(app.windowControllers().size(), 1u);
  app.windowControllers().front()->myWindow().performClose();
  uitest::advance(0);
  EXPECT_TRUE(app.windowControllers().empty());
  EXPECT_EQ(exits, 1);
  EXPECT_TRUE(defaults().dictionaryForKey("CurrentState").contains("controllerStates"));
  EXPECT_TRUE(storedWindows().isEmpty());
}

TEST_F(StartUp, TheStateCycleWritesAChangedWindowSetWithinFiveSeconds) {
  Globals::optForICloud(true);
  auto& app = launch();
  uitest::advance(5.1);
  ASSERT_EQ(storedWindows().size(), 1);
  app.tryToPerform("cmdNewCloudWindow");
  settle(2);
  EXPECT_TRUE(app.isStateDirty());
  uitest::advance(5.1);
  EXPECT_EQ(storedWindows().size(), 2);
  EXPECT_FALSE(app.isStateDirty());
}

TEST_F(StartUp, SignInRedirectsChooseDropboxOrTellTheUserToReconnect) {
  auto& app = launch();
  app.handleArguments({"db-orrerydesktop01://2/token?code=abc"});
  ASSERT_EQ(redirects.size(), 1u);
  EXPECT_TRUE(Globals::userHasOptedForDropbox());
  redirectAnswer = "cancel";
  int invalid = 0;
  platform::NotificationCenter::defaultCenter().addObserver(
      &invalid, "DropboxInvalidAccessTokenNotification", nullptr, [&](const platform::Notification&) { ++invalid; });
  app.handleRedirectURL(QUrl("db-orrerydesktop01://2/token?error=access_denied"));
  platform::NotificationCenter::defaultCenter().removeObserver(&invalid);
  EXPECT_EQ(invalid, 1);
  EXPECT_FALSE(Globals::userHasOptedForDropbox());
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Dropbox Authentication"));

  // Signed in for this run only: the user hears why, and Dropbox is chosen all the same.
  presenter->alerts.clear();
  redirectHandler = [](const QUrl&, auto completion) { completion("success", "the sign-in could not be kept"); };
  app.handleRedirectURL(QUrl("db-orrerydesktop01://2/token?code=def"));
  EXPECT_TRUE(Globals::userHasOptedForDropbox());
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].informativeText, QStringLiteral("the sign-in could not be kept"));
}

TEST_F(StartUp, AQuitBeforeTheWindowsCameBackKeepsTheStoredWindowSet) {
  const QVariantMap stored{{"controllerStates", QVariantList{QVariantMap{{"controllerClass", "HomeViewController"},
                                                                         {"controllerState", QVariantMap{{"location", 2}}}}}}};
  defaults().setObject(stored, "CurrentState");
  auto& app = makeDelegate();
  app.terminate();
  EXPECT_EQ(exits, 1);
  EXPECT_EQ(defaults().dictionaryForKey("CurrentState"), stored) << "a signal during start-up loses no windows";
}

// A window is shown only once its screen is in, so its first frame is the screen and never an
// empty window the screen replaces a frame later (which would also let the first-frame work
// run before the window the user waits for).
TEST_F(StartUp, AWindowShowsOnlyOnceItsScreenIsIn) {
  launch();
  auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
  doc->setIdea(Idea::createWithText(QStringLiteral("shown")));
  for (const bool home : {false, true}) {
    const auto controller = home ? MainWindowController::createCloudWindow(DocumentLocationLocalFile)
                                 : MainWindowController::createDocumentWindow(doc, 0);
    controller->showWindow();
    EXPECT_FALSE(controller->myWindow().isVisible()) << "not before its screen";
    uitest::loop().runPending();
    EXPECT_TRUE(controller->myWindow().isVisible());
    EXPECT_TRUE(controller->myWindow().controller()) << "shown with its screen";
    controller->myWindow().orderOut();
  }
}

// A file handed to the mail program may still have to be attached by hand: a start keeps it
// until it is a week old, and removes it then.
TEST_F(StartUp, AStartKeepsTheFilesHandedToTheMailProgramUntilTheyAreAWeekOld) {
  const QString recent = FileUtil::handOffDirectoryForFile();
  const QString old = FileUtil::handOffDirectoryForFile();
  ASSERT_FALSE(recent.isEmpty());
  ASSERT_FALSE(old.isEmpty());
  for (const QString& file : {recent + "/Solar.pdf", old + "/Old.pdf"}) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  const time_t then = std::time(nullptr) - std::chrono::seconds(FileUtil::kHandOffKeptFor).count() - 60;
  const timespec times[2] = {{then, 0}, {then, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(old).constData(), times, 0), 0);
  launch();
  EXPECT_TRUE(uitest::loop().runUntil([&] { return !QFileInfo::exists(old); })) << "the week-old file stays";
  EXPECT_TRUE(QFile::exists(recent + "/Solar.pdf"));
  QDir(recent).removeRecursively();
}
