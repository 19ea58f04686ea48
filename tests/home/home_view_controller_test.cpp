// The home screen over real storage: the iCloud engine over a container of document files in the
// test's own folder (location 2) and the in-memory engine (location 3, scripted failures), in
// offscreen windows on the virtual clock with the scripted presenter.

#include "home/home_view_controller.h"

#include "app/main_window_controller.h"
#include "cloud/cloud_engines.h"
#include "cloud_container_fixture.h"
#include "editor_screen/solar_system_view_controller.h"
#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/progress_hud.h"
#include "foundation/views/search_text_field.h"
#include "foundation/views/custom_text_field.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/icon_image_tab_view.h"
#include "panels/picture_view_controller.h"
#include "foundation/kit_image.h"
#include "panels/idea_text_edit_tab_view.h"
#include "foundation/views/text_view.h"
#include "foundation/views/view_extensions.h"
#include "home/home_screens.h"
#include "model/color_theme.h"
#include "model/icon_image_collection.h"
#include "model/index_document.h"
#include "model/persistence_controller.h"
#include "model/workspace.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/web_view.h"
#include "shell/main_layout_view.h"
#include "shell/my_window.h"
#include "shell/screen_factory.h"
#include "support/fake_pointer.h"
#include "support/memory_persistence_state.h"
#include "support/recording_workspace_delegate.h"
#include "support/window_manager_child.h"
#include "drag_test_support.h"
#include "editor/solar_system.h"
#include "ui_test_env.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QLineF>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

using namespace orrery;
using orrery::testing::MemoryPersistenceState;
using platform::Event;
using platform::EventType;

namespace {

PersistenceController& facade() { return PersistenceController::singleton(); }

bool waitFor(const std::function<bool()>& condition) {
  return uitest::loop().runUntil(condition, platform::Millis(10000));
}

// A home screen hosted in one of the program's windows.
struct HomeWindow : platform::WindowDelegate {
  explicit HomeWindow(std::shared_ptr<HomeViewController> c)
      : home(std::move(c)), window(std::make_shared<DragSupportWindow>(QSizeF(1000, 800))) {
    window->setDelegate(this);
    window->switchToViewController(home, /*animated=*/false, nullptr);
    window->displayIfNeeded();
  }
  ~HomeWindow() override {
    // An editor opened here gives its document back as it goes.
    if (!window) return;
    if (auto editor = this->editor()) editor->performForcedClose();
    if (!closed) window->close();
    window->setDelegate(nullptr);
  }
  bool windowShouldClose(platform::Window&) override { return window->windowShouldClose(); }
  void windowWillClose(platform::Window&) override { closed = true; }

  IdeaListView& grid() { return *home->ideaListView(); }
  IdeaProxyPtr findProxy(const QString& id) { return grid().findProxy(id); }
  QStringList tiles() {
    QStringList out;
    for (const auto& p : grid().proxies()) out << p->text();
    return out;
  }
  std::shared_ptr<SolarSystemViewController> editor() {
    return std::dynamic_pointer_cast<SolarSystemViewController>(window->controller());
  }
  QPointF tileCentre(const QString& docIdentifier) {
    auto* disc = grid().visibleIdeaViewForDocument(docIdentifier);
    return disc ? disc->superview()->convertPointToView(viewext::center(*disc), nullptr) : QPointF(-1, -1);
  }
  void click(QPointF p, int count = 1) {
    const double t = uitest::clock().now();
    window->sendEvent(Event::mouse(EventType::LeftMouseDown, p, t, count));
    window->sendEvent(Event::mouse(EventType::LeftMouseUp, p, t + 0.01, count));
  }
  void search(const QString& text) {
    home->topBar()->setCurrentSearchText(text);
    home->topBarSearchStatusDidChange(/*final=*/true);
  }

  std::shared_ptr<HomeViewController> home;
  std::shared_ptr<DragSupportWindow> window;
  bool closed = false;
};

// A document whose root says `text`, with `deep` four levels down.
std::shared_ptr<IdeaDocument> treeDocument(const QString& name, const QString& text, const QString& deep,
                                           DocumentLocation location = DocumentLocationICloud) {
  auto doc = IdeaDocument::createWithFileName(name, location);
  IdeaPtr root = Idea::createWithText(text);
  IdeaPtr at = root;
  for (int level = 0; level < 4; ++level) {
    IdeaPtr child = Idea::createWithText(level == 3 ? deep : QStringLiteral("level %1").arg(level));
    at->addIdea(child);
    at = child;
  }
  doc->setIdea(root);
  doc->setDateCreated(QDateTime::currentDateTimeUtc());
  doc->setDateModified(doc->dateCreated());
  return doc;
}

// This program again, as another instance of the application over the same container: it
// renames the first document and exits (0 when the edit is stored).
int runSecondInstanceRenamingTheFirstDocument(const QString& containerRoot) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* shard : {"GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX", "GTEST_SHARD_STATUS_FILE"}) env.remove(shard);
  env.insert("ORRERY_HOME_SECOND_INSTANCE", "1");
  env.insert("ORRERY_CLOUD_CONTAINER", containerRoot);
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  child.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=HomeSecondInstance.RenamesTheFirstDocument", "--gtest_shuffle=0"});
  if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit) return -1;
  return child.exitCode();
}

class HomeScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mPreviousFactory = setScreenFactory({});
    QDir().mkpath(container.documents());
    for (int i = 0; i < 3; ++i) {
      auto doc = treeDocument(QStringLiteral("doc%1.orrx").arg(i), QStringLiteral("Document %1").arg(i),
                              i == 1 ? QStringLiteral("a needle deep down") : QStringLiteral("hay"));
      testsupport::CloudContainerFixture::writeFile(container.documentPath(doc->filePath()), doc->exportAsPureJSONData());
      indexed.push_back(IdeaProxy::createWithDoc(doc));
    }
    writeIndex();
    dropbox->store(QStringLiteral("dropbox:/box0.orrx"), Idea::createWithText(QStringLiteral("Box 0")));
    dropbox->store(QStringLiteral("dropbox:/box1.orrx"), Idea::createWithText(QStringLiteral("Box 1")));
    facade().setWorkspaceFactory(Workspace::factoryWithEngines([this](DocumentLocation location) {
      if (location == DocumentLocationDropbox) return std::static_pointer_cast<PersistenceState>(dropbox);
      return memoryICloud ? std::static_pointer_cast<PersistenceState>(memoryICloud) : cloudEngineForLocation(location);
    }));
  }
  void TearDown() override {
    uitest::advance(1.0);
    Globals::optForICloud(false);
    Globals::optForDropbox(false);
    facade().setWorkspaceFactory({});
    uitest::advance(0);
    setScreenFactory(std::move(mPreviousFactory));
  }
  void startICloud() {
    Globals::optForICloud(true);
    ASSERT_TRUE(waitFor([] { return facade().statusForLocation(DocumentLocationICloud) == WorkspaceStatusReady; }));
    ASSERT_TRUE(waitFor([] {
      auto list = facade().proxyListForLocation(DocumentLocationICloud);
      return list && list->size() == 3;
    }));
  }
  void startDropbox() {
    Globals::optForDropbox(true);
    uitest::advance(0);
    dropbox->reportStatus(3);
    dropbox->reportStoredDocuments();
    uitest::advance(0);
    ASSERT_TRUE(facade().proxyListForLocation(DocumentLocationDropbox));
  }
  // The container's index, as the instance that wrote the documents leaves it.
  void writeIndex() {
    IndexDocument index(QUrl::fromLocalFile(container.indexPath()));
    index.setIdeaProxyList(indexed);
    index.saveBinaryToURL(index.presentedItemURL(), nullptr);
  }
  // A listed document no search has read yet, and an engine that holds its answers.
  void coldDocumentAndHeldAnswers() {
    dropbox->store(QStringLiteral("dropbox:/cold.orrx"), Idea::createWithText(QStringLiteral("Cold box")));
    dropbox->reportStoredDocuments();
    dropbox->holdAnswers(true);
  }
  static QStringList sorted(QStringList list) {
    list.sort();
    return list;
  }
  static QStringList listed(DocumentLocation location) {
    QStringList out;
    for (const auto& p : facade().proxyListForLocation(location).value_or(ProxyList())) out << p->text();
    return out;
  }

  testsupport::CloudContainerFixture container;
  ProxyList indexed;
  std::shared_ptr<MemoryPersistenceState> dropbox = std::make_shared<MemoryPersistenceState>();
  std::shared_ptr<MemoryPersistenceState> memoryICloud;
  uitest::PresenterScope presenter;

 private:
  ScreenFactory mPreviousFactory;
};

