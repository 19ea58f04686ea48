// Workspaces behind the persistence facade: what the screens hear of a location's list, its
// status and its searches, and which requests reach which engine.

#include "model/persistence_controller.h"
#include "model/workspace.h"

#include "model/idea_document.h"

#include "foundation/globals.h"
#include "platform/core/notification_center.h"

#include "support/memory_persistence_state.h"
#include "support/virtual_main_queue.h"

#include "../foundation/qt_printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace orrery;
using orrery::testing::MemoryPersistenceState;
using orrery::testing::VirtualMainQueue;

namespace {


class ScreenListener final : public PersistenceControllerListener {
 public:
  void pleaseStopUsingLocation(DocumentLocation location) override { events << QString("stop %1").arg(location); }
  void batchUpdateDoneInLocation(DocumentLocation location) override { events << QString("batch %1").arg(location); }
  void documentAppended(const std::shared_ptr<IdeaProxy>& proxy) override { events << "appended " + proxy->docIdentifier(); }
  void documentAdded(const std::shared_ptr<IdeaProxy>& proxy, std::size_t index) override {
    events << QString("added %1 at %2").arg(proxy->docIdentifier()).arg(index);
  }
  void documentUpdated(const std::shared_ptr<IdeaProxy>& proxy) override { events << "updated " + proxy->docIdentifier(); }
  void documentDeleted(const QString& docIdentifier) override { events << "deleted " + docIdentifier; }
  void searchIsReady(const ProxyList& results, DocumentLocation location, std::int64_t request) override {
    if (request == awaited) events << QString("found %1 in %2").arg(results.size()).arg(location);
  }
  QStringList events;
  std::int64_t awaited = -1;
};

class WorkspaceFacadeTest : public ::testing::Test {
 protected:
  WorkspaceFacadeTest() {
    icloud->store("iCloud:/a.orrx", Idea::createWithText("Alpha"));
    dropbox->store("dropbox:/b.orrx", Idea::createWithText("Beta"));
    PersistenceController::singleton().addListener(listener);
    stateChanges.observe(PersistenceStateChangeNotification, nullptr,
                         [this](const platform::Notification&) { ++notifications; });
    PersistenceController::singleton().setWorkspaceFactory(Workspace::factoryWithEngines(
        [this](DocumentLocation location) -> std::shared_ptr<PersistenceState> {
          if (location == DocumentLocationICloud) return icloud;
          return dropbox;
        }));
  }
  ~WorkspaceFacadeTest() override {
    Globals::optForICloud(false);
    Globals::optForDropbox(false);
    PersistenceController::singleton().setWorkspaceFactory({});
  }

  VirtualMainQueue main;
  std::shared_ptr<orrery::testing::ConflictResolvingMemoryState> icloud =
      std::make_shared<orrery::testing::ConflictResolvingMemoryState>();
  std::shared_ptr<MemoryPersistenceState> dropbox = std::make_shared<MemoryPersistenceState>();
  std::shared_ptr<ScreenListener> listener = std::make_shared<ScreenListener>();
  platform::ObserverScope stateChanges;
  int notifications = 0;
};

}  // namespace

TEST_F(WorkspaceFacadeTest, ScreensHearTheListsAndStatusOfEachLocation) {
  EXPECT_EQ(PersistenceController::singleton().statusForLocation(DocumentLocationICloud), WorkspaceStatusUnavailable);
  Globals::optForICloud(true);
  EXPECT_EQ(notifications, 1);
  EXPECT_EQ(PersistenceController::singleton().statusForLocation(DocumentLocationICloud), WorkspaceStatusStarting);
  icloud->reportStatus(4);
  EXPECT_EQ(notifications, 2);
  EXPECT_EQ(PersistenceController::singleton().statusForLocation(DocumentLocationICloud), WorkspaceStatusLoading);
  EXPECT_FALSE(PersistenceController::singleton().isLocationReadyForUse(DocumentLocationICloud));

  icloud->reportStoredDocuments();
  main.runPending();
  EXPECT_TRUE(PersistenceController::singleton().isLocationReadyForUse(DocumentLocationICloud));
  ASSERT_TRUE(PersistenceController::singleton().findProxy("iCloud:/a.orrx"));
  EXPECT_EQ(PersistenceController::singleton().findDocument("iCloud:/a.orrx"), PersistenceController::singleton().findProxy("iCloud:/a.orrx")->doc());

  auto appended = std::make_shared<IdeaProxy>();
  appended->setDocIdentifier("iCloud:/c.orrx");
  icloud->reportProxy(appended);
  icloud->reportDeleted("iCloud:/c.orrx");
  EXPECT_EQ(listener->events, (QStringList{"batch 2", "appended iCloud:/c.orrx", "deleted iCloud:/c.orrx"}));

  // A search through the facade answers with the location.
  listener->awaited = PersistenceController::singleton().nextSearchRequestID();
  PersistenceController::singleton().startSearch("alp", DocumentLocationICloud, listener->awaited);
  main.runPending();
  EXPECT_EQ(listener->events.last(), "found 1 in 2");

  // Switching the choice to Dropbox drops the iCloud workspace first.
  listener->events.clear();
  Globals::optForICloud(false);
  Globals::optForDropbox(true);
  EXPECT_TRUE(icloud->hasLeft());
  dropbox->reportStoredDocuments();
  main.runPending();
  EXPECT_EQ(listener->events, (QStringList{"stop 2", "batch 3"}));
  EXPECT_FALSE(PersistenceController::singleton().findProxy("iCloud:/a.orrx"));
  EXPECT_TRUE(PersistenceController::singleton().findProxy("dropbox:/b.orrx"));
}

