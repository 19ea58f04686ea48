#include "platform/services/file_coordinator.h"
#include "platform/services/file_presenter.h"

#include "model/support/virtual_main_queue.h"
#include "support/files.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <thread>

#include <gtest/gtest.h>

namespace {

using testsupport::writeFile;

class CountingPresenter final : public platform::FilePresenter {
 public:
  explicit CountingPresenter(QString path) : mPath(std::move(path)) {}
  QString presentedItemPath() const override { return mPath; }
  void presentedItemDidChange() override { ++changes; }
  int changes = 0;

 private:
  QString mPath;
};

// A presented file in a fresh folder, with the main queue run by the test.
class PresentedFileRecheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeFile(path, "first"));
    platform::FileCoordinator::addFilePresenter(&presenter);
  }
  void TearDown() override {
    platform::FileCoordinator::removeFilePresenter(&presenter);
    main.runPending();
  }

  orrery::testing::VirtualMainQueue main;
  QTemporaryDir dir;
  const QString path = dir.filePath("shared.orrx");
  CountingPresenter presenter{path};
};

}  // namespace

// A network file system sends no change notices: the container's poll re-stats presented files.
TEST_F(PresentedFileRecheckTest, AChangeNoNoticeReportedIsFoundByTheRecheck) {
  platform::FilePresenterRegistry::shared().recheckAll();
  main.runPending();
  EXPECT_EQ(presenter.changes, 0) << "nothing changed";

  ASSERT_TRUE(writeFile(path, "changed elsewhere, and longer"));
  platform::FilePresenterRegistry::shared().recheckAll();
  main.runPending();
  EXPECT_EQ(presenter.changes, 1);
  platform::FilePresenterRegistry::shared().recheckAll();
  main.runPending();
  EXPECT_EQ(presenter.changes, 1) << "told once per change";

  // A file that went away is nothing to re-read.
  QFile::remove(path);
  platform::FilePresenterRegistry::shared().recheckAll();
  main.runPending();
  EXPECT_EQ(presenter.changes, 1);
}

// The container polls on a worker thread. Everything it hands the main thread goes through the
// main queue (a locked list and a wake-up), never through Qt's event queue, which a poll still
// running at exit would write into while Qt frees it.
TEST_F(PresentedFileRecheckTest, APollOnAnotherThreadHandsTheMainThreadItsWorkOnlyThroughTheMainQueue) {
  main.runPending();

  ASSERT_TRUE(writeFile(path, "changed elsewhere, and longer"));
  std::thread poll([] { platform::FilePresenterRegistry::shared().recheckAll(); });
  poll.join();
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(presenter.changes, 0) << "nothing reaches the main thread before its queue runs";
  EXPECT_EQ(main.runPending(), 2) << "the change and the file's new watch, both on the main queue";
  EXPECT_EQ(presenter.changes, 1);
}
