#include "app/preferences_panes.h"
#include "app/preferences_window_controller.h"
#include "foundation/dictionary_extensions.h"
#include "foundation/globals.h"
#include "foundation/globals_testing.h"
#include "platform/core/notification_center.h"
#include "platform/services/user_defaults.h"
#include "platform/ui/view.h"
#include "ui_test_env.h"
#include "platform/ui/view.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QComboBox>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace orrery;

namespace {

class TestPane : public PreferencesViewController {
 public:
  TestPane(QString id, QSizeF size, bool resizable) : mId(std::move(id)), mSize(size), mResizable(resizable) {}
  QString identifier() const override { return mId; }
  QIcon toolbarItemImage() const override { return {}; }
  QString toolbarItemLabel() const override { return mId + QStringLiteral(" label"); }
  std::shared_ptr<platform::View> view() override {
    if (!mView) mView = std::make_shared<platform::View>(QRectF(QPointF(), mSize));
    return mView;
  }
  std::optional<bool> hasResizableWidth() const override { return mResizable; }
  std::optional<bool> hasResizableHeight() const override { return mResizable; }
  bool commitEditing() override { return accepts; }
  void viewDidDisappear() override { ++disappeared; }

  bool accepts = true;
  int disappeared = 0;

 private:
  QString mId;
  QSizeF mSize;
  bool mResizable;
  std::shared_ptr<platform::View> mView;
};

const QStringList kKeys = {kPreferencesSelectedIdentifierKey, kPreferencesFrameTopLeftKey, "Preferences fixed Frame",
                           "Preferences wide Frame", "fontSizeFactor", "AdjustTextColorBasedOnBackground"};

class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const QString& key : kKeys) {
      mSaved.insert(key, defaults().objectForKey(key));
      defaults().removeObjectForKey(key);
    }
    mFont = Globals::fontSizeFactor();
    mContrast = Globals::highContrastText();
    fixed = std::make_shared<TestPane>("fixed", QSizeF(300, 100), false);
    wide = std::make_shared<TestPane>("wide", QSizeF(200, 80), true);
    other = std::make_shared<TestPane>("other", QSizeF(250, 90), false);
  }
  void TearDown() override {
    Globals::changeFontSizeFactor(mFont);
    Globals::setHighContrastText(mContrast);
    for (auto it = mSaved.begin(); it != mSaved.end(); ++it) defaults().setObject(it.value(), it.key());
  }
  static platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }
  std::unique_ptr<PreferencesWindowController> make() {
    return std::make_unique<PreferencesWindowController>(
        std::vector<PreferencesPane>{fixed, nullptr, wide, nullptr, other}, QString());
  }
  int changes(PreferencesWindowController& c, const std::function<void()>& body) {
    int count = 0;
    platform::ObserverScope scope;
    scope.observe(PreferencesWindowControllerDidChangeViewNotification, &c,
                  [&](const platform::Notification&) { ++count; });
    body();
    return count;
  }

  std::shared_ptr<TestPane> fixed, wide, other;
  QVariantMap mSaved;
  int mFont = 5;
  bool mContrast = false;
};

}  // namespace

