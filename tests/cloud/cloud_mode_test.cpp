#include "cloud/cloud_mode.h"

#include "../foundation/log_capture.h"
#include "cloud_container_fixture.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/index_document.h"
#include "model/persistence_controller.h"
#include "model/support/recording_workspace_delegate.h"
#include "model/support/virtual_main_queue.h"
#include "model/workspace.h"
#include "platform/cloud/file_version.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/services/file_coordinator_testing.h"
#include "platform/services/process_lock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

using namespace orrery;
using testsupport::CloudContainerFixture;

namespace {

// What an engine reports, one line each.
class EngineRecorder final : public PersistenceStateDelegate {
 public:
  void statusChange(std::int64_t code, PersistenceState*) override {
    events << QString("status %1").arg(code);
    if (onStatus) onStatus(code);
  }
  void observeProxyList(const ProxyList& proxies, PersistenceState*) override {
    events << QString("list %1").arg(proxies.size());
    lastList = proxies;
  }
  void observeIdeaProxy(const IdeaProxyPtr&, PersistenceState*) override {
    if (onProxy) onProxy();
  }
  void foundIdeaDocument(const QString& docIdentifier, PersistenceState*) override {
    events << "found " + docIdentifier;
    if (onFound) onFound();
  }
  int count(const QString& event) const { return int(events.count(event)); }
  // The first status since the events were cleared: a listing may still arrive from a read
  // that was under way.
  QString firstStatus() const {
    const QStringList statuses = events.filter(QRegularExpression(QStringLiteral("^status ")));
    return statuses.isEmpty() ? QString() : statuses.first();
  }
  QStringList found() const { return events.filter("found "); }

  QStringList events;
  ProxyList lastList;
  std::function<void()> onFound;
  std::function<void()> onProxy;
  std::function<void(std::int64_t)> onStatus;
};

class CloudModeTest : public ::testing::Test {
 protected:
  std::shared_ptr<CloudMode> start() {
    mode = CloudMode::create();
    mode->setDelegate(recorder);
    return mode;
  }
  bool waitFor(const QString& event) {
    return main.runUntil([&] { return recorder->events.contains(event); });
  }
  // Lets the worker threads and the work queue finish what they were given.
  void settle() {
    for (int i = 0; i < 3; ++i) {
      PersistenceController::singleton().workQueue().drain();
      main.loop->runUntil([] { return false; }, platform::Millis(30));
    }
  }
  bool fileOpenable(const QString& identifier) {
    DocumentToken got = -1;
    auto doc = IdeaDocument::createWithIdentifier(identifier);
    mode->openDocument(doc, [&](DocumentToken token) { got = token; });
    main.runUntil([&] { return got >= 0; });
    if (got > 0) mode->closeDocument(doc, got, nullptr);
    return got > 0;
  }

  // The root idea's text of the iCloud document file at `path`; empty when unreadable.
  QString textOf(const QString& path) {
    auto doc = IdeaDocument::createWithFileName(QFileInfo(path).fileName(), DocumentLocationICloud);
    int read = -1;
    doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { read = ok; });
    main.runUntil([&] { return read >= 0; });
    return read == 1 && doc->idea() ? doc->idea()->text() : QString();
  }

  orrery::testing::VirtualMainQueue main;
  std::shared_ptr<EngineRecorder> recorder = std::make_shared<EngineRecorder>();
  std::shared_ptr<CloudMode> mode;
};

void setModified(const QString& path, qint64 secondsSince1970) {
  struct utimbuf times {
    secondsSince1970, secondsSince1970
  };
  ::utime(QFile::encodeName(path).constData(), &times);
}

// Two machines' Documents folders kept in step as a folder-sync tool does: a file changed on
// one side is copied to (or deleted on) the other; a document changed on both keeps the newer
// file and leaves the other beside it as a conflict copy, on both sides.
class FolderSync {
 public:
  FolderSync(QString a, QString b) : mA(std::move(a)), mB(std::move(b)) {}

