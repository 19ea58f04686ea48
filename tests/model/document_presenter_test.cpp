#include "document_test_support.h"
#include "rerun_this_program.h"

#include "model/idea_document.h"
#include "model/persistence_controller.h"

#include "foundation/globals.h"
#include "platform/core/notification_center.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace orrery;
using testsupport::spinUntil;

namespace {

constexpr char kPathVariable[] = "ORRERY_TEST_WRITER_PATH";
constexpr char kModeVariable[] = "ORRERY_TEST_WRITER_MODE";

DocumentToken openThroughFacade(const std::shared_ptr<IdeaDocument>& doc) {
  DocumentToken token = -1;
  PersistenceController::singleton().openDocument(doc, [&](DocumentToken t) { token = t; });
  EXPECT_TRUE(spinUntil([&] { return token >= 0; }));
  return token;
}

bool saveThroughFacade(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
  int result = -1;
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { result = ok; });
  EXPECT_TRUE(spinUntil([&] { return result >= 0; }));
  return result == 1;
}

// The test binary itself, run again as another instance of the application.
QProcess* startWriter(const QString& path, const char* mode) {
  auto* process = new QProcess();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(kPathVariable, path);
  env.insert(kModeVariable, mode);
  // Run as a shard of a shuffled run, the child would look for its one test in that shard only.
  env.remove("GTEST_TOTAL_SHARDS");
  env.remove("GTEST_SHARD_INDEX");
  process->setProcessEnvironment(env);
  process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process->start(QCoreApplication::applicationFilePath(), {"--gtest_filter=DocumentWriterProcess.Run"});
  return process;
}

std::shared_ptr<IdeaDocument> createLocal(const QString& path, orrery::IdeaPtr idea, DocumentToken* tokenOut) {
  auto doc = PersistenceController::singleton().documentForIdentifier("file://" + path);
  doc->setIdea(std::move(idea));
  DocumentToken token = -1;
  PersistenceController::singleton().createDocument(doc, [&](DocumentToken t) { token = t; });
  EXPECT_TRUE(spinUntil([&] { return token >= 0; }));
  *tokenOut = token;
  return doc;
}

// True while `pid` holds an unnamed file being written in `folder` (how a save stages the new
// content before it takes the old file's place).
bool isWritingInto(pid_t pid, const QString& folder) {
  const QString fds = QString("/proc/%1/fd").arg(pid);
  const QByteArray staged = QFile::encodeName(folder + "/#");
  for (const QString& fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    char target[4096];
    const ssize_t n = ::readlink(QFile::encodeName(fds + "/" + fd).constData(), target, sizeof target - 1);
    if (n > 0 && QByteArray(target, n).startsWith(staged)) return true;
  }
  return false;
}

}  // namespace

// The second instance: opens the document named by the environment and saves it once, or
// saves a big map over and over until it is killed.
TEST(DocumentWriterProcess, Run) {
  const QString path = qEnvironmentVariable(kPathVariable);
  if (path.isEmpty()) GTEST_SKIP() << "runs only as the second process of the change tests";
  testsupport::QtMainQueueScope mainQueue;
  auto doc = PersistenceController::singleton().documentForIdentifier("file://" + path);
  const DocumentToken token = openThroughFacade(doc);
  ASSERT_GE(token, 1);
  if (qEnvironmentVariable(kModeVariable) == "loop") {
    // Pictures make each write long and each encoding short, so the killer catches one soon.
    doc->setIdea(testsupport::makeTree(3000, 40));
    for (int n = 1;; ++n) {
      doc->idea()->setText(QString("version %1").arg(n));
      ASSERT_TRUE(saveThroughFacade(doc, token));
      std::printf("saved\n");  // tells the parent how far it has come
      std::fflush(stdout);
    }
  }
  doc->idea()->setText(qEnvironmentVariable(kModeVariable));
  ASSERT_TRUE(saveThroughFacade(doc, token));
}

TEST(DocumentChanges, AnotherInstancesSaveIsAnnouncedOnceAndOurOwnIsNot) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("shared é map.orrery");
  DocumentToken token;
  auto doc = createLocal(path, testsupport::makeTree(50), &token);
  ASSERT_GE(token, 1);
  int announced = 0;
  platform::ObserverScope observer;
  observer.observe(IdeaDocumentChangedNotification, doc.get(), [&](const platform::Notification&) { announced++; });

  doc->idea()->setText("our own save");
  ASSERT_TRUE(saveThroughFacade(doc, token));
  std::unique_ptr<QProcess> writer(startWriter(path, "from the other instance"));
  ASSERT_TRUE(writer->waitForFinished(60000));
  ASSERT_EQ(writer->exitCode(), 0);
  ASSERT_TRUE(spinUntil([&] { return announced >= 1; }));
  testsupport::drainEvents();
  EXPECT_EQ(announced, 1);
  EXPECT_EQ(doc->idea()->text(), "from the other instance");
  EXPECT_NE(doc->appInstance(), Globals::appInstance());

  // A change that no longer decodes keeps what we have and announces nothing.
  ASSERT_TRUE(testsupport::writeAll(dir.filePath("broken"), "not a document"));
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::rename(dir.filePath("broken"), path));
  ASSERT_TRUE(spinUntil([&] { return !doc->lastUserFriendlyError().isEmpty(); }));
  testsupport::drainEvents();
  EXPECT_EQ(announced, 1);
  EXPECT_EQ(doc->idea()->text(), "from the other instance");
}

