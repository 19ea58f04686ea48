#include "cloud/dropbox_folder_manager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <future>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "../foundation/log_capture.h"
#include "cloud/cloud_engines.h"
#include "cloud/dropbox_sync_rules.h"
#include "model/document_limits.h"
#include "model/queued_file_work.h"
#include "model/support/recording_workspace_delegate.h"
#include "model/workspace.h"
#include "platform/core/notification_center.h"
#include "support/dropbox_engine_fixture.h"

using namespace orrery;
using namespace orrery::testing;
using testsupport::FakeRemote;
using Route = FakeRemote::Route;
using Fault = FakeRemote::Fault;

TEST_F(DropboxEngineTest, FirstStartMakesStatusAndEmptyIndexUploadsItAndReportsZeroThreeFourFive) {
  auto engine = startEngine();
  ASSERT_TRUE(settle());
  auto disk = statusOnDisk(*engine);
  ASSERT_TRUE(disk);
  EXPECT_TRUE(disk->docs().isEmpty());
  EXPECT_TRUE(remote->file("/orrery.index")) << "the new empty index was added to the app folder";
  EXPECT_EQ(recorders[0]->events.filter("list ").value(0), "list 0");
  // 0 (start, before the workspace listened), 3 on the first answer, 4 as the index goes up,
  // 5 on the answer after it.
  EXPECT_EQ(recorders[0]->statuses, std::vector<std::int64_t>({3, 4, 5}));
  EXPECT_EQ(engine->lastCommunicatedStatus(), 5u);
}

TEST_F(DropboxEngineTest, SaveCompletesOnlyOnceTheStatusFileNamesItsMirrorFileThenReachesTheAppFolder) {
  auto engine = startEngine();
  ASSERT_TRUE(settle());
  DocumentToken token = -1;
  std::shared_ptr<DropboxFolderManagerState> atCompletion;
  engine->createDocument(documentWithText("dropbox:/id1_1.orrx", "first"), [&](DocumentToken t) {
    token = t;
    atCompletion = statusOnDisk(*engine);
  });
  ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
  EXPECT_EQ(token, 1);
  ASSERT_TRUE(atCompletion);
  const auto record = atCompletion->docs().value("dropbox:/id1_1.orrx");
  ASSERT_TRUE(record) << "a kill right after the completion must find the edit named";
  ASSERT_TRUE(SyncFileInfo::hasFile(record->output()));
  EXPECT_TRUE(QFileInfo::exists(engine->localManagedFile(record->output()->name())));

  ASSERT_TRUE(settle());
  // With the main thread held from the call on, the save's file and a status naming it are
  // written all the same; the task, in its turn, writes no file again and completes once its
  // own status write is done. A delete asked for just before does not outlast the save.
  const QStringList before = QDir(engine->localManagedFolder()).entryList({"*.orrx"}, QDir::Files);
  const QString statusPath = engine->localManagedFile(DropboxFolderManagerState::kStatusFileName);
  std::shared_ptr<DropboxFolderManagerState> whileHeld;
  const auto heldNamed = [&] {
    whileHeld = statusOnDisk(*engine);
    const auto named = whileHeld ? whileHeld->docs().value("dropbox:/id1_1.orrx") : nullptr;
    if (!named || !SyncFileInfo::hasFile(named->output())) return false;
    QFile file(engine->localManagedFile(named->output()->name()));
    return file.open(QIODevice::ReadOnly) && textOfDocumentBytes(file.readAll()) == "held";
  };
  // A file's place and change time: another write replaces it.
  const auto stamp = [](const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::string();
    return std::to_string(st.st_ino) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
           std::to_string(st.st_ctim.tv_nsec);
  };
  int held = -1;
  std::string statusAtCompletion;
  QString recordAtCompletion;
  engine->deleteDocument("dropbox:/id1_1.orrx", nullptr);
  engine->updateDocument(documentWithText("dropbox:/id1_1.orrx", "held"), 1, [&](bool ok) {
    held = ok;
    statusAtCompletion = stamp(statusPath);
    // Sent meanwhile, perhaps: then the current version.
    const auto record = engine->state().docs().value("dropbox:/id1_1.orrx");
    recordAtCompletion = (record->output() ? record->output() : record->current())->name();
  });
  QElapsedTimer waited;
  waited.start();
  while ((!heldNamed() || engine->isBusyOffMainThread()) && waited.elapsed() < 20000) std::this_thread::yield();
  ASSERT_TRUE(heldNamed()) << "no status names the save's file while the main thread is held";
  ASSERT_FALSE(engine->isBusyOffMainThread());
  EXPECT_EQ(held, -1);
  const QString heldFile = engine->localManagedFile(whileHeld->docs().value("dropbox:/id1_1.orrx")->output()->name());
  const std::string fileWritten = stamp(heldFile), statusWhileHeld = stamp(statusPath);
  ASSERT_TRUE(main.runUntil([&] { return held >= 0; }));
  EXPECT_EQ(held, 1);
  QStringList made = QDir(engine->localManagedFolder()).entryList({"*.orrx"}, QDir::Files);
  for (const QString& name : before) made.removeAll(name);
  EXPECT_EQ(made, QStringList{QFileInfo(heldFile).fileName()}) << "the task wrote another file";
  EXPECT_EQ(stamp(heldFile), fileWritten) << "the file was written again";
  EXPECT_NE(statusAtCompletion, statusWhileHeld) << "the save completed before the task's status write";
  EXPECT_EQ(recordAtCompletion, QFileInfo(heldFile).fileName());

  EXPECT_TRUE(update(*engine, "dropbox:/id1_1.orrx", "second"));
  EXPECT_EQ(fetchText(*engine, "dropbox:/id1_1.orrx"), "second") << "a fetch reads the newest local edit";
  ASSERT_TRUE(settle());
  EXPECT_EQ(textOfDocumentBytes(remote->contentOf("/id1_1.orrx")), "second");
  EXPECT_EQ(engine->state().docs().value("dropbox:/id1_1.orrx")->current()->rev(), remote->revOf("/id1_1.orrx"));

  // A failed write completes NO and leaves the record alone.
  const QString dir = engine->localManagedFolder();
  ASSERT_TRUE(QDir().rename(dir, dir + ".away"));
  ASSERT_TRUE(QFile(dir).open(QIODevice::WriteOnly)) << "a file where the folder was: every write fails";
  EXPECT_FALSE(update(*engine, "dropbox:/id1_1.orrx", "third"));
  settleThreads();
  ASSERT_TRUE(QFile::remove(dir));
  ASSERT_TRUE(QDir().rename(dir + ".away", dir));
  EXPECT_EQ(fetchText(*engine, "dropbox:/id1_1.orrx"), "second");
}