  void run() {
    QSet<QString> names;
    for (const QString& folder : {mA, mB})
      for (const QString& name : QDir(folder).entryList(QDir::Files)) names.insert(name);
    for (const QString& name : mLast.keys()) names.insert(name);
    int conflicts = 0;
    for (const QString& name : names) {
      const QString pa = mA + "/" + name, pb = mB + "/" + name;
      const QByteArray a = QFileInfo::exists(pa) ? CloudContainerFixture::readFile(pa) : QByteArray();
      const QByteArray b = QFileInfo::exists(pb) ? CloudContainerFixture::readFile(pb) : QByteArray();
      const QByteArray last = mLast.value(name);
      if (a == b) {
        settle(name, a);
      } else if (b == last) {
        put(pb, a);
        settle(name, a);
      } else if (a == last) {
        put(pa, b);
        settle(name, b);
      } else {
        const bool aNewer = QFileInfo(pa).lastModified() >= QFileInfo(pb).lastModified();
        const QByteArray winner = aNewer ? a : b, loser = aNewer ? b : a;
        put(pa, winner);
        put(pb, winner);
        settle(name, winner);
        if (name.endsWith(".orrx") && !loser.isEmpty()) {
          const QString copy =
              QString("%1.sync-conflict-%2-%3.orrx").arg(name.chopped(5)).arg(++conflicts).arg(aNewer ? "B" : "A");
          put(mA + "/" + copy, loser);
          put(mB + "/" + copy, loser);
          settle(copy, loser);
        }
      }
    }
  }

 private:
  static void put(const QString& path, const QByteArray& content) {
    if (content.isEmpty())
      QFile::remove(path);
    else
      CloudContainerFixture::writeFile(path, content);
  }
  void settle(const QString& name, const QByteArray& content) {
    if (content.isEmpty())
      mLast.remove(name);
    else
      mLast.insert(name, content);
  }

  QString mA, mB;
  QHash<QString, QByteArray> mLast;
};

// Runs this test program again as a second instance on the container at `root`; its exit status.
// A plain fork and exec: the child runs nothing of ours before exec, which a sanitizer needs.
int runSecondInstance(const QString& root) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view text(*entry);
    // The second instance runs its one test whichever shard of a split run started it.
    if (text.starts_with("GTEST_TOTAL_SHARDS=") || text.starts_with("GTEST_SHARD_INDEX=") ||
        text.starts_with("GTEST_SHARD_STATUS_FILE=") || text.starts_with("ORRERY_CLOUD_CONTAINER="))
      continue;
    environment.emplace_back(text);
  }
  environment.push_back("ORRERY_CLOUD_SECOND_INSTANCE=1");
  environment.push_back("ORRERY_CLOUD_CONTAINER=" + root.toStdString());
  const std::string program = QCoreApplication::applicationFilePath().toStdString();
  std::vector<std::string> arguments = {program, "--gtest_filter=CloudModeSecondInstance.MakesADocument"};
  std::vector<char*> argv, envp;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  if (child < 0) return -1;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(CloudModeTest, StartsWithFoundDocumentsThenTheIndexListAndReady) {
  CloudContainerFixture container;
  const QStringList identifiers = container.addDocuments(3);
  CloudContainerFixture::writeFile(container.documentPath("notes.txt"), "not a document");
  start();
  ASSERT_TRUE(waitFor("status 5"));
  EXPECT_EQ(recorder->firstStatus(), "status 4");
  EXPECT_EQ(recorder->found(),
            QStringList({"found " + identifiers[0], "found " + identifiers[1], "found " + identifiers[2]}))
      << "once each, in name order; the index and other files are never reported";
  EXPECT_EQ(recorder->events.last(), "status 5");
  EXPECT_EQ(recorder->count("list 3"), 1);
  EXPECT_EQ(recorder->lastList.front()->docIdentifier(), identifiers[0]);
  EXPECT_TRUE(fileOpenable(identifiers[1]));
}

TEST_F(CloudModeTest, WorkspaceListsTheContainerAndItsIndexFollowsChanges) {
  CloudContainerFixture container;
  container.addDocuments(2);
  orrery::testing::RecordingWorkspaceDelegate screens;
  auto workspace = Workspace::create(CloudMode::create(), &screens);
  ASSERT_TRUE(main.runUntil([&] { return workspace->status() == WorkspaceStatusReady; }));
  ASSERT_TRUE(workspace->proxyListOrNilIfNotReady());
  EXPECT_EQ(workspace->proxyListOrNilIfNotReady()->size(), 2u);

  auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationICloud);
  doc->setIdea(Idea::createWithText("made here"));
  DocumentToken token = -1;
  workspace->createDocument(doc, 0, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
  ASSERT_GT(token, 0);
  EXPECT_TRUE(QFileInfo::exists(container.documentPath(doc->filePath())));
  // The index on disk now lists the new document first.
  IndexDocument index(QUrl::fromLocalFile(container.indexPath()));
  bool read = false;
  index.readBinaryWithCompletionHandler([&](bool ok) { read = ok; });
  ASSERT_TRUE(read);
  ASSERT_EQ(index.ideaProxyList().size(), 3u);
  EXPECT_EQ(index.ideaProxyList().front()->docIdentifier(), doc->docIdentifier());
  workspace->closeDocument(doc, token, nullptr);
  workspace->closeWorkspace();
}

