// Saves of temporary and local documents: off the main thread, merged while one runs, drained
// at quit, refused rather than written without the folder lock, failures explained, and save
// temporaries of killed writers cleaned up.

#include "document_test_support.h"

#include "model/document_file_writer.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/persistence_controller.h"

#include "foundation/logging.h"
#include "platform/services/file_coordinator.h"
#include "platform/services/file_coordinator_testing.h"
#include "platform/services/process_lock.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orrery;
using testsupport::spinUntil;

namespace {


std::shared_ptr<IdeaDocument> createLocal(const QString& path, IdeaPtr idea, DocumentToken* tokenOut) {
  auto doc = PersistenceController::singleton().documentForIdentifier("file://" + path);
  doc->setIdea(std::move(idea));
  DocumentToken token = -1;
  PersistenceController::singleton().createDocument(doc, [&](DocumentToken t) { token = t; });
  EXPECT_TRUE(spinUntil([&] { return token >= 0; }));
  *tokenOut = token;
  return doc;
}

// The root text of the document file at `path`, or "(unreadable)".
QString rootTextOnDisk(const QString& path) {
  auto reader = IdeaDocument::createWithFileName("reader.orrx", DocumentLocationDropbox);
  if (!reader->loadFromOrreryData(testsupport::readAll(path))) return "(unreadable)";
  return reader->idea()->text();
}

// Holds the persistence queue until released, so that saves queue up behind it.
class QueueGate {
 public:
  QueueGate() {
    PersistenceController::singleton().workQueue().async([future = mRelease.get_future().share()] { future.wait(); });
  }
  ~QueueGate() { release(); }
  void release() {
    if (!mReleased) mRelease.set_value();
    mReleased = true;
  }

 private:
  std::promise<void> mRelease;
  bool mReleased = false;
};

class RecordingListener : public PersistenceControllerListener {
 public:
  explicit RecordingListener(std::vector<QString>& events) : mEvents(events) {}
  void documentUpdated(const std::shared_ptr<IdeaProxy>& proxy) override {
    mEvents.push_back("updated " + proxy->docIdentifier());
  }

 private:
  std::vector<QString>& mEvents;
};

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override { folder = QDir(dir.path()).canonicalPath(); }
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  QString folder;
};

}  // namespace

TEST_F(SaveTest, SavesAskedWhileOneRunsMergeAndAreAnnouncedBeforeTheirCompletion) {
  DocumentToken token;
  auto doc = createLocal(folder + "/merge.orrery", testsupport::makeTree(200), &token);
  ASSERT_GE(token, 1);
  std::vector<QString> events;
  auto listener = std::make_shared<RecordingListener>(events);
  PersistenceController::singleton().addListener(listener);

  QueueGate gate;
  int done = 0;
  doc->idea()->setText("first");
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { events.push_back(ok ? "done 1" : "failed 1"), done++; });
  // The main thread is not held by the save: it goes on editing the tree meanwhile.
  doc->idea()->setText("second");
  doc->idea()->addIdea(Idea::createWithText("added while the first save waits"));
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { events.push_back(ok ? "done 2" : "failed 2"), done++; });
  doc->idea()->setText("third");
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { events.push_back(ok ? "done 3" : "failed 3"), done++; });
  gate.release();
  ASSERT_TRUE(spinUntil([&] { return done == 3; }));
  PersistenceController::singleton().removeListener(listener.get());

  const QString updated = "updated " + doc->docIdentifier();
  // Two writes: the first save's, then one for the two asked meanwhile.
  EXPECT_EQ(events, (std::vector<QString>{updated, "done 1", updated, "done 2", "done 3"}));
  EXPECT_EQ(rootTextOnDisk(doc->filePath()).toStdString(), "third");
  EXPECT_FALSE(doc->isSaving());
}