TEST_F(PreferencesTest, TheChosenPaneAndTopLeftComeBackInASecondController) {
  {
    auto controller = make();
    EXPECT_EQ(controller->selectedViewController(), fixed) << "nothing stored: the first pane";
    EXPECT_EQ(controller->window().title(), "fixed label");
    const QRectF screen(QGuiApplication::primaryScreen()->availableGeometry());
    const QPointF offCentre = controller->window().frame().center() - screen.center();
    EXPECT_LE(offCentre.manhattanLength(), 1.0) << "nothing stored: centred on the screen";
    controller->showWindow();
    controller->window().setFrameOrigin(QPointF(40, 50));
    controller->selectControllerWithIdentifier("wide");
    const QPointF topLeft = controller->window().frame().topLeft();
    controller->window().performClose();
    EXPECT_EQ(dictext::pointFromString(defaults().stringForKey(kPreferencesFrameTopLeftKey)), topLeft);
  }
  auto again = make();
  EXPECT_EQ(again->selectedViewController(), wide);
  EXPECT_EQ(again->window().frame().topLeft(),
            dictext::pointFromString(defaults().stringForKey(kPreferencesFrameTopLeftKey)));
  // The toolbar shows the same choice, and a stale or mistyped identifier falls back to the first.
  EXPECT_EQ(again->toolbar().selectedItemIdentifier(), "wide");
  for (const auto& item : again->toolbar().items())
    EXPECT_EQ(item->qAction()->isChecked(), item->itemIdentifier() == "wide") << item->itemIdentifier().toStdString();
  defaults().setString("gone", kPreferencesSelectedIdentifierKey);
  EXPECT_EQ(make()->selectedViewController(), fixed);
  defaults().setObject(QVariantList{1, 2}, kPreferencesSelectedIdentifierKey);
  EXPECT_EQ(make()->selectedViewController(), fixed);
}

TEST_F(PreferencesTest, PanesTakeTheirMinimumUnlessResizableAndSavedLarger) {
  defaults().setString("{{0, 0}, {900, 700}}", "Preferences fixed Frame");
  defaults().setString("{{0, 0}, {320, 40}}", "Preferences wide Frame");
  auto controller = make();
  EXPECT_EQ(controller->window().contentSize(), QSizeF(300, 100)) << "a fixed pane ignores its saved size";
  controller->selectControllerWithIdentifier("wide");
  EXPECT_EQ(controller->window().contentSize(), QSizeF(320, 80)) << "height below the minimum takes the minimum";
  EXPECT_EQ(wide->view()->frame().size(), QSizeF(320, 80));
  // Garbage sizes never reach the window.
  EXPECT_EQ(placement::paneSize(QSizeF(NAN, std::numeric_limits<double>::infinity()), QSizeF(10, 20), true, true),
            QSizeF(10, 20));
  EXPECT_EQ(placement::paneSize(QSizeF(50, 60), QSizeF(10, 20), true, false), QSizeF(50, 20));
  // Larger than the screen: down to the screen, never below the minimum.
  EXPECT_EQ(placement::paneSize(QSizeF(9000, 9000), QSizeF(10, 20), true, true, QSizeF(1440, 872)), QSizeF(1440, 872));
  EXPECT_EQ(placement::paneSize(QSizeF(9000, 9000), QSizeF(2000, 20), true, true, QSizeF(1440, 872)),
            QSizeF(2000, 872));
  defaults().setString("{{0, 0}, {90000, 70000}}", "Preferences wide Frame");
  auto huge = make();
  huge->selectControllerWithIdentifier("wide");
  const QSizeF screen = QGuiApplication::primaryScreen()->availableGeometry().size();
  EXPECT_LE(huge->window().contentSize().width(), screen.width());
  EXPECT_LE(huge->window().contentSize().height(), screen.height());
}

TEST_F(PreferencesTest, TabsWrapPastPlaceholdersAndPlaceholdersAreNeverSelected) {
  auto controller = make();
  EXPECT_EQ(changes(*controller, [&] { controller->goNextTab(); }), 1);
  EXPECT_EQ(controller->selectedViewController(), wide);
  controller->goNextTab();
  EXPECT_EQ(controller->selectedViewController(), other);
  controller->goNextTab();
  EXPECT_EQ(controller->selectedViewController(), fixed) << "wraps from the last to the first";
  controller->goPreviousTab();
  EXPECT_EQ(controller->selectedViewController(), other);
  EXPECT_EQ(controller->indexOfSelectedController(), 4);
  EXPECT_EQ(changes(*controller, [&] {
              controller->selectControllerAtIndex(1);
              controller->selectControllerAtIndex(3);
              controller->selectControllerAtIndex(5);
              controller->selectControllerAtIndex(-1);
              controller->selectControllerWithIdentifier("other");
            }),
            0);
  EXPECT_EQ(controller->selectedViewController(), other);
  // Only placeholders: tabs do nothing.
  PreferencesWindowController empty({nullptr, nullptr});
  empty.goNextTab();
  empty.goPreviousTab();
  EXPECT_EQ(empty.selectedViewController(), nullptr);
}