TEST_F(CloudModeTest, AnEmptyContainerGetsItsIndexBeforeTheDocumentsAreLooked_for) {
  CloudContainerFixture container;
  start();
  ASSERT_TRUE(waitFor("status 5"));
  EXPECT_TRUE(QFileInfo::exists(container.indexPath()));
  EXPECT_EQ(recorder->events, QStringList({"status 4", "list 0", "status 5"}));
}

// Another instance holding the folder while the first index is made: the wait happens off
// the main thread, and the list says it is unavailable and the log why, instead of nothing.
TEST_F(CloudModeTest, AnIndexThatCannotBeMadeForAnotherInstancesLockIsReported) {
  CloudContainerFixture container;
  ASSERT_TRUE(QDir().mkpath(container.documents()));
  LogCapture log;
  platform::setFolderLockPatienceForTesting(std::chrono::milliseconds(50));
  {
    platform::ProcessLock otherInstance(container.documents());
    ASSERT_TRUE(otherInstance.isLocked());
    start();
    EXPECT_TRUE(waitFor("status 1"));
  }
  platform::setFolderLockPatienceForTesting(std::chrono::seconds(5));
  EXPECT_EQ(recorder->events, QStringList({"status 4", "status 1"}));
  EXPECT_FALSE(QFileInfo::exists(container.indexPath()));
  EXPECT_EQ(log.lines().filter("cannot write a new index").size(), 1) << log.lines().join("\n").toStdString();
  EXPECT_EQ(log.lines().filter("locked").size(), 1) << "the reason is in the line";
}

TEST_F(CloudModeTest, IdentityAppearingAndChangingDrivesTheLookup) {
  CloudContainerFixture container(/*makeRoot=*/false);
  start();
  settle();
  EXPECT_EQ(recorder->events, QStringList({"status 1"})) << "no account at start: unavailable, once listened to";
  EXPECT_TRUE(mode->cloudDocumentsFolder().isEmpty());
  recorder->events.clear();

  // The share holding the container is mounted: the next poll sees its identity.
  ASSERT_TRUE(QDir().mkpath(container.root()));
  ASSERT_TRUE(container.setIdentity(QUuid::createUuid().toString()));
  main.advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(waitFor("status 5"));
  EXPECT_EQ(recorder->firstStatus(), "status 4");
  EXPECT_EQ(mode->cloudDocumentsFolder(), container.documents());

  // Another account: unavailable, then the container is looked up again.
  recorder->events.clear();
  ASSERT_TRUE(container.setIdentity(QUuid::createUuid().toString()));
  main.advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(waitFor("status 4"));
  EXPECT_EQ(recorder->firstStatus(), "status 1");
}

// The account is the one the monitor read off the main thread; the mode never reads the
// container itself, where a hung mount would hang the program.
TEST_F(CloudModeTest, TheAccountFollowsWhatTheIdentityMonitorRead) {
  CloudContainerFixture container;
  start();
  ASSERT_TRUE(waitFor("status 4"));
  recorder->events.clear();
  platform::IdentityMonitor::setTokenReader([] { return QStringLiteral("account on the share"); });
  main.advance(platform::LocalFolderContainer::kPollSeconds);
  const bool followed = waitFor("status 4");
  platform::IdentityMonitor::setTokenReader({});
  ASSERT_TRUE(followed);
  EXPECT_EQ(recorder->firstStatus(), "status 1");
  EXPECT_EQ(CloudMode::currentCloudToken(), "account on the share");
}

