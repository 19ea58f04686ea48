#pragma once
// Dropbox engines on a FakeRemote for tests: the main queue and Globals' time on one virtual
// clock, the network probe answering what the test says, a fresh mirror folder per engine,
// and every report of an engine recorded.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QUuid>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "../../foundation/log_capture.h"
#include "cloud/dropbox_folder_manager.h"
#include "fake_remote.h"
#include "foundation/globals.h"
#include "mirror_files.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/index_json_document.h"
#include "model/persistence_controller.h"
#include "model/support/virtual_main_queue.h"
#include "platform/services/standard_folders.h"

namespace orrery::testing {

class EngineReports final : public PersistenceStateDelegate {
 public:
  void statusChange(std::int64_t code, PersistenceState*) override { statuses.push_back(code); }
  void observeIdeaProxy(const IdeaProxyPtr& proxy, PersistenceState*) override {
    events << "proxy " + proxy->docIdentifier() + " " + proxy->text();
  }
  void observeProxyList(const ProxyList& proxies, PersistenceState*) override {
    events << QString("list %1").arg(proxies.size());
    for (const auto& proxy : proxies) events << "listed " + proxy->docIdentifier() + " " + proxy->text();
  }
  void ideaDocumentDeleted(const QString& key, PersistenceState*) override { events << "deleted " + key; }
  void foundIdeaDocument(const QString& key, PersistenceState*) override { events << "found " + key; }
  void detectedDocumentConflict(const QString& key, PersistenceState*) override { events << "conflict " + key; }