TEST_F(HomeScreenTest, TheGridFollowsTheLocationsListWithoutOpeningDocuments) {
  startICloud();
  HomeWindow w(HomeViewController::create(DocumentLocationICloud, QString()));
  EXPECT_EQ(w.tiles(), listed(DocumentLocationICloud)) << "tiles in list order";
  EXPECT_EQ(w.tiles().size(), 3);
  EXPECT_EQ(w.window->title(), QStringLiteral("iCloud Documents"));
  EXPECT_EQ(w.window->docURL(), QUrl(QStringLiteral("icloud://icloud")));
  EXPECT_EQ(w.window->cloudIconName(), QStringLiteral("cloud"));
  for (const auto& p : w.grid().proxies()) EXPECT_FALSE(p->hasDoc() && p->doc()->isOpen()) << "no document opened";
  EXPECT_EQ(w.window->firstResponder(), static_cast<platform::Responder*>(&w.grid()));

  // A document created elsewhere in this program reaches the grid; a deletion leaves it.
  auto made = treeDocument(QString(), QStringLiteral("Made by another window"), QStringLiteral("y"));
  DocumentToken token = -1;
  facade().createDocument(made, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(waitFor([&] { return token != -1; }));
  ASSERT_GE(token, 1);
  EXPECT_EQ(w.tiles().size(), 4);
  EXPECT_TRUE(w.tiles().contains(QStringLiteral("Made by another window")));
  facade().releaseDocument(made, token, nullptr);
  w.home->documentDeleted(QStringLiteral("dropbox:/") + IdeaProxy::bareFileName(w.grid().proxies()[0]->docIdentifier()));
  EXPECT_EQ(w.tiles().size(), 4) << "a deletion in the other location changes nothing";
  bool deleted = false;
  facade().deleteDocument(made->docIdentifier(), [&](bool ok) { deleted = ok; });
  ASSERT_TRUE(waitFor([&] { return deleted && w.tiles().size() == 3; }));
  EXPECT_FALSE(w.tiles().contains(QStringLiteral("Made by another window")));
}

TEST(HomeSecondInstance, RenamesTheFirstDocument) {
  if (qEnvironmentVariable("ORRERY_HOME_SECOND_INSTANCE") != "1") GTEST_SKIP() << "only as a second instance";
  orrery::testing::RecordingWorkspaceDelegate screens;
  auto workspace = Workspace::create(cloudEngineForLocation(DocumentLocationICloud), &screens);
  ASSERT_TRUE(waitFor([&] { return workspace->findProxy(QStringLiteral("iCloud:/doc0.orrx")) != nullptr; }));
  auto doc = workspace->findProxy(QStringLiteral("iCloud:/doc0.orrx"))->doc();
  DocumentToken token = 0;
  workspace->openDocument(doc, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(waitFor([&] { return token != 0; }));
  ASSERT_GE(token, 1);
  doc->idea()->setText(QStringLiteral("Edited by another instance"));
  int saved = -1;
  workspace->updateDocument(doc, token, [&](bool ok) { saved = ok ? 1 : 0; });
  ASSERT_TRUE(waitFor([&] { return saved != -1; }));
  ASSERT_EQ(saved, 1);
  bool closed = false;
  workspace->closeDocument(doc, token, [&](bool) { closed = true; });
  ASSERT_TRUE(waitFor([&] { return closed; }));
  workspace->closeWorkspace();
}

TEST_F(HomeScreenTest, AnotherInstancesEditOfADocumentRedrawsItsTile) {
  startICloud();
  HomeWindow w(HomeViewController::create(DocumentLocationICloud, QString()));
  ASSERT_EQ(runSecondInstanceRenamingTheFirstDocument(container.root()), 0);
  for (int look = 0; look < 3 && !w.tiles().contains(QStringLiteral("Edited by another instance")); ++look) {
    uitest::advance(platform::LocalFolderContainer::kPollSeconds);
    uitest::loop().runUntil([&] { return w.tiles().contains(QStringLiteral("Edited by another instance")); },
                            platform::Millis(3000));
  }
  EXPECT_EQ(w.tiles().size(), 3);
  EXPECT_TRUE(w.tiles().contains(QStringLiteral("Edited by another instance")));
}

TEST_F(HomeScreenTest, ASearchFromTheEditorFindsIdeasDeepInsideAndClearingRestoresTheList) {
  startICloud();
  installHomeScreens();
  HomeWindow w(std::dynamic_pointer_cast<HomeViewController>(
      screenFactory().makeHome(DocumentLocationICloud, QStringLiteral("needle"))));
  ASSERT_TRUE(w.home);
  EXPECT_EQ(w.home->topBar()->currentSearchText(), QStringLiteral("needle"));
  EXPECT_TRUE(w.home->isSearching());
  EXPECT_TRUE(w.grid().readOnly()) << "read-only while the search runs";
  ASSERT_TRUE(waitFor([&] { return w.home->state() == kHomeScreenStateResults; }));
  EXPECT_EQ(w.tiles(), QStringList{QStringLiteral("Document 1")});
  EXPECT_TRUE(w.grid().readOnly());
  EXPECT_EQ(w.grid().countSlots(), 1) << "no add button among results";
  EXPECT_FALSE(w.grid().placeHolderView());

  w.search(QStringLiteral("nothing like this"));
  ASSERT_TRUE(waitFor([&] { return w.home->state() == kHomeScreenStateResults; }));
  EXPECT_TRUE(w.tiles().isEmpty());
  ASSERT_TRUE(w.grid().placeHolderView());
  EXPECT_EQ(w.grid().placeHolderView()->text(), QStringLiteral("No matches"));

  w.search(QString());
  EXPECT_EQ(w.home->state(), kHomeScreenStateList);
  EXPECT_EQ(w.tiles(), listed(DocumentLocationICloud));
  EXPECT_FALSE(w.grid().readOnly());
  EXPECT_EQ(w.window->firstResponder(), static_cast<platform::Responder*>(&w.grid()));
}

TEST_F(HomeScreenTest, ClearingTheSearchStopsItAndLateResultsNeverFillTheGrid) {
  startDropbox();
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  coldDocumentAndHeldAnswers();
  w.search(QStringLiteral("Box"));
  const std::int64_t request = w.home->currentSearchRequestID();
  ASSERT_NE(request, 0) << "the search waits for the cold document";
  EXPECT_EQ(w.home->state(), kHomeScreenStateSearching);
  w.search(QString());
  EXPECT_EQ(w.home->currentSearchRequestID(), 0);
  dropbox->holdAnswers(false);
  dropbox->releaseHeldAnswers();
  uitest::advance(1.0);
  // Results carrying the request's identifier, however late, are not this screen's any more.
  w.home->searchIsReady({w.grid().proxies()[0]}, DocumentLocationDropbox, request);
  EXPECT_EQ(w.home->state(), kHomeScreenStateList);
  EXPECT_EQ(sorted(w.tiles()), (QStringList{"Box 0", "Box 1", "Cold box"}));
  EXPECT_FALSE(w.grid().readOnly());
}

TEST_F(HomeScreenTest, OlderResultsAreIgnoredAndNewerOnesRestartTheSearch) {
  startDropbox();
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  const IdeaProxyPtr stray = w.grid().proxies()[1];
  coldDocumentAndHeldAnswers();
  w.search(QStringLiteral("Box 0"));
  const std::int64_t awaited = w.home->currentSearchRequestID();
  ASSERT_NE(awaited, 0);
  w.home->searchIsReady({stray}, DocumentLocationDropbox, awaited - 1);
  w.home->searchIsReady({stray}, DocumentLocationICloud, awaited);
  EXPECT_EQ(w.home->state(), kHomeScreenStateSearching) << "older or other-location results change nothing";
  EXPECT_EQ(w.tiles().size(), 3);

  // Another screen's newer search took the location's search over.
  const std::int64_t newer = facade().nextSearchRequestID();
  w.home->searchIsReady({stray}, DocumentLocationDropbox, newer);
  EXPECT_GT(w.home->currentSearchRequestID(), newer) << "asked again with a fresh identifier";
  EXPECT_EQ(w.home->state(), kHomeScreenStateSearching);
  dropbox->holdAnswers(false);
  dropbox->releaseHeldAnswers();
  ASSERT_TRUE(waitFor([&] { return w.home->state() == kHomeScreenStateResults; }));
  EXPECT_EQ(w.tiles(), QStringList{QStringLiteral("Box 0")});
}

TEST_F(HomeScreenTest, ListReportsDuringASearchOnlyUpdateAndDeleteResults) {
  startDropbox();
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  w.search(QStringLiteral("Box"));
  ASSERT_TRUE(waitFor([&] { return w.home->state() == kHomeScreenStateResults; }));
  ASSERT_EQ(sorted(w.tiles()), (QStringList{"Box 0", "Box 1"}));

  auto made = IdeaDocument::createWithFileName(QString(), DocumentLocationDropbox);
  made->setIdea(Idea::createWithText(QStringLiteral("New while searching")));
  DocumentToken token = -1;
  facade().createDocument(made, 0, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(waitFor([&] { return token != -1; }));
  w.home->documentAppended(facade().findProxy(made->docIdentifier()));
  w.home->batchUpdateDoneInLocation(DocumentLocationDropbox);
  EXPECT_EQ(sorted(w.tiles()), (QStringList{"Box 0", "Box 1"})) << "no list entry lands among the results";

  auto renamed = IdeaProxy::createWithProxy(*w.findProxy(QStringLiteral("dropbox:/box1.orrx")));
  renamed->setText(QStringLiteral("Box 1 renamed"));
  w.home->documentUpdated(renamed);
  w.home->documentDeleted(QStringLiteral("dropbox:/box0.orrx"));
  EXPECT_EQ(w.tiles(), QStringList{QStringLiteral("Box 1 renamed")});

  w.search(QString());
  EXPECT_TRUE(w.tiles().contains(QStringLiteral("New while searching"))) << "clearing reloads the list";
  facade().releaseDocument(made, token, nullptr);
}

TEST_F(HomeScreenTest, AClickOpensTheDocumentInThisWindowsEditorWhichHoldsTheToken) {
  startDropbox();
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QStringLiteral("")));
  const QString id = QStringLiteral("dropbox:/box1.orrx");
  w.click(w.tileCentre(id));
  uitest::advance(0.29);
  EXPECT_FALSE(w.home->screenOccupied()) << "a click waits for a possible second one";
  dropbox->holdAnswers(true);
  uitest::advance(0.02);
  EXPECT_EQ(w.home->currentOccupyingOperation(), QStringLiteral("OpenDocument"));
  EXPECT_FALSE(w.grid().userInteractionEnabled()) << "no second open meanwhile";
  dropbox->holdAnswers(false);
  dropbox->releaseHeldAnswers();
  ASSERT_TRUE(waitFor([&] { return w.editor() != nullptr; }));
  EXPECT_EQ(w.editor()->document()->docIdentifier(), id);
  EXPECT_EQ(dropbox->heldTokens(id), 1u);
  EXPECT_FALSE(w.home->screenOccupied()) << "both screen tokens returned";
  EXPECT_EQ(w.window->controller(), w.editor());
  uitest::advance(0.3);  // the cross-fade
  EXPECT_FALSE(w.home->view()->window()) << "the home screen left the window";
  w.editor()->performForcedClose();
  uitest::advance(0);
  EXPECT_EQ(dropbox->heldTokens(id), 0u);
}

TEST_F(HomeScreenTest, ANewDocumentTakesTheNextThemesColourAndOpensForEditing) {
  startDropbox();
  auto third = IdeaDocument::createWithFileName(QStringLiteral("box2.orrx"), DocumentLocationDropbox);
  third->setIdea(Idea::createWithText(QStringLiteral("Box 2")));
  dropbox->store(third);
  dropbox->reportStoredDocuments();
  uitest::advance(0);
  ASSERT_EQ(listed(DocumentLocationDropbox).size(), 3);
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  w.home->pleaseCreateNewIdea();
  ASSERT_TRUE(waitFor([&] { return w.editor() != nullptr; }));
  const auto doc = w.editor()->document();
  ASSERT_EQ(doc->location(), DocumentLocationDropbox);
  const auto& themes = ColorTheme::standardThemes();
  ASSERT_EQ(themes.size(), 4u);
  ASSERT_TRUE(doc->idea()->color());
  EXPECT_EQ(doc->idea()->color()->name(), themes[0]->colors()[0]->name())
      << "three listed: theme (3 + 1) mod 4";
  EXPECT_EQ(doc->idea()->colorThemeType(), ColorThemeTypeLighterColor);
  EXPECT_EQ(doc->dateCreated(), doc->dateModified());
  EXPECT_EQ(w.grid().indexOfProxy(doc->docIdentifier()), 0) << "the list change reached the grid";
  EXPECT_EQ(dropbox->heldTokens(doc->docIdentifier()), 1u);
}

TEST_F(HomeScreenTest, AFolderThatCannotBeReachedIsNamedOnTheScreenAndByTheAddButton) {
  struct Case {
    const char* name;
    bool folderExists;
    bool lookedForBeforeShown;  // the screen learns of the folder before its view is made
  };
  for (const Case& c : {Case{"a missing folder", false, false}, Case{"a folder that is there", true, false},
                        Case{"a missing folder looked for before the screen shows", false, true}}) {
    testsupport::CloudContainerFixture chosen(/*makeRoot=*/c.folderExists);
    presenter->alerts.clear();
    auto home = HomeViewController::create(DocumentLocationICloud, QString());
    std::atomic<bool> lookedFor = false;
    const LogSink previous = setLogSink([&](const QString& line) {
      if (line.startsWith(QStringLiteral("Home screen: the iCloud folder cannot be reached"))) lookedFor = true;
    });
    Globals::optForICloud(true);
    if (c.lookedForBeforeShown) {
      EXPECT_TRUE(waitFor([&] { return lookedFor.load(); })) << c.name;
    }
    setLogSink(previous);
    HomeWindow w(std::move(home));
    if (c.folderExists) {
      ASSERT_TRUE(waitFor([] { return facade().statusForLocation(DocumentLocationICloud) == WorkspaceStatusReady; }));
      uitest::advance(0.1);
      EXPECT_EQ(w.home->unreachableNotice(), nullptr) << c.name;
      EXPECT_EQ(w.window->cloudIconToolTip(), QStringLiteral("iCloud: up to date"));
    } else {
      ASSERT_TRUE(waitFor([&] { return w.home->unreachableNotice() != nullptr; })) << c.name;
      // The top bar says what the screen says, not "syncing" for as long as the folder is away.
      EXPECT_TRUE(waitFor([&] { return w.window->cloudIconToolTip() == QStringLiteral("iCloud: unavailable"); }))
          << w.window->cloudIconToolTip().toStdString();
      const TextView& notice = *w.home->unreachableNotice();
      EXPECT_TRUE(notice.text().contains("cannot be reached")) << notice.text().toStdString();
      EXPECT_TRUE(notice.text().contains(chosen.root())) << notice.text().toStdString();
      // Drawn inside the window, below the top bar.
      const QRectF shown = notice.convertRectToView(notice.bounds(), nullptr);
      EXPECT_TRUE(QRectF(QPointF(), w.window->contentSize()).contains(shown));
      EXPECT_GT(shown.height(), 0);
      platform::View* adder = w.grid().visibleItemForKey(IdeaListView::adderKey());
      ASSERT_NE(adder, nullptr);
      EXPECT_FALSE(adder->convertRectToView(adder->bounds(), nullptr).intersects(shown)) << "clear of the add button";
      // "+" says why nothing is made.
      w.home->pleaseCreateNewIdea();
      uitest::advance(0.1);
      ASSERT_EQ(presenter->alerts.size(), 1u) << c.name;
      EXPECT_TRUE(presenter->alerts[0].informativeText.contains(chosen.root()));
      EXPECT_EQ(w.editor(), nullptr);
    }
    Globals::optForICloud(false);
    uitest::advance(0.1);
  }
}

// The folder of a listed grid goes away (a share unmounted, a folder moved): at every window
// size the notice has its own band above the grid, clear of every tile, and a click on the tile
// nearest it opens that tile, whose failure names the folder rather than a download; so does a
// tile opened at once, before anything looked at the folder again.
TEST_F(HomeScreenTest, TheNoticeOfAFolderGoneAwayLeavesEveryTileVisibleAndClickable) {
  for (int i = 3; i < 20; ++i) {  // three rows at the largest size
    auto doc = treeDocument(QStringLiteral("doc%1.orrx").arg(i), QStringLiteral("Document %1").arg(i),
                            QStringLiteral("hay"));
    testsupport::CloudContainerFixture::writeFile(container.documentPath(doc->filePath()), doc->exportAsPureJSONData());
    indexed.push_back(IdeaProxy::createWithDoc(doc));
  }
  writeIndex();
  Globals::optForICloud(true);
  ASSERT_TRUE(waitFor([] { return listed(DocumentLocationICloud).size() == 20; }));
  HomeWindow w(HomeViewController::create(DocumentLocationICloud, QString()));
  auto openingTellsTheFolder = [&](const QString& id, const std::string& at) {
    presenter->alerts.clear();
    presenter->alertAnswers = {1000};
    w.click(w.tileCentre(id));
    uitest::advance(0.5);
    ASSERT_TRUE(waitFor([&] { return !presenter->alerts.empty() && !w.home->screenOccupied(); }))
        << at << ": the click reached no tile";
    const QString told = presenter->alerts[0].informativeText;
    EXPECT_TRUE(told.contains(QStringLiteral("cannot be reached")) && told.contains(container.root()))
        << at << ": " << told.toStdString();
    EXPECT_EQ(w.window->controller(), w.home);
  };
  ASSERT_TRUE(container.moveAway());
  openingTellsTheFolder(w.grid().proxies().front()->docIdentifier(), "at once");
  for (int poll = 0; poll < 3; ++poll) uitest::advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(waitFor([&] { return w.home->unreachableNotice() != nullptr; }));
  const TextView& notice = *w.home->unreachableNotice();
  ASSERT_EQ(w.grid().proxies().size(), 20u) << "the list stays while the folder is away";

  const double smallest = MyWindow::kMinimumContentSize;
  for (const QSizeF size : {QSizeF(1440, 900), QSizeF(1024, 720), QSizeF(smallest, smallest)}) {
    const std::string at = QStringLiteral("%1x%2").arg(size.width()).arg(size.height()).toStdString();
    w.window->setContentSize(size);
    w.window->displayIfNeeded();
    const QRectF shown = notice.convertRectToView(notice.bounds(), nullptr);
    EXPECT_GT(shown.height(), 0) << at;
    EXPECT_TRUE(QRectF(QPointF(), size).contains(shown)) << at;
    QString nearest;
    double nearestDistance = 1e9;
    for (const auto& proxy : w.grid().proxies()) {
      auto* disc = w.grid().visibleIdeaViewForDocument(proxy->docIdentifier());
      if (!disc) continue;
      platform::View& tile = *disc->superview();
      EXPECT_FALSE(tile.convertRectToView(tile.bounds(), nullptr).intersects(shown))
          << at << ": " << proxy->text().toStdString() << " lies under the notice";
      const QPointF centre = w.tileCentre(proxy->docIdentifier());
      const double distance = QLineF(centre, shown.center()).length();
      if (distance < nearestDistance) {
        nearest = proxy->docIdentifier();
        nearestDistance = distance;
      }
    }
    ASSERT_FALSE(nearest.isEmpty()) << at;
    openingTellsTheFolder(nearest, at);
  }
  // Back again: the band goes and the grid reaches up to the top bar.
  ASSERT_TRUE(container.moveBack());
  uitest::advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(waitFor([&] { return w.home->unreachableNotice() == nullptr; }));
  EXPECT_EQ(w.grid().convertRectToView(w.grid().bounds(), nullptr).top(), w.home->topBar()->frame().bottom());
}

TEST_F(HomeScreenTest, NoTokenStaysWithTheEngineWhenNoEditorTakesIt) {
  startDropbox();
  const QString box0 = QStringLiteral("dropbox:/box0.orrx");
  const QString box1 = QStringLiteral("dropbox:/box1.orrx");
  {
    // Two add-button presses before the first create completes: one editor, one token back.
    HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
    w.home->pleaseCreateNewIdea();
    w.home->pleaseCreateNewIdea();
    ASSERT_TRUE(waitFor([&] { return listed(DocumentLocationDropbox).size() == 4 && w.editor(); }));
    uitest::advance(0.5);
    std::size_t held = 0;
    const ProxyList all = facade().proxyListForLocation(DocumentLocationDropbox).value_or(ProxyList());
    for (const auto& p : all)
      held += dropbox->heldTokens(p->docIdentifier());
    EXPECT_EQ(held, 1u) << "only the editor holds one";
  }
  {
    // The window closes while the open runs.
    HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
    w.home->onDrillDownTo(box0, /*startEditing=*/false);
    w.window->close();
    w.window->setDelegate(nullptr);
    w.window.reset();  // the application lets go of a closed window
    uitest::advance(0.5);
    EXPECT_EQ(dropbox->heldTokens(box0), 0u);
  }
  {
    // The window shows another screen by the time the open completes; and an occupied screen.
    HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
    w.home->onDrillDownTo(box1, /*startEditing=*/false);
    auto other = HomeViewController::create(DocumentLocationDropbox, QString());
    w.window->switchToViewController(other, /*animated=*/false, nullptr);
    uitest::advance(0.5);
    EXPECT_EQ(dropbox->heldTokens(box1), 0u);

    DocumentToken token = 0;
    auto doc = facade().findProxy(box1)->doc();
    facade().openDocument(doc, [&](DocumentToken t) { token = t; });
    uitest::advance(0);
    ASSERT_GE(token, 1);
    other->occupyScreen(QStringLiteral("Test"));
    other->openSolarSystemForIdeaDocument(doc, token, /*startEditing=*/false);
    EXPECT_EQ(dropbox->heldTokens(box1), 0u);
    EXPECT_EQ(w.window->controller(), other);
    other->liberateScreen(QStringLiteral("Test"));
  }
}

TEST_F(HomeScreenTest, AFailedOpenShowsTheAlertOfItsLocationAndTheGridStays) {
  startDropbox();
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  presenter->alertAnswers = {1000};
  dropbox->failNext(MemoryPersistenceState::Op::Open);
  w.home->onDrillDownTo(QStringLiteral("dropbox:/box0.orrx"), /*startEditing=*/true);
  uitest::advance(0.1);
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Oops"));
  EXPECT_EQ(presenter->alerts[0].informativeText, QStringLiteral("The document could not be opened."));
  EXPECT_FALSE(w.editor());
  EXPECT_EQ(w.window->controller(), w.home);

  // iCloud says where the document should have come from.
  memoryICloud = std::make_shared<MemoryPersistenceState>();
  memoryICloud->store(QStringLiteral("iCloud:/a.orrx"), Idea::createWithText(QStringLiteral("A")));
  Globals::optForICloud(true);
  uitest::advance(0);
  memoryICloud->reportStatus(3);
  memoryICloud->reportStoredDocuments();
  uitest::advance(0);
  HomeWindow icloud(HomeViewController::create(DocumentLocationICloud, QString()));
  presenter->alertAnswers = {1000};
  memoryICloud->failNext(MemoryPersistenceState::Op::Open);
  icloud.home->onDrillDownTo(QStringLiteral("iCloud:/a.orrx"), /*startEditing=*/false);
  uitest::advance(0.1);
  ASSERT_EQ(presenter->alerts.size(), 2u);
  EXPECT_TRUE(presenter->alerts[1].informativeText.contains(QStringLiteral("iCloud")));
  EXPECT_FALSE(icloud.home->screenOccupied());
}

// Sync tools left their conflict copies of a document beside it. Opening the document shows the
// newest version, and names the new document each other version became, this machine's among them.
TEST_F(HomeScreenTest, OpeningADocumentWithASyncConflictShowsTheOtherVersionAndKeepsThisOneAsANewDocument) {
  const QString copy = container.documentPath(QStringLiteral("doc0.sync-conflict-20261207-090000-MACHINEB.orrx"));
  ASSERT_TRUE(testsupport::CloudContainerFixture::writeFile(
      copy, testsupport::CloudContainerFixture::documentBytes(QStringLiteral("doc0.orrx"), QStringLiteral("Their edit"))));
  const QString older = container.documentPath(QStringLiteral("doc0 (Machine C's conflicted copy 2026-12-06).orrx"));
  ASSERT_TRUE(testsupport::CloudContainerFixture::writeFile(
      older,
      testsupport::CloudContainerFixture::documentBytes(QStringLiteral("doc0.orrx"), QStringLiteral("Older edit"))));
  // A copy an interrupted transfer cut short.
  const QString cut = container.documentPath(QStringLiteral("doc0 (SFConflict D 2026-12-05).orrx"));
  ASSERT_TRUE(testsupport::CloudContainerFixture::writeFile(
      cut, testsupport::CloudContainerFixture::documentBytes(QStringLiteral("doc0.orrx"), QStringLiteral("Cut")).left(30)));
  for (const QString& path : {older, cut}) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::fromSecsSinceEpoch(1600000000), QFileDevice::FileModificationTime));
  }
  startICloud();
  HomeWindow w(HomeViewController::create(DocumentLocationICloud, QString()));
  const QString id = indexed[0]->docIdentifier();
  presenter->alertAnswers = {1000};
  w.home->onDrillDownTo(id, /*startEditing=*/false);
  ASSERT_TRUE(waitFor([&] { return w.editor() != nullptr; }));
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Document changed on another device"));
  const QStringList told = presenter->alerts[0].informativeText.split(QLatin1Char('\n'));
  EXPECT_EQ(told.mid(1), QStringList({QStringLiteral("“Document 0”: the version from this device"),
                                      QStringLiteral("“Older edit”: the version from “Machine C's conflicted copy "
                                                     "2026-12-06”"),
                                      QStringLiteral("The version from “SFConflict D 2026-12-05” could not be read (it "
                                                     "is damaged or incomplete); it is kept as the file “doc0 "
                                                     "(SFConflict D 2026-12-05) - damaged.unreadable” beside the "
                                                     "documents.")}))
      << presenter->alerts[0].informativeText.toStdString();
  ASSERT_EQ(presenter->alerts[0].buttons.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].buttons[0].title, QStringLiteral("OK"));
  EXPECT_EQ(w.editor()->document()->idea()->text(), QStringLiteral("Their edit"));
  EXPECT_FALSE(w.home->screenOccupied());
  EXPECT_TRUE(waitFor([] {
    return sorted(listed(DocumentLocationICloud)) ==
           QStringList({"Document 0", "Document 1", "Document 2", "Older edit", "Their edit"});
  })) << listed(DocumentLocationICloud).join(", ").toStdString();
  ASSERT_TRUE(facade().findProxy(id));
  EXPECT_FALSE(facade().findConflictingVersion(facade().findProxy(id))) << "nothing left to resolve";
}

