// The General pane against real storage engines: the iCloud engine over a container folder and
// the Dropbox engine signed in through the browser against the loopback service.

#include "app_test_support.h"

#include "app/main_window_controller.h"
#include "app/preferences_panes.h"
#include "app/preferences_window_controller.h"
#include "cloud/cloud_engines.h"
#include "cloud/dropbox_folder_manager.h"
#include "cloud_container_fixture.h"
#include "editor_screen/editor_screens.h"
#include "editor_screen/solar_system_view_controller.h"
#include "fake_remote.h"
#include "fake_remote_server.h"
#include "foundation/globals.h"
#include "home/home_screens.h"
#include "home/home_view_controller.h"
#include "model/persistence_controller_listener.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/recovery_copies.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/cloud/remote_routes.h"
#include "platform/ui/menu.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrlQuery>

using namespace orrery;
using apptest::AppFixture;

namespace {

class StopRecorder : public PersistenceControllerListener {
 public:
  void pleaseStopUsingLocation(DocumentLocation location) override { stopped.push_back(location); }
  std::vector<DocumentLocation> stopped;
};

class PreferencesCloud : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    for (const char* key : {kPreferencesSelectedIdentifierKey, "CloudContainerFolder"}) {
      mPrefs.insert(key, defaults().objectForKey(key));
      defaults().removeObjectForKey(key);
    }
    installCloudEngines();
    PersistenceController::singleton().addListener(recorder);
  }
  void TearDown() override {
    Globals::optForICloud(false);
    Globals::optForDropbox(false);
    uitest::advance(0);
    PersistenceController::singleton().removeListener(recorder.get());
    AppFixture::TearDown();
    PersistenceController::singleton().setWorkspaceFactory(nullptr);
    for (auto it = mPrefs.begin(); it != mPrefs.end(); ++it) defaults().setObject(it.value(), it.key());
  }
  GeneralPreferencesViewController& general(AppDelegate& app) {
    auto pane = app.preferencesWindowController().viewControllerForIdentifier("GeneralPreferences");
    auto& general = dynamic_cast<GeneralPreferencesViewController&>(*pane);
    general.view();
    return general;
  }
  // Engines work on threads of their own: real time passes for them, virtual time for timers.
  static bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 600 && !done(); ++i)
      if (!uitest::loop().runUntil(done, platform::Millis(50))) uitest::advance(0.5);
    return done();
  }
  static bool newWindowEnabled(AppDelegate& app, const char* action) {
    platform::MenuItem item(QStringLiteral("New"), QString::fromLatin1(action));
    return app.validateUserInterfaceItem(item);
  }
  static WorkspaceStatus status(DocumentLocation location) {
    return PersistenceController::singleton().statusForLocation(location);
  }
  std::shared_ptr<StopRecorder> recorder = std::make_shared<StopRecorder>();
  QVariantMap mPrefs;
};

}  // namespace