  std::vector<std::int64_t> statuses;
  QStringList events;
};

// A document whose root idea carries `text`, as an editor would hand it over.
inline std::shared_ptr<IdeaDocument> documentWithText(const QString& identifier, const QString& text) {
  auto doc = IdeaDocument::createWithIdentifier(identifier);
  doc->setIdea(Idea::createWithText(text));
  return doc;
}

// The text of the root idea stored in document bytes, or a null string.
inline QString textOfDocumentBytes(const QByteArray& bytes) {
  auto doc = IdeaDocument::createWithIdentifier(QStringLiteral("dropbox:/probe.orrx"));
  if (!doc->loadFromOrreryData(bytes) || !doc->idea()) return {};
  return doc->idea()->text();
}

inline QByteArray documentBytes(const QString& text) {
  return documentWithText(QStringLiteral("dropbox:/x.orrx"), text)->snapshot().encode(/*compressed=*/true);
}

class DropboxEngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // Mirrors in memory when the machine offers it: every status write syncs its file, and
    // scripts of thousands of writes should not wait for a disk.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable()) {
      mMemoryFolder = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/orrery-test-XXXXXX"));
      if (mMemoryFolder->isValid())
        platform::setStandardFolderOverride(platform::StandardFolder::ApplicationSupport, mMemoryFolder->path());
    }
    mPreviousClient = platform::DropboxClientsManager::setAuthorizedClient(remote->client());
    mPreviousProbe = DropboxFolderManager::setNetworkProbe([this] { return networkUp; });
    mPreviousTime = Globals::setCurrentTimeMillisSource(
        [this, clock = main.clock] { return std::int64_t(clock->now() + clockOffset) * 1000; });
  }
  void TearDown() override {
    for (auto& engine : engines) engine->leaveState();
    settleThreads();
    engines.clear();
    main.runPending();
    Globals::setCurrentTimeMillisSource(mPreviousTime);
    DropboxFolderManager::setNetworkProbe(mPreviousProbe);
    platform::DropboxClientsManager::setAuthorizedClient(mPreviousClient);
    if (mMemoryFolder) platform::setStandardFolderOverride(platform::StandardFolder::ApplicationSupport, QString());
  }

  // A new engine over a new mirror folder (or the named one), reporting to a new recorder.
  std::shared_ptr<DropboxFolderManager> startEngine(QString folder = {}) {
    if (folder.isEmpty()) folder = QUuid::createUuid().toString(QUuid::WithoutBraces);
    auto engine = DropboxFolderManager::createWithLocalFolder(folder);
    auto reports = std::make_shared<EngineReports>();
    engine->setDelegate(reports);
    engines.push_back(engine);
    recorders.push_back(reports);
    return engine;
  }

  // The engines go with their recorders; `atQuit`: as at a quit, which writes their status.
  void stopEngines(bool atQuit) {
    for (auto& engine : engines) {
      if (atQuit) engine->finishForQuit();
      engine->leaveState();
    }
    settleThreads();
    engines.clear();
    recorders.clear();
  }

  void settleThreads() {
    for (int i = 0; i < 3; ++i) {
      PersistenceController::singleton().workQueue().drain();
      main.runPending();
    }
  }

  bool anyBusy() const {
    for (const auto& e : engines)
      if (e->isBusyOffMainThread()) return true;
    return false;
  }
  // Runs the main queue, waits for the engines' threads and moves virtual time on only when
  // nothing else can happen, until `done` holds; false when it never did, or when a thread
  // stayed busy for a minute (stuck: the test fails instead of hanging). With `fileWork` the
  // persistence queue's file work (mirror and index files) is waited for as well.
  bool pump(const std::function<bool()>& done, double maxSeconds = 900, bool fileWork = false) {
    int busyWaits = 0;
    for (double waited = 0; waited < maxSeconds;) {
      main.runPending();
      if (done()) return true;
      if (anyBusy()) {
        if (!main.loop->runUntil([&] { return !anyBusy() || done(); }, platform::Millis(10000)) && ++busyWaits >= 6)
          return done();
        continue;
      }
      busyWaits = 0;
      if (fileWork) {
        auto group = std::make_shared<platform::DispatchGroup>();
        group->enter();
        PersistenceController::singleton().workQueue().async([group] { group->leave(); });
        if (!group->wait(platform::Millis(60000))) return done();
        if (main.runPending() > 0) continue;
      }
      main.advance(0.25);
      waited += 0.25;
    }
    return done();
  }

  // The engine's copy of a document (a fetch, as the editor makes it), or none.
  std::shared_ptr<IdeaDocument> fetchMap(DropboxFolderManager& engine, const QString& id) {
    bool done = false;
    std::shared_ptr<IdeaDocument> map;
    engine.fetchDocument(id, [&](std::shared_ptr<IdeaDocument> doc) {
      done = true;
      if (doc && doc->idea()) map = doc;
    });
    // A silent request holds the engine until the virtual clock ends it.
    EXPECT_TRUE(pump([&] { return done; }));
    return map;
  }
  QString fetchText(DropboxFolderManager& engine, const QString& id) {
    const auto map = fetchMap(engine, id);
    return map ? map->idea()->text() : QString();
  }

  // Runs passes until every engine is settled; false when they never were within `maxSeconds`
  // of virtual time. Only the clock's steps count: on a loaded machine the engines' work comes
  // back in more, smaller turns, which must not use the time up.
  bool settle(int maxSeconds = 1200) {
    for (double waited = 0; waited < maxSeconds;) {
      main.runPending();
      bool busy = false, settled = true;
      for (auto& e : engines) {
        busy = busy || e->isBusyOffMainThread();
        settled = settled && e->isSettled();
      }
      if (busy) {
        main.loop->runUntil(
            [&] {
              for (auto& e : engines)
                if (e->isBusyOffMainThread()) return false;
              return true;
            },
            platform::Millis(10000));
        continue;
      }
      PersistenceController::singleton().workQueue().drain();
      if (main.runPending() > 0) continue;
      if (settled) return true;
      main.advance(0.5);
      waited += 0.5;
    }
    return false;
  }

  VirtualMainQueue main;
  std::shared_ptr<testsupport::FakeRemote> remote = testsupport::FakeRemote::create();
  bool networkUp = true;
  double clockOffset = 0;  // seconds Globals' time is set back from the virtual clock
  std::vector<std::shared_ptr<DropboxFolderManager>> engines;
  std::vector<std::shared_ptr<EngineReports>> recorders;

 private:
  std::shared_ptr<platform::DropboxClient> mPreviousClient;
  std::unique_ptr<QTemporaryDir> mMemoryFolder;
  DropboxFolderManager::NetworkProbe mPreviousProbe;
  Globals::TimeMillisSource mPreviousTime;
};

