#include "model/queued_file_work.h"

#include "model/idea.h"
#include "model/document_open_failure.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/index_json_document.h"
#include "support/virtual_main_queue.h"

#include "rerun_this_program.h"

#include "platform/core/dispatch.h"
#include "platform/core/quit_waiters.h"
#include "platform/core/writes_under_way.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <thread>

#include <unistd.h>

using namespace orrery;
using orrery::testing::VirtualMainQueue;

namespace {

constexpr char kExitReadPathVariable[] = "ORRERY_TEST_EXIT_READ_PATH";
constexpr char kEndStuckVariable[] = "ORRERY_TEST_END_STUCK";

// The exiting child's queued read waits for this, which only its exit handler releases.
std::promise<void> gReleaseAtExit;
std::atomic<bool> gQueuedReadDone{false};

void releaseQueuedReadAtExit() {
  gReleaseAtExit.set_value();
  while (!gQueuedReadDone.load()) std::this_thread::yield();
}

QByteArray bytesOf(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A document file on disk, read and written through documents that own their work queue, as
// the cloud locations' documents do. Each test ends the quit it began, so the tests after it
// read again.
class QuitAndDocumentFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    path = dir.filePath("map.orrery");
    auto writer = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
    writer->setIdea(Idea::createWithText("on disk"));
    int written = -1;
    writer->writeToLocalFileAt(QUrl::fromLocalFile(path), [&](bool ok) { written = ok; });
    ASSERT_TRUE(main.runUntil([&] { return written >= 0; }));
    ASSERT_EQ(written, 1);
  }
  void TearDown() override { QueuedFileWork::reopen(); }

  // Holds `queue` with a task of its own until the returned promise is kept.
  static std::promise<void> hold(platform::Queue& queue) {
    std::promise<void> release;
    queue.async([held = release.get_future().share()] { held.wait(); });
    return release;
  }

  // Runs the quit's wait on a thread of its own (the main thread must stay free) and returns
  // once it has begun; `afterwards` runs on that thread right after the wait.
  std::thread beginQuit(std::function<void()> afterwards) {
    std::thread quit([this, afterwards = std::move(afterwards)] {
      quitEmptied = QueuedFileWork::finishForQuit();
      if (afterwards) afterwards();
    });
    EXPECT_TRUE(main.runUntil([] { return QueuedFileWork::quitBegun(); }));
    return quit;
  }

  VirtualMainQueue main;
  QTemporaryDir dir;
  QString path;
  std::atomic<bool> quitEmptied{false};
};

}  // namespace

// The exit must not find a worker decoding (the JSON parser's tables are statics the exit
// destroys): reads still queued when the quit begins touch no file and answer NO, as cancelled
// rather than unreadable, and the quit does not wait for them nor for what is queued ahead.
TEST_F(QuitAndDocumentFiles, ReadsNotStartedWhenTheQuitBeginsAreDroppedAsCancelled) {
  auto doc = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  std::promise<void> release = hold(doc->workQueue());
  int result = -1;
  doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { result = ok; });
  DocumentToken token = -1;
  auto opened = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  opened->setWorkQueue(&doc->workQueue());
  opened->openFromURL(QUrl::fromLocalFile(path), [&](DocumentToken t) { token = t; });
  auto index = IndexJSONDocument::createWithFileURL(QUrl::fromLocalFile(path), doc->workQueue());
  auto kept = std::make_shared<IdeaProxy>();
  kept->setDocIdentifier("dropbox:/kept.orrx");
  index->setIdeaProxyList({kept});
  std::optional<DocumentError> indexError;
  index->readJSONWithCompletionHandler([&](bool ok, const DocumentError& e) { indexError = ok ? DocumentError{} : e; });

  EXPECT_TRUE(QueuedFileWork::finishForQuit());
  release.set_value();
  ASSERT_TRUE(main.runUntil([&] { return result >= 0 && token >= 0 && indexError; }));
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(doc->idea()) << "nothing was read";
  EXPECT_EQ(token, 0);
  EXPECT_FALSE(opened->isOpen());
  for (const auto* d : {doc.get(), opened.get()}) {
    EXPECT_TRUE(d->lastError().isCancelled());
    EXPECT_EQ(documentOpenFailure(path, d->lastError(), d->lastUserFriendlyError()), MyResult::USER_CANCEL())
        << "a dropped read is no unreadable map";
  }
  EXPECT_TRUE(indexError->isCancelled());
  ASSERT_EQ(index->ideaProxyList().size(), 1u) << "a dropped index read keeps the list";
  EXPECT_EQ(index->ideaProxyList().front(), kept);

  // Once reopened, the same read goes through.
  QueuedFileWork::reopen();
  result = -1;
  doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { result = ok; });
  ASSERT_TRUE(main.runUntil([&] { return result >= 0; }));
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(doc->idea());
  EXPECT_EQ(doc->idea()->text(), "on disk");
}