// The index was cut short by an interrupted sync: the documents on disk are listed, and the
// user hears once where the damaged list was kept.
TEST_F(HomeScreenTest, ADamagedIndexIsToldOnceAndTheDocumentsAreListed) {
  ASSERT_TRUE(testsupport::CloudContainerFixture::writeFile(
      container.indexPath(), testsupport::CloudContainerFixture::readFile(container.indexPath()).left(100)));
  HomeWindow w(HomeViewController::create(DocumentLocationICloud, QString()));
  HomeWindow second(HomeViewController::create(DocumentLocationICloud, QString()));
  startICloud();
  uitest::advance(10);
  EXPECT_EQ(sorted(w.tiles()), QStringList({"Document 0", "Document 1", "Document 2"}));
  ASSERT_EQ(presenter->alerts.size(), 1u) << "one window tells it, once";
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("iCloud document list replaced"));
  EXPECT_TRUE(presenter->alerts[0].informativeText.contains(QStringLiteral("orrery.index.damaged-")))
      << presenter->alerts[0].informativeText.toStdString();
}

// Found while no iCloud list shows (the start opened a map, or a Dropbox list), the damaged
// index is told when an iCloud list next shows, once, and no later list tells it again.
TEST_F(HomeScreenTest, ADamagedIndexFoundWhileNoICloudListShowsIsToldWhenOneNextShows) {
  ASSERT_TRUE(testsupport::CloudContainerFixture::writeFile(
      container.indexPath(), testsupport::CloudContainerFixture::readFile(container.indexPath()).left(100)));
  startDropbox();
  HomeWindow box(HomeViewController::create(DocumentLocationDropbox, QString()));
  startICloud();
  uitest::advance(10);
  EXPECT_TRUE(presenter->alerts.empty()) << "no iCloud list to tell it in yet";

  auto shown = std::make_unique<HomeWindow>(HomeViewController::create(DocumentLocationICloud, QString()));
  uitest::advance(0);
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("iCloud document list replaced"));
  EXPECT_TRUE(presenter->alerts[0].informativeText.contains(QStringLiteral("orrery.index.damaged-")))
      << presenter->alerts[0].informativeText.toStdString();
  shown.reset();
  HomeWindow again(HomeViewController::create(DocumentLocationICloud, QString()));
  uitest::advance(0);
  EXPECT_EQ(presenter->alerts.size(), 1u) << "told once";
}