class DropboxEngineTest : public DropboxEngineFixture {
 protected:
  std::shared_ptr<DropboxFolderManagerState> statusOnDisk(const DropboxFolderManager& engine) {
    return DropboxFolderManagerState::readFrom(engine.localManagedFile(DropboxFolderManagerState::kStatusFileName));
  }
  DocumentToken create(DropboxFolderManager& engine, const QString& id, const QString& text) {
    DocumentToken token = -1;
    engine.createDocument(documentWithText(id, text), [&](DocumentToken t) { token = t; });
    EXPECT_TRUE(main.runUntil([&] { return token >= 0; }));
    return token;
  }
  bool update(DropboxFolderManager& engine, const QString& id, const QString& text) {
    int result = -1;
    engine.updateDocument(documentWithText(id, text), 1, [&](bool ok) { result = ok; });
    EXPECT_TRUE(main.runUntil([&] { return result >= 0; }));
    return result == 1;
  }

  // ---- scripts of user steps, and the mirror a kill leaves at each of them
  struct Mirror {
    QByteArray status;
    std::map<QString, QByteArray> files;
  };
  // What the user was told: each map's last acknowledged save (texts "<map> <n>") and the maps
  // whose deletion was acknowledged.
  struct Told {
    std::map<QString, int> saves;
    std::set<QString> deleted;
  };
  class Script;
  struct Step {
    QString what;
    std::function<void(Script&)> act;
    bool killable = true;  // done offline: a kill may land on any point of it
  };
  class Script {
   public:
    Script(DropboxEngineTest& test, std::shared_ptr<DropboxFolderManager> engine)
        : mTest(test), engine(std::move(engine)) {}
    // A map's next save: made with its first, then the same document edited and one idea
    // added. The index follows each acknowledged save, as the workspace keeps it.
    void save(const QString& map) {
      auto& doc = mDocs[map];
      const QString text = QString("%1 %2").arg(map).arg(++mSaves[map]);
      made.insert(text);
      int done = -1;
      const bool first = !doc;
      if (first) doc = documentWithText("dropbox:/id" + map + "_1.orrx", text);
      doc->idea()->setText(text);
      if (!first) doc->idea()->addIdea(Idea::createWithText(text));
      doc->setDateModified(QDateTime::fromMSecsSinceEpoch(Globals::currentTimeMillis()));
      if (first)
        engine->createDocument(doc, [&](DocumentToken t) { done = t > 0; });
      else
        engine->updateDocument(doc, 1, [&](bool ok) { done = ok; });
      ASSERT_TRUE(mTest.pump([&] { return done >= 0 && !engine->isBusyOffMainThread(); }, 60, /*fileWork=*/true));
      if (done != 1) return;
      told.saves[map] = mSaves[map];
      saveIndex(map, IdeaProxy::createWithDoc(doc));
    }
    void remove(const QString& map) {
      bool done = false;
      engine->deleteDocument("dropbox:/id" + map + "_1.orrx", [&](bool) { done = true; });
      ASSERT_TRUE(mTest.pump([&] { return done && !engine->isBusyOffMainThread(); }, 60, /*fileWork=*/true));
      if (!mStatusWritten) return;
      told.deleted.insert(map);
      saveIndex(map, nullptr);
    }
    // After an answer: the mirror as it found it, then the index written with `map`'s tile.
    void saveIndex(const QString& map, IdeaProxyPtr tile) {
      atAnswer = readMirror(engine->localManagedFolder());
      mTiles.erase(map);
      if (tile) mTiles.emplace(map, std::move(tile));
      ProxyList tiles;
      for (const auto& [name, listed] : mTiles) tiles.push_back(listed);
      engine->saveProxyList(tiles);
      ASSERT_TRUE(mTest.pump(
          [&] { return engine->state().tasksToExecute().isEmpty() && !engine->isBusyOffMainThread(); }, 60,
          /*fileWork=*/true));
    }
    void online(bool up) {
      mTest.networkUp = up;
      if (up)
        ASSERT_TRUE(mTest.settle());
      else
        ASSERT_TRUE(mTest.pump([&] { return !engine->isBusyOffMainThread(); }, 2, /*fileWork=*/true));
    }
    void peerDelete(const QString& map) {
      mTest.remote->peerDelete("/id" + map + "_1.orrx");
      mTest.main.advance(31);
      ASSERT_TRUE(mTest.settle());
      told.deleted.insert(map);
    }
    // The engine's clock, and the documents' dates with it, an hour back.
    void clockBack() { mTest.clockOffset -= 3600; }
    // A copy of the map put into the mirror by hand, with a text of its own: the map "c<map>".
    void copyByHand(const QString& map) {
      auto copy = IdeaDocument::fromFileBytes(mDocs[map]->snapshot().encode(/*compressed=*/true), /*compressed=*/true);
      ASSERT_TRUE(copy && copy->idea());
      copy->idea()->setText("c" + map + " 1");
      ASSERT_TRUE(writeFile(engine->localManagedFile("copy.orrx"), copy->snapshot().encode(/*compressed=*/true)));
      made.insert("c" + map + " 1");
      told.saves["c" + map] = 1;
    }