TEST_F(PreferencesCloud, ConnectingICloudOpensTheContainerAndDisconnectingLeavesItsFiles) {
  testsupport::CloudContainerFixture container;
  container.addDocuments(2);
  // Chosen but never connected: the folder holds no identity yet.
  ASSERT_TRUE(QFile::remove(container.root() + "/.identity"));
  installEditorScreens();
  installHomeScreens();
  auto& app = launch();
  auto& pane = general(app);
  auto& facade = PersistenceController::singleton();
  EXPECT_FALSE(newWindowEnabled(app, "cmdNewCloudWindow"));
  EXPECT_TRUE(pane.iCloudFooterText()->text().contains(container.root())) << "the footer names the folder";

  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusReady; }));
  uitest::advance(0);
  EXPECT_TRUE(facade.findProxy("iCloud:/doc00001.orrx")) << "the container's documents are listed";
  EXPECT_FALSE(container.identity().isEmpty()) << "connecting made the container in the chosen folder";
  EXPECT_EQ(pane.iCloudConnectButton()->text(), "Disconnect");
  EXPECT_EQ(pane.iCloudConnectButton()->property("cloudImage").toString(), "cloud") << "status 3, ready";
  EXPECT_FALSE(pane.iCloudChangeButton()->isEnabled());
  EXPECT_TRUE(newWindowEnabled(app, "cmdNewCloudWindow"));

  // An iCloud window next to the local editor the launch opened.
  ASSERT_EQ(app.windowControllers().size(), 1u);
  const std::shared_ptr<MainWindowController> editorWindow = app.windowControllers().front();
  ASSERT_TRUE(app.tryToPerform(QStringLiteral("cmdNewCloudWindow")));
  settle(2);
  ASSERT_EQ(app.windowControllers().size(), 2u);
  const std::weak_ptr<MainWindowController> cloudWindow = app.windowControllers().back();
  auto* home = dynamic_cast<HomeViewController*>(cloudWindow.lock()->myWindow().controller().get());
  ASSERT_TRUE(home) << "the new window shows the iCloud documents";
  EXPECT_EQ(home->location(), DocumentLocationICloud);
  EXPECT_TRUE(dynamic_cast<SolarSystemViewController*>(editorWindow->myWindow().controller().get()));

  // Disconnecting closes that window only.
  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  uitest::advance(0);
  EXPECT_EQ(recorder->stopped, std::vector<DocumentLocation>{DocumentLocationICloud});
  ASSERT_EQ(app.windowControllers().size(), 1u);
  EXPECT_EQ(app.windowControllers().front(), editorWindow) << "the local editor stays";
  EXPECT_TRUE(editorWindow->myWindow().isVisible());
  EXPECT_TRUE(cloudWindow.expired());
  EXPECT_FALSE(facade.workspaceForLocation(DocumentLocationICloud));
  EXPECT_EQ(pane.iCloudConnectButton()->text(), "Connect");
  EXPECT_FALSE(newWindowEnabled(app, "cmdNewCloudWindow"));
  for (const char* name : {"doc00000.orrx", "doc00001.orrx"})
    EXPECT_TRUE(QFile::exists(container.documentPath(name))) << "withdrawing deletes nothing: " << name;

  // Connecting again lists the same documents.
  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusReady; }));
  EXPECT_TRUE(facade.findProxy("iCloud:/doc00000.orrx"));
  EXPECT_TRUE(facade.findProxy("iCloud:/doc00001.orrx"));
}

// Unmounted, the container is unavailable (as the home screen says), not syncing for as long as
// it stays away.
TEST_F(PreferencesCloud, AnUnmountedContainerShowsTheRowUnavailableUntilItAppears) {
  testsupport::CloudContainerFixture container(/*makeRoot=*/false);
  auto& app = launch();
  auto& pane = general(app);
  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([] { return PersistenceController::singleton().workspaceForLocation(DocumentLocationICloud); }));
  ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusUnavailable; }));
  EXPECT_FALSE(QFileInfo::exists(container.root())) << "connecting makes no folder the user named";
  uitest::advance(0);
  EXPECT_EQ(pane.iCloudConnectButton()->property("cloudImage").toString(), "error");
  // The share holding the container is mounted: the next look finds it and the row follows
  // the state notice.
  ASSERT_TRUE(QDir().mkpath(container.root()));
  ASSERT_TRUE(container.setIdentity(QStringLiteral("account on the share")));
  uitest::advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusReady; }));
  uitest::advance(0);
  EXPECT_EQ(pane.iCloudConnectButton()->property("cloudImage").toString(), "cloud");
}

// Connecting makes the default folder, also when the one made before has gone since (which
// the program, iCloud chosen, leaves unavailable rather than replace behind the user's back).
TEST_F(PreferencesCloud, ConnectingMakesTheDefaultFolderAgainAfterItWent) {
  testsupport::CloudContainerFixture container(testsupport::CloudContainerFixture::DefaultRoot{}, /*makeRoot=*/false);
  container.defaults().setString(container.root(), platform::kDefaultCloudContainerMadeKey);
  auto& app = launch();
  auto& pane = general(app);
  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusReady; }));
  EXPECT_TRUE(QFileInfo::exists(container.indexPath())) << "a new, empty container";
  uitest::advance(0);
  EXPECT_EQ(pane.iCloudConnectButton()->property("cloudImage").toString(), "cloud");
}