// The second save is queued when asked for, so it reaches the file though the main thread never
// hears that the first ended; it starts from what the first wrote, which is no other instance's
// change: a value undone between the two stays undone. A real other instance's write between
// them is still merged.
TEST_F(SaveTest, ASaveAskedWhileOneRunsIsQueuedAtOnceAndStartsFromTheFirstsFile) {
  for (const bool otherInstance : {false, true}) {
    SCOPED_TRACE(otherInstance ? "another instance writes between" : "undone between");
    IdeaPtr root = Idea::createWithText("root", "r");
    root->addIdea(Idea::createWithText("a", "a"));
    root->addIdea(Idea::createWithText("b", "b"));
    DocumentToken token;
    auto doc = createLocal(folder + (otherInstance ? "/other.orrery" : "/undone.orrery"), root, &token);
    ASSERT_GE(token, 1);
    const QString path = doc->filePath();
    auto textIn = [](const IdeaPtr& tree, const char* id) {
      const IdeaPtr idea = tree ? tree->findIdeaInSubTreeWithIdentifier(id) : nullptr;
      return idea ? idea->text().toStdString() : std::string("(none)");
    };
    int done = 0;
    auto& queue = PersistenceController::singleton().workQueue();
    {
      QueueGate gate;
      doc->idea()->findIdeaInSubTreeWithIdentifier("a")->setText("changed");
      PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { done += ok; });
      if (otherInstance)
        queue.async([&] {
          auto other = IdeaDocument::createWithFileName("other.orrx", DocumentLocationDropbox);
          if (!other->loadFromOrreryData(testsupport::readAll(path))) return;
          other->idea()->findIdeaInSubTreeWithIdentifier("b")->setText("b by them");
          writeFileReplacing(path, other->exportAsOrreryData());
        });
      doc->idea()->findIdeaInSubTreeWithIdentifier("a")->setText("a");
      PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { done += ok; });
    }
    // The main thread is held until the queue has run dry.
    std::promise<void> ran;
    queue.async([&] { ran.set_value(); });
    ASSERT_EQ(ran.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const IdeaPtr onDisk = IdeaDocument::treeFromFileBytes(testsupport::readAll(path), true);
    EXPECT_EQ(textIn(onDisk, "a"), "a") << "the undone value came back";
    EXPECT_EQ(textIn(onDisk, "b"), otherInstance ? "b by them" : "b");
    ASSERT_TRUE(spinUntil([&] { return done == 2; }));
    EXPECT_TRUE(doc->takeMergeConflicts().empty());
    EXPECT_EQ(textIn(doc->idea(), "a"), "a");
    EXPECT_EQ(textIn(doc->idea(), "b"), otherInstance ? "b by them" : "b");
    PersistenceController::singleton().releaseDocument(doc, token, nullptr);
  }
}

TEST_F(SaveTest, ASaveWritesTheTreeAsItWasWhenAskedForNotAsItIsWhenWritten) {
  DocumentToken token;
  auto doc = createLocal(folder + "/snapshot.orrery", testsupport::makeTree(50), &token);
  ASSERT_GE(token, 1);
  QueueGate gate;
  int saved = -1;
  doc->idea()->setText("as asked");
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { saved = ok; });
  doc->idea()->setText("changed afterwards");
  for (int i = 0; i < 100; ++i) doc->idea()->addIdea(Idea::createWithText(QString("late %1").arg(i)));
  gate.release();
  ASSERT_TRUE(spinUntil([&] { return saved >= 0; }));
  EXPECT_EQ(saved, 1);
  auto reader = IdeaDocument::createWithFileName("r.orrx", DocumentLocationDropbox);
  ASSERT_TRUE(reader->loadFromOrreryData(testsupport::readAll(doc->filePath())));
  EXPECT_EQ(reader->idea()->text(), "as asked");
  EXPECT_EQ(reader->idea()->calculateWholeTreeSize(), 50);
}

TEST_F(SaveTest, DrainingAtQuitPutsEverySaveAskedForOnDisk) {
  DocumentToken token;
  auto doc = createLocal(folder + "/quit.orrery", testsupport::makeTree(30), &token);
  ASSERT_GE(token, 1);
  QueueGate gate;
  doc->idea()->setText("first");
  PersistenceController::singleton().saveDocument(doc, token, nullptr);
  doc->idea()->setText("last words");
  PersistenceController::singleton().saveDocument(doc, token, nullptr);
  gate.release();
  PersistenceController::singleton().drainSaves();
  EXPECT_EQ(rootTextOnDisk(doc->filePath()), "last words");
  ASSERT_TRUE(spinUntil([&] { return !doc->isSaving(); }));
}

TEST_F(SaveTest, ALockedFolderFailsTheSaveWithAReasonAndTheEditStays) {
  DocumentToken token;
  const QString path = folder + "/locked.orrery";
  auto doc = createLocal(path, testsupport::makeTree(20), &token);
  ASSERT_GE(token, 1);
  const QByteArray before = testsupport::readAll(path);
  platform::setFolderLockPatienceForTesting(std::chrono::milliseconds(30));
  int saved = -1;
  {
    // Another instance holds the folder (a lock on its own open file, as a process would).
    platform::ProcessLock otherInstance(folder);
    ASSERT_TRUE(otherInstance.isLocked());
    doc->idea()->setText("edit made while the folder is locked");
    PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { saved = ok; });
    ASSERT_TRUE(spinUntil([&] { return saved >= 0; }));
  }
  platform::setFolderLockPatienceForTesting(std::chrono::seconds(5));
  EXPECT_EQ(saved, 0);
  EXPECT_EQ(testsupport::readAll(path), before);
  EXPECT_TRUE(doc->lastUserFriendlyError().contains("could not be saved")) << doc->lastUserFriendlyError().toStdString();
  EXPECT_EQ(doc->idea()->text(), "edit made while the folder is locked");

  saved = -1;
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { saved = ok; });
  ASSERT_TRUE(spinUntil([&] { return saved >= 0; }));
  EXPECT_EQ(saved, 1);
  EXPECT_EQ(rootTextOnDisk(path), "edit made while the folder is locked");
}

