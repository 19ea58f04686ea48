#include "app_test_support.h"

#include "app/about_window.h"
#include "app/preferences_panes.h"
#include "app/preferences_window_controller.h"
#include "editor_screen/editor_screens.h"
#include "editor_screen/solar_system_view_controller.h"
#include "editor/simple_idea_view.h"
#include "editor/solar_system.h"
#include "foundation/globals.h"
#include "model/color.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/ui/event.h"

#include <QComboBox>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace orrery;
using apptest::AppFixture;

namespace {

class PreferencesApp : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    for (const char* key : {kPreferencesSelectedIdentifierKey, kPreferencesFrameTopLeftKey, "CloudContainerFolder",
                            platform::kDefaultCloudContainerMadeKey}) {
      mPrefs.insert(key, defaults().objectForKey(key));
      defaults().removeObjectForKey(key);
    }
  }
  void TearDown() override {
    AppFixture::TearDown();
    for (auto it = mPrefs.begin(); it != mPrefs.end(); ++it) defaults().setObject(it.value(), it.key());
  }
  GeneralPreferencesViewController& general(AppDelegate& app) {
    auto pane = app.preferencesWindowController().viewControllerForIdentifier("GeneralPreferences");
    return dynamic_cast<GeneralPreferencesViewController&>(*pane);
  }
  QVariantMap mPrefs;
};

}  // namespace

TEST_F(PreferencesApp, TheShortcutOpensOneWindowThatIsNotAMainWindow) {
  auto& app = launch();
  auto& window = app.windowControllers().front()->myWindow();
  window.makeKeyAndOrderFront();
  window.sendEvent(platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Unknown, ",",
                                        platform::ModifierFlag::Command));
  auto& controller = app.preferencesWindowController();
  EXPECT_TRUE(controller.window().isVisible());
  EXPECT_EQ(controller.window().title(), "Preferences");
  ASSERT_EQ(controller.viewControllers().size(), 2u);
  EXPECT_EQ(controller.selectedViewController()->identifier(), "GeneralPreferences");
  for (const auto& pane : controller.viewControllers())
    EXPECT_FALSE(pane->toolbarItemImage().isNull()) << pane->identifier().toStdString();
  controller.goNextTab();
  // Ctrl+W closes it like any window, and only hides it.
  controller.window().sendEvent(platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Unknown, "w",
                                                     platform::ModifierFlag::Command));
  uitest::advance(0);
  EXPECT_FALSE(controller.window().isVisible());
  window.sendEvent(platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Unknown, ",",
                                        platform::ModifierFlag::Command));
  EXPECT_EQ(&app.preferencesWindowController(), &controller) << "the same window, the last pane";
  EXPECT_EQ(controller.selectedViewController()->identifier(), "AdvancedPreferences");
  EXPECT_EQ(app.windowControllers().size(), 1u);
}

TEST_F(PreferencesApp, TheGeneralPaneRecordsAndWithdrawsTheStorageChoices) {
  auto& app = launch();
  auto& pane = general(app);
  pane.view();
  EXPECT_EQ(pane.iCloudConnectButton()->text(), "Connect");
  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  // Recorded once the container's folder was looked for (and made) off the main thread.
  ASSERT_TRUE(uitest::loop().runUntil([] { return Globals::userHasOptedForICloud(); }, platform::Millis(10000)));
  uitest::advance(0);
  EXPECT_EQ(pane.iCloudConnectButton()->text(), "Disconnect") << "refreshed by the defaults notice";
  EXPECT_TRUE(pane.iCloudConnectButton()->property("cloudImage").isValid());
  QTest::mouseClick(pane.iCloudConnectButton(), Qt::LeftButton);
  EXPECT_FALSE(Globals::userHasOptedForICloud());
  uitest::advance(0);
  EXPECT_EQ(pane.iCloudConnectButton()->text(), "Connect");

  // Dropbox: the redirect that ends a sign-in records the choice; a cancelled one does not.
  redirectAnswer = QStringLiteral("cancel");
  app.handleArguments({QStringLiteral("db-key://2/token?state=x")});
  uitest::advance(0);
  EXPECT_FALSE(Globals::userHasOptedForDropbox());
  EXPECT_EQ(pane.dropboxConnectButton()->text(), "Connect");
  redirectAnswer = QStringLiteral("success");
  app.handleArguments({QStringLiteral("db-key://2/token?state=x")});
  uitest::advance(0);
  EXPECT_TRUE(Globals::userHasOptedForDropbox());
  EXPECT_EQ(pane.dropboxConnectButton()->text(), "Disconnect");
  QTest::mouseClick(pane.dropboxConnectButton(), Qt::LeftButton);
  EXPECT_FALSE(Globals::userHasOptedForDropbox());

  // A defaults write on another thread reaches the rows on the main queue.
  std::thread([] { Globals::optForDropbox(true); }).join();
  uitest::advance(0);
  EXPECT_EQ(pane.dropboxConnectButton()->text(), "Disconnect");
}

