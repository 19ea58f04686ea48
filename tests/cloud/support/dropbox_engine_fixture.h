#pragma once
// Dropbox engines on a FakeRemote for tests: the main queue and Globals' time on one virtual
// clock, the network probe answering what the test says, a fresh mirror folder per engine,
// and every report of an engine recorded.

#include "cloud/dropbox_folder_manager.h"

#include "fake_remote.h"
#include "foundation/globals.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "model/support/virtual_main_queue.h"
#include "platform/services/standard_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QStringList>
#include <QUuid>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace orrery::testing {

class EngineReports final : public PersistenceStateDelegate {
 public:
  void statusChange(std::int64_t code, PersistenceState*) override { statuses.push_back(code); }
  void observeIdeaProxy(const IdeaProxyPtr& proxy, PersistenceState*) override {
    events << "proxy " + proxy->docIdentifier() + " " + proxy->text();
  }
  void observeProxyList(const ProxyList& proxies, PersistenceState*) override {
    events << QString("list %1").arg(proxies.size());
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
        [clock = main.clock] { return std::int64_t(clock->now()) * 1000; });
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

  // The text of the engine's copy of a document (a fetch, as the editor makes it).
  QString fetchText(DropboxFolderManager& engine, const QString& id) {
    bool done = false;
    QString text;
    engine.fetchDocument(id, [&](std::shared_ptr<IdeaDocument> doc) {
      done = true;
      if (doc && doc->idea()) text = doc->idea()->text();
    });
    // A silent request holds the engine until the virtual clock ends it.
    EXPECT_TRUE(pump([&] { return done; }));
    return text;
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
  std::vector<std::shared_ptr<DropboxFolderManager>> engines;
  std::vector<std::shared_ptr<EngineReports>> recorders;

 private:
  std::shared_ptr<platform::DropboxClient> mPreviousClient;
  std::unique_ptr<QTemporaryDir> mMemoryFolder;
  DropboxFolderManager::NetworkProbe mPreviousProbe;
  Globals::TimeMillisSource mPreviousTime;
};

}  // namespace orrery::testing