TEST_F(PreferencesTest, ARefusingPaneKeepsItsPlaceAndTheWindow) {
  auto controller = make();
  controller->showWindow();
  fixed->accepts = false;
  QAction* wideItem = nullptr;
  for (const auto& item : controller->toolbar().items())
    if (item->itemIdentifier() == "wide") wideItem = item->qAction();
  ASSERT_NE(wideItem, nullptr);
  EXPECT_EQ(changes(*controller, [&] { wideItem->trigger(); }), 0);
  EXPECT_EQ(controller->selectedViewController(), fixed);
  EXPECT_FALSE(wideItem->isChecked()) << "the toolbar returns to the refusing pane";
  controller->window().performClose();
  EXPECT_TRUE(controller->window().isVisible());
  fixed->accepts = true;
  EXPECT_EQ(changes(*controller, [&] { wideItem->trigger(); }), 1);
  EXPECT_EQ(controller->selectedViewController(), wide);
  EXPECT_EQ(fixed->disappeared, 1);
  EXPECT_EQ(defaults().stringForKey(kPreferencesSelectedIdentifierKey), "wide");
  controller->window().performClose();
  EXPECT_FALSE(controller->window().isVisible());
}

TEST_F(PreferencesTest, AHundredStepMoveWritesTheDefaultsOnceItSettles) {
  auto controller = make();
  controller->showWindow();
  uitest::advance(1);
  int writes = 0;
  platform::ObserverScope scope;
  scope.observe(platform::kUserDefaultsDidChangeNotification, nullptr, [&](const platform::Notification&) { ++writes; });
  for (int step = 0; step < 100; ++step) {
    controller->window().setFrameOrigin(QPointF(10 + step, 20 + step));
    QCoreApplication::processEvents();
    uitest::advance(0.01);
  }
  EXPECT_EQ(writes, 0) << "still moving";
  uitest::advance(0.3);
  EXPECT_LE(writes, 2);
  EXPECT_GE(writes, 1);
  EXPECT_EQ(dictext::pointFromString(defaults().stringForKey(kPreferencesFrameTopLeftKey)),
            controller->window().frame().topLeft());
}

TEST_F(PreferencesTest, StoredTopLeftsAreFittedOntoTheScreens) {
  const QList<QRectF> areas{QRectF(0, 28, 1440, 872), QRectF(1440, 0, 1920, 1080)};
  const QSizeF size(400, 300);
  EXPECT_EQ(placement::fittedTopLeft(QPointF(100, 100), size, areas), QPointF(100, 100));
  EXPECT_EQ(placement::fittedTopLeft(QPointF(3300, 1000), size, areas), QPointF(2960, 780)) << "second screen";
  EXPECT_EQ(placement::fittedTopLeft(QPointF(9000, -5000), size, areas), QPointF(1040, 28)) << "detached screen";
  EXPECT_EQ(placement::fittedTopLeft(QPointF(NAN, 5), size, areas), QPointF(0, 28));
  EXPECT_EQ(placement::fittedTopLeft(QPointF(10, 10), QSizeF(5000, 5000), areas), QPointF(0, 28))
      << "larger than the screen: its top left stays on it";
  // Garbage text reads as zeros, never a crash.
  EXPECT_EQ(dictext::pointFromString("{nonsense"), QPointF(0, 0));
  EXPECT_EQ(dictext::pointFromString(dictext::stringFromPoint(QPointF(-12.5, 3e5))), QPointF(-12.5, 3e5));
}