TEST_F(PreferencesApp, TheICloudFolderChangesOnlyWhileICloudIsNotChosen) {
  auto& app = launch();
  auto& pane = general(app);
  pane.view();
  QTemporaryDir folder;
  presenter->panelAnswers.push_back({platform::kModalResponseCancel, {}});
  QTest::mouseClick(pane.iCloudChangeButton(), Qt::LeftButton);
  uitest::advance(0);
  EXPECT_FALSE(defaults().hasObjectForKey("CloudContainerFolder")) << "cancel stores nothing";
  presenter->panelAnswers.push_back({platform::kModalResponseOK, {folder.path()}});
  QTest::mouseClick(pane.iCloudChangeButton(), Qt::LeftButton);
  uitest::advance(0);
  ASSERT_EQ(presenter->panels.size(), 2u);
  EXPECT_TRUE(presenter->panels[1].canChooseDirectories);
  EXPECT_FALSE(presenter->panels[1].canChooseFiles);
  EXPECT_EQ(defaults().stringForKey("CloudContainerFolder"), folder.path());
  EXPECT_TRUE(pane.iCloudFooterText()->text().contains(folder.path()));
  // Chosen: the folder stays as it is.
  Globals::optForICloud(true);
  uitest::advance(0);
  EXPECT_FALSE(pane.iCloudChangeButton()->isEnabled());
  pane.changeICloudFolderPressed();
  uitest::advance(0);
  EXPECT_EQ(presenter->panels.size(), 2u);
  Globals::optForICloud(false);
  uitest::advance(0);
}

namespace {

// Pixels that differ between two pictures of the same size.
int changedPixels(const QImage& a, const QImage& b) {
  int changed = 0;
  for (int y = 0; y < std::min(a.height(), b.height()); ++y)
    for (int x = 0; x < std::min(a.width(), b.width()); ++x) changed += a.pixel(x, y) != b.pixel(x, y);
  return changed;
}

}  // namespace

