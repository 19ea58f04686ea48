#include "document_test_support.h"

#include "model/idea_document.h"
#include "model/persistence_controller.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "platform/services/standard_folders.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orrery;
using testsupport::spinUntil;

namespace {


DocumentToken createDoc(const std::shared_ptr<IdeaDocument>& doc) {
  DocumentToken token = -1;
  PersistenceController::singleton().createDocument(doc, [&](DocumentToken t) { token = t; });
  EXPECT_TRUE(spinUntil([&] { return token >= 0; }));
  return token;
}

DocumentToken openDoc(const std::shared_ptr<IdeaDocument>& doc) {
  DocumentToken token = -1;
  PersistenceController::singleton().openDocument(doc, [&](DocumentToken t) { token = t; });
  EXPECT_TRUE(spinUntil([&] { return token >= 0; }));
  return token;
}

bool save(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
  int result = -1;
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { result = ok; });
  EXPECT_TRUE(spinUntil([&] { return result >= 0; }));
  return result == 1;
}

bool release(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
  int result = -1;
  PersistenceController::singleton().releaseDocument(doc, token, [&](bool ok) { result = ok; });
  EXPECT_TRUE(spinUntil([&] { return result >= 0; }));
  return result == 1;
}

IdeaPtr fetch(const QString& identifier) {
  bool done = false;
  IdeaPtr idea;
  PersistenceController::singleton().fetchDocument(identifier, [&](IdeaPtr i) { idea = std::move(i), done = true; });
  EXPECT_TRUE(spinUntil([&] { return done; }));
  return idea;
}

// Counts calls and the answers of every completion of a delete.
std::vector<bool> deleteAnswers(const QString& identifier) {
  auto answers = std::make_shared<std::vector<bool>>();
  PersistenceController::singleton().deleteDocument(identifier, [answers](bool ok) { answers->push_back(ok); });
  testsupport::drainEvents();
  return *answers;
}

class RecordingListener : public PersistenceControllerListener {
 public:
  void pleaseStopUsingLocation(DocumentLocation location) override { events << QString("stop %1").arg(location); }
  void batchUpdateDoneInLocation(DocumentLocation location) override { events << QString("batch %1").arg(location); }
  void documentDeleted(const QString& identifier) override {
    events << "deleted " + identifier;
    if (onDeleted) onDeleted();
  }
  void searchIsReady(const ProxyList& results, DocumentLocation location, std::int64_t request) override {
    events << QString("search %1 %2 %3").arg(results.size()).arg(location).arg(request);
  }
  QStringList events;
  std::function<void()> onDeleted;
};

// Stands in for a cloud location's workspace and engine.
class TestWorkspace : public WorkspaceInterface {
 public:
  explicit TestWorkspace(DocumentLocation location) : location(location) {}
  void closeWorkspace() override { calls << "close"; }
  WorkspaceStatus status() const override { return WorkspaceStatusLoading; }
  std::optional<ProxyList> proxyListOrNilIfNotReady() const override {
    return ready ? std::optional<ProxyList>(ProxyList{}) : std::nullopt;
  }
  std::shared_ptr<IdeaProxy> findProxy(const QString&) const override { return nullptr; }
  std::shared_ptr<IdeaDocument> findDocument(const QString& id) override {
    calls << "find " + id;
    return listed;
  }
  void createDocument(const std::shared_ptr<IdeaDocument>& doc, std::size_t index, TokenCompletion c) override {
    calls << QString("create %1 at %2").arg(doc->docIdentifier()).arg(index);
    c(1);
  }
  void openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion c) override {
    calls << "open " + doc->docIdentifier();
    c(1);
  }
  void fetchDocument(const QString& id, DocumentCompletion c) override {
    calls << "fetch " + id;
    c(listed);
  }
  void updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion c) override {
    calls << QString("update %1 %2 dated %3").arg(doc->docIdentifier()).arg(token).arg(doc->dateModified().isValid());
    c(true);
  }
  void closeDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion c) override {
    calls << QString("release %1 %2").arg(doc->docIdentifier()).arg(token);
    c(true);
  }
  void deleteDocument(const QString& id, BoolCompletion c) override {
    calls << "delete " + id;
    c(true);
  }
  void startSearch(const QString& text, std::int64_t request) override { calls << QString("search %1 %2").arg(text).arg(request); }
  void killSearch(std::int64_t request) override { calls << QString("kill %1").arg(request); }

  DocumentLocation location;
  bool ready = false;
  std::shared_ptr<IdeaDocument> listed;
  QStringList calls;
};