TEST_F(HomeScreenTest, WithdrawingDropboxClosesOnlyTheDropboxWindow) {
  startICloud();
  startDropbox();
  HomeWindow icloud(HomeViewController::create(DocumentLocationICloud, QString()));
  HomeWindow box(HomeViewController::create(DocumentLocationDropbox, QString()));
  EXPECT_EQ(box.window->title(), QStringLiteral("Dropbox Documents"));
  Globals::optForDropbox(false);
  uitest::advance(0.1);
  EXPECT_TRUE(box.closed);
  EXPECT_FALSE(icloud.closed);
}

TEST_F(HomeScreenTest, PreferencesAndListReportsKeepTheGridWhereItWasScrolled) {
  for (int i = 2; i < 40; ++i)
    dropbox->store(QStringLiteral("dropbox:/box%1.orrx").arg(i), Idea::createWithText(QStringLiteral("Box %1").arg(i)));
  startDropbox();
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  ASSERT_EQ(w.tiles().size(), 40);
  const double before = Globals::fontSizeFactor();
  const bool contrast = Globals::highContrastText();
  struct Case {
    const char* what;
    std::function<void()> change;
  };
  const Case cases[] = {
      {"text size", [] { Globals::changeFontSizeFactor(7); }},
      {"same text size again", [] { Globals::changeFontSizeFactor(7); }},
      {"high contrast", [contrast] { Globals::setHighContrastText(!contrast); }},
      {"text size back", [before] { Globals::changeFontSizeFactor(static_cast<std::int64_t>(before)); }},
      {"contrast back", [contrast] { Globals::setHighContrastText(contrast); }},
      {"iCloud chosen as well", [] { Globals::optForICloud(true); }},
      {"the location's list told again", [this] { dropbox->reportStoredDocuments(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    w.grid().scrollToPoint(QPointF(0, 900));
    w.window->displayIfNeeded();
    const double scrolled = w.grid().documentVisibleRect().y();
    ASSERT_GT(scrolled, 800);
    c.change();
    uitest::advance(0.5);
    w.window->displayIfNeeded();
    EXPECT_DOUBLE_EQ(w.grid().documentVisibleRect().y(), scrolled);
    ASSERT_EQ(w.tiles().size(), 40);
    // The tiles of the rows in sight are drawn there (the add button takes the first slot).
    const auto firstInSight =
        static_cast<std::size_t>(w.grid().itemsPerRow() * (1 + static_cast<int>(scrolled / 218)) - 1);
    EXPECT_TRUE(w.grid().visibleIdeaViewForDocument(w.grid().proxies()[firstInSight]->docIdentifier()));
  }
}

TEST_F(HomeScreenTest, CommandFStartsEditingTheSearchOnceAndTheRestoredLocationIsACloudOne) {
  startDropbox();
  auto restored = HomeViewController::createForRestoration();
  HomeWindow w(restored);
  EXPECT_TRUE(w.tiles().isEmpty()) << "no location yet";
  EXPECT_TRUE(restored->restoreFromState({{"location", 3}}));
  EXPECT_EQ(restored->location(), DocumentLocationDropbox);
  EXPECT_EQ(w.tiles(), (QStringList{"Box 0", "Box 1"})) << "the restored location's list shows at once";
  EXPECT_EQ(w.window->title(), QStringLiteral("Dropbox Documents"));
  EXPECT_EQ(restored->createState().value("location").toULongLong(), DocumentLocationDropbox);
  EXPECT_EQ(restored->storedClassName(), QStringLiteral("HomeViewController"));
  for (const QVariantMap& state : {QVariantMap{}, QVariantMap{{"location", 7}}, QVariantMap{{"location", 1}},
                                   QVariantMap{{"location", "garbage"}}}) {
    auto other = HomeViewController::createForRestoration();
    EXPECT_TRUE(other->restoreFromState(state));
    EXPECT_EQ(other->location(), DocumentLocationICloud) << state.value("location").toString().toStdString();
  }

  const Event commandF = Event::key(EventType::KeyDown, platform::KeyCode::Unknown, QStringLiteral("f"),
                                    platform::ModifierFlag::Command);
  w.window->sendEvent(commandF);
  auto field = w.home->topBar()->searchTextField()->hostedField();
  EXPECT_EQ(w.window->firstResponder(), field.get()) << "Command-F from the grid";
  QLineEdit* edit = w.home->topBar()->searchTextField()->lineEdit();
  ASSERT_TRUE(edit);
  edit->setText(QStringLiteral("abc"));
  w.home->topBar()->controlTextDidBeginEditing();
  edit->setCursorPosition(1);
  ASSERT_TRUE(w.home->topBar()->isEditingSearchText());
  w.window->sendEvent(commandF);
  EXPECT_EQ(edit->cursorPosition(), 1) << "already editing: nothing changes";
}

TEST_F(HomeScreenTest, TheEditorsHomeButtonShowsTheRealGridWithItsSearch) {
  startDropbox();
  installHomeScreens();
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  w.home->onDrillDownTo(QStringLiteral("dropbox:/box0.orrx"), /*startEditing=*/false);
  ASSERT_TRUE(waitFor([&] { return w.editor() != nullptr; }));
  auto editor = w.editor();
  EXPECT_EQ(editor->storedClassName(), QStringLiteral("SolarSystemViewController"));
  editor->topBar()->setCurrentSearchText(QStringLiteral("Box 1"));
  editor->pleaseSwitchToHomeView();
  auto home = std::dynamic_pointer_cast<HomeViewController>(w.window->controller());
  ASSERT_TRUE(home) << "the real home screen, not a stand-in";
  EXPECT_EQ(home->location(), DocumentLocationDropbox);
  EXPECT_EQ(home->topBar()->currentSearchText(), QStringLiteral("Box 1"));
  EXPECT_EQ(dropbox->heldTokens(QStringLiteral("dropbox:/box0.orrx")), 0u) << "the editor gave its token back";
  w.home = home;
  ASSERT_TRUE(waitFor([&] { return home->state() == kHomeScreenStateResults; }));
  EXPECT_EQ(w.tiles(), QStringList{QStringLiteral("Box 1")});
}

TEST_F(HomeScreenTest, MainWindowsShowTheRealGridAndStoreTheScreenTheyShowNow) {
  startDropbox();
  installHomeScreens();
  auto cloudWindow = MainWindowController::createCloudWindow(DocumentLocationDropbox);
  uitest::advance(0);
  auto home = std::dynamic_pointer_cast<HomeViewController>(cloudWindow->myWindow().controller());
  ASSERT_TRUE(home) << "New Dropbox Window shows the grid";
  EXPECT_EQ(home->ideaListView()->proxies().size(), 2u);
  QVariantMap stored = cloudWindow->createState();
  EXPECT_EQ(stored.value("controllerClass").toString(), QStringLiteral("HomeViewController"));
  EXPECT_EQ(stored.value("controllerState").toMap().value("location").toULongLong(), DocumentLocationDropbox);

  // The home screen hands its window to an editor: the window now stores the editor.
  home->onDrillDownTo(QStringLiteral("dropbox:/box1.orrx"), /*startEditing=*/false);
  ASSERT_TRUE(waitFor([&] {
    return std::dynamic_pointer_cast<SolarSystemViewController>(cloudWindow->myWindow().controller()) != nullptr;
  }));
  stored = cloudWindow->createState();
  EXPECT_EQ(stored.value("controllerClass").toString(), QStringLiteral("SolarSystemViewController"));
  EXPECT_EQ(stored.value("controllerState").toMap().value("docIdentifier").toString(),
            QStringLiteral("dropbox:/box1.orrx"));
  std::dynamic_pointer_cast<SolarSystemViewController>(cloudWindow->myWindow().controller())->performForcedClose();
  uitest::advance(0.5);
  EXPECT_EQ(dropbox->heldTokens(QStringLiteral("dropbox:/box1.orrx")), 0u);

  // A restored home window shows its location's grid.
  auto restored = MainWindowController::createForRestoration();
  ASSERT_TRUE(restored->restoreFromState({{"controllerClass", "HomeViewController"},
                                          {"controllerState", QVariantMap{{"location", 3}}}}));
  uitest::advance(0);
  auto again = std::dynamic_pointer_cast<HomeViewController>(restored->myWindow().controller());
  ASSERT_TRUE(again);
  EXPECT_EQ(again->location(), DocumentLocationDropbox);
  EXPECT_EQ(again->ideaListView()->proxies().size(), 2u);
  restored->myWindow().close();
}

}  // namespace

// ---- drops, the tile menu and the in-place edit

namespace {

struct DropRecorder {
  DragResult result = 99;
  int calls = 0;
  DragSupportDelegate::ResultCompletion completion() {
    return [this](DragResult r) {
      result = r;
      ++calls;
    };
  }
};

DragInfoForIdea ideaDrag(const IdeaPtr& idea, const QString& doc, DragTargetObject from = kDragTargetStart,
                         DragSourceKind source = kDragSourceThisWindow) {
  DragInfoForIdea info;
  info.source = source;
  info.returnTarget.object = from;
  info.ideaIdentifier = idea->identifier();
  info.docIdentifier = doc;
  return info;
}

QPointF centreInWindow(const platform::View& v) { return v.superview()->convertPointToView(v.frame().center(), nullptr); }

}  // namespace

TEST_F(HomeScreenTest, DropsOnTheGridEndOnceWhateverTheyLandOn) {
  startDropbox();
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  const QString box0 = QStringLiteral("dropbox:/box0.orrx");
  const QString box1 = QStringLiteral("dropbox:/box1.orrx");
  const IdeaPtr root1 = dropbox->storedIdea(box1);
  ASSERT_TRUE(root1);
  DropRecorder r;

  // A tile dropped back onto itself: accepted, nothing asked, nothing changed.
  DragInfoForIdea info = ideaDrag(root1, box1);
  EXPECT_TRUE(w.home->dragOperationStarted(info));
  EXPECT_FALSE(w.grid().deleteAreaView().isHidden()) << "shown for a drag from this window";
  info.location = w.tileCentre(box1);
  EXPECT_EQ(w.home->dragOperationUpdate(info).object, kDragTargetContent);
  w.home->dragOperationEnded(info, root1, box1, r.completion());
  EXPECT_EQ(r.result, kDragResultMoved);
  EXPECT_EQ(r.calls, 1);
  EXPECT_TRUE(presenter->menuLocations.empty());
  EXPECT_TRUE(w.grid().deleteAreaView().isHidden());

  // Onto the dock: parked with its document, kept at its source.
  info = ideaDrag(root1, box1, kDragTargetStart, kDragSourceOtherWindow);
  w.home->dragOperationStarted(info);
  EXPECT_TRUE(w.grid().deleteAreaView().isHidden()) << "not for a drag from elsewhere";
  info.location = centreInWindow(w.grid().dockAreaView());
  EXPECT_EQ(w.home->dragOperationUpdate(info).gravityRadius, 80);
  w.home->dragOperationEnded(info, root1, box1, r.completion());
  EXPECT_EQ(r.result, kDragResultKept);
  EXPECT_EQ(w.window->currentDockedDocIdentifier(), box1);
  EXPECT_FALSE(w.grid().dockAreaView().isHidden());

  // From another window onto the delete area: refused.
  w.home->dragOperationStarted(info);
  w.grid().deleteAreaView().setHidden(false);
  info.location = centreInWindow(w.grid().deleteAreaView());
  ASSERT_EQ(w.home->dragOperationUpdate(info).object, kDragTargetDeleteArea);
  w.home->dragOperationEnded(info, root1, box1, r.completion());
  EXPECT_EQ(r.result, kDragResultRefused);

  // Out of this window's dock onto the delete area: it just leaves the dock.
  info = ideaDrag(root1, box1, kDragTargetDock);
  w.home->dragOperationStarted(info);
  info.location = centreInWindow(w.grid().deleteAreaView());
  w.home->dragOperationEnded(info, root1, box1, r.completion());
  EXPECT_EQ(r.result, kDragResultMoved);
  EXPECT_FALSE(w.window->currentDockedIdea());
  EXPECT_TRUE(w.grid().dockAreaView().isHidden());
  EXPECT_EQ(r.calls, 4);
  EXPECT_TRUE(dropbox->hasStored(box1));

  // The slots beside a document (as the grid numbers them) count as near it.
  const ProxyList list = facade().proxyListForLocation(DocumentLocationDropbox).value();
  const QString second = list.at(1)->docIdentifier();
  EXPECT_FALSE(w.home->isDocumentNearAdditionPoint(second, 0));
  EXPECT_TRUE(w.home->isDocumentNearAdditionPoint(second, 1));
  EXPECT_TRUE(w.home->isDocumentNearAdditionPoint(second, 2));
  EXPECT_FALSE(w.home->isDocumentNearAdditionPoint(second, 3));
  (void)box0;
}

TEST_F(HomeScreenTest, AnIdeaDroppedOnATileIsCopiedOrMovedIntoThatDocument) {
  startDropbox();
  const QString box0 = QStringLiteral("dropbox:/box0.orrx");
  const QString box1 = QStringLiteral("dropbox:/box1.orrx");
  IdeaPtr withChild = Idea::createWithText(QStringLiteral("Box 1"));
  withChild->addIdea(Idea::createWithText(QStringLiteral("travelling")));
  dropbox->store(box1, withChild);
  dropbox->reportStoredDocuments();
  uitest::advance(0);
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  const IdeaPtr travelling = dropbox->storedIdea(box1)->ideas().at(0);
  DropRecorder r;
  // "Choice.MoveInside" comes first for an idea of a document.
  presenter->menuAnswers = {0};
  DragInfoForIdea info = ideaDrag(travelling, box1, kDragTargetStart, kDragSourceOtherWindow);
  w.home->dragOperationStarted(info);
  info.location = w.tileCentre(box0);
  w.home->dragOperationEnded(info, travelling, box1, r.completion());
  ASSERT_TRUE(waitFor([&] { return r.calls == 1; }));
  EXPECT_EQ(r.result, kDragResultMoved);
  ASSERT_EQ(dropbox->storedIdea(box0)->ideas().size(), 1u);
  EXPECT_EQ(dropbox->storedIdea(box0)->ideas()[0]->text(), QStringLiteral("travelling"));
  EXPECT_TRUE(dropbox->storedIdea(box1)->ideas().empty()) << "moved out of its document";

  // Closing the menu without a choice refuses the drop and changes nothing.
  presenter->menuAnswers = {-1};
  const IdeaPtr loose = Idea::createWithText(QStringLiteral("loose"));
  info = ideaDrag(loose, QString(), kDragTargetStart, kDragSourceOtherWindow);
  w.home->dragOperationStarted(info);
  info.location = w.tileCentre(box1);
  w.home->dragOperationEnded(info, loose, QString(), r.completion());
  ASSERT_TRUE(waitFor([&] { return r.calls == 2; }));
  EXPECT_EQ(r.result, kDragResultRefused);
  EXPECT_TRUE(dropbox->storedIdea(box1)->ideas().empty());
}

TEST_F(HomeScreenTest, TheTileMenuDeletesWithTheRightQuestionAndEditsInPlaceGivingTheTokenBack) {
  startDropbox();
  const QString box0 = QStringLiteral("dropbox:/box0.orrx");
  const QString box1 = QStringLiteral("dropbox:/box1.orrx");
  IdeaPtr three = Idea::createWithText(QStringLiteral("Box 1"));
  for (int i = 0; i < 3; ++i) three->addIdea(Idea::createWithText(QStringLiteral("c%1").arg(i)));
  dropbox->store(box1, three);
  dropbox->reportStoredDocuments();
  uitest::advance(0);
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));

  auto menu = w.home->onRightClickAtDocument(box1);
  QStringList titles;
  for (const auto& item : menu->items()) titles << (item->isSeparator() ? QStringLiteral("-") : item->title());
  EXPECT_EQ(titles, (QStringList{"Open", "Open in New Window", "-", "Edit", "-", "Delete", "-"}));

  // Three sub-ideas: asked with the count the tree gives below the root; cancelled, kept.
  presenter->alertAnswers = {1001};
  w.home->onDeleteItem(box1);
  ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; }));
  EXPECT_EQ(presenter->alerts[0].informativeText, QStringLiteral("Element contains 3 sub-elements. Are you sure?"));
  EXPECT_FALSE(w.home->screenOccupied());
  EXPECT_TRUE(dropbox->hasStored(box1));
  // A plain root goes without a question.
  w.home->onDeleteItem(box0);
  ASSERT_TRUE(waitFor([&] { return !dropbox->hasStored(box0); }));
  EXPECT_EQ(presenter->alerts.size(), 1u);

  // Edit in place: closing without a change only gives the token back.
  w.home->onEditItem(box1);
  ASSERT_TRUE(waitFor([&] { return w.home->editPopover() != nullptr; }));
  EXPECT_EQ(dropbox->heldTokens(box1), 1u);
  // While the panel shows, the tile menu starts nothing.
  w.home->onDeleteItem(box1);
  w.home->onEditItem(box1);
  uitest::advance(0.1);
  EXPECT_EQ(presenter->alerts.size(), 1u);
  w.home->editPopover()->performClose();
  uitest::advance(0.1);
  EXPECT_EQ(dropbox->heldTokens(box1), 0u);
  EXPECT_FALSE(w.home->screenOccupied());

  // A changed title whose save fails says so and still gives the token back.
  w.home->onEditItem(box1);
  ASSERT_TRUE(waitFor([&] { return w.home->editPopover() != nullptr; }));
  auto* panel = dynamic_cast<EditIdeaViewController*>(w.home->editPopover()->contentViewController().get());
  ASSERT_TRUE(panel);
  QLineEdit* title = panel->textTabView()->titleTextField()->field()->lineEdit();
  title->setText(QStringLiteral("Renamed"));
  dropbox->failNext(MemoryPersistenceState::Op::Update);
  w.home->editPopover()->performClose();
  ASSERT_TRUE(waitFor([&] { return dropbox->heldTokens(box1) == 0; }));
  uitest::advance(0.25);
  bool noticed = false;
  for (const auto& v : w.window->containerView()->subviews())
    if (auto hud = std::dynamic_pointer_cast<ProgressHUD>(v)) noticed |= hud->labelText() == "Failed to update document";
  EXPECT_TRUE(noticed);
  EXPECT_EQ(dropbox->storedIdea(box1)->text(), QStringLiteral("Box 1"));
}