    DropboxEngineTest& mTest;
    std::shared_ptr<DropboxFolderManager> engine;
    Told told;
    std::set<QString> made;
    bool mStatusWritten = true;
    // The mirror as the step's answer found it, before the index write that follows.
    std::optional<Mirror> atAnswer;

   private:
    std::map<QString, std::shared_ptr<IdeaDocument>> mDocs;
    std::map<QString, int> mSaves;
    std::map<QString, IdeaProxyPtr> mTiles;
  };

  static Mirror readMirror(const QString& dir) {
    Mirror mirror;
    for (const QFileInfo& file : QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::System))
      if (file.isFile() && !file.isSymLink()) {
        if (file.fileName() == DropboxFolderManagerState::kStatusFileName)
          mirror.status = readFile(file.filePath());
        else
          mirror.files[file.fileName()] = readFile(file.filePath());
      }
    return mirror;
  }

  struct Run {
    std::vector<Mirror> mirrors;  // at the start, then after each step
    std::vector<Mirror> answered;  // each step's mirror as its answer found it
    std::vector<Told> told;
    std::set<QString> made;
  };
  // Runs steps [0, upTo] on a new engine over a new mirror and a new app folder. With
  // `blocked`, the status file cannot be written during the last step, and its mirror is what a
  // kill then leaves: the status file as it was, and the files as they are.
  Run runScript(const std::vector<Step>& steps, std::size_t upTo, bool blocked = false) {
    stopEngines(/*atQuit=*/false);
    clockOffset = 0;
    remote = testsupport::FakeRemote::create();
    platform::DropboxClientsManager::setAuthorizedClient(remote->client());
    networkUp = false;
    Script script(*this, startEngine());
    Run run;
    EXPECT_TRUE(
        pump([&] { return script.engine->state().isIndexDocumentAvailable() && !script.engine->isBusyOffMainThread(); },
             60, /*fileWork=*/true));
    const QString dir = script.engine->localManagedFolder(), status = dir + "/orrery.local.status";
    run.mirrors.push_back(readMirror(dir));
    run.told.push_back(script.told);
    for (std::size_t i = 0; i <= upTo && i < steps.size(); ++i) {
      if (blocked && i == upTo) {
        script.mStatusWritten = false;
        EXPECT_TRUE(QFile::remove(status) && QDir().mkpath(status) && writeFile(status + "/inside", "x"));
      }
      steps[i].act(script);
      // Passes that follow the step, the clean-up among them.
      pump([] { return false; }, 3, /*fileWork=*/true);
      Mirror mirror = readMirror(dir);
      if (blocked && i == upTo) mirror.status = run.mirrors.back().status;
      run.answered.push_back(std::exchange(script.atAnswer, std::nullopt).value_or(mirror));
      run.mirrors.push_back(std::move(mirror));
      run.told.push_back(script.told);
    }
    run.made = script.made;
    return run;
  }

  // Two starts over the mirror, the first offline and the second online until settled; then
  // every map the user was told of is listed once, as its last acknowledged save or a later
  // one, and opens; no deleted map is listed or in the app folder; and the app folder holds
  // only what the user made.
  void startTwiceAndCheck(const Mirror& mirror, const Told& told, const std::set<QString>& made) {
    stopEngines(/*atQuit=*/false);
    const QString folder = "kill-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString dir = QDir(platform::applicationSupportFolder()).filePath("dropbox/" + folder);
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(writeFile(dir + "/orrery.local.status", mirror.status));
    for (const auto& [name, bytes] : mirror.files) ASSERT_TRUE(writeFile(dir + "/" + name, bytes));
    networkUp = false;
    LogCapture log;
    auto engine = startEngine(folder);
    ASSERT_TRUE(pump([&] { return engine->state().isIndexDocumentAvailable() && !engine->isBusyOffMainThread(); }, 60,
                     /*fileWork=*/true));
    engine->finishForQuit();
    engine->leaveState();
    settleThreads();
    for (const auto& [name, bytes] : mirror.files)
      if (!QFileInfo::exists(dir + "/" + name)) {
        EXPECT_EQ(log.lines().filter("Dropbox: removed " + dir + "/" + name + ": ").size(), 1)
            << "every file removed at a start is logged with its reason: " << qPrintable(name);
      }
    engines.clear();
    recorders.clear();
    networkUp = true;
    engine = startEngine(folder);
    ASSERT_TRUE(settle());
    std::map<QString, int> listed;
    std::map<QString, std::shared_ptr<IdeaDocument>> maps;
    QStringList keys;
    for (auto it = engine->state().docs().cbegin(); it != engine->state().docs().cend(); ++it)
      if (SyncFileInfo::hasFile(it.value()->output()) || SyncFileInfo::hasFile(it.value()->current())) keys << it.key();
    for (const QString& key : keys) {
      const auto doc = maps[key] = fetchMap(*engine, key);
      const QString text = doc ? doc->idea()->text() : QString(), map = text.section(' ', 0, 0);
      EXPECT_FALSE(text.isEmpty()) << "every listed map opens: " << qPrintable(key);
      EXPECT_EQ(told.deleted.count(map), 0u) << "a deleted map stays deleted: " << qPrintable(text);
      EXPECT_GE(text.section(' ', 1).toInt(), told.saves.count(map) ? told.saves.at(map) : 1)
          << "the last save is the map's content: " << qPrintable(text);
      ++listed[map];
    }
    for (const auto& [map, times] : listed) EXPECT_EQ(times, 1) << "listed once: " << qPrintable(map);
    // The tiles the local index gives show what each map holds.
    const DocumentInfoPtr index = engine->state().indexDocumentInfo();
    const SyncFileInfoPtr indexFile = index ? SyncFileInfo::firstNonNull(index->output(), index->current()) : nullptr;
    ProxyList tiles;
    ASSERT_TRUE(SyncFileInfo::hasFile(indexFile) &&
                IndexJSONDocument::decodeFromJSON(readFile(dir + "/" + indexFile->name()), tiles, nullptr));
    for (const auto& tile : tiles)
      if (const auto map = maps[tile->docIdentifier()]) {
        EXPECT_EQ(tile->itemCount(), map->idea()->calculateWholeTreeSize())
            << "a tile's count is its map's: " << qPrintable(map->idea()->text());
        EXPECT_EQ(tile->text(), map->idea()->text());
      }
    for (const auto& [map, save] : told.saves)
      if (!told.deleted.count(map)) {
        EXPECT_EQ(listed[map], 1) << "a map the user has is listed: " << qPrintable(map);
      }
    for (const QString& path : remote->livePaths()) {
      if (path == "/orrery.index") continue;
      const QString text = textOfDocumentBytes(remote->contentOf(path));
      EXPECT_EQ(made.count(text), 1u) << "nothing is sent that the user did not make: " << qPrintable(text);
      EXPECT_EQ(told.deleted.count(text.section(' ', 0, 0)), 0u) << "a deleted map is not sent again";
    }
  }

  // For each step done offline, a kill before its status is written, one after it is written
  // and before anything is removed, and one once the step is done; and the end of the script.
  void checkKillsAtEveryStep(const std::vector<Step>& steps) {
    for (std::size_t k = 0; k < steps.size(); ++k) {
      const bool last = k + 1 == steps.size();
      if (!steps[k].killable && !last) continue;
      SCOPED_TRACE(qPrintable("killed at " + steps[k].what));
      if (steps[k].killable) {
        Run blocked = runScript(steps, k, /*blocked=*/true);
        {
          SCOPED_TRACE("before its status is written");
          startTwiceAndCheck(blocked.mirrors.back(), blocked.told[k], blocked.made);
        }
        Run written = runScript(steps, k);
        Mirror both = written.answered[k];
        both.files.insert(written.mirrors[k].files.begin(), written.mirrors[k].files.end());
        SCOPED_TRACE("after its status is written");
        startTwiceAndCheck(both, written.told[k + 1], written.made);
      }
      Run done = runScript(steps, k);
      SCOPED_TRACE("once it is done");
      startTwiceAndCheck(done.mirrors.back(), done.told.back(), done.made);
    }
  }
};

}  // namespace orrery::testing