class PersistenceFacade : public ::testing::Test {
 protected:
  void TearDown() override {
    Globals::optForICloud(false);
    Globals::optForDropbox(false);
    PersistenceController::singleton().setWorkspaceFactory({});
  }
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
};

}  // namespace

TEST_F(PersistenceFacade, BigMapTravelsThroughTheFacadeIntact) {
  auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
  doc->setIdea(testsupport::makeTree(12000, 6));
  doc->setDateCreated(QDateTime::currentDateTimeUtc().addDays(-2));
  const DocumentToken token = createDoc(doc);
  ASSERT_GE(token, 1);
  const QUrl url = PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer(doc->docIdentifier());
  EXPECT_EQ(QFileInfo(url.toLocalFile()).absolutePath(), platform::applicationSupportFolder() + "/volatile");
  doc->idea()->ideas()[3]->setText("edited before the save");
  ASSERT_TRUE(save(doc, token));
  EXPECT_TRUE(PersistenceController::singleton().documentKnown(doc->docIdentifier()));
  ASSERT_TRUE(release(doc, token));
  EXPECT_FALSE(PersistenceController::singleton().documentKnown(doc->docIdentifier())) << "the last token took it out of the registry";

  IdeaPtr fetched = fetch(doc->docIdentifier());
  ASSERT_TRUE(fetched);
  EXPECT_NE(fetched, doc->idea()) << "a fresh reading of the file";
  EXPECT_EQ(testsupport::treeSignature(fetched), testsupport::treeSignature(doc->idea()));
  EXPECT_FALSE(fetch("temp:/no-such-document.orrx"));
}

TEST_F(PersistenceFacade, OneFileHasOneObjectAndOneTree) {
  ASSERT_TRUE(QDir(dir.path()).mkpath("maps"));
  const QString path = dir.path() + "/maps/Ma carte ü.orrery";
  auto doc = PersistenceController::singleton().documentForIdentifier("file://" + dir.path() + "/maps/../maps/./Ma carte ü.orrery");
  EXPECT_EQ(PersistenceController::singleton().documentForIdentifier("file://" + path), doc);
  doc->setIdea(Idea::createWithText("one tree"));
  const DocumentToken first = createDoc(doc);
  ASSERT_GE(first, 1);
  // A window that made its own object of the same file is refused instead of getting a
  // second tree whose saves would undo the first one's.
  auto intruder = IdeaDocument::createWithIdentifier("file://" + path);
  EXPECT_EQ(openDoc(intruder), 0);
  EXPECT_EQ(createDoc(intruder), 0);
  const DocumentToken second = openDoc(PersistenceController::singleton().documentForIdentifier("file://" + path));
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(PersistenceController::singleton().findDocument("file://" + path), doc);
  EXPECT_EQ(createDoc(doc), 0) << "already registered: nothing is written";

  ASSERT_TRUE(release(doc, second));
  EXPECT_TRUE(PersistenceController::singleton().documentKnown("file://" + path));
  ASSERT_TRUE(release(doc, first));
  EXPECT_FALSE(PersistenceController::singleton().documentKnown("file://" + path));
  // Save As onto the same path again works once the document was released.
  doc->idea()->setText("saved again");
  const DocumentToken again = createDoc(doc);
  ASSERT_GE(again, 1);
  ASSERT_TRUE(release(doc, again));
  EXPECT_EQ(fetch("file://" + path)->text(), "saved again");
  // Once nobody holds the object, a new one may take its place.
  doc.reset();
  intruder.reset();
  auto fresh = IdeaDocument::createWithIdentifier("file://" + path);
  const DocumentToken token = openDoc(fresh);
  EXPECT_GE(token, 1);
  EXPECT_EQ(fresh->idea()->text(), "saved again");
  release(fresh, token);
}

TEST_F(PersistenceFacade, EveryDeleteCompletesExactlyOnce) {
  auto doc = PersistenceController::singleton().documentForIdentifier("temp:/" + IdeaDocument::createNewDocFileName());
  doc->setIdea(Idea::createWithText("temporary"));
  const DocumentToken a = createDoc(doc);
  const DocumentToken b = openDoc(doc);
  ASSERT_GE(a, 1);
  ASSERT_GE(b, 1);
  EXPECT_EQ(deleteAnswers(doc->docIdentifier()), std::vector<bool>{true});
  EXPECT_FALSE(PersistenceController::singleton().documentKnown(doc->docIdentifier()));
  EXPECT_EQ(deleteAnswers("temp:/never-made.orrx"), std::vector<bool>{false});
  ASSERT_TRUE(testsupport::writeAll(dir.filePath("plain.orrery"), "x"));
  EXPECT_EQ(deleteAnswers("file://" + dir.filePath("plain.orrery")), std::vector<bool>{true});
  EXPECT_TRUE(QFile::exists(dir.filePath("plain.orrery"))) << "no file is removed";
  EXPECT_EQ(deleteAnswers("iCloud:/id1_1.orrx"), std::vector<bool>{false});
  release(doc, a);
  release(doc, b);
}