// On a real screen, with and without a window manager: a press on the search field closes the
// edit popover, which had the keys, and the typing lands in the field, not in the idea.
TEST_F(HomeScreenTest, APressOnTheSearchFieldClosesTheEditPopoverAndTheTypingLandsThere) {
  if (!testsupport::inWindowManagerChild()) return testsupport::runInWindowManagerChild({false, true});
  testsupport::FakePointer pointer;
  ASSERT_TRUE(pointer.available()) << "no XTest on the X server";
  startDropbox();
  const QString box1 = QStringLiteral("dropbox:/box1.orrx");
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  w.window->makeKeyAndOrderFront();
  testsupport::letTheWindowManagerAnswer(300);
  w.home->onEditItem(box1);
  ASSERT_TRUE(waitFor([&] { return w.home->editPopover() != nullptr; }));
  const std::shared_ptr<platform::Popover> popover = w.home->editPopover();
  QWindow* popoverWindow = popover->window()->widget()->windowHandle();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == popoverWindow; }));
  testsupport::letTheWindowManagerAnswer(300);

  QLineEdit* search = w.home->topBar()->searchTextField()->lineEdit();
  EXPECT_TRUE(pointer.click(search));
  const bool settled = QTest::qWaitFor([&] {
    uitest::advance(0);
    return !popover->isShown() && search->hasFocus() &&
           QGuiApplication::focusWindow() == w.window->widget()->windowHandle();
  });
  EXPECT_TRUE(settled) << "shown: " << popover->isShown() << ", the field has the focus: " << search->hasFocus();
  for (const QChar ch : QStringLiteral("Food")) QTest::keyClick(QGuiApplication::focusWindow(), ch.toLatin1());
  uitest::advance(0.05);
  EXPECT_EQ(search->text(), QStringLiteral("Food"));
  QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
  ASSERT_TRUE(waitFor([&] { return dropbox->heldTokens(box1) == 0; }));
  EXPECT_EQ(dropbox->storedIdea(box1)->text(), QStringLiteral("Box 1"));
}