TEST_F(WorkspaceFacadeTest, IndexingPassesAndScreenSearchesNeverShareAnIdentifier) {
  // Both draw from one source: each identifier is larger than every one handed out before,
  // whichever side asked.
  const auto screen = PersistenceController::singleton().nextSearchRequestID();
  const auto indexing = Workspace::nextSearchRequestID();
  const auto nextScreen = PersistenceController::singleton().nextSearchRequestID();
  EXPECT_GT(indexing, screen);
  EXPECT_GT(nextScreen, indexing);

  // A screen that waits for its search hears its answer once, and no indexing pass under its
  // identifier, while the workspace indexes new complete lists around it.
  std::vector<std::int64_t> heard;
  struct Recorder final : PersistenceControllerListener {
    std::vector<std::int64_t>* heard;
    void searchIsReady(const ProxyList&, DocumentLocation, std::int64_t request) override { heard->push_back(request); }
  };
  auto recorder = std::make_shared<Recorder>();
  recorder->heard = &heard;
  PersistenceController::singleton().addListener(recorder);
  Globals::optForICloud(true);
  icloud->reportStoredDocuments();
  listener->awaited = PersistenceController::singleton().nextSearchRequestID();
  PersistenceController::singleton().startSearch("alp", DocumentLocationICloud, listener->awaited);
  icloud->reportStoredDocuments();
  main.runPending();
  EXPECT_EQ(std::count(heard.begin(), heard.end(), listener->awaited), 1);
  EXPECT_GE(heard.size(), 2u) << "the indexing passes answer too";
  EXPECT_EQ(listener->events.filter("found").size(), 1);
  PersistenceController::singleton().removeListener(recorder.get());
}

TEST_F(WorkspaceFacadeTest, DocumentsMadeAndSavedThroughTheFacadeReachTheScreens) {
  Globals::optForDropbox(true);
  dropbox->reportStoredDocuments();
  main.runPending();
  listener->events.clear();

  auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationDropbox);
  doc->setIdea(Idea::createWithText("Gamma"));
  DocumentToken token = 0;
  PersistenceController::singleton().createDocument(doc, 0, [&](DocumentToken t) { token = t; });
  main.runPending();
  ASSERT_GE(token, 1);
  doc->idea()->setText("Gamma 2");
  std::optional<bool> saved;
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { saved = ok; });
  main.runPending();
  EXPECT_EQ(saved, true);
  EXPECT_EQ(PersistenceController::singleton().findProxy(doc->docIdentifier())->text(), "Gamma 2");
  PersistenceController::singleton().releaseDocument(doc, token, nullptr);
  PersistenceController::singleton().deleteDocument(doc->docIdentifier(), nullptr);
  main.runPending();
  EXPECT_EQ(listener->events, (QStringList{"added " + doc->docIdentifier() + " at 0", "updated " + doc->docIdentifier(),
                                           "deleted " + doc->docIdentifier()}));
}

TEST_F(WorkspaceFacadeTest, ConflictCallsGoOnlyToTheICloudWorkspace) {
  Globals::optForICloud(true);
  Globals::optForDropbox(true);
  auto cloudProxy = std::make_shared<IdeaProxy>();
  cloudProxy->setDocIdentifier("iCloud:/a.orrx");
  auto boxProxy = std::make_shared<IdeaProxy>();
  boxProxy->setDocIdentifier("dropbox:/b.orrx");

  std::vector<bool> answers;
  PersistenceController::singleton().findConflictingVersion(cloudProxy);
  PersistenceController::singleton().handleConflictForProxy(cloudProxy,
                                                            [&](bool ok, auto&&) { answers.push_back(ok); });
  EXPECT_EQ(icloud->conflictCalls, 2);
  EXPECT_FALSE(PersistenceController::singleton().findConflictingVersion(boxProxy));
  PersistenceController::singleton().handleConflictForProxy(boxProxy, [&](bool ok, auto&&) { answers.push_back(ok); });
  EXPECT_EQ(icloud->conflictCalls, 2);
  EXPECT_EQ(answers, (std::vector<bool>{true, false}));
}