// A file that cannot be read at all may read later (a folder in its place, a share that
// answers again): it is read again every three seconds, never replaced.
TEST_F(CloudModeTest, AnIndexThatCannotBeReadIsReadAgainEveryThreeSeconds) {
  CloudContainerFixture container;
  container.addDocuments(1, /*index=*/false);
  ASSERT_TRUE(QDir().mkpath(container.indexPath() + "/inside"));
  start();
  ASSERT_TRUE(waitFor("status 4"));
  settle();
  main.advance(CloudMode::kIndexRetrySeconds);
  settle();
  EXPECT_FALSE(recorder->events.contains("status 5"));
  EXPECT_TRUE(QFileInfo::exists(container.indexPath() + "/inside")) << "never replaced";

  ASSERT_TRUE(QDir(container.indexPath()).removeRecursively());
  ASSERT_TRUE(container.writeIndex());
  main.advance(CloudMode::kIndexRetrySeconds);
  ASSERT_TRUE(waitFor("status 5"));
  EXPECT_EQ(recorder->count("list 1"), 1);
}

TEST_F(CloudModeTest, AWalkReplacedByANewerQueryStopsSilently) {
  CloudContainerFixture container;
  container.addDocuments(30);
  // Mid-walk, another instance wrote the index: a fresh documents query replaces the walk.
  recorder->onFound = [&] {
    if (recorder->found().size() != 2) return;
    platform::NotificationCenter::defaultCenter().post(IndexDocumentChangedNotification,
                                                       mode->subscribedIndexDocument().get());
  };
  start();
  ASSERT_TRUE(waitFor("status 5"));
  settle();
  EXPECT_EQ(recorder->count("status 5"), 1);
  EXPECT_EQ(recorder->count("list 30"), 1);
  EXPECT_EQ(recorder->found().size(), 2 + 30) << "the old walk reports nothing after its second document";
}

TEST_F(CloudModeTest, LeavingStateWhileReportingADocumentEndsTheWalkThere) {
  CloudContainerFixture container;
  container.addDocuments(30);
  recorder->onFound = [&] { mode->leaveState(); };
  start();
  ASSERT_TRUE(waitFor("found " + IdeaDocument::docIdentifierFromPath("doc00000.orrx", DocumentLocationICloud)));
  settle();
  EXPECT_EQ(recorder->found().size(), 1);
  EXPECT_EQ(recorder->count("list 30"), 0);
}

TEST_F(CloudModeTest, NothingHappensAfterLeavingState) {
  CloudContainerFixture container;
  container.addDocuments(2, /*index=*/false);
  ASSERT_TRUE(QDir().mkpath(container.indexPath()));
  start();
  mode->leaveState();  // the container lookup is under way
  settle();
  main.advance(10);
  settle();
  EXPECT_TRUE(recorder->events.isEmpty());

  // Left while retrying the index, and while the queries run.
  for (bool goodIndex : {false, true}) {
    if (goodIndex) {
      QDir().rmdir(container.indexPath());
      container.writeIndex();
    }
    recorder->events.clear();
    recorder->onStatus = [&](std::int64_t code) {
      if (goodIndex && code == 4) mode->leaveState();
    };
    start();
    ASSERT_TRUE(waitFor("status 4"));
    settle();
    mode->leaveState();
    platform::NotificationCenter::defaultCenter().post(platform::kUbiquityIdentityDidChangeNotification);
    settle();
    main.advance(10);
    settle();
    EXPECT_EQ(recorder->events, QStringList({"status 4"}));
    EXPECT_TRUE(mode->cloudDocumentsFolder().isEmpty());
  }
}