TEST_F(PreferencesTest, AdvancedPaneShowsAndStoresTextSizeAndContrast) {
  const int expected[] = {0, 0, 2, 4, 4};
  int i = 0;
  for (int stored : {1, 3, 5, 7, 9}) {
    Globals::changeFontSizeFactor(stored);
    AdvancedPreferencesViewController pane;
    pane.view();
    EXPECT_EQ(pane.textSizePopup()->currentIndex(), expected[i++]) << "stored " << stored;
    EXPECT_EQ(pane.textSizePopup()->count(), 5);
  }
  // Stored values that are no number show the default size, and the pane still works.
  for (const QVariant& garbage : {QVariant(QStringLiteral("huge")), QVariant(QVariantList{1, 2}),
                                  QVariant(std::numeric_limits<double>::quiet_NaN()), QVariant(QVariantMap{})}) {
    defaults().setObject(garbage, "fontSizeFactor");
    forgetCachedFontSizeFactor();
    AdvancedPreferencesViewController shown;
    shown.view();
    EXPECT_EQ(shown.textSizePopup()->currentIndex(), 2) << garbage.typeName();
    EXPECT_EQ(Globals::fontSizeFactor(), 5);
  }
  defaults().setString(QStringLiteral(" 6 "), "fontSizeFactor");
  forgetCachedFontSizeFactor();
  EXPECT_EQ(Globals::fontSizeFactor(), 6) << "a number written as text is still a number";
  Globals::changeFontSizeFactor(5);
  AdvancedPreferencesViewController pane;
  pane.view();
  int posts = 0;
  platform::ObserverScope scope;
  scope.observe("GlobalsAppearanceSettingsChangedNotification", nullptr,
                [&](const platform::Notification&) { ++posts; });
  for (int index = 0; index < 5; ++index) {
    pane.textSizePopup()->setCurrentIndex(index);
    pane.textSizeOptionChanged();
    EXPECT_EQ(defaults().integerForKey("fontSizeFactor"), index + 3);
  }
  EXPECT_EQ(posts, 5);
  pane.textSizePopup()->setCurrentIndex(2);
  pane.textSizeOptionChanged();
  pane.textSizeOptionChanged();
  EXPECT_EQ(posts, 7) << "Normal posts even when already stored";
  Globals::setHighContrastText(false);
  posts = 0;
  QTest::mouseClick(pane.highContrastButton(), Qt::LeftButton, {}, QPoint(4, pane.highContrastButton()->height() / 2));
  EXPECT_TRUE(Globals::highContrastText());
  EXPECT_EQ(posts, 1);
  pane.contrastOptionChanged();
  EXPECT_EQ(posts, 1) << "the same state again posts nothing";
}

TEST_F(PreferencesTest, GarbageStoredFramesOpenTheWindowOnTheScreenAtSaneSizes) {
  defaults().setString(QStringLiteral("{nan, inf}"), kPreferencesFrameTopLeftKey);
  defaults().setString(QStringLiteral("{{0, 0}, {nan, 1e308}}"), "Preferences wide Frame");
  defaults().setString(QStringLiteral("wide"), kPreferencesSelectedIdentifierKey);
  auto controller = make();
  ASSERT_EQ(controller->selectedViewController(), wide);
  const QRectF frame = controller->window().frame();
  EXPECT_TRUE(std::isfinite(frame.x()) && std::isfinite(frame.y()));
  // "nan" is no number: the width reads 1e308, the height nothing.
  const QSizeF content = controller->window().contentSize();
  const QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(content.width(), screen->availableGeometry().width()) << "never wider than the screen";
  EXPECT_EQ(content.height(), 80) << "never below the minimum";
  EXPECT_TRUE(QRectF(screen->availableGeometry()).contains(frame.topLeft()));
  // Values of the wrong type are ignored, not read as zeros (a new run: new panes).
  defaults().setObject(QVariantList{1, 2}, kPreferencesFrameTopLeftKey);
  defaults().setObject(42, "Preferences wide Frame");
  wide = std::make_shared<TestPane>("wide", QSizeF(200, 80), true);
  auto again = make();
  EXPECT_EQ(again->window().contentSize(), QSizeF(200, 80));
}