// The reads come back only when the main queue turns after the quit's waiter: the quit that
// ends the program never lets it turn again.
TEST_F(QuitAndDocumentFiles, ReadsComeBackOnlyWhenTheMainQueueTurnsAfterTheQuit) {
  platform::runQuitWaiters();
  EXPECT_TRUE(QueuedFileWork::quitBegun());
  main.runPending();
  EXPECT_FALSE(QueuedFileWork::quitBegun());
}

// A save asked for before the quit is on disk when the quit's wait returns, however long it
// waited behind other work on its queue.
TEST_F(QuitAndDocumentFiles, TheQuitWaitsForTheSavesQueuedBeforeIt) {
  auto doc = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  DocumentToken token = -1;
  doc->openFromURL(QUrl::fromLocalFile(path), [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
  ASSERT_GE(token, 1);
  const QByteArray before = bytesOf(path);
  doc->idea()->setText("saved at quit");
  std::promise<void> release = hold(doc->workQueue());
  doc->updateWithToken(token, nullptr);

  std::atomic<bool> savedWhenQuitReturned{false};
  std::thread quit = beginQuit([&] { savedWhenQuitReturned = bytesOf(path) != before; });
  release.set_value();
  quit.join();
  EXPECT_TRUE(quitEmptied);
  EXPECT_TRUE(savedWhenQuitReturned) << "the quit returned before the save was written";
  main.runPending();
  doc->closeWithToken(token, nullptr);

  // A queue destroyed with a write still waiting gives its count back: the quit does not wait.
  {
    platform::SerialQueue dropping("dropping");
    dropping.suspend();
    QueuedFileWork::async(dropping, QueuedFileWork::Kind::Write, [](bool) {});
  }
  EXPECT_TRUE(QueuedFileWork::finishForQuit());
}

// Run only as the child of the test below: ends its process while a read waits on a document's
// own queue, as a search's read of a cloud document may when the program ends.
TEST(ExitWithAQueuedReadProcess, Run) {
  const QString path = qEnvironmentVariable(kExitReadPathVariable);
  if (path.isEmpty()) GTEST_SKIP() << "runs only as the child of the exit test";
  // Registered before the JSON parser's first use, so it runs after the exit destroyed the
  // parser's statics.
  std::atexit(releaseQueuedReadAtExit);
  VirtualMainQueue main;
  // Never destroyed, nor its queue: the read is still queued when the process exits. Held by a
  // static, so the leak checker sees it reachable.
  static const auto* const held =
      new std::shared_ptr<IdeaDocument>(IdeaDocument::createWithFileName(path, DocumentLocationLocalFile));
  const auto& doc = *held;
  int first = -1;
  doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { first = ok; });
  ASSERT_TRUE(main.runUntil([&] { return first >= 0; }));
  ASSERT_EQ(first, 1);
  doc->workQueue().async([held = gReleaseAtExit.get_future().share()] { held.wait(); });
  doc->readFromURL(QUrl::fromLocalFile(path), nullptr);
  doc->workQueue().async([] { gQueuedReadDone = true; });
}

TEST_F(QuitAndDocumentFiles, AProcessEndsCleanlyWithADocumentReadStillQueued) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  const auto child = testsupport::rerunThisProgram("ExitWithAQueuedReadProcess.Run", {{kExitReadPathVariable, path}});
  ASSERT_TRUE(child.finished);
  EXPECT_TRUE(child.exitedNormally) << child.output;
  EXPECT_EQ(child.exitCode, 0) << child.output;
  EXPECT_NE(child.output.find("[  PASSED  ] 1 test"), std::string::npos) << child.output;
}

// Run only as the child of the test below: ends the writes for good, as a quit signal the main
// loop did not take does, with a save queued behind work that never ends.
TEST(EndWithASaveStuckProcess, Run) {
  if (qEnvironmentVariable(kEndStuckVariable).isEmpty()) GTEST_SKIP() << "runs only as the child of the end test";
  // Never destroyed: its thread is still waiting when the process exits.
  static auto* const queue = new platform::SerialQueue("stuck");
  queue->async([] {
    for (;;) ::pause();
  });
  static std::atomic<bool> ran{false};
  QueuedFileWork::async(*queue, QueuedFileWork::Kind::Write, [](bool) { ran = true; });
  const platform::WritesWaitedFor waited = platform::closeWritesAndWait(std::chrono::milliseconds(100));
  EXPECT_EQ(waited.count, 1) << "the save queued is waited for";
  EXPECT_EQ(waited.unfinished, 1);
  EXPECT_GE(waited.waited.count(), 100);
  EXPECT_FALSE(ran);
  // Ended as the watch ends the program: the test main's quit would wait for the stuck save.
  std::fflush(stdout);
  std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
}

// A queue that never reaches its save does not hold the end beyond its patience.
TEST(EndWithASaveStuck, TheEndWaitsNoLongerThanItsPatience) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  const auto child = testsupport::rerunThisProgram("EndWithASaveStuckProcess.Run", {{kEndStuckVariable, "1"}});
  ASSERT_TRUE(child.finished) << child.output;
  EXPECT_EQ(child.exitCode, 0) << child.output;
  EXPECT_NE(child.output.find("[ RUN      ] EndWithASaveStuckProcess.Run"), std::string::npos) << child.output;
}
