#include "platform/services/file_coordinator.h"
#include "platform/services/file_presenter.h"

#include "file_test_support.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;
using testsupport::spinUntil;

namespace {

class CountingPresenter : public FilePresenter {
 public:
  explicit CountingPresenter(QString path) : mPath(std::move(path)) { FileCoordinator::addFilePresenter(this); }
  ~CountingPresenter() override { FileCoordinator::removeFilePresenter(this); }
  QString presentedItemPath() const override { return mPath; }
  void presentedItemDidChange() override { changes++; }
  int changes = 0;

 private:
  QString mPath;
};

bool replaceByRename(const QString& path, const QByteArray& bytes) {
  QSaveFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
}

bool rewriteInPlace(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

class FilePresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    path = dir.filePath("map one.orrery");
    ASSERT_TRUE(replaceByRename(path, "first"));
  }
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  QString path;
};

}  // namespace

TEST_F(FilePresenterTest, ForeignReplaceAndInPlaceWritesAreEachReportedOnce) {
  CountingPresenter presenter(path);
  ASSERT_TRUE(replaceByRename(path, "second, longer"));
  ASSERT_TRUE(spinUntil([&] { return presenter.changes >= 1; }));
  // The watch must survive the replace: an in-place write after it is seen too.
  ASSERT_TRUE(rewriteInPlace(path, "third"));
  ASSERT_TRUE(spinUntil([&] { return presenter.changes >= 2; }));
  ASSERT_TRUE(replaceByRename(path, "fourth"));
  ASSERT_TRUE(spinUntil([&] { return presenter.changes >= 3; }));
  testsupport::drainEvents();
  EXPECT_EQ(presenter.changes, 3);
}

TEST_F(FilePresenterTest, OwnCoordinatedWritesAreNotEchoedButOthersAre) {
  CountingPresenter mine(path);
  CountingPresenter other(dir.path() + "/./" + "map one.orrery");
  FileCoordinator tied(&mine);
  bool wrote = false;
  ASSERT_TRUE(tied.coordinateWriting(path, [&](const QString& p) { wrote = replaceByRename(p, "own write"); }));
  ASSERT_TRUE(wrote);
  // The other presenter of the same file hears of it; ours does not, not even through the
  // watcher once its events arrive.
  ASSERT_TRUE(spinUntil([&] { return other.changes == 1; }));
  ASSERT_TRUE(replaceByRename(path, "foreign write"));
  ASSERT_TRUE(spinUntil([&] { return mine.changes >= 1; }));
  testsupport::drainEvents();
  EXPECT_EQ(mine.changes, 1);
  EXPECT_EQ(other.changes, 2);
}

TEST_F(FilePresenterTest, UnregisteredPresenterHearsNothingAndDeletionIsNotAChange) {
  {
    // Gone before the watcher's report of this write is delivered: the report must not reach
    // it (the sanitizer build would see the call).
    CountingPresenter gone(path);
    ASSERT_TRUE(replaceByRename(path, "while registered"));
  }
  CountingPresenter watcher(path);
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(replaceByRename(path, "back again"));
  ASSERT_TRUE(spinUntil([&] { return watcher.changes >= 1; }));
  testsupport::drainEvents();
  EXPECT_EQ(watcher.changes, 1);
}

TEST(FileCoordinationKey, SpellingsOfOneFileShareAKey) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
  ASSERT_TRUE(QFile::link(dir.filePath("real"), dir.filePath("alias")));
  const QString viaAlias = coordinationKey(dir.filePath("alias/new file ü.orrery"));
  EXPECT_EQ(viaAlias, coordinationKey(dir.filePath("real/new file ü.orrery")));
  EXPECT_TRUE(viaAlias.endsWith("/real/new file ü.orrery"));
  EXPECT_TRUE(coordinationKey("not/absolute").isEmpty());
}
