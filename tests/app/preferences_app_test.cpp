#include "app_test_support.h"

#include "app/preferences_panes.h"
#include "app/preferences_window_controller.h"
#include "foundation/globals.h"
#include "platform/ui/event.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <thread>

using namespace orrery;
using apptest::AppFixture;

namespace {

class PreferencesApp : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    for (const char* key : {kPreferencesSelectedIdentifierKey, kPreferencesFrameTopLeftKey}) {
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
  controller.window().performClose();
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
  EXPECT_TRUE(Globals::userHasOptedForICloud());
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