TEST_F(PreferencesCloud, DropboxSignsInThroughTheBrowserAndListsTheAppFolder) {
  auto remote = testsupport::FakeRemote::create();
  auto planets = IdeaDocument::createWithIdentifier(QStringLiteral("dropbox:/planets.orrx"));
  planets->setIdea(Idea::createWithText(QStringLiteral("Planets")));
  const QByteArray planetBytes = planets->snapshot().encode(/*compressed=*/true);
  remote->peerWrite("/Planets.orrx", planetBytes);
  testsupport::FakeRemoteServer server(remote);
  bool networkUp = true;
  // Put back whatever happens below.
  struct Restore {
    platform::DropboxEndpoints endpoints;
    std::shared_ptr<platform::DropboxClient> client;
    DropboxFolderManager::NetworkProbe probe;
    ~Restore() {
      platform::DropboxClientsManager::signOut();
      platform::DropboxClientsManager::setAuthorizedClient(client);
      platform::DropboxClientsManager::setEndpoints(endpoints);
      DropboxFolderManager::setNetworkProbe(probe);
    }
  } restore{platform::DropboxClientsManager::setEndpoints(server.endpoints()),
            platform::DropboxClientsManager::setAuthorizedClient(nullptr),
            DropboxFolderManager::setNetworkProbe([&networkUp] { return networkUp; })};
  platform::DropboxClientsManager::setupWithAppKeyDesktop(QLatin1String(kDropboxAppKey));
  redirectHandler = handleDropboxRedirect;
  auto& app = launch();
  auto& pane = general(app);

  // A cancelled sign-in records nothing.
  QTest::mouseClick(pane.dropboxConnectButton(), Qt::LeftButton);
  ASSERT_EQ(openedURLs.size(), 1u) << "one browser address";
  QString state = QUrlQuery(openedURLs.back()).queryItemValue("state");
  app.handleArguments({QString("db-%1://2/token?error=access_denied&state=%2").arg(kDropboxAppKey, state)});
  uitest::advance(0);
  EXPECT_FALSE(Globals::userHasOptedForDropbox());
  EXPECT_EQ(pane.dropboxConnectButton()->text(), "Connect");

  // A second press starts a new sign-in; its redirect, with its own state, connects.
  QTest::mouseClick(pane.dropboxConnectButton(), Qt::LeftButton);
  ASSERT_EQ(openedURLs.size(), 2u);
  const QUrlQuery query(openedURLs.back());
  state = query.queryItemValue("state");
  server.expectSignInCode("code-7", query.queryItemValue("code_challenge"));
  app.handleArguments({QString("db-%1://2/token?code=code-7&state=%2").arg(kDropboxAppKey, state)});
  ASSERT_TRUE(waitFor([] { return Globals::userHasOptedForDropbox(); }));
  ASSERT_TRUE(waitFor([&] { return status(DocumentLocationDropbox) == WorkspaceStatusReady; }));
  uitest::advance(0);
  EXPECT_EQ(pane.dropboxConnectButton()->text(), "Disconnect");
  EXPECT_EQ(pane.dropboxConnectButton()->property("cloudImage").toString(), "cloud");
  EXPECT_TRUE(newWindowEnabled(app, "cmdNewDropboxWindow"));
  ASSERT_TRUE(waitFor([] {
    const auto proxies = PersistenceController::singleton().proxyListForLocation(DocumentLocationDropbox);
    return proxies && proxies->size() == 1 && proxies->front()->text() == "Planets";
  })) << "the app folder's document is listed";

  // The connection drops: the row shows the error until the service answers again.
  networkUp = false;
  ASSERT_TRUE(waitFor([&] { return status(DocumentLocationDropbox) == WorkspaceStatusUnavailable; }));
  uitest::advance(0);
  EXPECT_EQ(pane.dropboxConnectButton()->property("cloudImage").toString(), "error");
  networkUp = true;
  ASSERT_TRUE(waitFor([&] { return status(DocumentLocationDropbox) == WorkspaceStatusReady; }));
  uitest::advance(0);
  EXPECT_EQ(pane.dropboxConnectButton()->property("cloudImage").toString(), "cloud");

  // Disconnecting drops the workspace and leaves the remote files alone.
  QTest::mouseClick(pane.dropboxConnectButton(), Qt::LeftButton);
  uitest::advance(0);
  EXPECT_FALSE(Globals::userHasOptedForDropbox());
  EXPECT_EQ(recorder->stopped, std::vector<DocumentLocation>{DocumentLocationDropbox});
  EXPECT_EQ(remote->contentOf("/Planets.orrx"), planetBytes);
}