TEST_F(HomeScreenTest, AnEditorsPlanetDroppedOnAHomeTileMovesIntoThatDocumentAndBothFilesChange) {
  startICloud();
  uitest::DragSeams seams;
  HomeWindow home(HomeViewController::create(DocumentLocationICloud, QString()));
  QTemporaryDir folder;
  const QString mapPath = folder.filePath(QStringLiteral("map.orrery"));
  auto map = IdeaDocument::createWithFileName(mapPath, DocumentLocationLocalFile);
  IdeaPtr root = Idea::createWithText(QStringLiteral("map"));
  for (const char* t : {"stays", "travels", "stays too"}) root->addIdea(Idea::createWithText(QString::fromLatin1(t)));
  const QString travels = root->ideas()[1]->identifier();
  map->setIdea(root);
  DocumentToken token = 0;
  facade().createDocument(map, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(waitFor([&] { return token != 0; }));
  ASSERT_GE(token, 1);
  auto editor = SolarSystemViewController::create(map, token, QString());
  auto editorWindow = std::make_shared<DragSupportWindow>(QSizeF(1000, 800));
  editorWindow->switchToViewController(editor, /*animated=*/false, nullptr);
  uitest::place(*home.window, QPoint(0, 0));
  uitest::place(*editorWindow, QPoint(1100, 0));
  editorWindow->displayIfNeeded();

  const ProxyList list = facade().proxyListForLocation(DocumentLocationICloud).value();
  const QString target = list.at(0)->docIdentifier();
  const QString targetFile = container.documentPath(IdeaDocument::pathFromIdentifier(target).section('/', -1));
  SolarSystem& radial = *editor->solarSystem();
  const QPointF planet = radial.convertPointToView(radial.ideaViewAtIndex(1)->position(), nullptr);
  ASSERT_EQ(radial.ideaViewAtIndex(1)->ideaIdentifier(), travels);
  const QPointF tile = uitest::pointIn(*editorWindow, *home.window, home.tileCentre(target));

  editorWindow->sendEvent(Event::mouse(EventType::LeftMouseDown, planet, uitest::clock().now(), 1));
  uitest::advance(0.25);
  ASSERT_TRUE(platform::DraggingSession::current()) << "held still: the drag began";
  editorWindow->sendEvent(Event::mouse(EventType::LeftMouseDragged, (planet + tile) / 2));
  editorWindow->sendEvent(Event::mouse(EventType::LeftMouseDragged, tile));
  EXPECT_TRUE(home.window->floatingCopy()) << "the home window floats its own copy";
  presenter->menuAnswers = {0};  // "Choice.MoveInside"
  editorWindow->sendEvent(Event::mouse(EventType::LeftMouseUp, tile));
  ASSERT_TRUE(waitFor([&] {
    auto moved = IdeaDocument::createWithFileName(targetFile, DocumentLocationLocalFile);
    QFile f(targetFile);
    if (!f.open(QIODevice::ReadOnly) || !moved->loadFromJSONData(f.readAll()) || !moved->idea()) return false;
    for (const auto& child : moved->idea()->ideas())
      if (child->text() == QStringLiteral("travels")) return true;
    return false;
  })) << "the home document's file holds the idea";
  // The map's file is read anew until it lost the idea; a read completes on a later turn.
  std::shared_ptr<IdeaDocument> reread;
  int read = -1;
  ASSERT_TRUE(waitFor([&] {
    if (reread && read < 0) return false;
    if (reread && read == 1 && reread->idea() && reread->idea()->ideas().size() == 2) return true;
    reread = IdeaDocument::createWithFileName(mapPath, DocumentLocationLocalFile);
    read = -1;
    reread->readFromURL(QUrl::fromLocalFile(mapPath), [&read](bool ok) { read = ok; });
    return false;
  })) << "the map's file lost it";
  // The files may be written before the move's completion reaches the window.
  ASSERT_TRUE(waitFor([&] { return !home.window->floatingCopy(); }));
  EXPECT_FALSE(editorWindow->floatingCopy());
  EXPECT_EQ(platform::DraggingSession::current(), nullptr);
  editor->performForcedClose();
  uitest::advance(0.5);
}

// A map at its limit of ideas and icons takes no icon for its central idea: the pick is refused
// where it is made, saying why, and the title typed in the same popover is saved.
TEST_F(HomeScreenTest, AnInPlaceEditTheMapHasNoRoomForIsRefusedWhereItIsMadeAndTheRestIsSaved) {
  startDropbox();
  const QString box = QStringLiteral("dropbox:/box1.orrx");
  dropbox->store(box, Idea::createWithText(QStringLiteral("Box 1")));
  dropbox->reportStoredDocuments();
  uitest::advance(0);
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  w.home->onEditItem(box);
  ASSERT_TRUE(waitFor([&] { return w.home->editPopover() != nullptr; }));
  auto* panel = dynamic_cast<EditIdeaViewController*>(w.home->editPopover()->contentViewController().get());
  ASSERT_TRUE(panel);
  const auto doc = facade().findProxy(box)->doc();
  const DocumentSize now = doc->storedSize().changedBy(doc->growth());
  ASSERT_TRUE(doc->makeRoomFor(DocumentSize{0, DocumentLimits::kMaxObjects - now.objects, 0}));

  QTest::keyClicks(panel->textTabView()->titleTextField()->field()->lineEdit(), QStringLiteral(", renamed"));
  panel->editViewTabBarUserSelectedItem(*panel->tabBar(), EditIdeaTabIcon);
  IconImageTabView* icons = panel->iconTabView();
  icons->categorySelected(IconImageCollection::instance().categories().front());
  auto& pick = *icons->iconSelectorView()->iconButtons().at(0);
  pick.delegate()->buttonPressed(pick);
  uitest::advance(0.05);
  EXPECT_FALSE(icons->selectedIconImage());
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].informativeText, DocumentLimits::documentFullMessage());

  w.home->editPopover()->performClose();
  ASSERT_TRUE(waitFor([&] { return dropbox->heldTokens(box) == 0; }));
  EXPECT_EQ(dropbox->storedIdea(box)->text(), QStringLiteral("Box 1, renamed"));
  EXPECT_FALSE(dropbox->storedIdea(box)->iconImage());
}

