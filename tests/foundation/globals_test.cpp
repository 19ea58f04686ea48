#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/globals_testing.h"
#include "log_capture.h"
#include "platform/core/notification_center.h"
#include "platform/services/font_catalog.h"
#include "platform/services/user_defaults.h"
#include "qt_printers.h"

#include <QFontInfo>

#include <gtest/gtest.h>

namespace {

using orrery::Globals;
using orrery::forgetCachedFontSizeFactor;

class GlobalsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* key : {Globals::kFontSizeFactorKey, Globals::kHighContrastKey, Globals::kCloudStorageChoiceKey,
                            Globals::kDropboxStorageChoiceKey})
      defaults().removeObjectForKey(key);
    forgetCachedFontSizeFactor();
    mScope.observe(orrery::GlobalsAppearanceSettingsChangedNotification, nullptr,
                   [this](const platform::Notification&) { ++mPosted; });
  }
  static platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

  int mPosted = 0;
  platform::ObserverScope mScope;
};

TEST_F(GlobalsTest, FontSizeFactorDefaultsToFiveWithoutWritingAndIsCached) {
  EXPECT_EQ(Globals::fontSizeFactor(), 5);
  EXPECT_FALSE(defaults().hasObjectForKey(Globals::kFontSizeFactorKey));
  // Another writer is not seen until the cache is gone (a restart).
  defaults().setInteger(6, Globals::kFontSizeFactorKey);
  EXPECT_EQ(Globals::fontSizeFactor(), 5);
  forgetCachedFontSizeFactor();
  EXPECT_EQ(Globals::fontSizeFactor(), 6);
}

TEST_F(GlobalsTest, StoredFontSizeFactorsOutsideTheRangeAreClampedOnReadButNotRewritten) {
  const std::pair<qint64, int> cases[] = {{9, 7}, {0, 3}, {-4, 3}, {3, 3}, {7, 7}, {(qint64(1) << 32) + 4, 4}};
  for (auto [stored, expected] : cases) {
    defaults().setInteger(stored, Globals::kFontSizeFactorKey);
    forgetCachedFontSizeFactor();
    EXPECT_EQ(Globals::fontSizeFactor(), expected) << stored;
    EXPECT_EQ(defaults().integerForKey(Globals::kFontSizeFactorKey), stored);
  }
}

TEST_F(GlobalsTest, ChangingTheFontSizeFactorClampsStoresAndAlwaysPosts) {
  Globals::changeFontSizeFactor(10);
  EXPECT_EQ(defaults().integerForKey(Globals::kFontSizeFactorKey), 7);
  EXPECT_EQ(Globals::fontSizeFactor(), 7);
  EXPECT_EQ(mPosted, 1);
  Globals::changeFontSizeFactor(7);
  EXPECT_EQ(mPosted, 2);
  Globals::changeFontSizeFactor(-100);
  EXPECT_EQ(Globals::fontSizeFactor(), 3);
  ASSERT_TRUE(defaults().flush());
  EXPECT_EQ(platform::UserDefaults(defaults().filePath()).integerForKey(Globals::kFontSizeFactorKey), 3);
}

TEST_F(GlobalsTest, HighContrastPostsOnlyOnChange) {
  EXPECT_FALSE(Globals::highContrastText());
  Globals::setHighContrastText(false);
  EXPECT_EQ(mPosted, 0);
  Globals::setHighContrastText(true);
  EXPECT_TRUE(Globals::highContrastText());
  EXPECT_EQ(mPosted, 1);
  Globals::setHighContrastText(true);
  EXPECT_EQ(mPosted, 1);
  // Never cached: an outside write is seen at once.
  defaults().setBool(false, Globals::kHighContrastKey);
  EXPECT_FALSE(Globals::highContrastText());
}

TEST_F(GlobalsTest, StorageChoicesAreStoredAtOnce) {
  EXPECT_FALSE(Globals::userHasOptedForICloud());
  EXPECT_FALSE(Globals::userHasOptedForDropbox());
  Globals::optForDropbox(true);
  EXPECT_TRUE(Globals::userHasOptedForDropbox());
  EXPECT_FALSE(Globals::userHasOptedForICloud());
  ASSERT_TRUE(defaults().flush());
  EXPECT_TRUE(platform::UserDefaults(defaults().filePath()).boolForKey(Globals::kDropboxStorageChoiceKey));
  Globals::optForICloud(true);
  EXPECT_TRUE(Globals::userHasOptedForICloud());
}