TEST_F(PersistenceFacade, TemporaryNamesCannotLeadOutOfTheirFolder) {
  const QString volatileFolder = platform::applicationSupportFolder() + "/volatile";
  EXPECT_EQ(PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer("temp:/id1_2.orrx").toLocalFile(), volatileFolder + "/id1_2.orrx");
  EXPECT_TRUE(QFileInfo(volatileFolder).isDir());
  for (const char* bad : {"temp:/../escape.orrx", "temp:/a/b.orrx", "temp:/", "temp:/.."})
    EXPECT_FALSE(PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer(bad).isValid()) << bad;
  auto escaping = IdeaDocument::createWithIdentifier("temp:/../../outside.orrx");
  escaping->setIdea(Idea::createWithText("x"));
  EXPECT_EQ(createDoc(escaping), 0);
  EXPECT_FALSE(QFile::exists(platform::applicationSupportFolder() + "/../outside.orrx"));
  EXPECT_EQ(PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer("file:///home/a b/c.orrery").toLocalFile(), "/home/a b/c.orrery");
  QStringList logged;
  LogSink previous = setLogSink([&](const QString& line) { logged << line; });
  EXPECT_FALSE(PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer("dropbox:/x.orrx").isValid());
  setLogSink(previous);
  EXPECT_EQ(logged.size(), 1);
}

TEST_F(PersistenceFacade, ListenersAreHeldWeaklyAndToldOverACopy) {
  auto first = std::make_shared<RecordingListener>();
  auto second = std::make_shared<RecordingListener>();
  auto late = std::make_shared<RecordingListener>();
  auto gone = std::make_shared<RecordingListener>();
  PersistenceController::singleton().addListener(first);
  PersistenceController::singleton().addListener(gone);
  PersistenceController::singleton().addListener(second);
  gone.reset();
  // While being told, the first removes the second and adds a late one.
  first->onDeleted = [&] {
    PersistenceController::singleton().removeListener(second.get());
    PersistenceController::singleton().addListener(late);
    first->onDeleted = nullptr;
  };
  PersistenceController::singleton().documentDeleted("iCloud:/a.orrx", nullptr);
  EXPECT_EQ(first->events, QStringList{"deleted iCloud:/a.orrx"});
  EXPECT_EQ(second->events, QStringList{"deleted iCloud:/a.orrx"}) << "the fan-out in progress is not disturbed";
  EXPECT_TRUE(late->events.isEmpty());
  PersistenceController::singleton().documentDeleted("iCloud:/b.orrx", nullptr);
  EXPECT_EQ(second->events.size(), 1);
  EXPECT_EQ(late->events, QStringList{"deleted iCloud:/b.orrx"});
  PersistenceController::singleton().removeListener(first.get());
  PersistenceController::singleton().removeListener(late.get());
}