TEST_F(HomeScreenTest, EveryInPlaceEditThatChangesNothingGivesTheDocumentBack) {
  startDropbox();
  const QString box0 = QStringLiteral("dropbox:/box0.orrx");
  const QString pictureBox = QStringLiteral("dropbox:/picture.orrx");
  QImage picture(QSize(8, 8), QImage::Format_ARGB32);
  picture.fill(Qt::green);
  dropbox->store(pictureBox, Idea::createWithOriginalImage(KitImage(picture)));
  dropbox->reportStoredDocuments();
  uitest::advance(0);
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  auto open = [&](const QString& id) {
    DocumentToken token = 0;
    auto doc = facade().findProxy(id)->doc();
    facade().openDocument(doc, [&](DocumentToken t) { token = t; });
    EXPECT_TRUE(waitFor([&] { return token != 0; }));
    return std::make_pair(doc, token);
  };
  // An occupied screen takes no panel: the token goes back at once.
  auto [doc0, token0] = open(box0);
  w.home->occupyScreen(QStringLiteral("Test"));
  w.home->editOpenedProxy(doc0, token0);
  uitest::advance(0);
  EXPECT_EQ(dropbox->heldTokens(box0), 0u);
  EXPECT_FALSE(w.home->editPopover());
  w.home->liberateScreen(QStringLiteral("Test"));

  // A picture root gets the picture panel; dismissed unchanged, only the token goes back.
  auto [pictureDoc, pictureToken] = open(pictureBox);
  w.home->editOpenedProxy(pictureDoc, pictureToken);
  ASSERT_EQ(w.home->presentedViewControllers().size(), 1u);
  auto panel = std::dynamic_pointer_cast<PictureViewController>(w.home->presentedViewControllers().front());
  ASSERT_TRUE(panel);
  EXPECT_EQ(dropbox->heldTokens(pictureBox), 1u);
  w.home->pleaseDismissPictureView(*panel);
  uitest::advance(0.5);
  EXPECT_EQ(dropbox->heldTokens(pictureBox), 0u);
  EXPECT_FALSE(w.home->screenOccupied());

  // A web-link root without the web engine: the user is told why, nothing opens or is written,
  // and the token goes back.
  const QString linkBox = QStringLiteral("dropbox:/link.orrx");
  dropbox->store(linkBox, Idea::createWithURL(QStringLiteral("http://example.com/"), KitImage(picture)));
  dropbox->reportStoredDocuments();
  uitest::advance(0);
  auto [linkDoc, linkToken] = open(linkBox);
  const int updates = dropbox->calls(MemoryPersistenceState::Op::Update);
  const std::size_t alerts = presenter->alerts.size();
  const QByteArray previousModule = qgetenv("ORRERY_WEB_MODULE");
  qputenv("ORRERY_WEB_MODULE", "/nonexistent/orrery_web.so");
  presenter->alertAnswers.push_back(platform::kAlertFirstButtonReturn);
  w.home->editOpenedProxy(linkDoc, linkToken);
  qputenv("ORRERY_WEB_MODULE", previousModule);
  uitest::advance(0.5);
  ASSERT_FALSE(platform::isWebEngineLoaded()) << "this program never loads the web engine";
  ASSERT_EQ(presenter->alerts.size(), alerts + 1);
  EXPECT_TRUE(presenter->alerts.back().informativeText.startsWith(QStringLiteral("Web pages cannot be shown")));
  EXPECT_TRUE(w.home->presentedViewControllers().empty());
  EXPECT_FALSE(w.home->screenOccupied());
  EXPECT_EQ(dropbox->heldTokens(linkBox), 0u);
  EXPECT_EQ(dropbox->calls(MemoryPersistenceState::Op::Update), updates);
  EXPECT_EQ(dropbox->storedIdea(linkBox)->URL(), QStringLiteral("http://example.com/"));

  // A document open in another window is not deleted.
  struct Refusing : ApplicationDelegate {
    void addNewRecentDocumentURL(const QUrl&) override {}
    bool canWeSafelyDeleteIdea(const QString&, const QString&) override { return false; }
    bool isFileCurrentlyOpen(const QUrl&) override { return false; }
    void markPersistentAppStateDirty() override {}
    void openDocumentInNewWindow(const QString&, const QString&) override {}
  } refusing;
  ApplicationDelegate* previous = Globals::app();
  Globals::setApp(&refusing);
  auto [held, heldToken] = open(box0);
  bool answered = true;
  w.home->deleteDocument(box0, [&](bool ok) { answered = ok; });
  uitest::advance(0.1);
  Globals::setApp(previous);
  EXPECT_FALSE(answered);
  EXPECT_TRUE(dropbox->hasStored(box0));
  ASSERT_FALSE(presenter->alerts.empty());
  EXPECT_EQ(presenter->alerts.back().informativeText,
            QStringLiteral("Document is open in other window. Please close the window before deleting document."));
  facade().releaseDocument(held, heldToken, nullptr);
  uitest::advance(0);
}