TEST_F(CloudModeTest, HostileNamesAndIdentifiersReachNoFileOutsideDocuments) {
  CloudContainerFixture container;
  container.addDocuments(1);
  const QString outsideFile = container.root() + "/x.orrx";
  ASSERT_TRUE(CloudContainerFixture::writeFile(outsideFile, "outside"));
  QDir().mkpath(container.documentPath("folder.orrx"));
  QFile::link(outsideFile, container.documentPath("link.orrx"));
  CloudContainerFixture::writeFile(container.documentPath(".hidden.orrx"), "{}");
  LogCapture log;
  start();
  ASSERT_TRUE(waitFor("status 5"));
  EXPECT_EQ(recorder->found().size(), 1) << recorder->found().join(", ").toStdString();

  for (const QString& identifier : {QString("iCloud:/../x.orrx"), QString("iCloud:/sub/../../x.orrx"),
                                    QString("iCloud:/.hidden.orrx"), QString("iCloud:/x.txt"), QString("iCloud:/")}) {
    bool deleted = true;
    mode->deleteDocument(identifier, [&](bool ok) { deleted = ok; });
    EXPECT_FALSE(deleted) << identifier.toStdString();
    bool fetched = true;
    mode->fetchDocument(identifier, [&](const std::shared_ptr<IdeaDocument>& doc) { fetched = doc != nullptr; });
    EXPECT_FALSE(fetched) << identifier.toStdString();
    EXPECT_FALSE(fileOpenable(identifier));
  }
  settle();
  EXPECT_EQ(CloudContainerFixture::readFile(outsideFile), "outside");
  EXPECT_TRUE(log.lines().join('\n').contains("names no document file"));

  // Characters that mean something in a URL are plain name characters here.
  auto odd = IdeaDocument::createWithFileName("50% #1?.orrx", DocumentLocationICloud);
  odd->setIdea(Idea::createWithText("odd"));
  DocumentToken token = -1;
  mode->createDocument(odd, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
  EXPECT_GT(token, 0);
  EXPECT_TRUE(QFileInfo::exists(container.documentPath("50% #1?.orrx")));
  mode->closeDocument(odd, token, nullptr);
}

TEST_F(CloudModeTest, DeletingAnswersWhetherTheFileIsGone) {
  CloudContainerFixture container;
  const QStringList identifiers = container.addDocuments(2);
  start();
  ASSERT_TRUE(waitFor("status 5"));
  std::vector<int> answers;
  auto record = [&](bool ok) { answers.push_back(ok); };
  mode->deleteDocument(identifiers[0], record);
  mode->deleteDocument("iCloud:/never-there.orrx", record);
  ASSERT_TRUE(main.runUntil([&] { return answers.size() == 2; }));
  EXPECT_EQ(answers, std::vector<int>({1, 1}));
  EXPECT_FALSE(QFileInfo::exists(container.documentPath("doc00000.orrx")));

  // A file the folder will not give up: NO, and the file stays.
  const QString stuck = container.documentPath("doc00001.orrx");
  if (::geteuid() == 0) {
    // Permissions do not stop the superuser: a non-empty folder in the file's place does.
    QFile::remove(stuck);
    QDir().mkpath(stuck + "/inside");
  } else {
    ::chmod(QFile::encodeName(container.documents()).constData(), 0555);
  }
  mode->deleteDocument(identifiers[1], record);
  ASSERT_TRUE(main.runUntil([&] { return answers.size() == 3; }));
  ::chmod(QFile::encodeName(container.documents()).constData(), 0755);
  EXPECT_EQ(answers.back(), 0);
  EXPECT_TRUE(QFileInfo::exists(stuck));
}

TEST_F(CloudModeTest, SyncedConflictNewestWinsAndLocalContentBecomesANewDocument) {
  CloudContainerFixture container;
  const QString identifier = container.writeDocument("shared.orrx", "local edit");
  container.writeIndex();
  // Two machines changed the document; sync tools left their copies beside it.
  const QString older = container.documentPath("shared.sync-conflict-20261207-090000-MACHINEB.orrx");
  CloudContainerFixture::writeFile(older, CloudContainerFixture::documentBytes("shared.orrx", "older remote edit"));
  setModified(older, 1700000000);
  const QString newer = container.documentPath("shared (Machine C's conflicted copy 2026-12-07).orrx");
  CloudContainerFixture::writeFile(newer, CloudContainerFixture::documentBytes("shared.orrx", "newest remote edit"));
  setModified(newer, 1800000000);
  QDir().mkpath(container.root() + "/.versions/shared.orrx/junk-folder");

  orrery::testing::RecordingWorkspaceDelegate screens;
  auto workspace = Workspace::create(CloudMode::create(), &screens);
  ASSERT_TRUE(main.runUntil([&] { return workspace->status() == WorkspaceStatusReady; }));
  ASSERT_EQ(workspace->proxyListOrNilIfNotReady()->size(), 1u) << "conflict copies are versions, not documents";
  const IdeaProxyPtr proxy = workspace->findProxy(identifier);
  ASSERT_TRUE(proxy);
  const auto newest = workspace->findConflictingVersion(proxy);
  ASSERT_TRUE(newest);
  EXPECT_TRUE(newest->path().contains("Machine C"));

  int result = -1;
  workspace->handleConflictForProxy(proxy, [&](bool ok, auto&&) { result = ok; });
  ASSERT_TRUE(main.runUntil([&] { return result >= 0; }));
  EXPECT_EQ(result, 1);
  EXPECT_EQ(textOf(container.documentPath("shared.orrx")), "newest remote edit");
  EXPECT_FALSE(workspace->findConflictingVersion(proxy)) << "no version left unresolved";
  EXPECT_EQ(workspace->proxyListOrNilIfNotReady()->size(), 3u) << "every version is listed";
  EXPECT_EQ(workspace->findProxy(identifier)->text(), "newest remote edit") << "the tile shows the file's content";
  // The local content and the older version live on in new document files.
  QStringList texts;
  for (const QString& name : QDir(container.documents()).entryList({"id*.orrx"}, QDir::Files))
    texts << textOf(container.documentPath(name));
  texts.sort();
  EXPECT_EQ(texts, QStringList({"local edit", "older remote edit"}));
  workspace->closeWorkspace();
}

TEST_F(CloudModeTest, AFailingReplaceKeepsEveryVersionAndTakesBackTheCopy) {
  CloudContainerFixture container;
  const QString identifier = container.writeDocument("shared.orrx", "local edit");
  container.writeIndex();
  start();
  ASSERT_TRUE(waitFor("status 5"));
  // The newest version is gone by the time it would take the file (a sync tool took it back).
  const QString versions = container.root() + "/.versions/shared.orrx";
  QDir().mkpath(versions);
  CloudContainerFixture::writeFile(versions + "/newest.orrx", CloudContainerFixture::documentBytes("shared.orrx", "newest"));
  setModified(versions + "/newest.orrx", 1800000000);
  CloudContainerFixture::writeFile(versions + "/older.orrx", CloudContainerFixture::documentBytes("shared.orrx", "older"));
  setModified(versions + "/older.orrx", 1600000000);
  recorder->onProxy = [&] { QFile::remove(versions + "/newest.orrx"); };
  const QStringList before = QDir(container.documents()).entryList(QDir::Files);

  auto proxy = std::make_shared<IdeaProxy>();
  proxy->setDocIdentifier(identifier);
  int result = -1;
  mode->handleConflictForProxy(proxy, [&](bool ok, auto&&) { result = ok; });
  ASSERT_TRUE(main.runUntil([&] { return result >= 0; }));
  EXPECT_EQ(result, 0);
  settle();
  EXPECT_EQ(QDir(container.documents()).entryList(QDir::Files), before)
      << "the copy made for the local content is gone";
  EXPECT_EQ(platform::FileVersion::unresolvedConflictVersionsOfItemAtURL(container.documentPath("shared.orrx")).size(),
            1u);
  EXPECT_EQ(textOf(container.documentPath("shared.orrx")), "local edit");

  // Nothing to settle: NO, nothing touched.
  auto plain = std::make_shared<IdeaProxy>();
  plain->setDocIdentifier(container.writeDocument("calm.orrx", "calm"));
  result = -1;
  mode->handleConflictForProxy(plain, [&](bool ok, auto&&) { result = ok; });
  EXPECT_EQ(result, 0);
}

// Run only as the second instance started by the test below: makes one document through its
// own engine in the container the first instance uses, then ends.
TEST(CloudModeSecondInstance, MakesADocument) {
  if (qEnvironmentVariable("ORRERY_CLOUD_SECOND_INSTANCE") != "1") GTEST_SKIP() << "only as a second instance";
  orrery::testing::VirtualMainQueue main;
  orrery::testing::RecordingWorkspaceDelegate screens;
  auto workspace = Workspace::create(CloudMode::create(), &screens);
  ASSERT_TRUE(main.runUntil([&] { return workspace->status() == WorkspaceStatusReady; }));
  auto doc = IdeaDocument::createWithFileName("from-the-other-instance.orrx", DocumentLocationICloud);
  doc->setIdea(Idea::createWithText("other instance"));
  DocumentToken token = -1;
  workspace->createDocument(doc, 0, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
  ASSERT_GT(token, 0);
  workspace->closeDocument(doc, token, nullptr);
  main.runPending();
  workspace->closeWorkspace();
}

TEST_F(CloudModeTest, ADocumentMadeByAnotherInstanceIsListedHere) {
  CloudContainerFixture container;
  container.addDocuments(2);
  orrery::testing::RecordingWorkspaceDelegate screens;
  auto workspace = Workspace::create(CloudMode::create(), &screens);
  ASSERT_TRUE(main.runUntil([&] { return workspace->status() == WorkspaceStatusReady; }));
  ASSERT_EQ(workspace->proxyListOrNilIfNotReady()->size(), 2u);

  ASSERT_EQ(runSecondInstance(container.root()), 0);
  ASSERT_TRUE(QFileInfo::exists(container.documentPath("from-the-other-instance.orrx")));

  // The next look at the container finds the index rewritten by another instance.
  main.advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(main.runUntil([&] { return workspace->findProxy("iCloud:/from-the-other-instance.orrx") != nullptr; }));
  EXPECT_EQ(workspace->proxyListOrNilIfNotReady()->size(), 3u);
  workspace->closeWorkspace();
}

TEST_F(CloudModeTest, TwoMachinesEditingOneDocumentConvergeWithBothContentsKept) {
  CloudContainerFixture machineA;
  const QString identifier = machineA.writeDocument("shared.orrx", "first");
  machineA.writeIndex();
  QTemporaryDir machineB;
  const QString documentsB = machineB.filePath("Documents");
  QDir().mkpath(documentsB);
  FolderSync sync(machineA.documents(), documentsB);
  sync.run();

  orrery::testing::RecordingWorkspaceDelegate screens;
  auto workspace = Workspace::create(CloudMode::create(), &screens);
  ASSERT_TRUE(main.runUntil([&] { return workspace->status() == WorkspaceStatusReady; }));
  // Both machines edit the document while apart; B's edit is the later one.
  const auto doc = workspace->findDocument(identifier);
  ASSERT_TRUE(doc);
  DocumentToken token = -1;
  workspace->openDocument(doc, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
  doc->setIdea(Idea::createWithText("edit on A"));
  int saved = -1;
  workspace->updateDocument(doc, token, [&](bool ok) { saved = ok; });
  ASSERT_TRUE(main.runUntil([&] { return saved >= 0; }));
  ASSERT_EQ(saved, 1);
  workspace->closeDocument(doc, token, nullptr);
  CloudContainerFixture::writeFile(documentsB + "/shared.orrx",
                                   CloudContainerFixture::documentBytes("shared.orrx", "edit on B"));
  setModified(documentsB + "/shared.orrx", QDateTime::currentSecsSinceEpoch() + 100);
  sync.run();

  // A looks at its container again: the sync tool's copy becomes a version of the document.
  recorder->events.clear();
  auto* mode = dynamic_cast<CloudMode*>(workspace->currentState().get());
  ASSERT_TRUE(mode && mode->subscribedIndexDocument());
  platform::NotificationCenter::defaultCenter().post(IndexDocumentChangedNotification,
                                                     mode->subscribedIndexDocument().get());
  const IdeaProxyPtr proxy = workspace->findProxy(identifier);
  ASSERT_TRUE(main.runUntil([&] { return workspace->findConflictingVersion(proxy) != nullptr; }));
  int settled = -1;
  workspace->handleConflictForProxy(proxy, [&](bool ok, auto&&) { settled = ok; });
  ASSERT_TRUE(main.runUntil([&] { return settled >= 0; }));
  ASSERT_EQ(settled, 1);
  EXPECT_FALSE(workspace->findConflictingVersion(proxy));

  QStringList texts;
  for (const QString& name : QDir(machineA.documents()).entryList({"*.orrx"}, QDir::Files))
    texts << textOf(machineA.documentPath(name));
  texts.sort();
  EXPECT_EQ(texts, QStringList({"edit on A", "edit on B"})) << "nothing lost, no copy left in Documents";

  // The next sync carries the settled state to B: both machines hold the same documents.
  sync.run();
  EXPECT_EQ(QDir(documentsB).entryList({"*.orrx"}, QDir::Files),
            QDir(machineA.documents()).entryList({"*.orrx"}, QDir::Files));
  for (const QString& name : QDir(documentsB).entryList({"*.orrx"}, QDir::Files))
    EXPECT_EQ(CloudContainerFixture::readFile(documentsB + "/" + name),
              CloudContainerFixture::readFile(machineA.documentPath(name)));
  workspace->closeWorkspace();
}