TEST(DocumentChanges, KilledWriterLeavesTheOldFileWhole) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString folder = QDir(dir.path()).canonicalPath();
  const QString path = folder + "/big map.orrery";
  DocumentToken token;
  auto doc = createLocal(path, testsupport::makeTree(100, 2), &token);
  ASSERT_GE(token, 1);
  std::unique_ptr<QProcess> writer(startWriter(path, "loop"));
  ASSERT_TRUE(writer->waitForStarted());
  const pid_t pid = writer->processId();
  // Kill it while it is writing: between creating the new content and replacing the file. The
  // search is bounded by the writer's own progress (it reports each finished save), not by time.
  constexpr int kMaxSaves = 400;
  int saves = 0;
  bool caught = false;
  while (!caught && writer->state() == QProcess::Running && saves < kMaxSaves) {
    caught = isWritingInto(pid, folder);
    if (caught) ::kill(pid, SIGKILL);
    writer->waitForReadyRead(0);
    while (writer->canReadLine()) saves += writer->readLine().startsWith("saved");
  }
  ASSERT_TRUE(caught);
  writer->waitForFinished();
  auto reader = IdeaDocument::createWithIdentifier(doc->docIdentifier());
  int read = -1;
  reader->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { read = ok; });
  ASSERT_TRUE(spinUntil([&] { return read >= 0; }));
  ASSERT_EQ(read, 1);
  const QString text = reader->idea()->text();
  EXPECT_TRUE(text == "Root of a big map" || text.startsWith("version ")) << text.toStdString();
}

TEST(DocumentChanges, FailedWritesLeaveTheOldFileAndReportFailure) {
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("map.orrery");
  DocumentToken token;
  auto doc = createLocal(path, testsupport::makeTree(20), &token);
  ASSERT_GE(token, 1);
  const QByteArray before = testsupport::readAll(path);

  // A disk that fills up: no file of the process may grow beyond the old file's size.
  doc->setIdea(testsupport::makeTree(20000));
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = before.size() + 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = saveThroughFacade(doc, token);
  int exported = -1;
  doc->writeToLocalFileAt(QUrl::fromLocalFile(path), [&](bool ok) { exported = ok; });
  const bool exportDone = spinUntil([&] { return exported >= 0; });
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved);
  ASSERT_TRUE(exportDone);
  EXPECT_EQ(exported, 0);
  EXPECT_EQ(testsupport::readAll(path), before);

  int intoMissingFolder = -1;
  doc->writeToLocalFileAt(QUrl::fromLocalFile(dir.filePath("no such folder/x.orrery")),
                          [&](bool ok) { intoMissingFolder = ok; });
  ASSERT_TRUE(spinUntil([&] { return intoMissingFolder >= 0; }));
  EXPECT_EQ(intoMissingFolder, 0);
}

TEST(DocumentChanges, WritingToALocalFileReplacesItInsteadOfTruncatingIt) {
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("export.orrery");
  ASSERT_TRUE(testsupport::writeAll(path, "the user's old file"));
  // A reader holding the old file keeps seeing it whole while the new one is written.
  const int oldFd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
  ASSERT_GE(oldFd, 0);
  auto doc = IdeaDocument::createWithFileName("x.orrx", DocumentLocationDropbox);
  doc->setIdea(testsupport::makeTree(300));
  int written = -1;
  doc->writeToLocalFileAt(QUrl::fromLocalFile(path), [&](bool ok) { written = ok; });
  ASSERT_TRUE(spinUntil([&] { return written >= 0; }));
  EXPECT_EQ(written, 1);
  char buffer[64] = {};
  EXPECT_EQ(::pread(oldFd, buffer, sizeof buffer, 0), ssize_t(strlen("the user's old file")));
  EXPECT_STREQ(buffer, "the user's old file");
  ::close(oldFd);
  auto back = IdeaDocument::createWithFileName("y.orrx", DocumentLocationDropbox);
  ASSERT_TRUE(back->loadFromOrreryData(testsupport::readAll(path)));
  EXPECT_EQ(testsupport::treeSignature(back->idea()), testsupport::treeSignature(doc->idea()));
}
