#include "document_test_support.h"

#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"

#include "platform/services/file_coordinator.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace orrery;
using testsupport::spinUntil;

namespace {

// Holds a file's coordination on a thread of its own, as a long read or write elsewhere would,
// until released (or, should the caller be stuck behind it, for at most a few seconds).
class HeldFile {
 public:
  explicit HeldFile(const QString& path) {
    std::promise<void> taken;
    auto isTaken = taken.get_future();
    mThread = std::thread([this, path, taken = std::move(taken)]() mutable {
      platform::FileCoordinator().coordinateReading(path, [&](const QString&) {
        taken.set_value();
        if (mRelease.wait_for(std::chrono::seconds(5)) != std::future_status::ready) mGaveUp = true;
      });
    });
    isTaken.wait();
  }
  ~HeldFile() {
    release();
    mThread.join();
  }
  void release() {
    if (!mReleased.exchange(true)) mReleasePromise.set_value();
  }
  // True once the holder stopped waiting on its own: someone was stuck behind it meanwhile.
  bool gaveUp() const { return mGaveUp; }

 private:
  std::promise<void> mReleasePromise;
  std::shared_future<void> mRelease = mReleasePromise.get_future().share();
  std::atomic<bool> mReleased{false};
  std::atomic<bool> mGaveUp{false};
  std::thread mThread;
};

class DocumentReads : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    path = dir.filePath("map.orrery");
    auto writer = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
    writer->setIdea(testsupport::makeTree(50));
    writer->idea()->setText("on disk");
    int written = -1;
    writer->writeToLocalFileAt(QUrl::fromLocalFile(path), [&](bool ok) { written = ok; });
    ASSERT_TRUE(spinUntil([&] { return written >= 0; }));
    ASSERT_EQ(written, 1);
  }

  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  QString path;
};

}  // namespace

// Every way into a document file returns at once while the file is busy: the reading and
// decoding wait on the work queue, and the result reaches the document on the main queue.
TEST_F(DocumentReads, ReadsAndOpensLeaveTheCallingThreadWhileTheFileIsBusy) {
  const QUrl url = QUrl::fromLocalFile(path);
  auto read = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  auto opened = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  read->setWorkQueue(&PersistenceController::singleton().workQueue());
  int readResult = -1;
  DocumentToken token = -1;
  {
    HeldFile busy(path);
    read->readFromURL(url, [&](bool ok) { readResult = ok; });
    opened->openFromURL(url, [&](DocumentToken t) { token = t; });
    EXPECT_EQ(readResult, -1);
    EXPECT_EQ(token, -1);
    EXPECT_FALSE(read->idea()) << "nothing is taken over before the main queue turns";
    busy.release();
    ASSERT_TRUE(spinUntil([&] { return readResult >= 0 && token >= 0; }));
    EXPECT_FALSE(busy.gaveUp()) << "the calls waited for the file on the calling thread";
  }
  EXPECT_EQ(readResult, 1);
  ASSERT_TRUE(read->idea());
  EXPECT_EQ(read->idea()->text(), "on disk");
  ASSERT_GE(token, 1);
  ASSERT_TRUE(opened->idea());
  EXPECT_EQ(opened->idea()->text(), "on disk");
  // What was read is the base a later save merges against: saving now changes nothing else.
  opened->idea()->setText("saved");
  int saved = -1;
  opened->updateWithToken(token, [&](bool ok) { saved = ok; });
  ASSERT_TRUE(spinUntil([&] { return saved >= 0; }));
  EXPECT_EQ(saved, 1);
  EXPECT_TRUE(opened->takeMergeConflicts().empty());
  opened->closeWithToken(token, nullptr);
}

// The reasons a caller shows come back with the result, and a reader that lets its document
// go meanwhile still hears how the read ended.
TEST_F(DocumentReads, FailedReadsKeepTheirReasonAndEveryReadCompletes) {
  const QString damaged = dir.filePath("damaged.orrery");
  {
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a document");
  }
  auto doc = IdeaDocument::createWithFileName(damaged, DocumentLocationLocalFile);
  int result = -1;
  doc->readFromURL(QUrl::fromLocalFile(damaged), [&](bool ok) { result = ok; });
  ASSERT_TRUE(spinUntil([&] { return result >= 0; }));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(doc->lastError().code, kDocumentErrorInvalidFormat);
  EXPECT_FALSE(doc->lastUserFriendlyError().isEmpty());
  EXPECT_FALSE(doc->idea());

  int late = -1;
  {
    auto dropped = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
    dropped->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { late = ok; });
  }
  ASSERT_TRUE(spinUntil([&] { return late >= 0; }));
  EXPECT_EQ(late, 1);
}