TEST_F(HomeScreenTest, ATileHeldAndDraggedOntoAnotherIsCopiedInsideIt) {
  startDropbox();
  uitest::DragSeams seams;
  HomeWindow w(HomeViewController::create(DocumentLocationDropbox, QString()));
  uitest::place(*w.window, QPoint(0, 0));
  const QString box0 = QStringLiteral("dropbox:/box0.orrx");
  const QString box1 = QStringLiteral("dropbox:/box1.orrx");
  const QPointF from = w.tileCentre(box0);
  w.window->sendEvent(Event::mouse(EventType::LeftMouseDown, from, uitest::clock().now(), 1));
  uitest::advance(1.0);
  ASSERT_TRUE(platform::DraggingSession::current()) << "held still: the tile's drag began";
  ASSERT_TRUE(w.window->floatingCopy());
  EXPECT_EQ(w.window->floatingCopy()->docIdentifier(), box0);
  EXPECT_FALSE(w.grid().deleteAreaView().isHidden());
  const QPointF to = w.tileCentre(box1);
  w.window->sendEvent(Event::mouse(EventType::LeftMouseDragged, (from + to) / 2));
  w.window->sendEvent(Event::mouse(EventType::LeftMouseDragged, w.tileCentre(box1)));
  presenter->menuAnswers = {1};  // "Choice.CopyInside"
  w.window->sendEvent(Event::mouse(EventType::LeftMouseUp, w.tileCentre(box1)));
  ASSERT_TRUE(waitFor([&] {
    const IdeaPtr stored = dropbox->storedIdea(box1);
    return stored && !stored->ideas().empty();
  }));
  EXPECT_EQ(dropbox->storedIdea(box1)->ideas()[0]->text(), QStringLiteral("Box 0"));
  EXPECT_TRUE(dropbox->hasStored(box0)) << "copied, not moved";
  ASSERT_TRUE(waitFor([&] { return !w.window->floatingCopy(); }));
  EXPECT_TRUE(w.grid().deleteAreaView().isHidden());
  EXPECT_EQ(w.window->sourceSessionNumber(), DragSupportWindow::kNoSession);
}