TEST_F(SaveTest, AFailedWriteIsLoggedWithThePathAndTheSystemsReason) {
  DocumentToken token;
  const QString path = folder + "/full disk.orrery";
  auto doc = createLocal(path, testsupport::makeTree(20), &token);
  ASSERT_GE(token, 1);
  QStringList logged;
  LogSink previous = setLogSink([&](const QString& line) { logged << line; });
  doc->setIdea(testsupport::makeTree(5000));
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int saved = -1;
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { saved = ok; });
  const bool finished = spinUntil([&] { return saved >= 0; });
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  setLogSink(previous);
  ASSERT_TRUE(finished);
  EXPECT_EQ(saved, 0);
  const QString reason = QString::fromLocal8Bit(strerror(EFBIG));
  EXPECT_TRUE(doc->lastUserFriendlyError().contains(reason)) << doc->lastUserFriendlyError().toStdString();
  EXPECT_TRUE(logged.filter(path).filter(reason).size() == 1) << logged.join('\n').toStdString();
  // Nothing of the failed attempt is left beside the document.
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"full disk.orrery"});
}

TEST_F(SaveTest, SaveTemporariesOfWritersThatAreGoneAreRemovedAtTheNextOpen) {
  DocumentToken token;
  const QString path = folder + "/kept [1].orrery";
  auto doc = createLocal(path, testsupport::makeTree(20), &token);
  ASSERT_GE(token, 1);
  bool released = false;
  PersistenceController::singleton().releaseDocument(doc, token, [&](bool) { released = true; });
  ASSERT_TRUE(released);

  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  const QString prefix = folder + "/.kept [1].orrery.orrery-save-";
  const QString stale = prefix + QString::number(gone) + "-x1";
  const QString ours = prefix + QString::number(getpid()) + "-x2";  // a live writer's
  const QString otherDocument = folder + "/.other.orrery.orrery-save-" + QString::number(gone) + "-x3";
  for (const QString& p : {stale, ours, otherDocument}) ASSERT_TRUE(testsupport::writeAll(p, "half a save"));

  auto reopened = PersistenceController::singleton().documentForIdentifier("file://" + path);
  DocumentToken again = -1;
  PersistenceController::singleton().openDocument(reopened, [&](DocumentToken t) { again = t; });
  ASSERT_TRUE(spinUntil([&] { return again >= 0; }));
  EXPECT_GE(again, 1);
  EXPECT_FALSE(QFileInfo::exists(stale));
  EXPECT_TRUE(QFileInfo::exists(ours));
  EXPECT_TRUE(QFileInfo::exists(otherDocument));
  PersistenceController::singleton().releaseDocument(reopened, again, nullptr);
}

// A writer killed at any moment of a save, or of a create that does not wait for the disk:
// the file always holds the old or the new content whole (or, for a create, is not there yet),
// and the next read leaves no save temporary behind.
TEST_F(SaveTest, WritersKilledDuringSavesLeaveTheOldOrTheNewFile) {
  const QString path = folder + "/killed.orrery";
  auto version = [](const QString& text) {
    auto doc = IdeaDocument::createWithFileName("v.orrx", DocumentLocationDropbox);
    doc->setIdea(testsupport::makeTree(3000));
    doc->idea()->setText(text);
    return doc->exportAsOrreryData();
  };
  const QByteArray old = version("old"), fresh = version("new");
  std::mt19937 rng(12);
  for (const bool creates : {false, true}) {
    SCOPED_TRACE(creates ? "creates without waiting for the disk" : "replacing saves");
    ASSERT_EQ(writeFileReplacing(path, old), FileWriteResult::Written);
    for (int round = 0; round < 100; ++round) {
      const pid_t writer = fork();
      if (writer == 0) {
        for (int n = 0;; ++n) {
          const QByteArray& bytes = n % 2 ? old : fresh;
          if (!creates) {
            writeFileReplacing(path, bytes);
            continue;
          }
          QFile::remove(path);
          writeFileExclusively(path, bytes, nullptr, /*waitForDisk=*/false);
        }
      }
      ASSERT_GT(writer, 0);
      ::usleep(rng() % 3000);
      ::kill(writer, SIGKILL);
      ASSERT_EQ(waitpid(writer, nullptr, 0), writer);
      auto reader = IdeaDocument::createWithIdentifier("file://" + path);
      int read = -1;
      reader->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { read = ok; });
      ASSERT_TRUE(spinUntil([&] { return read >= 0; }));
      const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
      if (creates && !QFile::exists(path)) {
        ASSERT_EQ(read, 0);
        ASSERT_TRUE(left.isEmpty()) << "round " << round;
        continue;
      }
      ASSERT_EQ(read, 1) << "round " << round;
      ASSERT_TRUE(reader->idea()->text() == "old" || reader->idea()->text() == "new");
      ASSERT_EQ(left, QStringList{"killed.orrery"}) << "round " << round;
    }
  }
}