// The iCloud folder is away and an open map holds an edit it could not take: Disconnect asks as
// closing the window does. Cancel keeps the window, the edit and the connection, and the edit
// reaches the file once the folder is back; "Do Not Save" lets the location and the edit go.
TEST_F(PreferencesCloud, DisconnectAsksFirstAboutAnEditTheAwayFolderCouldNotTake) {
  testsupport::CloudContainerFixture container;
  container.addDocuments(1);
  installEditorScreens();
  installHomeScreens();
  auto& app = launch();
  auto& pane = general(app);
  auto& facade = PersistenceController::singleton();
  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  const QString identifier = QStringLiteral("iCloud:/doc00000.orrx");
  ASSERT_TRUE(
      waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusReady && facade.findProxy(identifier); }));
  app.openDocumentInNewWindow(identifier, QString());
  settle(2);
  ASSERT_EQ(app.windowControllers().size(), 2u);
  const std::weak_ptr<MainWindowController> cloudWindow = app.windowControllers().back();
  auto* editor = dynamic_cast<SolarSystemViewController*>(cloudWindow.lock()->myWindow().controller().get());
  ASSERT_TRUE(editor && waitFor([&] { return editor->realIdea() != nullptr; }));
  const QStringList copiesBefore = recoveryCopies();
  auto editWhileAway = [&](const QString& text) {
    presenter->alerts.clear();
    ASSERT_TRUE(container.moveAway());
    for (int poll = 0; poll < 3; ++poll) uitest::advance(platform::LocalFolderContainer::kPollSeconds);
    ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusUnavailable; }));
    editor->addNewIdeaAfterIndex(0, Idea::createWithText(text), nullptr);
    ASSERT_TRUE(waitFor([&] { return !editor->isUpdatingDocument(); }));
    ASSERT_TRUE(editor->hasUnsavedEdit());
    ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; })) << "the failed save is told";
    presenter->alerts.clear();
  };

  editWhileAway(QStringLiteral("made while away"));
  if (HasFatalFailure()) return;
  presenter->alertAnswers = {1002};  // Cancel
  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return !presenter->alerts.empty(); })) << "Disconnect asks";
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Failed to update document"));
  EXPECT_TRUE(presenter->alerts[0].informativeText.contains(container.documentPath(QStringLiteral("doc00000.orrx"))))
      << presenter->alerts[0].informativeText.toStdString();
  uitest::advance(0.5);
  EXPECT_TRUE(Globals::userHasOptedForICloud()) << "Cancel keeps the connection";
  EXPECT_TRUE(recorder->stopped.empty());
  EXPECT_EQ(pane.iCloudConnectButton()->text(), "Disconnect");
  ASSERT_FALSE(cloudWindow.expired()) << "and the window";
  EXPECT_TRUE(editor->hasUnsavedEdit()) << "and the edit";

  ASSERT_TRUE(container.moveBack());
  uitest::advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusReady; }));
  ASSERT_TRUE(waitFor([&] { return !editor->hasUnsavedEdit(); })) << "written once the folder is back";
  IdeaPtr written;
  facade.fetchDocument(identifier, [&](IdeaPtr root) { written = root; });
  ASSERT_TRUE(waitFor([&] { return written != nullptr; }));
  ASSERT_FALSE(written->ideas().empty());
  EXPECT_EQ(written->ideas()[0]->text(), QStringLiteral("made while away"));

  editWhileAway(QStringLiteral("given up"));
  if (HasFatalFailure()) return;
  presenter->alertAnswers = {1001};  // Do Not Save
  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return cloudWindow.expired(); })) << "the window goes with the location";
  EXPECT_EQ(presenter->alerts.size(), 1u) << "asked once, and nothing more to tell";
  EXPECT_FALSE(Globals::userHasOptedForICloud());
  EXPECT_EQ(recorder->stopped, std::vector<DocumentLocation>{DocumentLocationICloud});
  EXPECT_EQ(recoveryCopies(), copiesBefore) << "the user gave the edit up: no copy is kept";
  ASSERT_TRUE(container.moveBack());
}

// Disconnect closes the only map window, a document of the location dropped; Preferences, still
// open, keeps the program running, and closing it ends the program as the last map window does.
TEST_F(PreferencesCloud, DisconnectingTheOnlyMapWindowLeavesTheProgramToPreferences) {
  testsupport::CloudContainerFixture container;
  container.addDocuments(1);
  installEditorScreens();
  installHomeScreens();
  Globals::optForICloud(true);
  auto& app = launch();
  const QString identifier = QStringLiteral("iCloud:/doc00000.orrx");
  ASSERT_TRUE(waitFor([&] { return PersistenceController::singleton().findProxy(identifier) != nullptr; }));
  ASSERT_EQ(app.windowControllers().size(), 1u);
  app.openDocumentInNewWindow(identifier, QString());
  settle(2);
  app.windowControllers().front()->myWindow().performClose();  // the home screen
  ASSERT_EQ(app.windowControllers().size(), 1u);
  const std::weak_ptr<MainWindowController> mapWindow = app.windowControllers().front();
  ASSERT_TRUE(dynamic_cast<SolarSystemViewController*>(mapWindow.lock()->myWindow().controller().get()));
  ASSERT_TRUE(app.tryToPerform(QStringLiteral("cmdOpenPreferences")));
  platform::Window& preferences = app.preferencesWindowController().window();
  ASSERT_TRUE(preferences.isVisible());

  QTest::mouseClick(general(app).iCloudConnectButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return mapWindow.expired(); }));
  uitest::advance(0.5);
  EXPECT_EQ(exits, 0) << "Preferences is open";
  EXPECT_TRUE(preferences.isVisible());

  preferences.performClose();
  uitest::advance(0);
  EXPECT_EQ(exits, 1);
  EXPECT_EQ(defaults().dictionaryForKey("CurrentState"), QVariantMap({{"controllerStates", QVariantList()}}));
}