TEST_F(PersistenceFacade, StorageChoicesMakeAndDropWorkspacesThatTakeTheCloudRequests) {
  std::map<DocumentLocation, std::shared_ptr<TestWorkspace>> made;
  PersistenceController::singleton().setWorkspaceFactory([&](DocumentLocation location, WorkspaceDelegate* delegate) {
    EXPECT_EQ(delegate, &PersistenceController::singleton());
    auto workspace = std::make_shared<TestWorkspace>(location);
    made[location] = workspace;
    return workspace;
  });
  auto listener = std::make_shared<RecordingListener>();
  PersistenceController::singleton().addListener(listener);
  int stateChanges = 0;
  platform::ObserverScope observer;
  observer.observe(PersistenceStateChangeNotification, nullptr, [&](const platform::Notification&) { stateChanges++; });

  EXPECT_EQ(PersistenceController::singleton().statusForLocation(DocumentLocationICloud), WorkspaceStatusUnavailable);
  EXPECT_EQ(PersistenceController::singleton().statusForLocation(DocumentLocationTemp), WorkspaceStatusUnavailable);
  EXPECT_TRUE(PersistenceController::singleton().isLocationReadyForUse(DocumentLocationLocalFile));
  Globals::optForICloud(true);
  ASSERT_TRUE(made.count(DocumentLocationICloud));
  auto icloud = made[DocumentLocationICloud];
  EXPECT_EQ(stateChanges, 1);
  EXPECT_EQ(PersistenceController::singleton().workspaceForLocation(DocumentLocationICloud), icloud.get());
  EXPECT_EQ(PersistenceController::singleton().statusForLocation(DocumentLocationICloud), WorkspaceStatusLoading);
  EXPECT_FALSE(PersistenceController::singleton().isLocationReadyForUse(DocumentLocationICloud));
  EXPECT_FALSE(PersistenceController::singleton().proxyListForLocation(DocumentLocationICloud));
  icloud->ready = true;
  EXPECT_TRUE(PersistenceController::singleton().isLocationReadyForUse(DocumentLocationICloud));

  auto doc = IdeaDocument::createWithFileName("id7_7.orrx", DocumentLocationICloud);
  DocumentToken token = 0;
  PersistenceController::singleton().createDocument(doc, 4, [&](DocumentToken t) { token = t; });
  PersistenceController::singleton().openDocument(doc, [&](DocumentToken t) { token += t; });
  PersistenceController::singleton().saveDocument(doc, 9, nullptr);
  PersistenceController::singleton().releaseDocument(doc, 9, nullptr);
  PersistenceController::singleton().deleteDocument("iCloud:/id7_7.orrx", nullptr);
  icloud->listed = doc;
  EXPECT_EQ(PersistenceController::singleton().documentForIdentifier("iCloud:/id7_7.orrx"), doc);
  EXPECT_EQ(token, 2);
  EXPECT_EQ(icloud->calls, (QStringList{"create iCloud:/id7_7.orrx at 4", "open iCloud:/id7_7.orrx",
                                        "update iCloud:/id7_7.orrx 9 dated 1", "release iCloud:/id7_7.orrx 9",
                                        "delete iCloud:/id7_7.orrx", "find iCloud:/id7_7.orrx"}));
  const auto requestId = PersistenceController::singleton().nextSearchRequestID();
  EXPECT_EQ(PersistenceController::singleton().nextSearchRequestID(), requestId + 1);
  PersistenceController::singleton().startSearch("planets", DocumentLocationICloud, requestId);
  PersistenceController::singleton().killSearch(requestId, DocumentLocationICloud);
  EXPECT_EQ(icloud->calls.mid(6), (QStringList{QString("search planets %1").arg(requestId), QString("kill %1").arg(requestId)}));
  PersistenceController::singleton().batchUpdateDoneInWorkspace(icloud.get());
  PersistenceController::singleton().searchIsReady({}, 42, icloud.get());

  // The choice moves to Dropbox: the iCloud workspace closes and its users are asked to stop.
  Globals::optForDropbox(true);
  Globals::optForICloud(false);
  EXPECT_EQ(icloud->calls.last(), "close");
  EXPECT_EQ(PersistenceController::singleton().workspaceForLocation(DocumentLocationICloud), nullptr);
  ASSERT_TRUE(made.count(DocumentLocationDropbox));
  EXPECT_EQ(stateChanges, 2) << "dropping a workspace posts nothing";
  PersistenceController::singleton().batchUpdateDoneInWorkspace(made[DocumentLocationDropbox].get());
  PersistenceController::singleton().batchUpdateDoneInWorkspace(icloud.get());  // no longer current: nobody is told
  EXPECT_EQ(listener->events, (QStringList{"batch 2", "search 0 2 42", "stop 2", "batch 3"}));

  // Requests for a location without workspace fail at once with the neutral value.
  DocumentToken refused = -1;
  bool saved = true;
  bool fetched = false;
  PersistenceController::singleton().openDocument(doc, [&](DocumentToken t) { refused = t; });
  PersistenceController::singleton().saveDocument(doc, 1, [&](bool ok) { saved = ok; });
  PersistenceController::singleton().fetchDocument("iCloud:/id7_7.orrx", [&](IdeaPtr idea) { fetched = !idea; });
  EXPECT_EQ(refused, 0);
  EXPECT_FALSE(saved);
  EXPECT_TRUE(fetched);
  EXPECT_EQ(PersistenceController::singleton().findDocument("iCloud:/id7_7.orrx"), nullptr);
  PersistenceController::singleton().removeListener(listener.get());
}