TEST_F(DropboxEngineTest, NewerRemoteVersionReachesTheDocumentOpenInTheWorkspace) {
  RecordingWorkspaceDelegate facade;
  auto engine = DropboxFolderManager::createWithLocalFolder(QUuid::createUuid().toString(QUuid::WithoutBraces));
  engines.push_back(engine);
  auto workspace = Workspace::create(engine, &facade);
  remote->peerWrite("/id6_1.orrx", documentBytes("v1"));
  ASSERT_TRUE(settle());
  auto doc = workspace->findDocument("dropbox:/id6_1.orrx");
  ASSERT_TRUE(doc);
  DocumentToken token = -1;
  workspace->openDocument(doc, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
  ASSERT_GT(token, 0);
  int changed = 0;
  platform::ObserverScope observer;
  observer.observe(IdeaDocumentChangedNotification, doc.get(), [&](const platform::Notification&) { ++changed; });
  remote->peerWrite("/id6_1.orrx", documentBytes("v2"));
  main.advance(31);
  ASSERT_TRUE(settle());
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(workspace->findDocument("dropbox:/id6_1.orrx"), doc) << "the open object stays the one object";
  ASSERT_TRUE(doc->idea());
  EXPECT_EQ(doc->idea()->text(), "v2") << "the next save builds on the new version";
  workspace->closeWorkspace();
}

// The user saves an open document while a newer remote version comes down: before the
// download answers, or after it while the new version is read. Either way the save reaches
// the app folder under the document's name, the editor keeps it, and the remote version lives
// on as one new document.
TEST_F(DropboxEngineTest, SaveMadeWhileANewerRemoteVersionComesDownIsWrittenAndTheRemoteVersionKept) {
  for (const bool duringRead : {false, true}) {
    SCOPED_TRACE(duringRead ? "save while the download is read" : "save while the download runs");
    RecordingWorkspaceDelegate facade;
    auto engine = DropboxFolderManager::createWithLocalFolder(QUuid::createUuid().toString(QUuid::WithoutBraces));
    engines.push_back(engine);
    auto workspace = Workspace::create(engine, &facade);
    const QString key = "dropbox:/id6_3.orrx";
    remote->peerWrite("/id6_3.orrx", documentBytes("v1"));
    ASSERT_TRUE(settle());
    auto doc = workspace->findDocument(key);
    ASSERT_TRUE(doc);
    DocumentToken token = -1;
    workspace->openDocument(doc, [&](DocumentToken t) { token = t; });
    ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
    int saved = -1;
    auto save = [&] {
      doc->setIdea(Idea::createWithText("mine"));
      workspace->updateDocument(doc, token, [&](bool ok) { saved = ok; });
    };
    std::promise<void> release;
    std::shared_future<void> held = release.get_future().share();
    bool answered = false;
    remote->beforeAnswer(Route::Download, [&] {
      answered = true;
      if (!duringRead) save();
      // Holds the read of the downloaded file until the test lets it go.
      PersistenceController::singleton().workQueue().async([held] { held.wait(); });
    });
    remote->peerWrite("/id6_3.orrx", documentBytes("v2"));
    // The next poll finds the new version and downloads it.
    for (int i = 0; i < 400 && !(answered && engine->isBusyOffMainThread()); ++i) {
      main.runPending();
      if (!answered) main.advance(0.25);
    }
    remote->beforeAnswer(Route::Download, nullptr);
    if (!answered) release.set_value();
    ASSERT_TRUE(answered && engine->isBusyOffMainThread()) << "the downloaded version is being read";
    if (duringRead) save();
    release.set_value();
    ASSERT_TRUE(settle());
    EXPECT_EQ(saved, 1);
    ASSERT_TRUE(doc->idea());
    EXPECT_EQ(doc->idea()->text(), "mine") << "the editor keeps what the user saved";
    EXPECT_EQ(textOfDocumentBytes(remote->contentOf("/id6_3.orrx")), "mine");
    QStringList others;
    for (const QString& path : remote->livePaths()) {
      if (path == "/id6_3.orrx" || path == "/orrery.index") continue;
      others << textOfDocumentBytes(remote->contentOf(path));
      EXPECT_TRUE(workspace->findProxy(dropboxrules::fileURLFromDropboxPath(path))) << "the user sees the copy";
    }
    EXPECT_EQ(others, QStringList{"v2"}) << "the remote version lives on as one new document";
    workspace->closeWorkspace();
    for (const QString& path : remote->livePaths()) remote->peerDelete(path);
  }
}

TEST_F(DropboxEngineTest, ConflictingEditsKeepBothVersions) {
  auto engine = startEngine();
  remote->peerWrite("/id8_1.orrx", documentBytes("base"));
  ASSERT_TRUE(settle());
  networkUp = false;
  main.advance(1);
  ASSERT_TRUE(update(*engine, "dropbox:/id8_1.orrx", "mine"));
  remote->peerWrite("/id8_1.orrx", documentBytes("theirs"));
  networkUp = true;
  main.advance(400);
  ASSERT_TRUE(settle());
  EXPECT_EQ(textOfDocumentBytes(remote->contentOf("/id8_1.orrx")), "mine") << "the local edit keeps the name";
  EXPECT_EQ(recorders[0]->events.filter("conflict ").value(0), "conflict dropbox:/id8_1.orrx");
  int copies = 0;
  for (auto it = engine->state().docs().cbegin(); it != engine->state().docs().cend(); ++it)
    if (it.key() != "dropbox:/id8_1.orrx" &&
        textOfDocumentBytes(remote->contentOf(dropboxrules::dropboxPathFromFileURL(it.key()))) == "theirs")
      ++copies;
  EXPECT_EQ(copies, 1) << "the remote version lives on as one new document";
}

TEST_F(DropboxEngineTest, StartUpKeepsOnlyReferencedMirrorFilesAndSurvivesAnUnreadableStatus) {
  const QString folder = "startup-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  auto engine = startEngine(folder);
  ASSERT_TRUE(settle());
  create(*engine, "dropbox:/id2_1.orrx", "kept");
  ASSERT_TRUE(settle());
  engine->leaveState();
  settleThreads();
  const QString dir = engine->localManagedFolder();
  for (const char* stray : {"stray.orrx", "notes.txt", "old.bak", "x.index"}) {
    QFile f(dir + "/" + stray);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  // Until the answer of the start-up read is applied the engine counts as busy, or a waiter
  // would move the virtual clock on under the read.
  auto again = startEngine(folder);
  ASSERT_TRUE(main.runUntil([&] { return again->state().hasPendingGeneralOperation(); }));
  EXPECT_TRUE(again->isBusyOffMainThread()) << "the status file is being read";
  ASSERT_TRUE(settle());
  settleThreads();
  EXPECT_TRUE(QFileInfo::exists(dir + "/stray.orrx")) << "a file that holds no readable map is left in place";
  EXPECT_FALSE(QFileInfo::exists(dir + "/notes.txt"));
  EXPECT_FALSE(QFileInfo::exists(dir + "/x.index"));
  EXPECT_TRUE(QFileInfo::exists(dir + "/old.bak"));
  EXPECT_TRUE(recorders[1]->events.contains("found dropbox:/id2_1.orrx"));
  EXPECT_EQ(fetchText(*again, "dropbox:/id2_1.orrx"), "kept");
  again->leaveState();
  ASSERT_TRUE(main.runUntil([&] { return !again->isBusyOffMainThread(); }));
  settleThreads();

  // A damaged status file is set aside and the engine starts afresh instead of stopping.
  {
    QFile status(dir + "/orrery.local.status");
    ASSERT_TRUE(status.open(QIODevice::WriteOnly | QIODevice::Truncate));
    status.write("{\"dropboxFolderManagerState\": [garbage");
  }
  LogCapture log;
  auto third = startEngine(folder);
  ASSERT_TRUE(settle());
  EXPECT_TRUE(QFileInfo::exists(dir + "/orrery.local.status.bak"));
  EXPECT_TRUE(third->state().isLocalStatusFileLoaded());
  EXPECT_TRUE(log.lines().join("\n").contains("unreadable"));
  EXPECT_EQ(fetchText(*third, "dropbox:/id2_1.orrx"), "kept") << "the app folder brings the document back";
}

// A FIFO, or a file larger than the memory there is, where a mirror file belongs is refused at
// once, unread: a fetch of its document completes with none, and a local index in its place
// gives way to a new one.
TEST_F(DropboxEngineTest, MirrorFilesThatAreNoRegularFilesAreRefusedWithoutWaiting) {
  const QString folder = "fifo-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  networkUp = false;
  auto engine = startEngine(folder);
  DocumentToken token = -1;
  engine->createDocument(documentWithText("dropbox:/id3_1.orrx", "piped"), [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(pump([&] { return token > 0 && engine->state().isIndexDocumentAvailable(); }, 60, /*fileWork=*/true));
  const QString document =
      engine->localManagedFile(engine->state().docs().value("dropbox:/id3_1.orrx")->output()->name());
  for (const auto make : {makeFifo, makeHugeFile}) {
    ASSERT_TRUE(make(document));
    bool fetched = false, none = false;
    engine->fetchDocument("dropbox:/id3_1.orrx",
                          [&](std::shared_ptr<IdeaDocument> doc) { fetched = true, none = !doc; });
    const bool answered = pump([&] { return fetched; }, 60, /*fileWork=*/true);
    releaseFifoReader(document);
    ASSERT_TRUE(answered);
    EXPECT_TRUE(none);
  }
  for (const auto make : {makeFifo, makeHugeFile}) {
    const QString index = engine->localManagedFile(engine->state().indexDocumentInfo()->output()->name());
    stopEngines(/*atQuit=*/true);
    ASSERT_TRUE(make(index));
    engine = startEngine(folder);
    const bool indexed = pump([&] { return engine->state().isIndexDocumentAvailable(); }, 60, /*fileWork=*/true);
    releaseFifoReader(index);
    ASSERT_TRUE(indexed);
    EXPECT_TRUE(recorders[0]->events.contains("list 0")) << "a new empty index was reported";
  }
}

TEST_F(DropboxEngineTest, FailedFirstStatusWriteIsTriedAgain) {
  const QString folder = "blocked-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  const QString dir = DropboxFolderManager::createWithLocalFolder(folder)->localManagedFolder();
  ASSERT_TRUE(QDir().mkpath(QFileInfo(dir).path()));
  ASSERT_TRUE(QFile(dir).open(QIODevice::WriteOnly)) << "a file where the mirror folder belongs";
  auto engine = startEngine(folder);
  for (int i = 0; i < 5; ++i) {
    main.advance(1);
    main.loop->runUntil([&] { return !engine->isBusyOffMainThread(); });
  }
  EXPECT_FALSE(engine->state().isLocalStatusFileLoaded());
  EXPECT_FALSE(engine->state().hasPendingGeneralOperation()) << "the engine must not stop";
  ASSERT_TRUE(QFile::remove(dir));
  ASSERT_TRUE(settle());
  EXPECT_TRUE(engine->state().isLocalStatusFileLoaded());
}

TEST_F(DropboxEngineTest, ReconnectsWaitLongerAfterEachFailureAndResetOnAnAnswer) {
  auto engine = startEngine();
  ASSERT_TRUE(settle());
  EXPECT_EQ(engine->reconnectDelayMillis(), DropboxFolderManager::kReconnectDelayMillis);
  // A dead token: every listing is refused eight times over.
  remote->failNext(Route::List, Fault::Auth, 8);
  std::vector<std::int64_t> delays;
  std::vector<double> listedAt;
  int lists = remote->calls(Route::List);
  for (int second = 0; second < 1200 && delays.size() < 8; ++second) {
    main.advance(1);
    settleThreads();
    if (remote->calls(Route::List) != lists) {
      lists = remote->calls(Route::List);
      listedAt.push_back(main.clock->now());
      main.runPending();
      delays.push_back(engine->reconnectDelayMillis());
      EXPECT_EQ(engine->lastCommunicatedStatus(), 2u) << "a refused token is reported";
    }
  }
  EXPECT_EQ(delays, std::vector<std::int64_t>({10000, 20000, 40000, 80000, 160000, 300000, 300000, 300000}));
  // The first retry follows at once (the last answer was long ago), then each waits its delay.
  for (std::size_t i = 2; i < listedAt.size(); ++i) {
    EXPECT_GE(listedAt[i] - listedAt[i - 1], double(delays[i - 1]) / 1000) << i;
    EXPECT_LE(listedAt[i] - listedAt[i - 1], double(delays[i - 1]) / 1000 + 3) << i;
  }
  main.advance(301);
  ASSERT_TRUE(settle());
  EXPECT_EQ(engine->reconnectDelayMillis(), DropboxFolderManager::kReconnectDelayMillis) << "an answer resets it";
  EXPECT_EQ(engine->lastCommunicatedStatus(), 3u);
}

TEST_F(DropboxEngineTest, PassesStayBoundedAndStopAfterLeaving) {
  auto engine = startEngine();
  ASSERT_TRUE(settle());
  const auto timersBefore = main.loop->pendingTimers();
  engine->ensureRunnable();
  engine->ensureRunnable();
  engine->ensureRunnable();
  main.runPending();
  EXPECT_LE(main.loop->pendingTimers(), timersBefore + 1) << "at most two passes are ever posted";
  engine->leaveState();
  const auto statuses = recorders[0]->statuses;
  platform::NotificationCenter::defaultCenter().post(DropboxGotSomeDataNotification);
  main.advance(5);
  EXPECT_EQ(main.loop->pendingTimers(), 0u) << "no pass follows after leaving";
  EXPECT_EQ(recorders[0]->statuses, statuses);
}

TEST_F(DropboxEngineTest, QuitWritesQueuedSavesAndTheStatusSoTheyReachTheAppFolderLater) {
  const QString folder = "quit-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  auto engine = startEngine(folder);
  ASSERT_TRUE(settle());
  for (int i = 0; i < 3; ++i)
    engine->createDocument(documentWithText(QString("dropbox:/id3_%1.orrx").arg(i), QString("q%1").arg(i)), nullptr);
  engine->finishForQuit();
  engine->leaveState();
  settleThreads();
  auto disk = statusOnDisk(*engine);
  ASSERT_TRUE(disk);
  EXPECT_EQ(disk->docs().size(), 3);
  EXPECT_EQ(QDir(engine->localManagedFolder()).entryList({"*.orrx"}, QDir::Files).size(), 3)
      << "a save's file was written again";
  engines.clear();
  recorders.clear();
  startEngine(folder);
  ASSERT_TRUE(settle());
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(textOfDocumentBytes(remote->contentOf(QString("/id3_%1.orrx").arg(i))), QString("q%1").arg(i));
}

TEST_F(DropboxEngineTest, StatusFileEndsWithTheRecordsAsTheyStandAfterChangesMadeWhileWritesRan) {
  auto engine = startEngine();
  ASSERT_TRUE(settle());
  // Records the passes leave alone (a current version only), replaced, emptied and removed
  // while writes are under way; each write is handed only what changed since the one before.
  std::mt19937 random(39);
  for (int step = 0; step < 400; ++step) {
    const QString key = QString("dropbox:/id9_%1.orrx").arg(random() % 40);
    const auto kind = random() % 4;
    engine->storeRecord(
        key, kind == 0 ? nullptr
             : kind == 1
                 ? DocumentInfo::create(nullptr, nullptr, nullptr)
                 : DocumentInfo::create(nullptr, SyncFileInfo::create("f.orrx", QString::number(step)), nullptr));
    if (step % 3 == 0) engine->saveOrCreateLocalStatus();
    if (step % 7 == 0) main.runPending();
  }
  engine->saveOrCreateLocalStatus();
  ASSERT_TRUE(pump([&] { return !engine->isBusyOffMainThread(); }));
  auto described = [](const DropboxFolderManagerState::DocumentMap& docs) {
    std::map<QString, QString> out;
    for (auto it = docs.cbegin(); it != docs.cend(); ++it)
      if (it.value() && it.value()->containsData()) out[it.key()] = it.value()->description();
    return out;
  };
  auto disk = statusOnDisk(*engine);
  ASSERT_TRUE(disk);
  EXPECT_FALSE(described(engine->state().docs()).empty());
  EXPECT_EQ(described(disk->docs()), described(engine->state().docs()));
}

// The mirror folder as a crash would leave it: the status file first, so every file it names
// (written before any record names it) is there too.
void copyMirrorAsACrashLeavesIt(const QString& from, const QString& to) {
  const QString status = DropboxFolderManagerState::kStatusFileName;
  ASSERT_TRUE(QDir().mkpath(to));
  ASSERT_TRUE(QFile::copy(QDir(from).filePath(status), QDir(to).filePath(status)));
  for (const QString& name : QDir(from).entryList(QDir::Files))
    if (name != status) QFile::copy(QDir(from).filePath(name), QDir(to).filePath(name));
}

TEST_F(DropboxEngineTest, CrashAmidManySavesLosesNoAcknowledgedSaveAndUploadsOnlyWhatItLostTheAnswerOf) {
  // Saves made all at once share status writes and uploads run between them. After a crash
  // right after any acknowledgement, the next engine sends every acknowledged save and sends
  // again only uploads whose answer the status file had not yet taken in (those come back as
  // conflicts, so both versions are kept).
  std::mt19937 random(3939);
  constexpr int kDocs = 40;
  for (int round = 0; round < 8; ++round) {
    auto first = startEngine();
    ASSERT_TRUE(settle());
    const QString image = "crash-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString imageFolder = QDir(first->localManagedFolder()).filePath("../" + image);
    const int crashAt = 1 + int(random() % kDocs);
    std::set<QString> acknowledged;
    for (int i = 0; i < kDocs; ++i) {
      const QString id = QString("dropbox:/id%1_%2.orrx").arg(round).arg(i);
      first->createDocument(documentWithText(id, id), [&, id](DocumentToken t) {
        if (t <= 0 || !first->isActive()) return;
        acknowledged.insert(id);
        if (int(acknowledged.size()) < crashAt) return;
        copyMirrorAsACrashLeavesIt(first->localManagedFolder(), imageFolder);
        first->leaveState();
      });
    }
    // The request under way when the process died may still have reached the server.
    ASSERT_TRUE(pump([&] { return !first->isActive() && !first->isBusyOffMainThread(); })) << "round " << round;
    engines.clear();
    recorders.clear();
    first.reset();
    const auto crashed =
        DropboxFolderManagerState::readFrom(QDir(imageFolder).filePath(DropboxFolderManagerState::kStatusFileName));
    ASSERT_TRUE(crashed);
    std::set<QString> answerLost;
    for (const QString& path : remote->livePaths().filter(QString("/id%1_").arg(round))) {
      const DocumentInfoPtr record = crashed->docs().value("dropbox:" + path);
      if (record && !(record->current() && !record->current()->rev().isEmpty())) answerLost.insert("dropbox:" + path);
    }
    auto next = startEngine(image);
    ASSERT_TRUE(settle());
    const QString where = QString("round %1, crash at save %2").arg(round).arg(crashAt);
    for (const QString& id : acknowledged)
      EXPECT_EQ(textOfDocumentBytes(remote->contentOf(id.mid(QString("dropbox:").size()))), id) << qPrintable(where);
    const QStringList conflicts = recorders[0]->events.filter("conflict ");
    for (const QString& conflict : conflicts)
      EXPECT_TRUE(answerLost.count(conflict.mid(QString("conflict ").size()))) << qPrintable(where + ": " + conflict);
    EXPECT_LE(remote->livePaths().filter(QString("/id%1_").arg(round)).size(), kDocs) << qPrintable(where);
    stopEngines(/*atQuit=*/false);
  }
}

TEST_F(DropboxEngineTest, BurstOfSavesKeepsItsOrderAndEveryCompletion) {
  auto engine = startEngine();
  ASSERT_TRUE(settle());
  ASSERT_GT(create(*engine, "dropbox:/id5_1.orrx", "v0"), 0);
  ASSERT_GT(create(*engine, "dropbox:/id5_2.orrx", "gone"), 0);
  // More writes than one step joins, a delete in between, and the same documents again and again.
  int completed = 0, succeeded = 0;
  auto count = [&](bool ok) { ++completed, succeeded += ok; };
  int asked = 0;
  for (int i = 1; i <= 70; ++i, ++asked) {
    engine->updateDocument(documentWithText("dropbox:/id5_1.orrx", QString("v%1").arg(i)), 1, count);
    if (i == 40) engine->deleteDocument("dropbox:/id5_2.orrx", count), ++asked;
    if (i % 3 == 0)
      engine->updateDocument(documentWithText("dropbox:/id5_3.orrx", QString("w%1").arg(i)), 1, count), ++asked;
  }
  ASSERT_TRUE(settle());
  EXPECT_EQ(completed, asked);
  EXPECT_EQ(succeeded, asked);
  EXPECT_EQ(textOfDocumentBytes(remote->contentOf("/id5_1.orrx")), "v70");
  EXPECT_EQ(textOfDocumentBytes(remote->contentOf("/id5_3.orrx")), "w69");
  EXPECT_FALSE(remote->livePaths().contains("/id5_2.orrx"));
}

TEST_F(DropboxEngineTest, StatusFileNamingFilesOutsideTheMirrorIsNeitherReadNorUploaded) {
  const QString folder = "hostile-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  auto probe = DropboxFolderManager::createWithLocalFolder(folder);
  ASSERT_TRUE(probe->ensureLocalManagedFolder());
  const QString dir = probe->localManagedFolder();
  probe.reset();
  {
    QFile secret(dir + "/../secret.orrx");
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write(documentBytes("secret"));
    QFile status(dir + "/orrery.local.status");
    ASSERT_TRUE(status.open(QIODevice::WriteOnly));
    status.write(R"({"dropboxFolderManagerState":{"fileFormatVersion":"1","documents":[)"
                 R"({"key":"dropbox:/id1_1.orrx","val":{"output":{"name":"../secret.orrx"}}},)"
                 R"({"key":"dropbox:/../x.orrx","val":{"output":{"name":"file1_1.orrx"}}}]}})");
  }
  LogCapture log;
  auto engine = startEngine(folder);
  ASSERT_TRUE(settle());
  EXPECT_TRUE(engine->state().docs().isEmpty());
  EXPECT_FALSE(remote->file("/id1_1.orrx")) << "a file outside the mirror must never be uploaded";
  EXPECT_EQ(remote->calls(Route::Upload), 1) << "only the new index";
  EXPECT_TRUE(log.lines().join("\n").contains("name no usable file"));
}

TEST_F(DropboxEngineTest, ChoosingDropboxBringsUpItsWorkspaceAndASaveReachesTheAppFolder) {
  // The facade's engine is not one of the fixture's: its threads are waited for in real time.
  auto wait = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i)
      if (!main.loop->runUntil(done, platform::Millis(10))) main.advance(0.25);
    return done();
  };
  auto& facade = PersistenceController::singleton();
  installCloudEngines();
  Globals::optForDropbox(true);
  main.runPending();
  ASSERT_TRUE(facade.workspaceForLocation(DocumentLocationDropbox));
  ASSERT_TRUE(wait([&] { return facade.statusForLocation(DocumentLocationDropbox) == WorkspaceStatusReady; }));

  auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationDropbox);
  doc->setIdea(Idea::createWithText("through the facade"));
  DocumentToken token = -1;
  facade.createDocument(doc, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(wait([&] { return token >= 0; }));
  EXPECT_GT(token, 0);
  const QString path = doc->docIdentifier().mid(QString("dropbox:").size());
  EXPECT_TRUE(wait([&] { return textOfDocumentBytes(remote->contentOf(path)) == "through the facade"; }));

  Globals::optForDropbox(false);
  main.runPending();
  EXPECT_FALSE(facade.workspaceForLocation(DocumentLocationDropbox));
  facade.setWorkspaceFactory(nullptr);
}

TEST_F(DropboxEngineTest, NothingElseStartsWhileADownloadRuns) {
  auto engine = startEngine();
  ASSERT_TRUE(settle());
  remote->setLatency(2.0);
  remote->peerWrite("/id4_1.orrx", documentBytes("remote"));
  const int uploads = remote->calls(Route::Upload), lists = remote->calls(Route::List);
  ASSERT_TRUE(pump([&] { return remote->calls(Route::Download) > 1; })) << "the poll finds the file and fetches it";
  ASSERT_TRUE(engine->state().hasPendingDropboxOperation() && engine->state().hasPendingGeneralOperation());
  bool saved = false;
  engine->updateDocument(documentWithText("dropbox:/id4_2.orrx", "local"), 1, [&](bool ok) { saved = ok; });
  main.advance(1.5);
  EXPECT_FALSE(engine->state().tasksToExecute().front()->hasExecuteBeenRequested()) << "the user task waits";
  EXPECT_EQ(remote->calls(Route::Upload), uploads);
  EXPECT_EQ(remote->calls(Route::List), lists + 1) << "only the listing that found the file";
  ASSERT_TRUE(pump([&] { return saved; }));
  ASSERT_TRUE(settle());
  EXPECT_EQ(textOfDocumentBytes(remote->contentOf("/id4_2.orrx")), "local");
}

TEST_F(DropboxEngineTest, AnUnreadableLocalIndexGivesWayToANewOneAndOpenWithoutARecordFails) {
  const QString folder = "index-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  auto engine = startEngine(folder);
  ASSERT_TRUE(settle());
  const auto index = engine->state().indexDocumentInfo();
  ASSERT_TRUE(index && SyncFileInfo::hasFile(index->current()));
  const QString damaged = engine->localManagedFile(index->current()->name());
  engine->leaveState();
  ASSERT_TRUE(main.runUntil([&] { return !engine->isBusyOffMainThread(); }));
  {
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{\"proxies\": [");
  }
  LogCapture log;
  auto again = startEngine(folder);
  ASSERT_TRUE(settle());
  EXPECT_TRUE(again->state().isIndexDocumentAvailable());
  EXPECT_TRUE(log.lines().join("\n").contains("unreadable"));
  EXPECT_TRUE(recorders[1]->events.contains("list 0")) << "a new empty index was reported";

  // Open of a document the engine has no record of completes with 0 and leaves the caller's
  // document alone; close completes at once.
  auto doc = documentWithText("dropbox:/id99_1.orrx", "mine");
  DocumentToken token = -1;
  again->openDocument(doc, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(pump([&] { return token >= 0; }));
  EXPECT_EQ(token, 0);
  EXPECT_EQ(doc->idea()->text(), "mine");
  bool closed = false;
  again->closeDocument(doc, 12345, [&](bool ok) { closed = ok; });
  EXPECT_TRUE(closed);
}

// A read of the local index that the quit dropped is no unreadable index: the record of the
// index file stays, no new empty index takes its place, and the file is read once reads run again.
TEST_F(DropboxEngineTest, ALocalIndexReadTheQuitDroppedKeepsTheIndexForTheNextRead) {
  const QString folder = "index-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  auto engine = startEngine(folder);
  ASSERT_TRUE(settle());
  const auto index = engine->state().indexDocumentInfo();
  ASSERT_TRUE(index && SyncFileInfo::hasFile(index->current()));
  const QString name = index->current()->name();
  engine->leaveState();
  ASSERT_TRUE(main.runUntil([&] { return !engine->isBusyOffMainThread(); }));

  struct ReopenAtEnd {
    ~ReopenAtEnd() { QueuedFileWork::reopen(); }
  } reopenAtEnd;
  LogCapture log;
  ASSERT_TRUE(QueuedFileWork::finishForQuit());
  auto again = startEngine(folder);
  ASSERT_TRUE(main.runUntil([&] { return again->state().isLocalStatusFileLoaded(); }));
  // With its index unread the engine cannot settle: a few seconds of passes.
  for (int pass = 0; pass < 12; ++pass) {
    settleThreads();
    pump([] { return false; }, 0.25);
  }
  EXPECT_FALSE(again->state().isIndexDocumentAvailable());
  const auto kept = again->state().indexDocumentInfo();
  ASSERT_TRUE(kept && SyncFileInfo::hasFile(kept->current()));
  EXPECT_EQ(kept->current()->name(), name);
  QueuedFileWork::reopen();
  ASSERT_TRUE(settle());
  EXPECT_TRUE(again->state().isIndexDocumentAvailable());
  EXPECT_FALSE(log.lines().join("\n").contains("unreadable")) << log.lines().join("\n").toStdString();
}

TEST_F(DropboxEngineTest, NewMirrorNamesSkipFilesAnEarlierProcessLeftInTheSameSecond) {
  auto engine = startEngine();
  ASSERT_TRUE(settle());
  const QString first = engine->createLocalORRXFileName();
  const QString stem = first.section('_', 0, 0);
  const int counter = first.section('_', 1).section('.', 0, 0).toInt();
  // What a process started again within the same second would make next: already taken.
  for (int k = 1; k <= 3; ++k) {
    QFile taken(engine->localManagedFile(QString("%1_%2.orrx").arg(stem).arg(counter + k)));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
  }
  EXPECT_EQ(engine->createLocalORRXFileName(), QString("%1_%2.orrx").arg(stem).arg(counter + 4));
  EXPECT_NE(engine->createLocalORRXFileName(), engine->createLocalORRXFileName()) << "same millisecond, new counter";

  // A name made before the start has listed its mirror still comes above every name in it.
  const QString folder = QUuid::createUuid().toString(QUuid::WithoutBraces);
  const QString dir = QDir(platform::applicationSupportFolder()).filePath("dropbox/" + folder);
  ASSERT_TRUE(QDir().mkpath(dir));
  const long planted = counter + 1000;
  ASSERT_TRUE(writeFile(dir + QString("/file1_%1.orrx").arg(planted), "x"));
  auto early = startEngine(folder);
  const QString made = early->createLocalORRXFileName();
  EXPECT_GT(made.section('_', 1).section('.', 0, 0).toLong(), planted) << made.toStdString();
}

// A mirror file is measured as a local file is: the document counts what comes in from its
// size, also when the file is opened again; one the reader would refuse is not written, and the
// document says why.
TEST_F(DropboxEngineTest, AMirrorFileTellsTheDocumentItsSizeAndOneTheReaderWouldRefuseIsNotWritten) {
  auto engine = startEngine();
  ASSERT_TRUE(settle());
  auto doc = documentWithText("dropbox:/id7_1.orrx", "map");
  ASSERT_TRUE(doc->makeRoomFor(DocumentSize{1000, 1, 3}));
  DocumentToken token = -1;
  engine->createDocument(doc, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
  ASSERT_EQ(token, 1);
  EXPECT_GT(doc->storedSize().jsonBytes, 0);
  EXPECT_EQ(doc->growth().jsonBytes, 0) << "what came in is in the file now";
  auto again = IdeaDocument::createWithIdentifier("dropbox:/id7_1.orrx");
  DocumentToken opened = -1;
  engine->openDocument(again, [&](DocumentToken t) { opened = t; });
  ASSERT_TRUE(main.runUntil([&] { return opened >= 0; }));
  EXPECT_GE(again->storedSize().jsonBytes, doc->storedSize().jsonBytes) << "opened, the map counts what its file holds";

  doc->idea()->setNote(QString(DocumentLimits::kMaxTextLength + 1, QLatin1Char('n')));
  int saved = -1;
  engine->updateDocument(doc, token, [&](bool ok) { saved = ok; });
  ASSERT_TRUE(main.runUntil([&] { return saved >= 0; }));
  EXPECT_EQ(saved, 0);
  EXPECT_TRUE(doc->lastUserFriendlyError().contains("a text of 1000001 characters"))
      << doc->lastUserFriendlyError().toStdString();
  EXPECT_EQ(fetchText(*engine, "dropbox:/id7_1.orrx"), "map");
}
