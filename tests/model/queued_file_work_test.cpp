#include "model/queued_file_work.h"

#include "model/idea.h"
#include "model/idea_document.h"
#include "support/virtual_main_queue.h"

#include "platform/core/dispatch.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace orrery;
using orrery::testing::VirtualMainQueue;

namespace {

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
// destroys): reads still queued when the quit begins touch no file and answer NO, and the
// quit returns once the queue has let them go, also when a queue drops them undone.
TEST_F(QuitAndDocumentFiles, ReadsNotStartedWhenTheQuitBeginsAreDropped) {
  auto doc = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  std::promise<void> release = hold(doc->workQueue());
  int result = -1;
  doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { result = ok; });

  std::thread quit = beginQuit(nullptr);
  release.set_value();
  quit.join();
  EXPECT_TRUE(quitEmptied);
  ASSERT_TRUE(main.runUntil([&] { return result >= 0; }));
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(doc->idea()) << "nothing was read";

  // A queue destroyed with a counted read still waiting gives it back: the quit does not wait.
  {
    platform::SerialQueue dropping("dropping");
    dropping.suspend();
    QueuedFileWork::async(dropping, QueuedFileWork::Kind::Read, [](bool) {});
  }
  EXPECT_TRUE(QueuedFileWork::finishForQuit());

  // Once reopened, the same read goes through.
  QueuedFileWork::reopen();
  result = -1;
  doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { result = ok; });
  ASSERT_TRUE(main.runUntil([&] { return result >= 0; }));
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(doc->idea());
  EXPECT_EQ(doc->idea()->text(), "on disk");
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
}