// An edit held while the iCloud folder is away lands once it is back as this instance's own: the
// file the next start reads says no other instance's change was replaced, so that start tells
// no loss and keeps no copy of the map before the outage. For a map made in this run and one
// opened from the list.
TEST_F(PreferencesCloud, AnEditHeldWhileTheFolderIsAwayLandsAsTheWritersOwn) {
  installEditorScreens();
  installHomeScreens();
  auto& facade = PersistenceController::singleton();
  for (const bool madeHere : {true, false}) {
    SCOPED_TRACE(madeHere ? "a map made in this run" : "a map opened from the list");
    testsupport::CloudContainerFixture container;
    container.addDocuments(1);
    defaults().setString("1.6.0.160", "CurrentOrreryVersion");
    auto& app = launch();
    Globals::optForICloud(true);
    ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusReady; }));
    QString identifier = QStringLiteral("iCloud:/doc00000.orrx");
    // The window of a new map takes over the document its creation opened.
    auto made = IdeaDocument::createWithFileName(QStringLiteral("made.orrx"), DocumentLocationICloud);
    DocumentToken creation = -1;
    if (madeHere) {
      made->setIdea(Idea::createWithText(QStringLiteral("Made here")));
      identifier = made->docIdentifier();
      facade.createDocument(made, [&](DocumentToken t) { creation = t; });
      ASSERT_TRUE(waitFor([&] { return creation >= 0; }));
    }
    ASSERT_TRUE(waitFor([&] { return facade.findProxy(identifier) != nullptr; }));
    app.openDocumentInNewWindow(identifier, QString());
    settle(2);
    if (creation >= 1) facade.releaseDocument(made, creation, nullptr);
    auto* editor =
        dynamic_cast<SolarSystemViewController*>(app.windowControllers().back()->myWindow().controller().get());
    ASSERT_TRUE(editor && waitFor([&] { return editor->realIdea() != nullptr; }));
    editor->addNewIdeaAfterIndex(0, Idea::createWithText(QStringLiteral("before")), nullptr);
    ASSERT_TRUE(waitFor([&] { return !editor->isUpdatingDocument() && !editor->hasUnsavedEdit(); }));

    ASSERT_TRUE(container.moveAway());
    for (int poll = 0; poll < 3; ++poll) uitest::advance(platform::LocalFolderContainer::kPollSeconds);
    ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusUnavailable; }));
    editor->addNewIdeaAfterIndex(1, Idea::createWithText(QStringLiteral("held")), nullptr);
    ASSERT_TRUE(waitFor([&] { return !editor->isUpdatingDocument() && editor->hasUnsavedEdit(); }));
    ASSERT_TRUE(container.moveBack());
    uitest::advance(platform::LocalFolderContainer::kPollSeconds);
    ASSERT_TRUE(waitFor([&] { return status(DocumentLocationICloud) == WorkspaceStatusReady; }));
    ASSERT_TRUE(waitFor([&] { return !editor->hasUnsavedEdit(); })) << "the held edit lands";
    quit();

    // What the next start reads: the held edit, and no change of another instance replaced.
    const QString file = container.documentPath(IdeaDocument::pathFromIdentifier(identifier));
    const auto written = IdeaDocument::fromFileBytes(testsupport::CloudContainerFixture::readFile(file), false);
    ASSERT_TRUE(written);
    ASSERT_EQ(written->idea()->ideas().size(), 2u);
    EXPECT_EQ(written->idea()->ideas()[1]->text(), QStringLiteral("held"));
    EXPECT_TRUE(written->replacedInFile().empty()) << "the file names a replaced change";
    EXPECT_TRUE(written->replacedTreesInFile().empty());
    Globals::optForICloud(false);
    uitest::advance(0);
  }
}