TEST(GlobalsStringsTest, HyphenationPointsAreDroppedOrBroken) {
  const QString word = "Entwicklungs//umgebung";
  EXPECT_EQ(Globals::normalLocalizedStringForKey("No.Such.Key", word), "Entwicklungsumgebung");
  EXPECT_EQ(Globals::narrowLocalizedStringForKey("No.Such.Key", word), "Entwicklungs-\numgebung");
  EXPECT_EQ(Globals::normalUppercaseStringForKey("No.Such.Key", word), "ENTWICKLUNGSUMGEBUNG");
  EXPECT_EQ(Globals::normalLocalizedStringForKey("No.Such.Key", "a///b"), "a/b");
  EXPECT_EQ(Globals::normalLocalizedStringForKey("mac:Error:FailedToOpenFile", "x"), "Failed to open file");
  // Locale-independent: the dotted i stays a plain I.
  EXPECT_EQ(Globals::normalUppercaseStringForKey("No.Such.Key", "istanbul"), "ISTANBUL");
}

TEST(GlobalsStringsTest, InstanceMarkAndTime) {
  const QString mark = Globals::appInstance();
  EXPECT_TRUE(mark.startsWith("MAC_"));
  EXPECT_EQ(mark.section('.', 1).size(), 6);
  EXPECT_EQ(Globals::appInstance(), mark);
  EXPECT_EQ(Globals::currentTimeMillis() % 1000, 0);
}

TEST(GlobalsLookTest, NamedColoursAndFonts) {
  EXPECT_EQ(Globals::colorGrayD7DEE4(), QColor(215, 222, 228));
  EXPECT_EQ(Globals::colorBrightGreen(), QColor(32, 228, 191));
  EXPECT_EQ(Globals::colorGray23(), QColor(57, 58, 58));
  EXPECT_NEAR(Globals::colorGray95().redF(), 0.95, 1e-4);
  EXPECT_NEAR(Globals::colorNiceGreen().greenF(), 0.812, 1e-4);
  EXPECT_EQ(Globals::colorBlack(), QColor(Qt::black));
  EXPECT_EQ(Globals::colorWhite(), QColor(Qt::white));
  EXPECT_EQ(Globals::colorWhite().alphaF(), 1.0);

  LogCapture log;
  const QFont medium = Globals::fontAvenirMedium(17);
  EXPECT_EQ(QFontInfo(medium).family(), platform::mappedFontFamily("Avenir Medium"));
  EXPECT_DOUBLE_EQ(medium.pointSizeF(), 17);
  EXPECT_TRUE(Globals::fontAvenirOblique(12).italic());
  EXPECT_EQ(QFontInfo(Globals::fallbackFont(12)).family(), platform::mappedFontFamily("Helvetica"));
  EXPECT_TRUE(log.lines().isEmpty());
  EXPECT_GE(Globals::screenScale(), 1.0);
  EXPECT_TRUE(Globals::isUserIdle());
}

class RecordingDelegate : public orrery::ApplicationDelegate {
 public:
  void addNewRecentDocumentURL(const QUrl&) override {}
  bool canWeSafelyDeleteIdea(const QString&, const QString&) override { return true; }
  bool isFileCurrentlyOpen(const QUrl&) override { return false; }
  void markPersistentAppStateDirty() override { ++dirty; }
  void openDocumentInNewWindow(const QString&, const QString&) override {}
  int dirty = 0;
};

TEST(GlobalsAppTest, MarkingStateDirtyReachesTheDelegateWhenThereIsOne) {
  Globals::markPersistentAppStateDirty();  // no delegate yet: nothing happens
  RecordingDelegate delegate;
  Globals::setApp(&delegate);
  EXPECT_EQ(Globals::app(), &delegate);
  Globals::markPersistentAppStateDirty();
  EXPECT_EQ(delegate.dirty, 1);
  Globals::setApp(nullptr);
}

}  // namespace