TEST_F(PreferencesApp, TextSizeAndContrastRedrawTheDiscsOfAnOpenMap) {
  installEditorScreens();
  const int savedFactor = Globals::fontSizeFactor();
  const bool savedContrast = Globals::highContrastText();
  Globals::changeFontSizeFactor(5);
  Globals::setHighContrastText(false);
  defaults().setString("1.6.0.160", "CurrentOrreryVersion");
  auto& app = launch();
  const QString path = writeDocument("planets.orrery", "Planets and moons");
  bool opened = false;
  app.doOpenLocalFile(path, [&](const MyResultPtr&) { opened = true; });
  uitest::loop().runUntil([&] { return opened; });
  settle(2);
  auto& controller = *app.windowControllers().back();
  uitest::loop().runUntil([&] {
    auto* editor = dynamic_cast<SolarSystemViewController*>(controller.myWindow().controller().get());
    return editor && editor->solarSystem() && editor->solarSystem()->centralView();
  });
  auto* editor = dynamic_cast<SolarSystemViewController*>(controller.myWindow().controller().get());
  ASSERT_NE(editor, nullptr);
  SimpleIdeaView& sun = *editor->solarSystem()->centralView();
  // A bright disc, where high contrast darkens the title.
  sun.setBaseColor(std::make_shared<Color>(QStringLiteral("test-bright"), 0.15f, 0.5f, 1.0f, 1.0f, true, nullptr));
  platform::Window& mapWindow = controller.myWindow();
  const QImage normal = sun.snapshot();
  const int drawn = sun.layer()->displayCount();

  // Chosen as a user would: the Advanced pane's pop-up and checkbox in the preferences window.
  mapWindow.sendEvent(platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Unknown, ",",
                                           platform::ModifierFlag::Command));
  auto& preferences = app.preferencesWindowController();
  for (const auto& item : preferences.toolbar().items())
    if (item->itemIdentifier() == "AdvancedPreferences") item->qAction()->trigger();
  auto& advanced = dynamic_cast<AdvancedPreferencesViewController&>(*preferences.selectedViewController());
  advanced.textSizePopup()->setFocus();
  QTest::keyClick(advanced.textSizePopup(), Qt::Key_End);
  EXPECT_EQ(Globals::fontSizeFactor(), 7);
  const QImage extra = sun.snapshot();
  EXPECT_EQ(sun.layer()->displayCount(), drawn + 1) << "the disc redrew once";
  EXPECT_GT(changedPixels(normal, extra), 50) << "its title at the larger size";

  QTest::mouseClick(advanced.highContrastButton(), Qt::LeftButton, {}, QPoint(4, advanced.highContrastButton()->height() / 2));
  EXPECT_TRUE(Globals::highContrastText());
  const QImage contrast = sun.snapshot();
  EXPECT_EQ(sun.layer()->displayCount(), drawn + 2);
  EXPECT_GT(changedPixels(extra, contrast), 50) << "a darker title";
  // Choosing the size already shown posts again but draws nothing new.
  QTest::keyClick(advanced.textSizePopup(), Qt::Key_End);
  sun.snapshot();
  EXPECT_EQ(sun.layer()->displayCount(), drawn + 2);

  Globals::changeFontSizeFactor(savedFactor);
  Globals::setHighContrastText(savedContrast);
}

TEST_F(PreferencesApp, TheMenusOpenPreferencesAndAboutWhichStayOutOfTheStoredState) {
  auto& app = launch();
  const auto main = platform::Application::shared().mainMenu();
  ASSERT_TRUE(main);
  const auto about = apptest::findItem(*main, "cmdOpenAboutDialog");
  const auto preferences = apptest::findItem(*main, "cmdOpenPreferences");
  ASSERT_TRUE(about && preferences);
  EXPECT_EQ(about->title(), "About Orrery");
  EXPECT_EQ(preferences->title(), "Preferences…");
  EXPECT_EQ(preferences->keyEquivalent(), ",");
  auto& mapWindow = app.windowControllers().front()->myWindow();
  mapWindow.makeKeyAndOrderFront();
  // The about window lives as long as the process: it is made with the real version.
  const QVariantMap fakeBundle = BundleInfo::setValues({});
  about->perform(mapWindow.firstResponder());
  BundleInfo::setValues(fakeBundle);
  preferences->perform(mapWindow.firstResponder());
  platform::Window& aboutWindow = AboutWindow::show();
  EXPECT_TRUE(aboutWindow.isVisible());
  EXPECT_TRUE(app.preferencesWindowController().window().isVisible());
  EXPECT_EQ(aboutWindow.menuBar(), nullptr) << "no menu bar in the small windows";
  EXPECT_EQ(app.preferencesWindowController().window().menuBar(), nullptr);

  // Only the map window is stored (once it holds a map: an untouched scratch map is not kept).
  auto* map = dynamic_cast<DocumentPlaceholderController*>(mapWindow.controller().get());
  ASSERT_NE(map, nullptr);
  map->document()->idea()->setText(QStringLiteral("Map"));
  const QVariantList stored = app.createState(/*quitting=*/false).value(AppDelegate::kControllerStatesKey).toList();
  EXPECT_EQ(stored.size(), 1);
  // The program ends with the last of its windows, whichever it is.
  mapWindow.performClose();
  uitest::advance(0);
  EXPECT_EQ(exits, 0) << "Preferences and About are open";
  app.preferencesWindowController().window().performClose();
  uitest::advance(0);
  EXPECT_EQ(exits, 0) << "About is open";
  aboutWindow.performClose();
  uitest::advance(0);
  EXPECT_EQ(exits, 1);
}
